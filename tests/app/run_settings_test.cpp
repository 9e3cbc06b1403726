#include <gtest/gtest.h>

#include <sys/stat.h>

#include <vector>

#include "app/long_options.h"
#include "app/query_record.h"
#include "os/nts/nts_service.h"
#include "app/run_settings.h"
#include "tests/support/temp_dir.h"

// The whole record: the mode, the switches that are on, the server.
std::string Summary(const RunSettings& s) {
  return std::string(s.mode == Sntp ? "S" : s.mode == Nist ? "N" : "?") + (s.silent ? "s" : "") + (s.onlyShow ? "o" : "") +
         (s.useConnection ? "c" : "") + (s.keepCache ? "k" : "") + ":" + U8(s.server.c_str());
}

TEST(RunSettings, FromTheFileThenTheCommandLine) {
  TempDir dir;
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>(((i * 7919) & 0xFF) | 1);  // no zero byte
  const std::pair<std::string, std::string> cases[] = {
      {";#SILENT\n#sntp", "S:"}, {"xx#SiLeNtyy ;#NIST", "Ns:"}, {"#ONLYSHOW #CONNECT\n#KEEPCACHE\n#NIST #SNTP\n\n", "Sock:"},
      {std::string("#CONNECT\0#SILENT\n\0#ONLYSHOW\n", 28), "Nsc:"},  // a zero byte ends a line, or the text
      {std::string(503, ' ') + "#SILENT\n" + std::string(507, ' ') + "#SNTP", "Ns:"},  // 511 units a line
      {"#SNTP\n" + std::string(kConfigReadCap - 13, '\n') + "#SILENT#ONLYSHOW", "Ss:"},  // read up to the cap
      // A server line counts only in the mode in force when it is read.
      {"#nserver(a;b)", "N:a"}, {"#NSERVER(a)\n#nserver(b)\n#SNTP\n#NSERVER(c)", "S:b"},
      {"#SNTP #SSERVER(ntp)\n#sserver()\n", "S:"}, {"#Connection(wwan)", "Nc:"},
      {"#SNTP#SSERVER(host\r\n", "S:host"}, {junk + "\n\xFF\xFE#sNtP\xC3(\n#SSERVER(\xFFhost)", "S:\xFFhost"}};
  for (const auto& [text, summary] : cases) {
    RunSettings settings;
    LoadConfigFile(U16(dir.Write("horolan.txt", text)).c_str(), settings);
    EXPECT_EQ(Summary(settings), summary) << text.substr(0, 40);
  }
  RunSettings s;  // unreadable: the settings stay as they were
  s.silent = true, s.server.assign(u"keep");
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // must not block
  for (const std::string& path : {dir.path, dir.File("missing"), dir.File("fifo"), dir.Write("empty", "")})
    LoadConfigFile(U16(path).c_str(), s);
  ApplyCommandLine(u"#sntp #ONLYSHOW #NSERVER(x) #SSERVER(y)", s);  // switches on, nothing off
  EXPECT_EQ(Summary(s), "Sso:keep");
  ApplyCommandLine(u"#NIST #CONNECT #keepcache", s);
  EXPECT_EQ(Summary(s), "Nsock:keep");
  ApplyCommandLine(u"#CONNECTION(Office (2) LAN) #SNTP", s);
  EXPECT_EQ(U8(s.connection.c_str()), "Office (2) LAN");
}

TEST(RunSettings, TheConfigurationFileLiesBesideTheExecutable) {
  char16_t out[260];
  for (auto [from, to] : {std::pair{u"/opt/H.EXE", "/opt/H.txt"}, {u"/usr/bin/horolan", "/usr/bin/horolan.txt"},
                          {u"/a.exe.d/h.exe", "/a.txt.d/h.exe"}, {u"", ""}, {u"/a.EXE/.Exe", "/a.txt/.Exe"}})
    EXPECT_TRUE(MakeConfigPathFrom(from, out, 260) == (to[0] != 0) && U8(out) == to) << to;
  std::u16string longest = u"/" + std::u16string(254, u'p');  // 255 units and ".txt" fill 260
  EXPECT_TRUE(MakeConfigPathFrom(longest.c_str(), out, 260));
  EXPECT_FALSE(MakeConfigPathFrom((longest + u"p").c_str(), out, 260) || out[0]);
  EXPECT_FALSE(MakeConfigPathFrom((u"/" + std::u16string(259, u'p')).c_str(), out, 260) || out[0] ||
               (out[0] = u'#', MakeConfigPathFrom(u"/x", out, 0)) || out[0] != u'#');  // no room: nothing written
  EXPECT_TRUE(MakeConfigPath(out) && U8(out).ends_with("/test_app.txt"));
}

// argv to the command-line text, the start action or "E:" and the usage error.
TEST(CommandLine, OptionsBecomeKeywordsAndEveryOtherDashIsAUsageError) {
  const std::pair<std::vector<const char*>, std::string> cases[] = {
      {{"--sntp", "#silent", "--server", "a b", "x"}, "#SNTP #silent #SERVER(a b) x"}, {{"-hV"}, "help"},
      {{"w", "--only-show", "--server=h(1)", "--nts", "--", "--bogus", "-"}, "w #ONLYSHOW #SERVER(h(1)) #NTS --bogus -"},
      {{"--config", "--register", "--nist", "--connect", "--keep-cache"}, "#CONFIG #REGISTER #NIST #CONNECT #KEEPCACHE"},
      {{"--version", "--bogus"}, "version"}, {{"#SNTP", "-V"}, "version"}, {{"-qx"}, "E:unknown option '-q'"},
      {{"--bogus", "--help"}, "E:unknown option '--bogus'"}, {{"--serv", "h"}, "E:unknown option '--serv'"},
      {{"--connection", "My LAN"}, "#CONNECTION(My LAN)"},
      {{"--connection"}, "E:option '--connection' needs a profile name"},
      {{"--connection=-x"}, "E:option '--connection' needs a profile name"},
      {{"--sntp=1"}, "E:option '--sntp' takes no argument"},
      {{"--server", ""}, "E:option '--server' needs a host name"},
      {{"--max-step=any", "--max-step", "86400"}, "#MAXSTEP(any) #MAXSTEP(86400)"},
      {{"--max-step=1000000000000"}, "#MAXSTEP(1000000000000)"},
      {{"--max-step=1000000000001"}, "E:option '--max-step' needs a number of seconds or 'any'"},
      {{"--max-step=anyway"}, "E:option '--max-step' needs a number of seconds or 'any'"},
      {{"--max-step=0"}, "E:option '--max-step' needs a number of seconds or 'any'"},
      {{"--samples=8", "--max-delay", "0.5"}, "#SAMPLES(8) #MAXDELAY(0.5)"},
      {{"--samples=9"}, "E:option '--samples' needs a count from 1 to 8"}};
  for (const auto& [args, expected] : cases) {
    std::vector<const char*> argv = {"horolan"};
    argv.insert(argv.end(), args.begin(), args.end());
    TranslatedCommandLine got = TranslateCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(std::vector<std::string>({"", "help", "version", "E:"})[int(got.action)] + got.text + got.message, expected);
  }
}

// The delay limit from a keyword (1 s for NTS); a record over it is refused, whatever its code.
TEST(RunSettings, TheDelayLimitWhichTheRecordCheckEnforces) {
  RunSettings settings;
  ApplyCommandLine(u"#NTS #MAXDELAY(x) #SAMPLES(9)", settings);
  EXPECT_EQ(RoundTripLimit(settings), 1.0);
  EXPECT_EQ(settings.samples, 1);
  ApplyCommandLine(u"#MAXDELAY(0.25)", settings);
  settings.nts = false;  // an NTS success must carry its certificate's dates
  QueryRecord record;
  record.stratum = 2, record.destination = 1, record.delay = 0.3, record.errorBound = 0.15;
  char why[kReasonCapacity];
  EXPECT_EQ(CheckQueryRecord(record, settings, why), kDelayTooLarge);
  record.delay = 0.25;
  EXPECT_EQ(CheckQueryRecord(record, settings, why), 0);
  record.errorBound = 0.1;  // less than half the delay
  EXPECT_EQ(CheckQueryRecord(record, settings, why), kNetworkPartFailed);
  record.errorBound = 0.2, record.stratum = 16;
  EXPECT_EQ(CheckQueryRecord(record, settings, why), kNetworkPartFailed);
  RunSettings plain;  // SNTP without a limit given: none
  plain.mode = Sntp;
  record.stratum = 2, record.delay = 9, record.errorBound = 5;
  EXPECT_EQ(CheckQueryRecord(record, plain, why), 0);
  record.code = static_cast<ResultCode>(os::kNtsUntrusted);  // the last of the NTS codes
  settings.nts = true;
  EXPECT_EQ(CheckQueryRecord(record, settings, why), record.code);
}
