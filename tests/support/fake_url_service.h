#pragma once
// The in-process fake URL transfer for unit tests and fuzzing. Once
// installed, OpenBlockingUrlStream answers from the given function instead
// of the URL module: nothing is loaded, fetched or cached.
#include <cstdint>
#include <functional>
#include <string>

namespace fake_url {

struct Answer {
  int32_t code = 0;   // what OpenBlockingUrlStream returns
  std::string bytes;  // the resource
};

// Every following fetch calls fetch with the URL (UTF-8).
void Install(std::function<Answer(const std::string& url)> fetch);
void Uninstall();

}  // namespace fake_url
