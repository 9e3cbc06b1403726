#pragma once
// A fresh temporary folder for one test, removed with everything in it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/wide.h"

struct TempDir {
  std::string path;
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "horolan-test-XXXXXX").string();
    path = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Read-only folders made by a test must not stop the clean-up.
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    fs::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return path + "/" + name; }
  std::u16string WideFile(const std::string& name) const { return U16(File(name)); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
    return File(name);
  }
};
