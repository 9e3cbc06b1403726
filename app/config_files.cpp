#include "app/config_files.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/file_helpers.h"
#include "os/fs/files.h"

namespace {

using Path = os::WideBuffer<kPathCapacity>;

// Appends UTF-8 text; false when it does not fit whole.
bool AppendNative(Path& path, const char* text) {
  char16_t wide[kPathCapacity];
  size_t length = strlen(text);
  if (os::WideFromAnsi(text, length, wide, kPathCapacity) + 1 > kPathCapacity) return false;
  return path.append(wide);
}

void Add(ConfigFiles& files, ConfigKind kind, const Path& path) {
  files.kinds[files.count] = kind;
  files.paths[files.count++] = path;
}

// The folder part of path (without the last "/"), or -1.
ptrdiff_t FolderEnd(const char16_t* path) { return os::WideFindLastChar(path, u'/'); }

// PREFIX/etc/horolan/horolan.txt for PREFIX/bin/horolan; /etc for /usr and /.
bool SystemFile(const char16_t* modulePath, Path& out) {
  Path prefix;
  prefix.assign(modulePath);
  for (int up = 0; up < 2; ++up) {
    ptrdiff_t slash = FolderEnd(prefix.c_str());
    if (slash < 0) return false;
    prefix.data()[slash] = 0;
  }
  if (os::WideEqual(prefix.c_str(), u"/usr")) prefix.clear();
  out = prefix;
  return out.append(u"/etc/horolan/horolan.txt");
}

bool UserFile(const ConfigPlace& place, Path& out) {
  out.clear();
  // Relative values are ignored, as every program that follows the XDG rules does.
  if (place.configHome && place.configHome[0] == '/') {
    if (!AppendNative(out, place.configHome)) return false;
  } else if (place.home && place.home[0] == '/') {
    if (!AppendNative(out, place.home) || !out.append(u"/.config")) return false;
  } else {
    return false;
  }
  return out.append(u"/horolan/horolan.txt");
}

}  // namespace

ConfigFiles ChooseConfigFiles(const ConfigPlace& place) {
  ConfigFiles files;
  Path path;
  if (place.named && place.named[0]) {
    if (AppendNative(path, place.named)) Add(files, ConfigKind::Named, path), files.edited = 0;
    return files;
  }
  if (!place.modulePath || !place.modulePath[0]) return files;
  if (place.buildFolder) {
    if (MakeConfigPathFrom(place.modulePath, path.data(), path.capacity))
      Add(files, ConfigKind::Beside, path);
    files.edited = files.count - 1;
    return files;
  }
  if (SystemFile(place.modulePath, path)) {
    Add(files, ConfigKind::System, path);
    if (place.root) files.edited = 0;
  }
  if (UserFile(place, path)) {
    Add(files, ConfigKind::User, path);
    if (!place.root) files.edited = files.count - 1;
  }
  return files;
}

ConfigPlace ThisConfigPlace(const char* namedByOption) {
  static char16_t module[kPathCapacity];
  ConfigPlace place;
  place.named = namedByOption && namedByOption[0] ? namedByOption : getenv(kConfigVariable);
  place.configHome = getenv("XDG_CONFIG_HOME");
  place.home = getenv("HOME");
  place.root = geteuid() == 0;
  if (os::ModuleFileName(module, kPathCapacity) == 0) return place;
  place.modulePath = module;
  Path beside;
  beside.assign(module);
  ptrdiff_t slash = FolderEnd(module);
  beside.data()[slash + 1] = 0;
  char16_t name[64];
  os::WideFromAnsi(kTerminalModule, strlen(kTerminalModule), name, 64);
  place.buildFolder = beside.append(name) && ProbePath(beside.c_str()) == 1;
  return place;
}

const char* ConfigKindName(ConfigKind kind) {
  switch (kind) {
    case ConfigKind::Beside: return "the file beside the executable";
    case ConfigKind::System: return "the system file";
    case ConfigKind::User: return "your file";
    case ConfigKind::Named: return "the file named";
  }
  return "";
}
