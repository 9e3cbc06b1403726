#include "platform/data_connection.h"

#include <cstring>

#include "os/base/dynlib.h"
#include "os/base/text.h"
#include "os/connmgr/connmgr_module.h"
#include "os/dialup/dialup.h"
#include "os/term/terminal.h"

namespace {

// The one connection handle of the process: set by establishing, read by
// releasing.
ConnectionHandle g_connection = nullptr;
// Set by PrepareDataConnection: the library kept loaded, and whether a
// failure is reported.
os::LibraryHandle g_kept = nullptr;
bool g_reportFailure = false;

// The connection manager's Internet destination network,
// {436EF144-B4FB-4863-A041-8F905A62C572}, in the platform's memory layout.
constexpr uint8_t kInternetDestination[16] = {0x44, 0xF1, 0x6E, 0x43, 0xFB, 0xB4, 0x63, 0x48,
                                              0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72};

void PutLittleEndian(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The library is held only for one operation and let go on every path
// (prepared, it stays mapped in between).
struct ConnectionManager {
  os::LibraryHandle library = os::LoadLibrary(kConnectionManagerLibrary);
  ~ConnectionManager() { os::FreeLibrary(library); }
  ConnectionManager() = default;
  ConnectionManager(const ConnectionManager&) = delete;
  ConnectionManager& operator=(const ConnectionManager&) = delete;

  template <typename Fn>
  Fn Entry(const char* name) const {
    return reinterpret_cast<Fn>(os::FindEntryPoint(library, name));
  }
};

bool HasBackquote(const char16_t (&name)[21]) {
  for (char16_t ch : name) {
    if (ch == 0) return false;
    if (ch == u'`') return true;
  }
  return false;
}

void HangUpDialupLinks() {
  os::DialupEntry entries[kMaxDialupEntries];
  entries[0].size = sizeof(os::DialupEntry);
  uint32_t bytes = sizeof entries;
  uint32_t count = 0;
  if (os::EnumerateDialupLinks(entries, &bytes, &count) != 0 || count == 0) return;
  // A count beyond the buffer cannot come with success; never read past it.
  if (count > kMaxDialupEntries) return;
  for (uint32_t i = 0; i < count; ++i)
    if (!HasBackquote(entries[i].name)) os::HangUpDialupLink(entries[i].handle);
}

// The manager's reason for a failed establish, when it gives one.
void ReportFailure(const ConnectionManager& manager) {
  auto reason = manager.Entry<HorolanConnMgrReasonFn>(HOROLAN_CONNMGR_REASON);
  char text[HOROLAN_CONNMGR_REASON_BYTES] = {};
  if (reason) reason(text, sizeof text);
  size_t length = 0;
  auto wide = text[0] ? os::NewWideFromAnsi(text, strlen(text), &length) : nullptr;
  if (!wide) return;
  os::WideBuffer<HOROLAN_CONNMGR_REASON_BYTES + 20> line;
  line.assign(u"data connection: ");
  line.append(wide.get());
  os::ReportError(line.c_str());
}

}  // namespace

void PrepareDataConnection(const char16_t* profile, bool reportFailure) {
  g_reportFailure = reportFailure;
  if (!g_kept) g_kept = os::LoadLibrary(kConnectionManagerLibrary);
  auto use = reinterpret_cast<HorolanConnMgrUseProfileFn>(
      os::FindEntryPoint(g_kept, HOROLAN_CONNMGR_USE_PROFILE));
  size_t length = 0;
  auto name = profile ? os::NewAnsiFromWide(profile, os::WideLength(profile), &length) : nullptr;
  if (use) use(name ? name.get() : "");
}

std::array<uint8_t, kConnectionInfoSize> BuildConnectionInfo() {
  std::array<uint8_t, kConnectionInfoSize> info{};
  PutLittleEndian(&info[0], kConnectionInfoSize);  // record size
  PutLittleEndian(&info[4], 1);                    // only the destination network is valid
  PutLittleEndian(&info[12], 0x8000);              // user-interactive priority
  for (size_t i = 0; i < sizeof kInternetDestination; ++i) info[24 + i] = kInternetDestination[i];
  return info;
}

int EstablishDataConnection() {
  ConnectionManager manager;
  if (!manager.library) return 0;
  auto status = manager.Entry<ConnMgrConnectionStatusFn>("ConnMgrConnectionStatus");
  auto establish =
      manager.Entry<ConnMgrEstablishConnectionSyncFn>("ConnMgrEstablishConnectionSync");
  if (!status || !establish) return 0;

  alignas(8) std::array<uint8_t, kConnectionInfoSize> info = BuildConnectionInfo();
  uint32_t statusWord = 0;
  if (establish(info.data(), &g_connection, kConnectionTimeoutMs, &statusWord) == 0) return 1;
  g_connection = nullptr;
  if (g_reportFailure) ReportFailure(manager);
  return 0;
}

int ReleaseDataConnection() {
  {
    ConnectionManager manager;
    auto status = manager.Entry<ConnMgrConnectionStatusFn>("ConnMgrConnectionStatus");
    auto release = manager.Entry<ConnMgrReleaseConnectionFn>("ConnMgrReleaseConnection");
    if (status && release) {
      uint32_t statusWord = 0;
      if (status(g_connection, &statusWord) == 0 && statusWord == kConnectionStatusConnected)
        release(g_connection, 0);
    }
  }
  HangUpDialupLinks();
  return 1;
}
