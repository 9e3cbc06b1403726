#pragma once
// Dial-up links: the active pppd links, enumerated as the remote-access
// service's connection entries, and hanging one up.
//
// Each "ppp*.pid" file of the run folder (/run) whose process is a running
// pppd is one active link. Its name is NAME for "ppp-NAME.pid", else the
// interface name ("ppp0" for "ppp0.pid"), cut to 20 units. pppd started with
// a link name writes both files for one process: that link is listed once,
// under its link name. The entry's handle is the pppd's process id.
#include <cstddef>
#include <cstdint>

namespace os {

struct DialupEntry {
  uint32_t size = sizeof(DialupEntry);  // 52: the caller sets it in the first entry
  uint32_t handle = 0;
  char16_t name[21] = {};
  uint8_t padding[2] = {};
};
static_assert(sizeof(DialupEntry) == 52, "the entry layout is the platform's");

constexpr uint32_t kDialupBufferTooSmall = 603;  // more links than entries
constexpr uint32_t kDialupInvalidSize = 632;     // first entry's size is not 52
constexpr size_t kDialupNameUnits = 20;

// Fills entries (bufferBytes bytes) with the active links. 0 on success with
// count set. With more links than fit: kDialupBufferTooSmall, count set to
// the number of links, bufferBytes to the bytes they need, no entry filled.
// A missing run folder has no links.
uint32_t EnumerateDialupLinks(DialupEntry* entries, uint32_t* bufferBytes, uint32_t* count);

// Hangs up the link: SIGTERM to the process, only after checking that it is
// still a pppd. 0 on success, else an errno value (ESRCH for a handle that
// is not a running pppd).
uint32_t HangUpDialupLink(uint32_t handle);

// The folder holding the pid files ("/run"); tests point it elsewhere (null
// restores /run). The text is copied.
void SetDialupRunFolder(const char* folder);
const char* DialupRunFolder();

}  // namespace os
