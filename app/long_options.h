#pragma once
// The process's arguments as the program's command-line text: the arguments
// after the program name joined with single blanks, GNU-style long options
// first translated to keywords ("--sntp" to "#SNTP", "--server=HOST" and
// "--server HOST" to "#SERVER(HOST)"). Any other text passes unchanged.
#include <string>

enum class StartAction {
  Run,         // go on with the command-line text
  Help,        // --help or -h: print the usage, exit 0
  Version,     // --version or -V: print the version, exit 0
  UsageError,  // --server without a host: message on standard error, exit 2
};

struct TranslatedCommandLine {
  StartAction action = StartAction::Run;
  std::string text;     // UTF-8
  std::string message;  // the usage error, for UsageError
};

TranslatedCommandLine TranslateCommandLine(int argc, const char* const* argv);

// The usage text printed by --help.
const char* UsageText();
