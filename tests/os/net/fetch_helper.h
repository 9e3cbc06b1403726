#pragma once
// One whole fetch through the URL service, for the tests.
#include <string>

#include "os/net/url_service.h"
#include "tests/support/wide.h"

struct Fetched {
  int32_t code = 0;
  std::string bytes;
};

inline Fetched Fetch(const std::string& url) {
  Fetched result;
  os::UrlStream* stream = nullptr;
  result.code = os::OpenBlockingUrlStream(U16(url).c_str(), &stream);
  if (result.code != 0 || !stream) return result;
  char buffer[512];
  uint32_t placed = 0;
  do {
    os::ReadUrlStream(stream, buffer, sizeof buffer, &placed);
    result.bytes.append(buffer, placed);
  } while (placed == sizeof buffer);
  os::ReleaseUrlStream(stream);
  return result;
}
