// Data connection control against the stand-in connection manager
// (tests/tools/cellcore) that lies beside this executable.
#include <gtest/gtest.h>

#include <fstream>

#include "os/dialup/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"

namespace {

struct Provider : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    os::SetDialupRunFolder(dir.path.c_str());  // never the machine's own links
    setenv("HOROLAN_CELLCORE_LOG", dir.File("calls").c_str(), 1);
  }
  void TearDown() override { os::SetDialupRunFolder(nullptr); }
  // The calls since the last look, one line each.
  std::string Calls(const char* mode = "connect") {
    std::ifstream in(dir.File("calls"));
    std::string calls(std::istreambuf_iterator<char>(in), {});
    std::remove(dir.File("calls").c_str());
    setenv("HOROLAN_CELLCORE_MODE", mode, 1);
    return calls;
  }
};

// Size 64, mask 1, priority 0x8000, the Internet destination's GUID at 24.
const std::string kEstablish = "load\nestablish record=4000000001000000000000000080000000000000000000004"
                               "4F16E43FBB46348A0418F905A62C572" + std::string(48, '0') +
                               " timeout=120000 status=given\nunload\n";

}  // namespace

#ifndef HOROLAN_PARTIAL_PROVIDER

TEST_F(Provider, EstablishedThenReleasedOnlyWhileConnected) {
  EXPECT_EQ(EstablishDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));
  EXPECT_EQ(Calls(), kEstablish);  // loaded for the one call only
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Calls("dropped"), "load\nstatus handle=0x5150\nrelease handle=0x5150 cache=0\nunload\n");
  for (const char* mode : {"statusfail", "connect"}) {  // not connected, or not known to be
    EXPECT_EQ(ReleaseDataConnection(), 1);
    EXPECT_EQ(Calls(mode), "load\nstatus handle=0x5150\nunload\n");
  }
  // A failed establish drops the handle it was given: it is never asked about.
  Calls("fail");
  EXPECT_EQ(EstablishDataConnection() + ReleaseDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(Calls(), kEstablish + "load\nstatus handle=(nil)\nunload\n");
}

#else  // beside a library that lacks ConnMgrConnectionStatus

TEST_F(Provider, AnIncompleteLibraryIsNeverCalled) {
  EXPECT_EQ(EstablishDataConnection() + ReleaseDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(Calls(), "load\nunload\nload\nunload\n");
}

#endif
