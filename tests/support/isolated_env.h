#pragma once
// An isolated environment for one test: a fresh temporary folder with HOME,
// XDG_STATE_HOME and XDG_CACHE_HOME pointed into it, so the registry store
// (RegistryFile) and the web cache (CacheFolder) are the test's own and are
// made on first use as in a real run. The variables are put back afterwards.
#include "os/registry/registry_store.h"
#include "tests/support/temp_dir.h"

struct IsolatedEnv : TempDir {
  static constexpr const char* kNames[3] = {"HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
  const char* saved[3] = {};
  std::string keep[3];

  IsolatedEnv() {
    os::SetRegistryStorePathForTests(nullptr);
    const std::string values[3] = {path, File("state"), File("cache")};
    for (int i = 0; i < 3; ++i) {
      if ((saved[i] = getenv(kNames[i]))) saved[i] = (keep[i] = saved[i]).c_str();
      setenv(kNames[i], values[i].c_str(), 1);
    }
  }
  ~IsolatedEnv() {
    os::KeepRegistryStoreOpen(false);
    for (int i = 0; i < 3; ++i) saved[i] ? setenv(kNames[i], saved[i], 1) : unsetenv(kNames[i]);
  }
  std::string RegistryFile() const { return File("state/horolan/registry.db"); }
  std::string CacheFolder() const { return File("cache/horolan/web"); }
};
