// Data connection control against the stand-in connection manager
// (tests/tools/cellcore) that lies beside this executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "os/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"

namespace {

struct Provider : ::testing::Test {
  TempDir dir;
  std::string log = dir.File("calls.log");

  void SetUp() override {
    // Never the machine's own dial-up links: an empty run folder.
    os::SetDialupRunFolder(dir.path.c_str());
    setenv("HOROLAN_CELLCORE_LOG", log.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("HOROLAN_CELLCORE_LOG");
    unsetenv("HOROLAN_CELLCORE_MODE");
    os::SetDialupRunFolder(nullptr);
  }
  void Mode(const char* mode) { setenv("HOROLAN_CELLCORE_MODE", mode, 1); }

  std::vector<std::string> Calls() {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::remove(log.c_str());
    return lines;
  }
};

const std::string kRecord =
    "40000000"                          // size 64
    "01000000"                          // only the destination is valid
    "00000000"                          // flags
    "00800000"                          // user-interactive priority
    "00000000"                          // exclusive
    "00000000"                          // disabled
    "44F16E43FBB46348A0418F905A62C572"  // {436EF144-B4FB-4863-A041-8F905A62C572}
    "000000000000000000000000000000000000000000000000";

const std::string kEstablish = "establish record=" + kRecord + " timeout=120000 status=given";

}  // namespace

#ifndef HOROLAN_PARTIAL_PROVIDER

TEST_F(Provider, ConnectedThenReleasedWithCachingZero) {
  Mode("connect");
  EXPECT_EQ(EstablishDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));
  // Loaded for the one call and unloaded again.
  EXPECT_EQ(Calls(), (std::vector<std::string>{"load", kEstablish, "unload"}));
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "status handle=0x5150", "release handle=0x5150 cache=0",
                                               "unload"}));
}

TEST_F(Provider, DroppedOrUnknownStatusIsNotReleased) {
  Mode("connect");
  ASSERT_EQ(EstablishDataConnection(), 1);
  Calls();
  Mode("dropped");
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "status handle=0x5150", "unload"}));
  // A failed status query counts as not connected, whatever it wrote.
  Mode("statusfail");
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "status handle=0x5150", "unload"}));
  // Releasing does not change the handle.
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));
}

TEST_F(Provider, FailedOrTimedOutEstablishDropsTheHandle) {
  for (const char* mode : {"fail", "timeout"}) {
    Mode("connect");
    ASSERT_EQ(EstablishDataConnection(), 1);
    Calls();
    Mode(mode);
    EXPECT_EQ(EstablishDataConnection(), 0) << mode;
    EXPECT_EQ(CurrentDataConnection(), nullptr) << mode;
    EXPECT_EQ(Calls(), (std::vector<std::string>{"load", kEstablish, "unload"})) << mode;
    // The later status query sees no connection, so nothing is released.
    Mode("connect");
    EXPECT_EQ(ReleaseDataConnection(), 1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "status handle=(nil)", "unload"})) << mode;
  }
}

TEST(ConnectionInfo, RecordLayout) {
  std::array<uint8_t, 64> info = BuildConnectionInfo();
  std::string hex;
  char byte[3];
  for (uint8_t b : info) {
    snprintf(byte, sizeof byte, "%02X", b);
    hex += byte;
  }
  EXPECT_EQ(hex, kRecord);
}

#else  // beside a library that lacks ConnMgrConnectionStatus

TEST_F(Provider, IncompleteLibraryIsNeverCalled) {
  EXPECT_EQ(EstablishDataConnection(), 0);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(ReleaseDataConnection(), 1);
  // Loaded and unloaded for each operation, no entry point called.
  EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "unload", "load", "unload"}));
}

#endif
