#pragma once
// Data connection control: bringing up the Internet data connection through
// the connection manager in "cellcore.dll" before a query, releasing it
// afterwards and hanging up dial-up links.
#include <array>
#include <cstddef>
#include <cstdint>

// The connection manager's entry points, as the program calls them.
using ConnectionHandle = void*;
extern "C" {
// info: the 64-byte connection-information record. 0 on success.
typedef int32_t (*ConnMgrEstablishConnectionSyncFn)(const void* info, ConnectionHandle* connection,
                                                    uint32_t timeoutMs, uint32_t* status);
typedef int32_t (*ConnMgrConnectionStatusFn)(ConnectionHandle connection, uint32_t* status);
typedef int32_t (*ConnMgrReleaseConnectionFn)(ConnectionHandle connection, int32_t cache);
}

constexpr const char* kConnectionManagerLibrary = "cellcore.dll";
constexpr size_t kConnectionInfoSize = 64;
constexpr uint32_t kConnectionTimeoutMs = 120000;
constexpr uint32_t kConnectionStatusConnected = 16;
constexpr uint32_t kMaxDialupEntries = 20;

// The connection-information record: size 64, mask 1 (destination valid),
// priority 0x8000, the Internet destination network's GUID at offset 24,
// everything else 0; 32-bit fields little-endian.
std::array<uint8_t, kConnectionInfoSize> BuildConnectionInfo();

// Loads the connection manager ahead of the run's confinement, after which
// no new code may be mapped, and keeps it loaded for the rest of the
// process; the operations below then find it in place. profile names the
// connection to bring up (empty: the manager's choice), where the manager
// takes a name; reportFailure: a failed establish writes the manager's
// reason as one line on standard error.
void PrepareDataConnection(const char16_t* profile, bool reportFailure);

// 1 when the connection manager reported success, else 0. Blocks for at most
// the connection manager's limit of 120000 ms.
int EstablishDataConnection();
// Releases the connection when it is still up, then hangs up every active
// dial-up link whose name holds no backquote. Always 1.
int ReleaseDataConnection();
