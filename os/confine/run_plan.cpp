// The plan of a synchronisation run: where the registry, the web cache, the
// trust store and the terminal descriptions lie.
#include <cstdlib>
#include <string>
#include <string_view>

#include "os/base/text.h"
#include "os/confine/confine.h"
#include "os/dialup/dialup.h"
#include "os/registry/registry_store.h"

namespace os {

namespace {

constexpr size_t kPathUnits = 4096;

// The paths of one plan, kept while it is in force.
struct PlanPaths {
  std::string writable[ConfinePlan::kMaxWritable];
  std::string readable[ConfinePlan::kMaxReadable];
  int writables = 0, readables = 0;

  void Write(std::string folder) {
    if (!folder.empty() && writables < ConfinePlan::kMaxWritable) writable[writables++] = std::move(folder);
  }
  void Read(std::string_view path) {
    if (!path.empty() && readables < ConfinePlan::kMaxReadable) readable[readables++] = path;
  }
  // A variable naming one path, or a list of them separated by ":".
  void ReadVariable(const char* name) {
    const char* value = getenv(name);
    for (std::string_view list = value ? value : ""; !list.empty();) {
      size_t colon = list.find(':');
      Read(list.substr(0, colon));
      list = colon == list.npos ? std::string_view() : list.substr(colon + 1);
    }
  }
};

std::string RegistryFolder() {
  char store[kPathUnits];
  if (!RegistryStorePath(store, sizeof store)) return {};
  std::string_view path(store);
  return std::string(path.substr(0, path.rfind('/')));
}

// The registry's "Cache" value, as the URL service reads it.
std::string WebCacheFolder() {
  char16_t folder[kPathUnits];
  if (!RegistryStoreReadString(kRegistryCurrentUser,
                               u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Cache",
                               folder, kPathUnits))
    return {};
  size_t length = WideLength(folder);
  if (length >= kPathUnits - 1) return {};  // a cut value would name another folder
  char native[kPathUnits * 3];              // three bytes hold any unit
  AnsiFromWide(folder, length, native, sizeof native);
  return native;
}

bool g_confineRuns = true;

}  // namespace

void SetRunConfinementForTests(bool on) { g_confineRuns = on; }

Confinement ConfineRunFor(const RunNeeds& needs) {
  if (!g_confineRuns) return {};
  PlanPaths paths;
  paths.Write(RegistryFolder());
  if (needs.webCache) paths.Write(WebCacheFolder());
  for (const char* trust : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"}) paths.ReadVariable(trust);
  // Local times: a zone file TZ names by its path (":/path" or "/path"), or
  // the zone folder TZDIR.
  const char* zone = getenv("TZ");
  if (zone && zone[0] == ':') ++zone;
  if (zone && zone[0] == '/') paths.Read(zone);
  paths.ReadVariable("TZDIR");
  if (needs.terminal) {
    paths.ReadVariable("TERMINFO");
    paths.ReadVariable("TERMINFO_DIRS");
    const char* home = getenv("HOME");
    if (home && *home) paths.Read(std::string(home) + "/.terminfo");
  }
  if (needs.hangUpLinks) {
    paths.Read(DialupRunFolder());
    paths.Read("/proc");
  }
  ConfinePlan plan{.hangUpLinks = needs.hangUpLinks};
  for (int i = 0; i < paths.writables; ++i) plan.writableFolders[i] = paths.writable[i].c_str();
  for (int i = 0; i < paths.readables; ++i) plan.readablePaths[i] = paths.readable[i].c_str();
  return ConfineRun(plan);
}

}  // namespace os
