#pragma once
// An isolated environment for one test: a fresh temporary folder with HOME,
// XDG_STATE_HOME and XDG_CACHE_HOME pointed into it, so the registry store
// (RegistryFile) and the web cache (CacheFolder) are the test's own and are
// made on first use as in a real run. The variables are put back afterwards.
#include "os/registry/registry_store.h"
#include "tests/support/temp_dir.h"

struct IsolatedEnv : TempDir {
  static constexpr const char* kNames[3] = {"HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
  std::string saved[3];
  bool had[3] = {};

  IsolatedEnv() {
    os::SetRegistryStorePathForTests(nullptr);
    for (int i = 0; i < 3; ++i) {
      if ((had[i] = getenv(kNames[i]) != nullptr)) saved[i] = getenv(kNames[i]);
      setenv(kNames[i], i == 0 ? path.c_str() : File(i == 1 ? "state" : "cache").c_str(), 1);
    }
  }
  ~IsolatedEnv() {
    for (int i = 0; i < 3; ++i) had[i] ? setenv(kNames[i], saved[i].c_str(), 1) : unsetenv(kNames[i]);
  }
  std::string RegistryFile() const { return File("state/horolan/registry.db"); }
  std::string CacheFolder() const { return File("cache/horolan/web"); }
};
