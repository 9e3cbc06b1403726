#include "app/long_options.h"

#include <cstring>

namespace {

struct LongOption {
  const char* name;
  const char* keyword;
};

constexpr LongOption kFlags[] = {
    {"--config", "#CONFIG"},       {"--register", "#REGISTER"}, {"--nist", "#NIST"},
    {"--sntp", "#SNTP"},           {"--silent", "#SILENT"},     {"--only-show", "#ONLYSHOW"},
    {"--connect", "#CONNECT"},     {"--keep-cache", "#KEEPCACHE"}, {"--nts", "#NTS"},
};

}  // namespace

TranslatedCommandLine TranslateCommandLine(int argc, const char* const* argv) {
  TranslatedCommandLine result;
  auto add = [&](const std::string& word) {
    if (!result.text.empty()) result.text += ' ';
    result.text += word;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] ? argv[i] : "";
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      result.action = StartAction::Help;
      return result;
    }
    if (!std::strcmp(arg, "--version") || !std::strcmp(arg, "-V")) {
      result.action = StartAction::Version;
      return result;
    }
    const char* keyword = nullptr;
    for (const LongOption& option : kFlags)
      if (!std::strcmp(arg, option.name)) keyword = option.keyword;
    if (keyword) {
      add(keyword);
    } else if (!std::strncmp(arg, "--server=", 9)) {
      add(std::string("#SERVER(") + (arg + 9) + ")");
    } else if (!std::strcmp(arg, "--server")) {
      if (i + 1 >= argc) {
        result.action = StartAction::UsageError;
        result.message = "option '--server' needs a host name";
        return result;
      }
      add(std::string("#SERVER(") + argv[++i] + ")");
    } else {
      add(arg);
    }
  }
  return result;
}

const char* UsageText() {
  return "Usage: horolan [OPTION | KEYWORD]...\n"
         "Ask one time server for the time, set the system clock, show the result.\n"
         "\n"
         "  --sntp            '#SNTP'       ask an SNTP server (UDP port 123)\n"
         "  --nist            '#NIST'       ask a NIST daytime server over HTTP (default)\n"
         "  --nts             '#NTS'        SNTP authenticated with NTS (TLS key exchange, port 4460)\n"
         "  --server=HOST     '#SERVER(HOST)' the server (a host name or URL)\n"
         "  --only-show       '#ONLYSHOW'   show the time, leave the clock alone\n"
         "  --silent          '#SILENT'     show nothing; the exit status tells the result\n"
         "  --connect         '#CONNECT'    bring a data connection up and down around the query\n"
         "  --keep-cache      '#KEEPCACHE'  do not purge the web cache before the fetch\n"
         "  --config          '#CONFIG'     edit the configuration file\n"
         "  --register        '#REGISTER'   register with the shell and exit\n"
         "  -h, --help        show this help\n"
         "  -V, --version     show the version\n"
         "\n"
         "Keywords begin with '#', which the shell takes as a comment: quote them.\n"
         "Exit status: 0 on success, otherwise the low 8 bits of the result code\n"
         "(1 when those are 0).\n";
}
