// The run's own rules: the offset limit and the exit status.
#include <gtest/gtest.h>

#include <cmath>

#include "app/entry_point.h"
#include "app/sync_run.h"

TEST(OffsetLimit, BelowAnHourEitherWayAndNothingElse) {
  EXPECT_TRUE(OffsetWithinLimit(3599.9));
  EXPECT_TRUE(OffsetWithinLimit(-3599.999999));
  for (double offset : {3600.0, -3600.0, -1.7e9, std::nan(""), -std::nan(""), double(INFINITY), -double(INFINITY)})
    EXPECT_FALSE(OffsetWithinLimit(offset)) << offset;
}
