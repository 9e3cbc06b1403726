#pragma once
// A temporary folder as HOME, XDG_STATE_HOME and XDG_CACHE_HOME, so the registry store and the web cache are the
// test's own and are made on first use as in a real run; the variables are put back afterwards.
#include <optional>

#include "os/registry/registry_store.h"
#include "tests/support/temp_dir.h"

struct IsolatedEnv : TempDir {
  static constexpr const char* kNames[3] = {"HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
  std::optional<std::string> saved[3];

  IsolatedEnv() {
    os::SetRegistryStorePathForTests(nullptr);
    for (int i = 0; i < 3; ++i) {
      if (const char* value = getenv(kNames[i])) saved[i] = value;
      setenv(kNames[i], i == 0 ? path.c_str() : File(i == 1 ? "state" : "cache").c_str(), 1);
    }
  }
  ~IsolatedEnv() {
    for (int i = 0; i < 3; ++i) saved[i] ? setenv(kNames[i], saved[i]->c_str(), 1) : unsetenv(kNames[i]);
  }
  std::string RegistryFile() const { return File("state/horolan/registry.db"); }
};
