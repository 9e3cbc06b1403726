#include "app/entry_point.h"

#include "app/run_settings.h"
#include "app/sync_run.h"
#include "common/file_helpers.h"
#include "common/keyword_scanner.h"
#include "editor/config_editor.h"
#include "os/fs/files.h"
#include "os/term/terminal.h"
#include "platform/shell.h"
#include "platform/shell_registration.h"
#include "resources/strings.h"

void* programInstance = nullptr;

namespace {

constexpr const char16_t* kEditorClassName = u"HOROCFGEDIT";

void RegisterWithShell(char16_t* programPath) {
  char16_t quoted[kQuotedPathCapacity];
  ShellRegistrationRecord record;
  // A path whose quoted form does not fit is not registered in cut form.
  if (os::ModuleFileName(programPath, kPathCapacity) == 0) return;
  if (BuildShellRegistration(programPath, quoted, record))
    ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record);
}

}  // namespace

int32_t HorolanEntry(void* instance, const char16_t* commandLine) {
  programInstance = instance;
  char16_t path[kPathCapacity];
  MakeConfigPath(path, kPathCapacity);

  if (FindNoCase(commandLine, u"#CONFIG")) {
    // The exit code stays 0 as for every editor start; a start that could not
    // open the editor still says why, on standard error.
    if (RunConfigEditor(programInstance, kEditorClassName, path, LoadResourceText(res::kTextCaption)) < 0)
      os::ReportError(u"the configuration editor needs a terminal");
    return 0;
  }
  if (path[0] && ProbePath(path) == 1) LoadConfigFile(path);
  ApplyCommandLine(commandLine);

  RegisterWithShell(path);
  if (FindNoCase(commandLine, u"#REGISTER")) return 0;

  return SynchronisationRun(TheRunSettings(), commandLine);
}

int ExitStatusForCode(int32_t code) {
  int low = static_cast<int>(static_cast<uint32_t>(code) & 0xFF);
  return code != 0 && low == 0 ? 1 : low;
}
