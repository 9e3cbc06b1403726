#pragma once
// Seams for the socket and file tests: the test executable defines getaddrinfo, connect, send,
// recv, poll, read, write and socket. Names resolve from a table here, never through the
// machine's resolver; a call can be made to fail once.
#include <functional>
#include <string>
#include <vector>

namespace seams {

enum Call { kConnect, kSend, kRecv, kPoll, kPollNothing, kRead, kWrite, kSocket, kSocketIpv6 };

// A name that resolves to these IPv4 addresses ("v6": an IPv6 entry, "short": one with too short an address), or to
// getaddrinfo's error (errno set to systemError).
void AddHost(const std::string& name, std::vector<std::string> entries, int error = 0, int systemError = 0);
int Lookups();
int Sockets();  // socket() calls so far
bool LoopbackUp();  // false where loopback is down (a fresh network namespace): the tests over it skip

// The next such call on this thread fails with error (kPollNothing: returns 0 at once, as if its time were up;
// kSocket: an IPv4 socket, kSocketIpv6: an IPv6 one).
void FailNext(Call call, int error = 0);
// Runs after every successful send on this thread (empty: none). A function, not the thread_local
// itself: the optimised sanitizer build misreads a thread_local reached from another file.
std::function<void()>& AfterSend();

}  // namespace seams
