#include "app/run_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/config_files.h"
#include "tests/support/temp_dir.h"

namespace {

// The files chosen, each "kind:path", with "*" on the one --config edits.
std::string Files(const ConfigPlace& place) {
  ConfigFiles files = ChooseConfigFiles(place);
  std::string out;
  for (int i = 0; i < files.count; ++i)
    out += std::to_string(int(files.kinds[i])) + ":" + U8(files.paths[i].c_str()) +
           (files.edited == i ? "* " : " ");
  return out;
}

TEST(ConfigFiles, BesideInABuildFolderElseSystemThenUserElseTheOneNamed) {
  EXPECT_EQ(Files({.modulePath = u"", .home = "/h"}), "");  // no executable's path: no file
  ConfigPlace at{.modulePath = u"/usr/bin/horolan", .configHome = "rel", .home = "/h"};
  EXPECT_EQ(Files(at), "1:/etc/horolan/horolan.txt 2:/h/.config/horolan/horolan.txt* ");
  at.root = true, at.configHome = "/x";
  EXPECT_EQ(Files(at), "1:/etc/horolan/horolan.txt* 2:/x/horolan/horolan.txt ");
  at.modulePath = u"/opt/h/bin/horolan", at.root = false, at.configHome = nullptr,
  at.home = nullptr;
  EXPECT_EQ(Files(at), "1:/opt/h/etc/horolan/horolan.txt ");
  std::string longHome = "/" + std::string(250, 'h');
  at.home = longHome.c_str();  // does not fit: left out, never cut
  EXPECT_EQ(Files(at), "1:/opt/h/etc/horolan/horolan.txt ");
  at.buildFolder = true;
  EXPECT_EQ(Files(at), "0:/opt/h/bin/horolan.txt* ");
  at.named = "n.txt";
  EXPECT_EQ(Files(at), "3:n.txt* ");
}

// What the network part sends about the answer reaches the log and JSON: only values an answer has.
TEST(QueryRecordCheck, TheLeapIndicatorAndTheAddressAreOnesAnAnswerHas) {
  RunSettings sntp;
  sntp.mode = Sntp;
  char why[kReasonCapacity];
  std::string results;
  for (auto [address, leap] : {std::pair{"FE80::A", 2}, {"fe80::1", 3}, {"10.0.0.1\n", 0},
                               {"a\"b", 0}, {"", 0}}) {
    QueryRecord record;
    record.destination = 1, record.stratum = 1, record.leap = leap;
    snprintf(record.address, sizeof record.address, "%s", address);
    results += std::to_string(CheckQueryRecord(record, sntp, why)) + " ";
  }
  EXPECT_EQ(results, "0 -4 -4 -4 0 ");
}

struct FakeRun {
  RunOutcome outcome;
  QueryRecord record;
  RunSettings settings;
  RunFacts Facts() const { return {outcome, record, settings}; }
};

FakeRun SntpRun(ResultCode code, bool set) {
  FakeRun run;
  run.settings.mode = Sntp;
  run.settings.server.assign(u"ntp \"1\"\n\xDCFF\U0001F600");  // a byte, a pair
  run.outcome.code = code, run.outcome.offset = -0.25, run.outcome.clockSet = set;
  run.record.destination = uint64_t{3976000000} << 32, run.record.offset = -0.25;
  run.record.delay = 0.5, run.record.errorBound = 0.375, run.record.stratum = 2;
  run.record.leap = 1;
  snprintf(run.record.address, sizeof run.record.address, "::1");
  return run;
}

TEST(RunReport, TheLogLineTheJsonObjectAndTheMetrics) {
  const std::string mark = "\xEF\xBF\xBD\xF0\x9F\x98\x80";  // the byte as U+FFFD, the pair as one
  std::string line;
  EXPECT_EQ(ComposeLogLine(SntpRun(0, false).Facts(), line), false);  // only shown
  ComposeLogLine(SntpRun(0, true).Facts(), line);
  EXPECT_EQ(line, "set the clock by -0.250000 s from ntp \"1\"\n" + mark +
                      " (::1), sntp, delay 0.500000 s, error bound 0.375000 s, stratum 2");
  FakeRun failed = SntpRun(10061, false);
  failed.record.code = 10061, failed.outcome.offset = __builtin_nan("");
  ComposeLogLine(failed.Facts(), line);
  EXPECT_EQ(line, "sync failed: Connection refused (10061) from ntp \"1\"\n" + mark + " (::1)");
  EXPECT_EQ(ComposeJson(SntpRun(0, true).Facts()),
            "{\"server\":\"ntp \\\"1\\\"\\u000a" + mark +
                "\",\"address\":\"::1\",\"mode\":\"sntp\",\"code\":0,\"text\":\"\","
                "\"clock_set\":true,\"offset\":-0.250000000,\"delay\":0.500000000,"
                "\"error_bound\":0.375000000,\"stratum\":2,"
                "\"leap\":1,\"time\":\"2025-12-29T12:26:39.750000000Z\"}\n");
  std::string metrics = ComposeMetrics(failed.Facts(), 2000, 1000);
  size_t at = metrics.find("horolan_last_result{");
  EXPECT_EQ(metrics.substr(at, metrics.find('\n', at) - at),
            "horolan_last_result{server=\"ntp \\\"1\\\"\\n" + mark + "\"} 10061");
  EXPECT_EQ(LastSuccessIn(metrics.c_str(), failed.settings), 1000);
  EXPECT_EQ(LastSuccessIn(ComposeMetrics(failed.Facts(), 2000, 0).c_str(), failed.settings), 0);
}

// Fuzzed: any server text gives one object of twelve members that Python's json module reads.
TEST(RunReport, TheJsonOfAnyServerTextParses) {
  TempDir dir;
  std::mt19937 random(2611);
  std::string objects;
  FakeRun run = SntpRun(-1, false);
  for (int i = 0; i < 3000; ++i) {
    std::string bytes(random() % 40, '\0');
    for (char& byte : bytes)
      byte = static_cast<char>(random() % 4 ? random() % 0x80 + 1 : random() % 0x100 | 1);
    os::WideFromAnsi(bytes.data(), bytes.size(), run.settings.server.data(),
                     run.settings.server.capacity);
    objects += ComposeJson(run.Facts());
  }
  std::string check =
      "python3 -c 'import json, sys\nn = 0\nfor line in open(sys.argv[1], encoding=\"utf-8\"):\n"
      "  o = json.loads(line); n += len(o) == 12 and o[\"code\"] == -1\nprint(n)' ";
  FILE* python = popen((check + dir.Write("objects", objects)).c_str(), "r");
  char counted[16] = {};
  EXPECT_EQ(fgets(counted, sizeof counted, python), counted);
  EXPECT_EQ(pclose(python), 0);
  EXPECT_EQ(std::string(counted), "3000\n");
}

}  // namespace
