#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/run_settings.h"
#include "common/file_helpers.h"
#include "tests/support/temp_dir.h"

namespace {

// The whole record: the mode, the switches that are on, the server.
std::string Summary(const RunSettings& s) {
  return std::string(s.mode == Sntp ? "S" : s.mode == Nist ? "N" : "?") + (s.silent ? "s" : "") +
         (s.onlyShow ? "o" : "") + (s.useConnection ? "c" : "") + (s.keepCache ? "k" : "") + ":" + U8(s.server.c_str());
}

std::string FromFile(const std::string& bytes) {
  TempDir dir;
  RunSettings settings;
  LoadConfigFile(U16(dir.Write("horolan.txt", bytes)).c_str(), settings);
  return Summary(settings);
}

}  // namespace

TEST(ConfigFile, KeywordsCommentsServersLineEndsAndLongLines) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>(((i * 7919) & 0xFF) | 1);  // no zero byte
  const std::pair<std::string, std::string> cases[] = {
      {";#SILENT\n", "N:"}, {"#SILENT ;quiet", "Ns:"}, {"xx#SiLeNtyy #sntp", "Ss:"}, {"#NIST #SNTP", "S:"},
      {"#silent #ONLYSHOW #CONNECT #KEEPCACHE", "Nsock:"}, {"#KEEPCACHE\n#ONLYSHOW\n\n\n", "Nok:"},
      {std::string("#CONNECT\0#SILENT\n\0#ONLYSHOW\n", 28), "Nsc:"},  // a zero byte ends a line, or the text
      {std::string(503, ' ') + "#SILENT", "Ns:"}, {std::string(505, ' ') + "#SILENT", "N:"},  // 511 units a line
      {std::string(100000, 'x') + "\n#SNTP", "S:"},
      // A server line counts only in the mode in force when it is read.
      {"#nserver(a;b)", "N:a"}, {"#NSERVER(a)\n#nserver(b)\n", "N:b"}, {"#SNTP\n#NSERVER(a)\n", "S:"},
      {"#NSERVER(a)\n#SNTP\n", "S:a"}, {"#SNTP #SSERVER(ntp)\n#sserver()\n", "S:"},
      {"#SNTP\r\n#SSERVER(host)\r\n#SILENT", "Ss:host"}, {"#SNTP#SSERVER(host\r\n", "S:host"},
      {junk + "\n\xFF\xFE#sNtP\xC3(\n#SSERVER(\xFFhost)", "S:\xFFhost"}};
  for (const auto& [text, summary] : cases) EXPECT_EQ(FromFile(text), summary) << text.substr(0, 40);

  TempDir dir;
  RunSettings s;
  s.silent = true;
  s.server.assign(u"keep");
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // must not block
  for (const std::string& path : {dir.path, dir.File("missing"), dir.File("fifo"), dir.Write("empty", "")})
    LoadConfigFile(U16(path).c_str(), s);
  EXPECT_EQ(Summary(s), "Ns:keep");
  // The command line switches the mode and sets switches, and clears nothing.
  ApplyCommandLine(u"#sntp #ONLYSHOW #NSERVER(x) #SSERVER(y)", s);
  EXPECT_EQ(Summary(s), "Sso:keep");
  ApplyCommandLine(u"#NIST #CONNECT #keepcache", s);
  EXPECT_EQ(Summary(s), "Nsock:keep");
}

TEST(ConfigFile, PathBesideTheExecutableAndTheFileHelpers) {
  char16_t out[260];
  for (auto [from, to] : {std::pair{u"/opt/HOROLAN.EXE", "/opt/HOROLAN.txt"}, {u"/usr/bin/horolan", "/usr/bin/horolan.txt"},
                          {u"/a.exe.d/h.exe", "/a.txt.d/h.exe"}, {u"", ""}, {u"/a.EXE/.Exe", "/a.txt/.Exe"}}) {
    EXPECT_EQ(MakeConfigPathFrom(from, out, 260), to[0] != 0);
    EXPECT_EQ(U8(out), to);
  }
  std::u16string longest = u"/" + std::u16string(254, u'p');  // 255 units and ".txt" fill 260
  EXPECT_TRUE(MakeConfigPathFrom(longest.c_str(), out, 260));
  EXPECT_FALSE(MakeConfigPathFrom((longest + u"p").c_str(), out, 260) || out[0]);
  EXPECT_FALSE(MakeConfigPathFrom((u"/" + std::u16string(259, u'p')).c_str(), out, 260) || out[0]);
  EXPECT_FALSE(MakeConfigPathFrom(u"/x", out, 0));
  ASSERT_TRUE(MakeConfigPath(out));
  EXPECT_EQ(U8(out).substr(U8(out).size() - 13), "/test_app.txt");

  TempDir dir;
  const std::pair<std::string, int> probes[] = {{dir.Write("f", "abc"), 1}, {dir.path, 2}, {"/", 3}, {dir.File("none"), 0}};
  for (const auto& [path, kind] : probes) EXPECT_EQ(ProbePath(U16(path).c_str()), kind) << path;
  size_t n = 99;
  auto bytes = ReadWholeFile(dir.WideFile("f").c_str(), &n);
  EXPECT_EQ(std::string(bytes.get(), n + 4), std::string("abc\0\0\0\0", 7));
  EXPECT_FALSE(ReadWholeFile(dir.WideFile("none").c_str(), &n) || n);
  EXPECT_EQ(std::u16string(AnsiToWide("h\xC3\xA9").get()) + AnsiToWide(nullptr).get(), u"hé");
  EXPECT_STREQ(WideToAnsi(u"hé").get(), "h\xC3\xA9");
}
