// The run's check of the network part's record: what a taken-over part could send, at the edges.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "app/query_record.h"
#include "os/net/url_service.h"
#include "os/nts/nts_service.h"

namespace {

using Change = std::function<void(QueryRecord&)>;
constexpr ResultCode kFailed = kNetworkPartFailed;
const auto kUntrusted = static_cast<int32_t>(os::kNtsUntrusted);

// The code the run takes from a good record of its branch, spoilt by change.
ResultCode Checked(int32_t mode, bool nts, const Change& change) {
  RunSettings settings;
  settings.mode = mode, settings.nts = nts;
  QueryRecord record;
  record.mode = mode == Nist && !nts ? Nist : Sntp;
  record.offset = 0.5, record.delay = 0.01, record.destination = 1, record.stratum = 2;
  record.utc = {2008, 11, 0, 30, 12, 34, 56, 0};
  record.answerSize = 10;
  change(record);
  char why[kReasonCapacity] = {};
  return CheckQueryRecord(record, settings, why);
}

TEST(QueryRecord, TheRunTakesOnlyWhatTheQueryOfItsBranchCouldHaveSent) {
  auto sntp = [](const Change& change) { return Checked(Sntp, false, change); };
  EXPECT_EQ(sntp([](QueryRecord&) {}), 0);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.stratum = 15; }), 0);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.stratum = 16; }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.delay = INFINITY; }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.destination = 0; }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.reasonKind = static_cast<ReasonKind>(3); }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.code = 11999; }), 11999);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.code = 4095; }), 4095);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.code = 4096; }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.code = os::kUrlNotFound; }), kFailed);
  EXPECT_EQ(sntp([](QueryRecord& r) { r.code = kUntrusted; }), kFailed);
  EXPECT_EQ(Checked(Sntp, true, [](QueryRecord& r) { r.code = kUntrusted; }), kUntrusted);
  auto daytime = [](const Change& change) { return Checked(Nist, false, change); };
  EXPECT_EQ(daytime([](QueryRecord&) {}), 0);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.answerSize = kDaytimeAnswerCapacity - 2; }), 0);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.answerSize = kDaytimeAnswerCapacity - 1; }),
            kFailed);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.answerSize = 0; }), kFailed);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.utc.month = 13; }), kFailed);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.code = os::kUrlNotFound; }), os::kUrlNotFound);
  EXPECT_EQ(daytime([](QueryRecord& r) { r.mode = Sntp; }), kFailed);
}

TEST(QueryRecord, ItsReasonReachesTheTerminalPrintableAndEnded) {
  RunSettings settings;
  QueryRecord record;
  record.mode = Nist, record.code = os::kUrlNotFound;
  snprintf(record.reason, sizeof record.reason, "a \x1b[2J~\xc3\xa9");
  char why[kReasonCapacity] = {};
  EXPECT_EQ(CheckQueryRecord(record, settings, why), os::kUrlNotFound);
  EXPECT_EQ(std::string(record.reason), "a ?[2J~??");
}

}  // namespace
