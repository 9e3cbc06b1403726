#include "os/nts/ke_session.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "os/clock/monotonic.h"
#include "os/nts/ke_records.h"
#include "os/tls/cert_time.h"

namespace nts {

namespace {

constexpr char kExporterLabel[] = "EXPORTER-network-time-security";
constexpr uint8_t kAlpn[] = {7, 'n', 't', 's', 'k', 'e', '/', '1'};
// The largest reply we read: eight cookies of the largest size kept and
// every other record fit many times over.
constexpr size_t kMaxReplyBytes = 16384;

__attribute__((format(printf, 2, 3))) void Say(HorolanNtsSession& session, const char* format,
                                               ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(session.reason, sizeof session.reason, format, arguments);
  va_end(arguments);
}

// The latest OpenSSL failure in words, or "" when it left none.
const char* TlsReason() {
  const char* reason = ERR_reason_error_string(ERR_peek_last_error());
  return reason ? reason : "";
}

struct Socket {
  int fd = -1;
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd >= 0) close(fd);
  }
};

struct AddressFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// SIGPIPE held back while the exchange writes, so that a server that went
// away cannot end the process; one it raised is dropped afterwards.
struct PipeSignalHold {
  sigset_t previous{};
  bool wasPending = false;
  bool held = false;
  PipeSignalHold() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending = sigismember(&pending, SIGPIPE) == 1;
    held = pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous) == 0;
  }
  PipeSignalHold(const PipeSignalHold&) = delete;
  PipeSignalHold& operator=(const PipeSignalHold&) = delete;
  ~PipeSignalHold() {
    if (!held) return;
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (!wasPending) {
      timespec zero{};
      sigtimedwait(&pipeOnly, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
};

// Waits until fd is ready for events or the deadline passes: 1 ready, 0 time
// out, -1 failure.
int WaitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - os::MonotonicMs();
    if (left <= 0) return 0;
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// Strips the brackets of "[::1]"; false when the host does not fit.
bool PlainHost(const char* host, char (&out)[HOROLAN_NTS_MAX_SERVER_BYTES + 1]) {
  size_t length = strnlen(host, sizeof out);
  if (length == 0 || length >= sizeof out) return false;
  if (host[0] == '[' && length > 2 && host[length - 1] == ']') {
    memcpy(out, host + 1, length - 2);
    out[length - 2] = '\0';
  } else if (host[0] == '[' || memchr(host, ']', length)) {
    return false;
  } else {
    memcpy(out, host, length + 1);
  }
  return true;
}

bool IsAddressLiteral(const char* host) {
  in6_addr address;
  return inet_pton(AF_INET, host, &address) == 1 || inet_pton(AF_INET6, host, &address) == 1;
}

// One name lookup running beside the caller; the resolver writes into it
// until the lookup is done or cancelled.
struct Lookup {
  gaicb request{};
  addrinfo hints{};
  char name[HOROLAN_NTS_MAX_SERVER_BYTES + 1] = {};
  char service[8] = {};
};

// getaddrinfo bounded by the key exchange's deadline: a name service that
// does not answer in time gives EAI_AGAIN. An address literal needs no
// lookup and is read at once.
int Resolve(const char* host, uint16_t port, int64_t deadline, addrinfo*& found,
            int type = SOCK_STREAM) {
  std::unique_ptr<Lookup> lookup(new (std::nothrow) Lookup);
  if (!lookup) return EAI_MEMORY;
  lookup->hints.ai_family = AF_UNSPEC;
  lookup->hints.ai_socktype = type;
  lookup->hints.ai_flags = AI_NUMERICSERV;
  snprintf(lookup->service, sizeof lookup->service, "%u", static_cast<unsigned>(port));
  if (IsAddressLiteral(host)) {
    lookup->hints.ai_flags |= AI_NUMERICHOST;
    return getaddrinfo(host, lookup->service, &lookup->hints, &found);
  }
  snprintf(lookup->name, sizeof lookup->name, "%s", host);
  lookup->request.ar_name = lookup->name;
  lookup->request.ar_service = lookup->service;
  lookup->request.ar_request = &lookup->hints;
  gaicb* list[] = {&lookup->request};
  if (int started = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr)) return started;
  for (;;) {
    int status = gai_error(&lookup->request);
    if (status != EAI_INPROGRESS) {
      found = lookup->request.ar_result;
      return status;
    }
    int64_t left = deadline - os::MonotonicMs();
    if (left <= 0) break;
    timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000 * 1000000)};
    gai_suspend(list, 1, &wait);  // back early when the lookup is done
  }
  if (gai_cancel(&lookup->request) == EAI_ALLDONE) {  // done at the last moment
    found = lookup->request.ar_result;
    return gai_error(&lookup->request);
  }
  // A lookup that could not be cancelled still writes into its record: it
  // is left to the resolver, whose thread ends with the process.
  if (gai_error(&lookup->request) != EAI_CANCELED) lookup.release();
  return EAI_AGAIN;
}

// Connects to the first address that takes the connection.
int32_t Connect(const char* host, uint16_t port, int64_t deadline, Socket& socketOut,
                int32_t& detail) {
  addrinfo* found = nullptr;
  int resolved = Resolve(host, port, deadline, found);
  if (resolved != 0) {
    detail = resolved;
    return HOROLAN_NTS_UNKNOWN_HOST;
  }
  std::unique_ptr<addrinfo, AddressFree> list(found);
  detail = ECONNREFUSED;
  for (addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
    Socket candidate;
    candidate.fd = socket(entry->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (candidate.fd < 0) {
      detail = errno;
      continue;
    }
    if (connect(candidate.fd, entry->ai_addr, entry->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        detail = errno;
        continue;
      }
      int ready = WaitFor(candidate.fd, POLLOUT, deadline);
      if (ready == 0) return HOROLAN_NTS_TIMEOUT;
      int error = 0;
      socklen_t size = sizeof error;
      if (ready < 0 || getsockopt(candidate.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
      if (error != 0) {
        detail = error;
        continue;
      }
    }
    // The request follows the handshake's last flight as a second small
    // write: without this it waits for the server's delayed ACK (40 ms).
    int on = 1;
    setsockopt(candidate.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    socketOut.fd = candidate.fd;
    candidate.fd = -1;
    detail = 0;
    return HOROLAN_NTS_OK;
  }
  // Refused: nothing listens for the key exchange there.
  return detail == ECONNREFUSED ? HOROLAN_NTS_NO_SERVICE : HOROLAN_NTS_UNREACHABLE;
}

// Waits for what a non-blocking TLS call asked for: OK to call again,
// TIMEOUT, or NO_SERVICE when the call failed for good.
int32_t WaitForTls(SSL* ssl, int outcome, int fd, int64_t deadline) {
  int error = SSL_get_error(ssl, outcome);
  short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                 : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                 : 0;
  if (events == 0) return HOROLAN_NTS_NO_SERVICE;
  int ready = WaitFor(fd, events, deadline);
  if (ready == 0) return HOROLAN_NTS_TIMEOUT;
  return ready > 0 ? HOROLAN_NTS_OK : HOROLAN_NTS_NO_SERVICE;
}

// Why the handshake failed: the certificate, or no NTS-KE service there.
int32_t HandshakeFailure(SSL* ssl, int32_t& detail, HorolanNtsSession& session,
                         const tls::CertTimes& times, const char* host) {
  long verified = SSL_get_verify_result(ssl);
  detail = static_cast<int32_t>(verified);
  if (verified == X509_V_ERR_CERT_HAS_EXPIRED && times.expired) {
    tls::DescribeExpiry(times, host, session.reason, sizeof session.reason);
    return HOROLAN_NTS_CERT_EXPIRED;
  }
  if (verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH)
    return HOROLAN_NTS_NAME_MISMATCH;
  if (verified != X509_V_OK) return HOROLAN_NTS_UNTRUSTED;
  detail = errno;
  if (detail == 0 && *TlsReason()) Say(session, "TLS handshake failed: %s", TlsReason());
  return HOROLAN_NTS_NO_SERVICE;
}

// A folder of certificates named by their subject hash ("1a2b3c4d.0"), as
// c_rehash and update-ca-certificates leave them.
bool HashedFolder(const char* path) {
  std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path), closedir);
  if (!folder) return false;
  while (const dirent* entry = readdir(folder.get())) {
    const char* name = entry->d_name;
    if (strlen(name) == 10 && strspn(name, "0123456789abcdef") == 8 && strcmp(name + 8, ".0") == 0)
      return true;
  }
  return false;
}

// The system's trust store, or what SSL_CERT_FILE and SSL_CERT_DIR name.
// The system's bundle file costs 100 ms and more to parse (every certificate
// at once); its hashed folder holds the same certificates and is read one
// needed certificate at a time. So the default file is read only where the
// default folder is not hashed. Missing files and folders are no error, as
// for OpenSSL's own defaults.
void LoadTrust(SSL_CTX* context) {
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  const char* file = getenv(X509_get_default_cert_file_env());
  const char* folder = getenv(X509_get_default_cert_dir_env());
  if (!file && (folder || !HashedFolder(X509_get_default_cert_dir())))
    file = X509_get_default_cert_file();
  if (!folder) folder = X509_get_default_cert_dir();
  if (file) X509_STORE_load_file(store, file);
  X509_STORE_load_path(store, folder);
  ERR_clear_error();
}

bool ConfigureContext(SSL_CTX* context) {
  LoadTrust(context);
  return SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) == 1 &&
         SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) == 1;
}

bool ConfigureSession(SSL* ssl, const char* host) {
  SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  if (SSL_set_alpn_protos(ssl, kAlpn, sizeof kAlpn) != 0) return false;  // 0 is success here
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (IsAddressLiteral(host)) return X509_VERIFY_PARAM_set1_ip_asc(param, host) == 1;
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return X509_VERIFY_PARAM_set1_host(param, host, 0) == 1 &&
         SSL_set_tlsext_host_name(ssl, host) == 1;
}

enum KeyDirection : uint8_t { kClientToServer = 0, kServerToClient = 1 };

// One key from the TLS exporter. Its context (RFC 8915, section 5.1): the
// next protocol and the AEAD algorithm agreed, two octets each in network
// order, then the key's direction.
bool ExportKey(SSL* ssl, KeyDirection direction, uint8_t (&key)[HOROLAN_NTS_KEY_BYTES]) {
  const uint8_t context[] = {kProtocolNtpV4 >> 8, kProtocolNtpV4 & 0xFF, kAeadAesSivCmac256 >> 8,
                             kAeadAesSivCmac256 & 0xFF, direction};
  return SSL_export_keying_material(ssl, key, sizeof key, kExporterLabel, sizeof kExporterLabel - 1,
                                    context, sizeof context, 1) == 1;
}

bool ExportKeys(SSL* ssl, HorolanNtsSession& session) {
  return ExportKey(ssl, kClientToServer, session.c2sKey) &&
         ExportKey(ssl, kServerToClient, session.s2cKey);
}

int32_t Handshake(SSL* ssl, int fd, int64_t deadline, int32_t& detail, HorolanNtsSession& session,
                  const tls::CertTimes& times, const char* host) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int outcome = SSL_connect(ssl);
    if (outcome == 1) break;
    int32_t waited = WaitForTls(ssl, outcome, fd, deadline);
    if (waited == HOROLAN_NTS_NO_SERVICE)
      return HandshakeFailure(ssl, detail, session, times, host);
    if (waited != HOROLAN_NTS_OK) return waited;
  }
  const unsigned char* chosen = nullptr;
  unsigned int chosenLength = 0;
  SSL_get0_alpn_selected(ssl, &chosen, &chosenLength);
  if (SSL_version(ssl) != TLS1_3_VERSION || chosenLength != sizeof kAlpn - 1 ||
      memcmp(chosen, kAlpn + 1, chosenLength) != 0) {
    Say(session, "the TLS server does not speak the NTS key exchange (ALPN ntske/1)");
    return HOROLAN_NTS_NO_SERVICE;
  }
  return HOROLAN_NTS_OK;
}

int32_t SendRequest(SSL* ssl, int fd, int64_t deadline) {
  size_t sent = 0;
  while (sent < sizeof kKeRequest) {
    ERR_clear_error();
    int outcome = SSL_write(ssl, kKeRequest + sent, static_cast<int>(sizeof kKeRequest - sent));
    if (outcome > 0) {
      sent += static_cast<size_t>(outcome);
      continue;
    }
    int32_t waited = WaitForTls(ssl, outcome, fd, deadline);
    if (waited != HOROLAN_NTS_OK)
      return waited == HOROLAN_NTS_TIMEOUT ? waited : HOROLAN_NTS_BAD_REPLY;
  }
  return HOROLAN_NTS_OK;
}

int32_t ReadReply(SSL* ssl, int fd, int64_t deadline, const char* host,
                  HorolanNtsSession& session) {
  std::unique_ptr<uint8_t[]> reply(new uint8_t[kMaxReplyBytes]);
  size_t size = 0;
  for (;;) {
    ERR_clear_error();
    int outcome = SSL_read(ssl, reply.get() + size, static_cast<int>(kMaxReplyBytes - size));
    bool closed = false;
    if (outcome > 0) {
      size += static_cast<size_t>(outcome);
      closed = size == kMaxReplyBytes;  // a reply this long is no reply
    } else {
      int32_t waited = WaitForTls(ssl, outcome, fd, deadline);
      // A reply still unfinished at the deadline decides nothing: none of it is used.
      if (waited == HOROLAN_NTS_TIMEOUT) return SetResult(session, HOROLAN_NTS_TIMEOUT);
      if (waited == HOROLAN_NTS_OK) continue;
      closed = true;  // the server closed or reset the connection
    }
    if (ParseKeReply(reply.get(), size, closed, host, session)) return session.result;
  }
}

const char* KeErrorName(int32_t code) {
  switch (code) {
    case 0: return " (unrecognized critical record)";
    case 1: return " (bad request)";
    case 2: return " (internal server error)";
    default: return "";
  }
}

// The failure in words where its site had nothing more to say.
void Describe(HorolanNtsSession& session, const char* host, uint16_t port, uint32_t timeoutMs) {
  if (session.result == HOROLAN_NTS_OK || session.reason[0]) return;
  int32_t d = session.detail;
  switch (session.result) {
    case HOROLAN_NTS_UNKNOWN_HOST: Say(session, "%s: %s", host, gai_strerror(d)); break;
    case HOROLAN_NTS_NO_SERVICE:
      if (d < 0)
        Say(session, "%s offers no NTPv4 over NTS", host);
      else
        Say(session, "%s port %u: %s", host, port, d ? strerror(d) : "no NTS key exchange");
      break;
    case HOROLAN_NTS_UNREACHABLE: Say(session, "%s port %u: %s", host, port, strerror(d)); break;
    case HOROLAN_NTS_UNTRUSTED:
    case HOROLAN_NTS_NAME_MISMATCH:
      Say(session, "certificate of %s: %s", host, X509_verify_cert_error_string(d));
      break;
    case HOROLAN_NTS_KE_ERROR:
      Say(session, "%s sent key-exchange error %d%s", host, d, KeErrorName(d));
      break;
    case HOROLAN_NTS_KE_WARNING: Say(session, "%s sent key-exchange warning %d", host, d); break;
    case HOROLAN_NTS_NO_AEAD: Say(session, "%s offers no AEAD_AES_SIV_CMAC_256", host); break;
    case HOROLAN_NTS_NO_COOKIE: Say(session, "%s gave no cookie", host); break;
    case HOROLAN_NTS_TIMEOUT:
      if (d < 0)
        Say(session, "%s ended its key-exchange reply without its End record", host);
      else
        Say(session, "no key exchange with %s port %u within %u ms", host, port, timeoutMs);
      break;
    case HOROLAN_NTS_BAD_REPLY:
      Say(session, "malformed key-exchange reply from %s (record type %d)", host, d);
      break;
    case HOROLAN_NTS_INTERNAL: Say(session, "OpenSSL failed: %s", TlsReason()); break;
    default: Say(session, "bad key-exchange request"); break;
  }
}

// The NTP server's first address as a literal into session.ntpAddress, by
// the key exchange's deadline.
int32_t ResolveNtpServer(int64_t deadline, HorolanNtsSession& session) {
  addrinfo* found = nullptr;
  char plain[HOROLAN_NTS_MAX_SERVER_BYTES + 1];  // an IPv6 literal may come in brackets
  int resolved = PlainHost(session.ntpServer, plain)
                     ? Resolve(plain, session.ntpPort, deadline, found, SOCK_DGRAM)
                     : EAI_NONAME;
  std::unique_ptr<addrinfo, AddressFree> list(resolved == 0 ? found : nullptr);
  const void* bytes = nullptr;
  uint32_t scope = 0;
  if (resolved == 0 && found->ai_family == AF_INET) {
    bytes = &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  } else if (resolved == 0 && found->ai_family == AF_INET6) {
    bytes = &reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr;
    scope = reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_scope_id;
  } else if (resolved == 0) {
    resolved = EAI_ADDRFAMILY;
  }
  char text[INET6_ADDRSTRLEN] = {};
  if (bytes && !inet_ntop(found->ai_family, bytes, text, sizeof text)) resolved = EAI_ADDRFAMILY;
  if (resolved != 0) {
    Say(session, "NTP server %s named by the key exchange: %s", session.ntpServer,
        gai_strerror(resolved));
    return SetResult(session, HOROLAN_NTS_UNKNOWN_HOST, resolved);
  }
  if (scope)
    snprintf(session.ntpAddress, sizeof session.ntpAddress, "%s%%%u", text, scope);
  else
    snprintf(session.ntpAddress, sizeof session.ntpAddress, "%s", text);
  return HOROLAN_NTS_OK;
}

int32_t Exchange(const char* host, uint16_t port, uint32_t timeoutMs, int64_t timeFloor,
                 HorolanNtsSession& session) {
  int64_t deadline = os::MonotonicMs() + timeoutMs;
  PipeSignalHold pipeHold;
  Socket connection;
  int32_t detail = 0;
  int32_t connected = Connect(host, port, deadline, connection, detail);
  if (connected != HOROLAN_NTS_OK) return SetResult(session, connected, detail);

  std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
  tls::CertTimes times;
  if (!context || !ConfigureContext(context.get()) ||
      !tls::WatchCertificateTimes(context.get(), timeFloor, &times))
    return SetResult(session, HOROLAN_NTS_INTERNAL);
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
  if (!ssl || !ConfigureSession(ssl.get(), host) || SSL_set_fd(ssl.get(), connection.fd) != 1)
    return SetResult(session, HOROLAN_NTS_INTERNAL);

  int32_t step = Handshake(ssl.get(), connection.fd, deadline, detail, session, times, host);
  if (step != HOROLAN_NTS_OK) return SetResult(session, step, detail);
  session.certDates = times.dates ? 1 : 0;
  session.certNotBefore = times.notBefore;
  session.certNotAfter = times.notAfter;
  if (!ExportKeys(ssl.get(), session)) return SetResult(session, HOROLAN_NTS_INTERNAL);
  step = SendRequest(ssl.get(), connection.fd, deadline);
  if (step != HOROLAN_NTS_OK) return SetResult(session, step);
  step = ReadReply(ssl.get(), connection.fd, deadline, host, session);
  if (step != HOROLAN_NTS_OK) return SetResult(session, step, session.detail);
  SSL_shutdown(ssl.get());  // one close_notify, not waited for
  step = ResolveNtpServer(deadline, session);
  if (step != HOROLAN_NTS_OK) return step;
  return SetResult(session, HOROLAN_NTS_OK);
}

}  // namespace

int32_t KeyExchange(const HorolanNtsKeRequest& request, HorolanNtsSession& session) {
  char host[HOROLAN_NTS_MAX_SERVER_BYTES + 1];
  if (!request.host) return SetResult(session, HOROLAN_NTS_BAD_ARGUMENT);
  if (!PlainHost(request.host, host)) {  // too long for a name, or brackets around no address
    Say(session, "%.64s: %s", request.host, gai_strerror(EAI_NONAME));
    return SetResult(session, HOROLAN_NTS_UNKNOWN_HOST, EAI_NONAME);
  }
  uint16_t port = request.port ? request.port : HOROLAN_NTS_DEFAULT_KE_PORT;
  uint32_t timeoutMs = request.timeoutMs ? request.timeoutMs : HOROLAN_NTS_DEFAULT_TIMEOUT_MS;
  ERR_clear_error();
  int32_t result = Exchange(host, port, timeoutMs, request.timeFloor, session);
  Describe(session, host, port, timeoutMs);
  return result;
}

}  // namespace nts
