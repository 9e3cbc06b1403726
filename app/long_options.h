#pragma once
// The process's arguments as the program's command-line text: the arguments
// after the program name joined with single blanks, GNU-style long options
// first translated to keywords ("--sntp" to "#SNTP", "--server=HOST" and
// "--server HOST" to "#SERVER(HOST)"). Keywords and other words pass
// unchanged, in their order; "--" ends the options. An argument that begins
// with "-" and is no known option is a usage error: a mistyped option must
// never turn a query into a clock step.
#include <string>

enum class StartAction {
  Run,         // go on with the command-line text
  Help,        // --help or -h: print the usage, exit 0
  Version,     // --version or -V: print the version, exit 0
  UsageError,  // message on standard error, exit 2, nothing run
};

struct TranslatedCommandLine {
  StartAction action = StartAction::Run;
  std::string text;     // UTF-8
  std::string message;  // the usage error, for UsageError; names the argument
  // Options that are no keyword: they change where the settings come from
  // and how the result is reported, never what the run does.
  std::string configFile;   // --config-file=PATH
  std::string metricsFile;  // --metrics-file=PATH
  bool showSettings = false;
  bool json = false;
  bool noSyslog = false;
  // One line for each word that begins with "#" and holds no keyword: the
  // run ignores it, the user is told.
  std::string warnings;
};

TranslatedCommandLine TranslateCommandLine(int argc, const char* const* argv);

// The usage text printed by --help.
const char* UsageText();
