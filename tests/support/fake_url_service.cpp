#include "tests/support/fake_url_service.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "os/net/url_service.h"

namespace fake_url {

namespace {

std::function<Answer(const std::string&)> fetcher;

int32_t Fetch(const HorolanUrlRequest* request, HorolanUrlResult* result) {
  Answer answer = fetcher(request->url ? request->url : "");
  *result = HorolanUrlResult{};
  result->code = answer.code;
  if (answer.code == 0 && !answer.bytes.empty()) {
    result->body = static_cast<unsigned char*>(std::malloc(answer.bytes.size()));
    std::memcpy(result->body, answer.bytes.data(), result->bodySize = answer.bytes.size());
  }
  return answer.code;
}
void Free(HorolanUrlResult* result) { std::free(std::exchange(result->body, nullptr)); }
constexpr os::UrlTransfer kTransfer = {Fetch, Free};

}  // namespace

void Install(std::function<Answer(const std::string&)> f) { fetcher = std::move(f), os::UseUrlTransfer(&kTransfer); }
void Uninstall() { os::UseUrlTransfer(nullptr), fetcher = nullptr; }

}  // namespace fake_url
