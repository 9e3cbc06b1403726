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
#include <string>
#include <tuple>
#include <utility>

#include "os/confine/split.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr size_t kSize = 64;

// The part's work, as *how says: the record, a short or long send of its own, an exit, a hang.
void Work(void* how, void* record, size_t size) {
  static char bytes[kSize + 8] = {};
  const char what = *static_cast<char*>(how);
  switch (what) {
    case 'r': memset(record, 'x', size); return;
    case 's': case 'l': send(3, bytes, what == 's' ? 5 : sizeof bytes, 0); _exit(0);
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
  EXPECT_EQ(Await('l', record, 10000), std::make_pair(os::PartEnd::Malformed, int{kSize} + 1));
  EXPECT_EQ(Await('e', record, 10000), std::make_pair(os::PartEnd::Ended, 3 << 8));
  EXPECT_EQ(Await('h', record, 100), std::make_pair(os::PartEnd::TimedOut, 100));
}

using User = std::tuple<uint32_t, uint32_t, std::string>;
User UserOf(const std::string& passwd, const std::string& group) {
  os::PartUser user = os::NetworkPartUser(passwd.c_str(), group.c_str());
  return {user.uid, user.gid, user.name};
}

TEST(NetworkPart, ItsUserIsHorolanElseNobodyWithNogroupRead) {
  TempDir dir;
  // A piece of a long line or a longer name that begins "horolan" names no one.
  dir.Write("passwd", std::string(1023, 'x') + "horolan:x:1:1:\nhorolanx:x:2:2:\nnobody:x:7:8:\n");
  dir.Write("group", "users:x:100:\nnogroup::9:\n");
  dir.Write("own", "nobody:x:7:8:\nhorolan:x:999:998::/:/bin/false\n");
  EXPECT_EQ(UserOf(dir.File("passwd"), dir.File("group")), User(7, 9, "nobody"));
  EXPECT_EQ(UserOf(dir.File("passwd"), "/none"), User(7, 8, "nobody"));
  EXPECT_EQ(UserOf(dir.File("own"), dir.File("group")), User(999, 998, "horolan"));
  EXPECT_EQ(UserOf("/none", "/none"), User(65534, 65534, "nobody"));
}

}  // namespace
