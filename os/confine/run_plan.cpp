// The plan of a synchronisation run: where the registry, the web cache, the
// trust store and the terminal descriptions lie.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "os/base/dynlib.h"
#include "os/base/text.h"
#include "os/confine/confine.h"
#include "os/dialup/dialup.h"
#include "os/fs/files.h"
#include "os/net/url/url_module.h"
#include "os/nts/nts_module.h"
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
    if (!folder.empty() && writables < ConfinePlan::kMaxWritable)
      writable[writables++] = std::move(folder);
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
  if (!RegistryStoreReadString(
          kRegistryCurrentUser,
          u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Cache",
          folder, kPathUnits))
    return {};
  size_t length = WideLength(folder);
  if (length >= kPathUnits - 1) return {};  // a cut value would name another folder
  char native[kPathUnits * 3];              // three bytes hold any unit
  AnsiFromWide(folder, length, native, sizeof native);
  // A value that a poisoned registry points elsewhere is never granted.
  return IsOwnCacheFolder(native) ? native : std::string();
}

// The name-service modules the hosts lookup names (nsswitch.conf), other
// than those built into the C library: loaded here, they are found loaded
// by the lookup, which then maps no new code.
void LoadNameServiceModules() {
  FILE* file = fopen("/etc/nsswitch.conf", "re");
  if (!file) return;
  char line[512];
  while (fgets(line, sizeof line, file)) {
    if (strncmp(line, "hosts:", 6) != 0) continue;
    char* save = nullptr;
    for (char* word = strtok_r(line + 6, " \t\n", &save); word;
         word = strtok_r(nullptr, " \t\n", &save)) {
      if (word[0] == '[' || strchr(word, ']') || !strcmp(word, "files") || !strcmp(word, "dns"))
        continue;
      char library[128];
      if (snprintf(library, sizeof library, "libnss_%s.so.2", word) <
          static_cast<int>(sizeof library))
        LoadLibrary(library);  // kept for the rest of the run
    }
  }
  fclose(file);
}

bool g_confineRuns = true;

}  // namespace

void SetRunConfinementForTests(bool on) { g_confineRuns = on; }

bool RunConfinementOn() { return g_confineRuns; }

void LoadRunModules(const RunNeeds& needs) {
  if (needs.webCache) LoadOsModule(HOROLAN_URL_MODULE);
  if (needs.nts) LoadOsModule(HOROLAN_NTS_MODULE);
  if (needs.terminal) LoadOsModule("libhorolan_tui.so");
  LoadNameServiceModules();
}

Confinement ConfineRunFor(const RunNeeds& needs, RunPart part, uint32_t uid, uint32_t gid) {
  if (!g_confineRuns) return {};
  PlanPaths paths;
  if (part != RunPart::Network) paths.Write(RegistryFolder());
  if (needs.webCache && part != RunPart::Network) paths.Write(WebCacheFolder());
  if (needs.metricsFolder && part != RunPart::Network) paths.Write(needs.metricsFolder);
  // The trust store only where TLS is spoken: never by the privileged part,
  // nor by a plain SNTP run.
  if ((needs.nts || needs.webCache) && part != RunPart::Privileged)
    for (const char* trust : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"})
      paths.ReadVariable(trust);
  // Local times: a zone file TZ names by its path (":/path" or "/path"), or
  // the zone folder TZDIR.
  const char* zone = getenv("TZ");
  if (zone && zone[0] == ':') ++zone;
  if (zone && zone[0] == '/') paths.Read(zone);
  paths.ReadVariable("TZDIR");
  if (needs.terminal && part != RunPart::Network) {
    paths.ReadVariable("TERMINFO");
    paths.ReadVariable("TERMINFO_DIRS");
    const char* home = getenv("HOME");
    if (home && *home) paths.Read(std::string(home) + "/.terminfo");
  }
  if (needs.hangUpLinks && part != RunPart::Network) {
    paths.Read(DialupRunFolder());
    paths.Read("/proc");
  }
  ConfinePlan plan{.part = part,
                   .uid = uid,
                   .gid = gid,
                   .hangUpLinks = needs.hangUpLinks && part != RunPart::Network};
  for (int i = 0; i < paths.writables; ++i) plan.writableFolders[i] = paths.writable[i].c_str();
  for (int i = 0; i < paths.readables; ++i) plan.readablePaths[i] = paths.readable[i].c_str();
  return ConfineRun(plan);
}

}  // namespace os
