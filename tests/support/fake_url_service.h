#pragma once
// The in-process fake URL transfer for unit tests. Once installed, every fetch of the URL service is answered by the
// given function with the URL (UTF-8): nothing is loaded, fetched or cached.
#include <functional>
#include <string>

namespace fake_url {

struct Answer { int32_t code = 0; std::string bytes; };  // the fetch's result code and the resource
void Install(std::function<Answer(const std::string& url)> fetch);
void Uninstall();

}  // namespace fake_url
