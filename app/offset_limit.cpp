#include "app/offset_limit.h"

#include <cmath>

// A NaN fails the comparison and an infinity is not below the limit.
bool OffsetWithinLimit(double offsetSeconds) { return std::fabs(offsetSeconds) < 3600.0; }
