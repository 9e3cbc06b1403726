#include "app/entry_point.h"

#include <cstdio>
#include <cstring>

#include "app/config_files.h"
#include "app/run_settings.h"
#include "app/settings_report.h"
#include "app/sync_run.h"
#include "common/file_helpers.h"
#include "common/keyword_scanner.h"
#include "editor/config_editor.h"
#include "os/base/wide_format.h"
#include "os/fs/file_write.h"
#include "os/fs/files.h"
#include "os/term/terminal.h"
#include "platform/shell.h"
#include "platform/shell_registration.h"
#include "resources/strings.h"

void* programInstance = nullptr;

StartOptions& TheStartOptions() {
  static StartOptions options;
  return options;
}

namespace {

constexpr const char16_t* kEditorClassName = u"HOROCFGEDIT";

void RegisterWithShell() {
  char16_t programPath[kPathCapacity];
  char16_t quoted[kQuotedPathCapacity];
  ShellRegistrationRecord record;
  // A path whose quoted form does not fit is not registered in cut form.
  if (os::ModuleFileName(programPath, kPathCapacity) == 0) return;
  if (BuildShellRegistration(programPath, quoted, record))
    ShellRegistration(kShellRegistrationName, kShellRegistrationFlags, &record);
}

// "#CONFIG": the editor on the one file this user edits, its folder made
// first. The exit code stays 0 as for every editor start, unless a save
// failed and none succeeded after it: then the code is the reason.
int32_t EditConfiguration(const ConfigFiles& files) {
  if (files.edited < 0) {
    os::ReportError(
        u"no configuration file to edit: no folder for it (XDG_CONFIG_HOME, HOME) or its path is "
        u"too long");
    return 1;
  }
  const char16_t* path = files.paths[files.edited].c_str();
  if (files.kinds[files.edited] == ConfigKind::System ||
      files.kinds[files.edited] == ConfigKind::User)
    os::MakeParentFolders(path);
  os::WideBuffer<kPathCapacity + 16> title;
  os::FormatWide(title.data(), title.capacity, u"%s: %s",
                 {LoadResourceText(res::kTextCaption), path});
  if (RunConfigEditor(programInstance, kEditorClassName, path, title.c_str()) < 0) {
    os::ReportError(u"the configuration editor needs a terminal");
    return 0;
  }
  uint32_t error = TheConfigEditor().saveError;
  if (error == 0) return 0;
  os::WideBuffer<kPathCapacity + 128> line;
  os::FormatWide(line.data(), line.capacity, u"%s not saved: %S",
                 {path, strerror(static_cast<int>(error))});
  os::ReportError(line.c_str());
  return static_cast<int32_t>(error);
}

}  // namespace

int32_t HorolanEntry(void* instance, const char16_t* commandLine) {
  programInstance = instance;
  const ConfigFiles files = ChooseConfigFiles(ThisConfigPlace(TheStartOptions().configFile));

  if (FindNoCase(commandLine, u"#CONFIG")) return EditConfiguration(files);

  // A file named on purpose must be there: a run on other settings than
  // those asked for could set the clock from another server.
  if (files.count == 1 && files.kinds[0] == ConfigKind::Named &&
      ProbePath(files.paths[0].c_str()) != 1) {
    os::WideBuffer<kPathCapacity + 64> line;
    os::FormatWide(line.data(), line.capacity, u"configuration file %s: %S",
                   {files.paths[0].c_str(),
                    ProbePath(files.paths[0].c_str()) ? "not a file" : "no such file"});
    os::ReportError(line.c_str());
    return kUsageStatus;
  }
  SettingOrigins origins;
  bool read[ConfigFiles::kMax] = {};
  for (int i = 0; i < files.count; ++i)
    read[i] = ProbePath(files.paths[i].c_str()) == 1 &&
              LoadConfigFile(files.paths[i].c_str(), TheRunSettings(), &origins, i);
  ApplyCommandLine(commandLine, TheRunSettings(), &origins);
  if (TheStartOptions().showSettings) {
    PrintSettings(TheRunSettings(), origins, files, read, commandLine);
    return 0;
  }

  RegisterWithShell();
  if (FindNoCase(commandLine, u"#REGISTER")) return 0;

  return SynchronisationRun(TheRunSettings(), commandLine);
}

int ExitStatusForCode(int32_t code) {
  int low = static_cast<int>(static_cast<uint32_t>(code) & 0xFF);
  return code != 0 && low == 0 ? 1 : low;
}
