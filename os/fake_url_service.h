#pragma once
// The in-process fake URL service for unit tests and fuzzing. Once
// installed, OpenBlockingUrlStream answers from the given function instead of
// the network and the web cache; nothing is loaded or fetched. Not for the
// product: only tests call Install.
#include <cstdint>
#include <functional>
#include <string>

namespace os::fake_url {

struct Answer {
  int32_t code = 0;     // what OpenBlockingUrlStream returns
  bool stream = true;   // with code 0: whether a stream is handed out
  std::string bytes;    // what the stream holds
};

// Every following fetch calls fetch with the URL. onRead, when set, runs at
// each ReadUrlStream before the bytes are copied (a test moves its fake clock
// there: the read happens between the fetch and the parse).
void Install(std::function<Answer(const std::u16string& url)> fetch, std::function<void()> onRead = {});
void Uninstall();

// Streams handed out and not yet released, over the whole process.
int OpenStreams();

}  // namespace os::fake_url
