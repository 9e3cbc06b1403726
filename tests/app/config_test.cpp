#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "app/run_settings.h"
#include "common/file_helpers.h"
#include "tests/support/temp_dir.h"

namespace {

RunSettings FromFile(const std::string& bytes, RunSettings start = {}) {
  TempDir dir;
  dir.Write("horolan.txt", bytes);
  LoadConfigFile(dir.WideFile("horolan.txt").c_str(), start);
  return start;
}

std::string Server(const RunSettings& s) { return U8(s.server.c_str()); }

using Field = int32_t (*)(const RunSettings&);
constexpr Field kSilent = [](const RunSettings& s) -> int32_t { return s.silent; };
constexpr Field kMode = [](const RunSettings& s) -> int32_t { return s.mode; };
constexpr Field kOnlyShow = [](const RunSettings& s) -> int32_t { return s.onlyShow; };
constexpr Field kConnect = [](const RunSettings& s) -> int32_t { return s.useConnection; };
constexpr Field kKeepCache = [](const RunSettings& s) -> int32_t { return s.keepCache; };

}  // namespace

TEST(ConfigFile, KeywordsCommentsLineEndsAndLongLines) {
  // A zero byte ends its line; one at the start of a line ends the text.
  const std::string zeros("#CONNECT\0#SILENT\n\0#ONLYSHOW\n", 28);
  const std::string three = "#SILENT #ONLYSHOW #CONNECT";
  const struct {
    std::string text;
    Field field;
    int32_t want;
  } cases[] = {
      {";#SILENT\n", kSilent, 0},           {"#SILENT ;quiet", kSilent, 1},       {"#sntp", kMode, Sntp},
      {"xx#SiLeNtyy", kSilent, 1},          {three, kOnlyShow, 1},                {three, kConnect, 1},
      {three, kKeepCache, 0},               {"#KEEPCACHE\n", kKeepCache, 1},      {"#NIST #SNTP", kMode, Sntp},
      {"#SILENT\n\n\n", kSilent, 1},        {"#NSERVER(a)\n#SNTP\n", kMode, Sntp}, {zeros, kOnlyShow, 0},
      {zeros, kConnect, 1},                 {zeros, kSilent, 1},
      {"#SNTP\r\n#SSERVER(host)\r\n#SILENT", kSilent, 1},
      // Lines are evaluated from their first 511 characters.
      {std::string(503, ' ') + "#SILENT", kSilent, 1},  // ends at 510
      {std::string(505, ' ') + "#SILENT", kSilent, 0},  // would end at 512
      {std::string(100000, 'x') + "\n#SNTP", kMode, Sntp},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].field(FromFile(cases[i].text)), cases[i].want) << i;
}

TEST(ConfigFile, ServerLinesFollowTheModeWhenRead) {
  const struct {
    const char* text;
    const char* server;
  } cases[] = {
      {"#nserver(a;b)", "a"},  // the comment cut leaves no close: the rest is taken
      {"#NSERVER(a)\n#nserver(b)\n", "b"},
      {"#SNTP\n#NSERVER(a)\n", ""},
      {"#NSERVER(a)\n#SNTP\n", "a"},
      {"#SNTP #SSERVER(ntp)\n#sserver()\n", ""},
      {"#SNTP\n#SSERVER(host)\n#SILENT", "host"},
      {"#SNTP\r\n#SSERVER(host)\r\n#SILENT", "host"},
      {"#SNTP#SSERVER(host\r\n", "host"},
  };
  for (const auto& c : cases) EXPECT_EQ(Server(FromFile(c.text)), c.server) << c.text;
  RunSettings named;
  named.server.assign(u"keep");
  EXPECT_EQ(Server(FromFile("#NSERVER()", named)), "");
}

TEST(ConfigFile, GarbageNeverCrashesAndStillFindsKeywords) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>(((i * 7919) & 0xFF) | 1);  // no zero byte
  RunSettings s = FromFile(junk + "\n\xFF\xFE#sNtP\xC3(\n#SSERVER(\xFFhost)");
  EXPECT_EQ(s.mode, Sntp);
  EXPECT_EQ(s.server.c_str()[0], 0xDCFF);
}

TEST(ConfigFile, UnreadablePathsLeaveTheSettingsAlone) {
  TempDir dir;
  RunSettings s;
  s.silent = 1;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // must not block
  dir.Write("empty", "");
  for (const std::string& path : {dir.path, dir.File("missing"), dir.File("fifo"), dir.File("empty")})
    LoadConfigFile(U16(path).c_str(), s);
  EXPECT_EQ(s.silent, 1);
  EXPECT_EQ(s.mode, Nist);
}

TEST(CommandLine, SetsSwitchesAndModeButClearsNothing) {
  RunSettings s = FromFile("#SILENT #KEEPCACHE");
  ApplyCommandLine(u"#sntp #nist #ONLYSHOW", s);
  EXPECT_EQ(s.mode, Sntp);
  EXPECT_EQ(s.silent + s.keepCache + s.onlyShow, 3);
  ApplyCommandLine(u"#NIST #CONNECT", s);
  EXPECT_EQ(s.mode, Nist);
  EXPECT_EQ(s.useConnection, 1);
  ApplyCommandLine(u"#NSERVER(x) #SSERVER(y)", s);
  EXPECT_TRUE(s.server.empty());
}

TEST(ConfigPath, ExeBecomesTxtOtherwiseTxtIsAppended) {
  char16_t out[260];
  for (auto [from, to] : {std::pair{u"/opt/HOROLAN.EXE", "/opt/HOROLAN.txt"},
                          {u"/usr/local/bin/horolan", "/usr/local/bin/horolan.txt"},
                          {u"/a.exe.d/h.exe", "/a.txt.d/h.exe"}}) {
    ASSERT_TRUE(MakeConfigPathFrom(from, out, 260)) << to;
    EXPECT_EQ(U8(out), to);
  }
  EXPECT_FALSE(MakeConfigPathFrom((u"/" + std::u16string(255, u'p')).c_str(), out, 260));
  EXPECT_EQ(out[0], 0);
  ASSERT_TRUE(MakeConfigPath(out));
  EXPECT_NE(U8(out).find("test_app.txt"), std::string::npos);
}

TEST(FileHelpers, ProbePathAndReadWholeFile) {
  TempDir dir;
  dir.Write("f", "abc");
  EXPECT_EQ(ProbePath(dir.WideFile("f").c_str()), 1);
  EXPECT_EQ(ProbePath(U16(dir.path).c_str()), 2);
  EXPECT_EQ(ProbePath(u"/"), 3);
  EXPECT_EQ(ProbePath(dir.WideFile("none").c_str()), 0);
  size_t n = 99;
  auto bytes = ReadWholeFile(dir.WideFile("f").c_str(), &n);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(bytes.get(), 7), std::string("abc\0\0\0\0", 7));
  EXPECT_FALSE(ReadWholeFile(dir.WideFile("none").c_str(), &n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(std::u16string(AnsiToWide("h\xC3\xA9").get()), u"hé");
  EXPECT_STREQ(WideToAnsi(u"hé").get(), "h\xC3\xA9");
}
