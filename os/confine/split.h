#pragma once
// A privileged run in two processes. The network part is forked before the
// first byte goes out: it becomes an unprivileged user with no capability,
// confines itself for reading and the network, waits for the word to go,
// does the query into one fixed-size record, sends that record and ends.
// Nothing else crosses. The process that forked it keeps the right to set
// the clock, never opens a network socket, and takes nothing from the part
// but a record of exactly the size asked for.
#include <cstddef>
#include <cstdint>

#include "os/confine/confine.h"

namespace os {

// The user the network part runs as: "horolan" when it exists, else
// "nobody" (with "nogroup"), else 65534. Read from the files themselves, where
// a system user is kept, not through the name service and its modules.
struct PartUser {
  uint32_t uid = 65534, gid = 65534;
  char name[32] = "nobody";
};
PartUser NetworkPartUser(const char* passwdFile = "/etc/passwd",
                         const char* groupFile = "/etc/group");

// The parent's end of a started part; the channel closes on every path,
// which also ends a part still waiting to go.
struct NetworkPart {
  int channel = -1;
  int pid = -1;
  int ended = -1;  // readable once the part has ended (a pidfd)
  NetworkPart() = default;
  NetworkPart(const NetworkPart&) = delete;
  NetworkPart& operator=(const NetworkPart&) = delete;
  ~NetworkPart();
};

// The work of the part: fills record (size bytes, zeroed) from the network.
using NetworkWork = void (*)(void* context, void* record, size_t size);

// The largest record a part hands back.
constexpr size_t kMaxNetworkRecord = 8192;

// Starts the part for a run with these needs (at most kMaxNetworkRecord
// bytes). False, with errno, when it could not be started.
bool StartNetworkPart(NetworkPart& part, const RunNeeds& needs, const PartUser& user,
                      NetworkWork work, void* context, size_t size);
// The part may begin (after the data connection came up).
void LetNetworkPartGo(NetworkPart& part);

// How the wait for the record ended.
enum class PartEnd {
  Record,     // exactly size bytes arrived
  Ended,      // the part ended without a record: detail is its wait status
  Malformed,  // a record of another size: detail is the byte count, size + 1 for a larger one
  TimedOut,   // nothing within the limit: detail is the limit in ms
  NoUser,     // the part could not become its unprivileged user, and did nothing
};
struct PartResult {
  PartEnd end = PartEnd::Ended;
  int detail = 0;
};
PartResult AwaitNetworkRecord(NetworkPart& part, void* record, size_t size, uint32_t timeoutMs);

}  // namespace os
