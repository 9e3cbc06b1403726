// The network part's record seen from the run, with real parts (the tests run as root): one of
// exactly its size, a send of another size, a part that ends without one, and one that never
// answers, ended by the limit.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <utility>

#include "os/confine/split.h"

namespace {

constexpr size_t kSize = 64;

// The part's work, as *how says: the record, a short or long send of its own, an exit, a hang.
void Work(void* how, void* record, size_t size) {
  static char bytes[kSize + 8] = {};
  switch (*static_cast<char*>(how)) {
    case 'r': memset(record, 'x', size); return;
    case 's': send(3, bytes, 5, 0); _exit(0);
    case 'l': send(3, bytes, sizeof bytes, 0); _exit(0);
    case 'e': _exit(3);
    default: for (;;) poll(nullptr, 0, -1);
  }
}

std::pair<os::PartEnd, int> Await(char how, char (&record)[kSize], uint32_t limitMs) {
  os::NetworkPart part;
  if (!os::StartNetworkPart(part, {}, os::NetworkPartUser(), Work, &how, kSize))
    return {os::PartEnd::NoUser, -1};
  os::LetNetworkPartGo(part);
  os::PartResult result = os::AwaitNetworkRecord(part, record, kSize, limitMs);
  if (part.pid > 0) kill(part.pid, SIGKILL), waitpid(part.pid, nullptr, 0);
  return {result.end, result.detail};
}

TEST(NetworkPart, TakesARecordOfItsSizeAndEndsAPartThatNeverAnswersAtTheLimit) {
  char record[kSize] = {};
  EXPECT_EQ(Await('r', record, 10000), std::make_pair(os::PartEnd::Record, 0));
  EXPECT_EQ(std::string(record, kSize), std::string(kSize, 'x'));
  EXPECT_EQ(Await('s', record, 10000), std::make_pair(os::PartEnd::Malformed, 5));
  const int longer = static_cast<int>(kSize) + 1;
  EXPECT_EQ(Await('l', record, 10000), std::make_pair(os::PartEnd::Malformed, longer));
  EXPECT_EQ(Await('e', record, 10000), std::make_pair(os::PartEnd::Ended, 3 << 8));
  EXPECT_EQ(Await('h', record, 100), std::make_pair(os::PartEnd::TimedOut, 100));
}

}  // namespace
