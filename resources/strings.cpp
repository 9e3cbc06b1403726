#include "resources/strings.h"

#include "resources/version.h"

namespace {

struct StringEntry {
  int id;
  const char16_t* text;
};

// Line 21 names the host of the default daytime URL (104); line 26 the
// default SNTP host (105).
constexpr const char16_t kDefaultConfig[] =
    u";#ONLYSHOW\r\n"
    u";#SILENT\r\n"
    u"#NIST \r\n"
    u";#KEEPCACHE\r\n"
    u";#SNTP\r\n"
    u";#nserver(time-a-g.nist.gov)\r\n"
    u";#nserver(time-b-g.nist.gov)\r\n"
    u";#nserver(time-c-g.nist.gov)\r\n"
    u";#nserver(time-d-g.nist.gov)\r\n"
    u";#nserver(time-e-g.nist.gov)\r\n"
    u";#nserver(time-a-wwv.nist.gov)\r\n"
    u";#nserver(time-b-wwv.nist.gov)\r\n"
    u";#nserver(time-c-wwv.nist.gov)\r\n"
    u";#nserver(time-d-wwv.nist.gov)\r\n"
    u";#nserver(time-e-wwv.nist.gov)\r\n"
    u";#nserver(time-a-b.nist.gov)\r\n"
    u";#nserver(time-b-b.nist.gov)\r\n"
    u";#nserver(time-c-b.nist.gov)\r\n"
    u";#nserver(time-d-b.nist.gov)\r\n"
    u";#nserver(time-e-b.nist.gov)\r\n"
    u"#nserver(time.nist.gov)\r\n"
    u";#sserver(0.pool.ntp.org)\r\n"
    u";#sserver(1.pool.ntp.org)\r\n"
    u";#sserver(time.cloudflare.com)\r\n"
    u";#sserver(time.google.com)\r\n"
    u";#sserver(pool.ntp.org)\r\n"
    u"#sserver(time.nist.gov)";

constexpr StringEntry kStringTable[] = {
    {102, u"Horolan " HOROLAN_VERSION "\nClock synchronisation\nby SNTP or NIST daytime"},
    {104, u"http://time.nist.gov:13"},
    {105, u"pool.ntp.org"},
    {106, u"Horolan"},
    {107, u"%s\n\nServer %s\nError %d\n%s"},
    {108, u"Time sync with device."},
    {109,
     u"%s\n\nServer %s\n%04d/%02d/%02d %02d:%02d:%02d UTC\n%04d/%02d/%02d %02d:%02d:%02d "
     u"Local\n%s"},
    {110, u"Very big local clock offset"},
    {111, u"Unknown answer from server"},
    {128, u"The run's network part failed"},
    {129, u"The run could not confine itself"},
    {112, u"Connection timed out"},
    {113, u"Unknown host"},
    {114, u"Resource not found"},
    {115, u"Server connection time-out"},
    {116, kDefaultConfig},
    {117, u"Server certificate not trusted"},
    {118, u"Server certificate is for another server"},
    {119, u"No NTS key exchange on the server"},
    {120, u"The server refused the NTS key exchange"},
    {121, u"The server warned in the NTS key exchange"},
    {122, u"No NTS algorithm in common with the server"},
    {123, u"The NTS key exchange gave no cookie"},
    {124, u"NTS key exchange timed out"},
    {125, u"Malformed NTS key exchange reply"},
    {126, u"NTS is not available"},
    {127, u"time.cloudflare.com"},
    {140, u"Server time before the earliest time possible"},
    {141, u"Server certificate not yet valid"},
    {142, u"Server certificate expired"},
    {143, u"Round-trip delay over the limit"},
};

}  // namespace

const char16_t* LoadResourceText(int id) {
  for (const StringEntry& entry : kStringTable)
    if (entry.id == id) return entry.text;
  return nullptr;
}
