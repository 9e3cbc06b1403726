// The horolan executable: the process's arguments become the command-line
// text, the entry point does one job, and its code becomes the exit status.
#include <cstdio>

#include "app/entry_point.h"
#include "app/long_options.h"
#include "app/run_report.h"
#include "os/base/text.h"
#include "os/registry/registry_store.h"
#include "resources/version.h"

int main(int argc, char** argv) {
  TranslatedCommandLine args = TranslateCommandLine(argc, argv);
  switch (args.action) {
    case StartAction::Help: std::fputs(UsageText(), stdout); return 0;
    case StartAction::Version: std::printf("horolan %s\n", HOROLAN_VERSION); return 0;
    case StartAction::UsageError:
      std::fprintf(stderr, "horolan: %s\nTry 'horolan --help'.\n", args.message.c_str());
      return 2;
    case StartAction::Run: break;
  }
  // A word the run ignores is said once; the run is the same with it.
  for (size_t at = 0, end; (end = args.warnings.find('\n', at)) != std::string::npos; at = end + 1)
    std::fprintf(stderr, "horolan: warning: %s\n", args.warnings.substr(at, end - at).c_str());
  TheStartOptions() = {.configFile = args.configFile.empty() ? nullptr : args.configFile.c_str(),
                       .showSettings = args.showSettings};
  TheReportOptions() = {
      .json = args.json,
      .metricsFile = args.metricsFile.empty() ? nullptr : args.metricsFile.c_str(),
      .systemLog = !args.noSyslog};
  auto commandLine = os::NewWideFromAnsi(args.text.data(), args.text.size());
  if (!commandLine) {
    std::fputs("horolan: out of memory\n", stderr);
    return 1;
  }
  static int instanceMark;
  // One connection to the registry serves the whole run.
  os::KeepRegistryStoreOpen(true);
  int32_t code = HorolanEntry(&instanceMark, commandLine.get());
  os::KeepRegistryStoreOpen(false);
  std::fflush(stdout);
  return ExitStatusForCode(code);
}
