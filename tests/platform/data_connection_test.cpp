// Data connection control against the stand-in connection manager
// (tests/tools/cellcore) that lies beside this executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "os/dialup/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"

namespace {

using Calls = std::vector<std::string>;

struct Provider : ::testing::Test {
  TempDir dir;
  std::string log = dir.File("calls.log");

  void SetUp() override {
    os::SetDialupRunFolder(dir.path.c_str());  // never the machine's own links
    setenv("HOROLAN_CELLCORE_LOG", log.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("HOROLAN_CELLCORE_LOG");
    unsetenv("HOROLAN_CELLCORE_MODE");
    os::SetDialupRunFolder(nullptr);
  }
  void Mode(const char* mode) { setenv("HOROLAN_CELLCORE_MODE", mode, 1); }
  // The calls since the last look.
  Calls Taken() {
    Calls lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::remove(log.c_str());
    return lines;
  }
};

// Size 64, mask 1, flags 0, priority 0x8000, exclusive 0, disabled 0, the
// GUID {436EF144-B4FB-4863-A041-8F905A62C572}, six zero fields.
const std::string kEstablish =
    "establish record=40000000010000000000000000800000000000000000000044F16E43FBB46348A0418F905A62C572" +
    std::string(48, '0') + " timeout=120000 status=given";

}  // namespace

#ifndef HOROLAN_PARTIAL_PROVIDER

TEST_F(Provider, ConnectedThenReleasedWithCachingZero) {
  EXPECT_EQ(EstablishDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));
  EXPECT_EQ(Taken(), (Calls{"load", kEstablish, "unload"}));  // loaded for the one call only
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Taken(), (Calls{"load", "status handle=0x5150", "release handle=0x5150 cache=0", "unload"}));
}

TEST_F(Provider, DroppedOrUnknownStatusIsNotReleased) {
  ASSERT_EQ(EstablishDataConnection(), 1);
  Taken();
  Mode("dropped");
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Taken(), (Calls{"load", "status handle=0x5150", "unload"}));
  Mode("statusfail");  // a failed status query counts as not connected, whatever it wrote
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Taken(), (Calls{"load", "status handle=0x5150", "unload"}));
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));  // a release keeps the handle
}

TEST_F(Provider, FailedOrTimedOutEstablishDropsTheHandle) {
  for (const char* mode : {"fail", "timeout"}) {
    Mode("connect");
    ASSERT_EQ(EstablishDataConnection(), 1);
    Taken();
    Mode(mode);
    EXPECT_EQ(EstablishDataConnection(), 0) << mode;
    EXPECT_EQ(CurrentDataConnection(), nullptr) << mode;
    EXPECT_EQ(Taken(), (Calls{"load", kEstablish, "unload"})) << mode;
    Mode("connect");  // the manager would call the old handle connected: it must not be asked about it
    EXPECT_EQ(ReleaseDataConnection(), 1);
    EXPECT_EQ(Taken(), (Calls{"load", "status handle=(nil)", "unload"})) << mode;
  }
}

#else  // beside a library that lacks ConnMgrConnectionStatus

TEST_F(Provider, IncompleteLibraryIsNeverCalled) {
  EXPECT_EQ(EstablishDataConnection(), 0);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Taken(), (Calls{"load", "unload", "load", "unload"}));
}

#endif
