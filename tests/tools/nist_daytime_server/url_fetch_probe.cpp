// url_fetch_probe URL: one fetch through the OS layer's URL service, as the
// daytime branch makes it. Prints "code 0x%08X bytes N" and then the bytes
// read (at most 1022). For tests that must run a fetch in another process:
// inside a private network namespace, or without the URL module beside it.
#include <cstdio>
#include <string>

#include "os/base/text.h"
#include "os/net/url_service.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: url_fetch_probe URL\n");
    return 2;
  }
  std::string url = argv[1];
  auto wide = os::NewWideFromAnsi(url.data(), url.size());
  if (!wide) return 1;
  os::ComStart();
  os::UrlStream* stream = nullptr;
  int32_t code = os::OpenBlockingUrlStream(wide.get(), &stream);
  char answer[1024] = {};
  uint32_t placed = 0;
  if (code == 0) {
    os::ReadUrlStream(stream, answer, 1022, &placed);
    os::ReleaseUrlStream(stream);
  }
  os::ComEnd();
  printf("code 0x%08X bytes %u\n", static_cast<unsigned>(code), placed);
  fwrite(answer, 1, placed, stdout);
  return 0;
}
