#pragma once
// Seams at the system-call boundary of the SNTP unit tests. The test
// executable defines getaddrinfo/freeaddrinfo, send and poll itself, so the
// OS layer linked into it calls these:
// - name lookups are answered from a small table and never reach the
//   machine's resolver;
// - a send or poll on the test's own thread can be made to fail once.
#include <string>

namespace seams {

// name -> dotted IPv4 address; every other name is unknown.
void AddHost(const std::string& name, const std::string& address);
void ClearHosts();
int Lookups();
std::string LastLookup();

// The next send / poll on the calling thread fails with this errno.
void FailNextSend(int error);
void FailNextPoll(int error);
int Sends();

}  // namespace seams
