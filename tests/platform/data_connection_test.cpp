// Data connection control against the stand-in connection manager
// (tests/tools/cellcore) that lies beside this executable.
#include <gtest/gtest.h>

#include "os/dialup/dialup.h"
#include "platform/data_connection.h"
#include "tests/support/temp_dir.h"

// The calls logged since the last look; the next ones are answered in mode.
std::string Calls(const TempDir& dir, const char* mode = "connect") {
  std::ifstream in(dir.File("calls"));
  std::string calls(std::istreambuf_iterator<char>(in), {});
  std::remove(dir.File("calls").c_str());
  setenv("HOROLAN_CELLCORE_MODE", mode, 1);
  return calls;
}

TEST(DataConnection, EstablishedThenReleasedOnlyWhileConnected) {
  TempDir dir;
  os::SetDialupRunFolder(dir.path.c_str());  // never the machine's own links
  setenv("HOROLAN_CELLCORE_LOG", dir.File("calls").c_str(), 1);
#ifndef HOROLAN_PARTIAL_PROVIDER
  EXPECT_EQ(EstablishDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), reinterpret_cast<void*>(0x5150));
  // Size 64, mask 1, priority 0x8000, the Internet destination's GUID at 24; loaded for the one call.
  const std::string establish = "load\nestablish record=400000000100000000000000008000000000000000000000"
                                "44F16E43FBB46348A0418F905A62C572" + std::string(48, '0') + " timeout=120000 status=given\nunload\n";
  EXPECT_EQ(Calls(dir), establish);
  EXPECT_EQ(ReleaseDataConnection(), 1);
  EXPECT_EQ(Calls(dir, "dropped"), "load\nstatus handle=0x5150\nrelease handle=0x5150 cache=0\nunload\n");
  for (const char* mode : {"statusfail", "fail"}) {  // not connected, or not known to be
    EXPECT_EQ(ReleaseDataConnection(), 1);
    EXPECT_EQ(Calls(dir, mode), "load\nstatus handle=0x5150\nunload\n");
  }
  // A failed establish drops the handle it was given: it is never asked about.
  EXPECT_EQ(EstablishDataConnection() + ReleaseDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(Calls(dir), establish + "load\nstatus handle=(nil)\nunload\n");
#else  // beside a library that lacks ConnMgrConnectionStatus: never called
  EXPECT_EQ(EstablishDataConnection() + ReleaseDataConnection(), 1);
  EXPECT_EQ(CurrentDataConnection(), nullptr);
  EXPECT_EQ(Calls(dir), "load\nunload\nload\nunload\n");
#endif
  os::SetDialupRunFolder(nullptr);
}
