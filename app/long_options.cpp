#include "app/long_options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/run_settings.h"

namespace {

// One line per option. Options are taken only by their whole names: a prefix
// that means one option today could mean another once one is added.
struct OptionRow {
  const char* name;
  int argument;  // no_argument or required_argument
  const char* keyword;
  StartAction action = StartAction::Run;
  char shortName = 0;
  const char* argumentName = "a host name";
  // An option that is no keyword sets one of these instead.
  bool TranslatedCommandLine::*flag = nullptr;
  std::string TranslatedCommandLine::*value = nullptr;
};

constexpr OptionRow kOptions[] = {
    {"config", no_argument, "#CONFIG"},
    {"register", no_argument, "#REGISTER"},
    {"nist", no_argument, "#NIST"},
    {"sntp", no_argument, "#SNTP"},
    {"nts", no_argument, "#NTS"},
    {"silent", no_argument, "#SILENT"},
    {"only-show", no_argument, "#ONLYSHOW"},
    {"connect", no_argument, "#CONNECT"},
    {"connection", required_argument, "#CONNECTION", StartAction::Run, 0, "a profile name"},
    {"keep-cache", no_argument, "#KEEPCACHE"},
    {"server", required_argument, "#SERVER"},
    {"max-step", required_argument, "#MAXSTEP", StartAction::Run, 0,
     "a number of seconds or 'any'"},
    {"config-file", required_argument, nullptr, StartAction::Run, 0, "a file name", nullptr,
     &TranslatedCommandLine::configFile},
    {"show-settings", no_argument, nullptr, StartAction::Run, 0, "",
     &TranslatedCommandLine::showSettings},
    {"json", no_argument, nullptr, StartAction::Run, 0, "", &TranslatedCommandLine::json},
    {"metrics-file", required_argument, nullptr, StartAction::Run, 0, "a file name", nullptr,
     &TranslatedCommandLine::metricsFile},
    {"no-syslog", no_argument, nullptr, StartAction::Run, 0, "", &TranslatedCommandLine::noSyslog},
    {"samples", required_argument, "#SAMPLES", StartAction::Run, 0, "a count from 1 to 8"},
    {"max-delay", required_argument, "#MAXDELAY", StartAction::Run, 0, "a number of seconds"},
    {"help", no_argument, nullptr, StartAction::Help, 'h'},
    {"version", no_argument, nullptr, StartAction::Version, 'V'},
};
constexpr int kCount = static_cast<int>(sizeof kOptions / sizeof kOptions[0]);
// getopt_long's value for row i; above every character.
constexpr int kRowValue = 0x100;

// "-" first: words come back in their place (value 1) instead of being moved
// to the end; ":" next: a missing argument is told apart from an unknown one.
constexpr const char* kShortOptions = "-:hV";

// The row whose whole name the argument spells ("--name" or "--name=..."),
// else -1.
int RowNamed(const char* argument) {
  if (std::strncmp(argument, "--", 2) != 0) return -1;
  const char* name = argument + 2;
  size_t length = std::strcspn(name, "=");
  for (int i = 0; i < kCount; ++i)
    if (std::strlen(kOptions[i].name) == length && !std::strncmp(kOptions[i].name, name, length))
      return i;
  return -1;
}

// The keywords a command line can hold; "#CONNECTION(" holds "#CONNECT".
constexpr const char* kKeywords[] = {
    "#CONFIG",   "#REGISTER", "#SERVER(",   "#NIST",     "#SNTP",     "#NTS",      "#SILENT",
    "#ONLYSHOW", "#CONNECT",  "#KEEPCACHE", "#MAXSTEP(", "#SAMPLES(", "#MAXDELAY("};

void WarnIfNoKeyword(const char* word, std::string& warnings) {
  if (word[0] != '#') return;
  for (const char* keyword : kKeywords)
    if (strcasestr(word, keyword)) return;
  warnings += std::string("'") + word + "' holds no keyword: ignored\n";
}

// A limit that is no number must never become a larger step than asked for.
bool IsMaxStep(const char* text) {
  std::u16string wide(text, text + std::strlen(text));
  int64_t seconds = 0;
  return ParseMaxStep(wide.c_str(), seconds);
}

// The numbers the counting options take: --samples 1 to 8, --max-delay a
// positive decimal number of seconds (up to an hour), --max-step a step limit.
bool NumberFits(const OptionRow& option, const char* text) {
  if (!std::strcmp(option.name, "max-step")) return IsMaxStep(text);
  bool samples = !std::strcmp(option.name, "samples");
  if (!samples && std::strcmp(option.name, "max-delay")) return true;
  if (std::strspn(text, samples ? "0123456789" : "0123456789.") != std::strlen(text)) return false;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (*end) return false;
  return samples ? value >= 1 && value <= 8 : value > 0 && value <= 3600;
}

TranslatedCommandLine Usage(const std::string& message) {
  TranslatedCommandLine result;
  result.action = StartAction::UsageError;
  result.message = message;
  return result;
}

}  // namespace

TranslatedCommandLine TranslateCommandLine(int argc, const char* const* argv) {
  TranslatedCommandLine result;
  auto add = [&](const std::string& word) {
    if (!result.text.empty()) result.text += ' ';
    result.text += word;
  };

  option longOptions[kCount + 1] = {};
  for (int i = 0; i < kCount; ++i)
    longOptions[i] = {kOptions[i].name, kOptions[i].argument, nullptr, kRowValue + i};
  // getopt_long wants writable pointers; in this mode it never reorders them,
  // and this copy keeps the caller's array out of its reach anyway.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i] ? argv[i] : ""));
  args.push_back(nullptr);

  opterr = 0;  // the messages below name the argument
  optind = 0;  // a full restart of the scan
  for (;;) {
    int at = optind ? optind : 1;  // the argument getopt_long looks at next
    int got = getopt_long(argc, args.data(), kShortOptions, longOptions, nullptr);
    if (got == -1) break;
    const char* argument = at < argc ? args[at] : "";
    if (got == 1) {
      // A lone "-" names standard input to most tools; here it could only be a slip.
      if (!std::strcmp(optarg, "-")) return Usage("unknown option '-'");
      WarnIfNoKeyword(optarg, result.warnings);
      add(optarg);
      continue;
    }
    int row = got >= kRowValue ? got - kRowValue : -1;
    for (int i = 0; i < kCount && row < 0; ++i)
      if (got == kOptions[i].shortName) row = i;
    // An abbreviation is refused like any unknown option.
    if (got == '?' || got == ':' || row < 0 || (argument[1] == '-' && RowNamed(argument) != row)) {
      int named = RowNamed(argument);
      if (named >= 0)
        return Usage(
            std::string("option '--") + kOptions[named].name +
            (kOptions[named].argument == required_argument ? "' needs " : "' takes no argument") +
            (kOptions[named].argument == required_argument ? kOptions[named].argumentName : ""));
      if (argument[1] != '-' && optopt > 0 && optopt < 0x100)
        return Usage(std::string("unknown option '-") + char(optopt) + "'");
      return Usage(std::string("unknown option '") + argument + "'");
    }
    const OptionRow& option = kOptions[row];
    if (option.action != StartAction::Run) {
      TranslatedCommandLine done;
      done.action = option.action;
      return done;
    }
    if (option.flag) {
      result.*option.flag = true;
    } else if (option.argument == no_argument) {
      add(option.keyword);
    } else {
      // No host or profile name is empty or begins with "-"; such a name is a forgotten one.
      if (!optarg[0] || optarg[0] == '-' || !NumberFits(option, optarg))
        return Usage(std::string("option '--") + option.name + "' needs " + option.argumentName);
      if (option.value)
        result.*option.value = optarg;
      else
        add(std::string(option.keyword) + "(" + optarg + ")");
    }
  }
  for (int i = optind; i < argc; ++i) {  // after "--": words, as they are
    WarnIfNoKeyword(args[i], result.warnings);
    add(args[i]);
  }
  return result;
}

const char* UsageText() {
  return "Usage: horolan [OPTION | KEYWORD]... [-- WORD...]\n"
         "Ask one time server for the time, set the system clock, show the result.\n"
         "\n"
         "  --sntp            '#SNTP'       ask an SNTP server (UDP port 123)\n"
         "  --nist            '#NIST'       ask a NIST daytime server over HTTP (default)\n"
         "  --nts             '#NTS'        SNTP authenticated with NTS (TLS key exchange, port "
         "4460)\n"
         "  --server=HOST     '#SERVER(HOST)' the server (a host name or URL)\n"
         "  --samples=K       '#SAMPLES(K)' a burst of K SNTP requests (1-8), the quickest used\n"
         "  --max-delay=S     '#MAXDELAY(S)' refuse answers slower than S seconds (NTS: 1)\n"
         "  --only-show       '#ONLYSHOW'   show the time, leave the clock alone\n"
         "  --silent          '#SILENT'     show nothing; the exit status tells the result\n"
         "  --connect         '#CONNECT'    bring a data connection up and down around the query\n"
         "  --connection=NAME '#CONNECTION(NAME)' the same, with that NetworkManager profile\n"
         "  --keep-cache      '#KEEPCACHE'  do not purge the web cache before the fetch\n"
         "  --max-step=SECONDS|any '#MAXSTEP(SECONDS)' step the clock by less than SECONDS\n"
         "                    (default: under an hour for SNTP and NTS, no limit for daytime)\n"
         "  --config          '#CONFIG'     edit the configuration file (it says which)\n"
         "  --config-file=FILE              read only FILE (also: HOROLAN_CONFIG=FILE)\n"
         "  --show-settings                 print the settings in effect and their origin\n"
         "  --json                          print the result as one JSON object\n"
         "  --metrics-file=FILE             write the result for node_exporter to FILE\n"
         "  --no-syslog                     no line in the system log\n"
         "  --register        '#REGISTER'   register with the shell and exit\n"
         "  -h, --help        show this help\n"
         "  -V, --version     show the version\n"
         "\n"
         "Options are taken by their whole names only; any other argument that begins\n"
         "with '-' is an error (exit status 2). Words after '--' pass as they are.\n"
         "Keywords begin with '#', which the shell takes as a comment: quote them.\n"
         "Exit status: 0 on success, 2 for a usage error, otherwise the low 8 bits of\n"
         "the result code (1 when those are 0).\n";
}
