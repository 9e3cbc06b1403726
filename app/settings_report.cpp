#include "app/settings_report.h"

#include <cstdio>

#include "app/sync_run.h"
#include "common/keyword_scanner.h"
#include "os/base/text.h"
#include "sources/daytime_query.h"

namespace {

std::string Narrow(const char16_t* text) {
  std::string out(os::AnsiFromWide(text, os::WideLength(text), nullptr, 0) + 1, '\0');
  out.resize(os::AnsiFromWide(text, os::WideLength(text), out.data(), out.size()));
  return out;
}

std::string OriginText(const SettingOrigin& origin, const ConfigFiles& files) {
  if (origin.file == SettingOrigin::kCommandLine) return "command line";
  if (origin.file < 0 || origin.file >= files.count) return "built in";
  return Narrow(files.paths[origin.file].c_str()) + ":" + std::to_string(origin.line);
}

void AddLine(std::string& out, const char* name, const std::string& value,
             const std::string& origin) {
  char line[64];
  snprintf(line, sizeof line, "  %-12s ", name);
  out += line + value + std::string(value.size() < 24 ? 24 - value.size() : 1, ' ') + origin + "\n";
}

}  // namespace

std::string ComposeSettingsReport(const RunSettings& settings, const SettingOrigins& origins,
                                  const ConfigFiles& files, const bool* read,
                                  const char16_t* commandLine) {
  std::string out = "Configuration files, in the order read:\n";
  if (files.count == 0) out += "  (none)\n";
  for (int i = 0; i < files.count; ++i)
    out += "  " + Narrow(files.paths[i].c_str()) + " (" + ConfigKindName(files.kinds[i]) +
           (read[i] ? "" : ", not present") + (files.edited == i ? ", edited by --config" : "") +
           ")\n";
  out += "Settings:\n";
  // The server as the run would ask it: the command line's, else the
  // configured one, else the mode's default.
  RunSettings chosen = settings;
  bool daytime = settings.mode == Nist && !settings.nts;
  os::WideBuffer<260> named;
  bool fromCommandLine =
      FindNoCase(commandLine, u"#SERVER(") &&
      ExtractArgument(u"#SERVER", commandLine, named.data(), named.capacity, u'(', u')') &&
      !named.empty();
  if (daytime)
    ChooseDaytimeUrl(commandLine, chosen.server);
  else
    ChooseSntpServer(chosen, commandLine);
  std::string serverOrigin = fromCommandLine           ? "command line"
                             : settings.server.empty() ? "built-in default"
                                                       : OriginText(origins.server, files);
  AddLine(out, "mode",
          settings.nts ? "nts"
          : daytime    ? "daytime"
                       : "sntp",
          OriginText(origins.mode, files));
  AddLine(out, "server", Narrow(chosen.server.c_str()), serverOrigin);
  const struct {
    const char* name;
    bool on;
    const SettingOrigin& origin;
  } switches[] = {{"only-show", settings.onlyShow, origins.onlyShow},
                  {"silent", settings.silent, origins.silent},
                  {"keep-cache", settings.keepCache, origins.keepCache},
                  {"connect", settings.useConnection, origins.useConnection}};
  for (const auto& item : switches)
    AddLine(out, item.name, item.on ? "on" : "off", OriginText(item.origin, files));
  std::string step = settings.maxStep == kMaxStepAny ? "any"
                     : settings.maxStep == kMaxStepDefault
                         ? (daytime ? "none" : "under 3600 s")
                         : "under " + std::to_string(settings.maxStep) + " s";
  AddLine(out, "max-step", step, OriginText(origins.maxStep, files));
  AddLine(out, "samples", std::to_string(settings.samples), OriginText(origins.samples, files));
  char delay[32];
  snprintf(delay, sizeof delay, "%g s", RoundTripLimit(settings));
  AddLine(out, "max-delay", RoundTripLimit(settings) > 0 ? delay : "none",
          OriginText(origins.maxDelay, files));
  if (!settings.connection.empty())
    AddLine(out, "connection", Narrow(settings.connection.c_str()),
            OriginText(origins.connection, files));
  return out;
}

void PrintSettings(const RunSettings& settings, const SettingOrigins& origins,
                   const ConfigFiles& files, const bool* read, const char16_t* commandLine) {
  std::string text = ComposeSettingsReport(settings, origins, files, read, commandLine);
  fwrite(text.data(), 1, text.size(), stdout);
}
