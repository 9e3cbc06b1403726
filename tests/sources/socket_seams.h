#pragma once
// Seams at the system-call boundary of the SNTP unit tests: the test
// executable defines getaddrinfo/freeaddrinfo, send and poll itself, so the
// OS layer linked into it calls these. Name lookups are answered from a
// small table and never reach the machine's resolver; a send or poll on the
// test's own thread can be made to fail once.
#include <string>

namespace seams {
void AddHost(const std::string& name, const std::string& address);
void ClearHosts();
int Lookups();
std::string LastLookup();
void FailNextSend(int error);
void FailNextPoll(int error);
int Sends();
}  // namespace seams
