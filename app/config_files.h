#pragma once
// Which configuration files a start reads, and which one "#CONFIG" edits.
//
// A program run from its build folder (its terminal module lies beside it,
// as the build puts it and no install does) keeps its file beside it, named
// after it. An installed program (PREFIX/bin/horolan, its modules in
// PREFIX/lib/horolan) never writes beside itself: it reads the system file
// PREFIX/etc/horolan/horolan.txt (/etc/horolan/horolan.txt for the prefixes
// /usr and /), then the user's ${XDG_CONFIG_HOME:-~/.config}/horolan/
// horolan.txt, both with the same rules, the user's last. "#CONFIG" edits
// the user's file, root's the system file. A file named by --config-file
// (else by the variable HOROLAN_CONFIG) is the one file instead.
#include <cstddef>

#include "app/run_settings.h"
#include "os/base/text.h"

constexpr const char* kConfigVariable = "HOROLAN_CONFIG";
constexpr const char* kTerminalModule = "libhorolan_tui.so";

// What the choice depends on; every text may be null.
struct ConfigPlace {
  const char16_t* modulePath = nullptr;  // the executable's absolute path
  const char* named = nullptr;           // --config-file, else HOROLAN_CONFIG
  const char* configHome = nullptr;      // XDG_CONFIG_HOME (used only when absolute)
  const char* home = nullptr;            // HOME
  bool buildFolder = false;              // the terminal module lies beside the executable
  bool root = false;                     // the effective user is root
};

enum class ConfigKind { Beside, System, User, Named };

struct ConfigFiles {
  static constexpr int kMax = 2;
  int count = 0;
  ConfigKind kinds[kMax] = {};
  os::WideBuffer<kPathCapacity> paths[kMax];  // applied in this order
  int edited = -1;  // the index "#CONFIG" edits; -1: none (no home for a user's file)
};

// The files for place. A path that does not fit is left out, never cut.
ConfigFiles ChooseConfigFiles(const ConfigPlace& place);

// The place of this process: /proc/self/exe, the environment, the user.
ConfigPlace ThisConfigPlace(const char* namedByOption);

// Where a file's name comes from, in words ("system file", "your file", ...).
const char* ConfigKindName(ConfigKind kind);
