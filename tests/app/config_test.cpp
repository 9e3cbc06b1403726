#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "app/file_helpers.h"
#include "app/run_settings.h"
#include "tests/support/temp_dir.h"

namespace {

RunSettings FromFile(const std::string& bytes, RunSettings start = {}) {
  TempDir dir;
  dir.Write("horolan.txt", bytes);
  LoadConfigFile(dir.WideFile("horolan.txt").c_str(), start);
  return start;
}

std::string Server(const RunSettings& s) { return U8(s.server.c_str()); }

}  // namespace

TEST(ConfigFile, CommentsAndKeywordsAnywhereInALine) {
  RunSettings s = FromFile(";#SILENT\n");
  EXPECT_EQ(s.silent, 0);
  EXPECT_EQ(FromFile("#SILENT ;quiet").silent, 1);
  EXPECT_EQ(FromFile("#sntp").mode, Sntp);
  EXPECT_EQ(FromFile("xx#SiLeNtyy").silent, 1);
  s = FromFile("#SILENT #ONLYSHOW #CONNECT");
  EXPECT_EQ(s.silent + s.onlyShow + s.useConnection, 3);
  EXPECT_EQ(s.keepCache, 0);
  EXPECT_EQ(FromFile("#KEEPCACHE\n").keepCache, 1);
  EXPECT_EQ(FromFile("#NIST #SNTP").mode, Sntp);
  s = FromFile("#nserver(a;b)");
  EXPECT_EQ(Server(s), "a");  // the comment cut leaves no close: the rest is taken
}

TEST(ConfigFile, ServerLinesFollowTheModeWhenRead) {
  EXPECT_EQ(Server(FromFile("#NSERVER(a)\n#nserver(b)\n")), "b");
  EXPECT_EQ(Server(FromFile("#SNTP\n#NSERVER(a)\n")), "");
  RunSettings s = FromFile("#NSERVER(a)\n#SNTP\n");
  EXPECT_EQ(s.mode, Sntp);
  EXPECT_EQ(Server(s), "a");
  EXPECT_EQ(Server(FromFile("#SNTP #SSERVER(ntp)\n#sserver()\n")), "");
  RunSettings named;
  named.server.assign(u"keep");
  EXPECT_EQ(Server(FromFile("#NSERVER()", named)), "");
}

TEST(ConfigFile, LineEndsCarriageReturnsAndZeroBytes) {
  RunSettings lf = FromFile("#SNTP\n#SSERVER(host)\n#SILENT");
  RunSettings crlf = FromFile("#SNTP\r\n#SSERVER(host)\r\n#SILENT");
  EXPECT_EQ(Server(crlf), "host");
  EXPECT_EQ(Server(lf), Server(crlf));
  EXPECT_EQ(crlf.silent, 1);
  EXPECT_EQ(FromFile("#SILENT\n\n\n").silent, 1);
  EXPECT_EQ(FromFile("#SNTP#SSERVER(host\r\n").server.length(), 4u);
  // A zero byte ends its line; one at the start of a line ends the text.
  RunSettings z = FromFile(std::string("#CONNECT\0#SILENT\n\0#ONLYSHOW\n", 28));
  EXPECT_EQ(z.useConnection, 1);
  EXPECT_EQ(z.silent, 1);
  EXPECT_EQ(z.onlyShow, 0);
}

TEST(ConfigFile, LongLinesAreEvaluatedFromTheirFirst511Characters) {
  EXPECT_EQ(FromFile(std::string(503, ' ') + "#SILENT").silent, 1);   // ends at 510
  EXPECT_EQ(FromFile(std::string(505, ' ') + "#SILENT").silent, 0);   // would end at 512
  EXPECT_EQ(FromFile(std::string(100000, 'x') + "\n#SNTP").mode, Sntp);
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
  LoadConfigFile(U16(dir.path).c_str(), s);
  LoadConfigFile(dir.WideFile("missing").c_str(), s);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  LoadConfigFile(dir.WideFile("fifo").c_str(), s);  // must not block
  dir.Write("empty", "");
  LoadConfigFile(dir.WideFile("empty").c_str(), s);
  EXPECT_EQ(s.silent, 1);
  EXPECT_EQ(s.mode, Nist);
}

TEST(CommandLine, SetsSwitchesAndModeButClearsNothing) {
  RunSettings s = FromFile("#SILENT #KEEPCACHE");
  ApplyCommandLine(u"#sntp #nist #ONLYSHOW", s);
  EXPECT_EQ(s.mode, Sntp);
  EXPECT_EQ(s.silent, 1);
  EXPECT_EQ(s.keepCache, 1);
  EXPECT_EQ(s.onlyShow, 1);
  ApplyCommandLine(u"#NIST #CONNECT", s);
  EXPECT_EQ(s.mode, Nist);
  EXPECT_EQ(s.useConnection, 1);
  ApplyCommandLine(u"#NSERVER(x) #SSERVER(y)", s);
  EXPECT_TRUE(s.server.empty());
}

TEST(ConfigPath, ExeBecomesTxtOtherwiseTxtIsAppended) {
  char16_t out[260];
  ASSERT_TRUE(MakeConfigPathFrom(u"/opt/HOROLAN.EXE", out, 260));
  EXPECT_EQ(U8(out), "/opt/HOROLAN.txt");
  ASSERT_TRUE(MakeConfigPathFrom(u"/usr/local/bin/horolan", out, 260));
  EXPECT_EQ(U8(out), "/usr/local/bin/horolan.txt");
  ASSERT_TRUE(MakeConfigPathFrom(u"/a.exe.d/h.exe", out, 260));
  EXPECT_EQ(U8(out), "/a.txt.d/h.exe");
  std::u16string longPath = u"/" + std::u16string(255, u'p');
  EXPECT_FALSE(MakeConfigPathFrom(longPath.c_str(), out, 260));
  EXPECT_EQ(out[0], 0);
  ASSERT_TRUE(MakeConfigPath(out));
  EXPECT_NE(U8(out).find("test_app_settings.txt"), std::string::npos);
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
  auto wide = AnsiToWide("h\xC3\xA9");
  EXPECT_EQ(std::u16string(wide.get()), u"hé");
  EXPECT_STREQ(WideToAnsi(u"hé").get(), "h\xC3\xA9");
}
