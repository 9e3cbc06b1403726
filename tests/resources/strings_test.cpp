#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/menu.h"
#include "resources/strings.h"
#include "tests/support/wide.h"

namespace {
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(text.substr(start, pos - start));
  lines.push_back(text.substr(start));
  return lines;
}
std::string Text(int id) { return U8(LoadResourceText(id)); }
}  // namespace

TEST(StringTable, FixedTextsAndFormats) {
  EXPECT_EQ(Text(106), "Horolan");
  EXPECT_EQ(Text(107), "%s\n\nServer %s\nError %d\n%s");
  EXPECT_EQ(Text(108), "Time sync with device.");
  EXPECT_EQ(Text(109),
            "%s\n\nServer %s\n%04d/%02d/%02d %02d:%02d:%02d UTC\n%04d/%02d/%02d %02d:%02d:%02d Local\n%s");
  EXPECT_EQ(Text(110), "Very big local clock offset");
  EXPECT_EQ(Text(111), "Unknown answer from server");
  EXPECT_EQ(Text(112), "Connection timed out");
  EXPECT_EQ(Text(113), "Unknown host");
  EXPECT_EQ(Text(114), "Resource not found");
  EXPECT_EQ(Text(115), "Server connection time-out");
  EXPECT_EQ(LoadResourceText(103), nullptr);
  EXPECT_EQ(LoadResourceText(117), nullptr);
}

TEST(StringTable, BannerHasThreeLinesNamingProductAndVersion) {
  std::string banner = Text(102);
  EXPECT_EQ(banner.rfind("Horolan 1.", 0), 0u);
  EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 2);
}

TEST(StringTable, DefaultConfigurationTextLayout) {
  std::vector<std::string> lines = Lines(Text(116));
  ASSERT_EQ(lines.size(), 27u);
  EXPECT_EQ(lines[0], ";#ONLYSHOW");
  EXPECT_EQ(lines[1], ";#SILENT");
  EXPECT_EQ(lines[2], "#NIST ");
  EXPECT_EQ(lines[3], ";#KEEPCACHE");
  EXPECT_EQ(lines[4], ";#SNTP");
  for (int i = 5; i < 20; ++i) EXPECT_EQ(lines[i].rfind(";#nserver(", 0), 0u) << i;
  EXPECT_EQ(lines[20], "#nserver(time.nist.gov)");
  EXPECT_EQ(Text(104), "http://time.nist.gov:13");
  for (int i = 21; i < 26; ++i) EXPECT_EQ(lines[i].rfind(";#sserver(", 0), 0u) << i;
  EXPECT_EQ(lines[25], ";#sserver(" + Text(105) + ")");
  EXPECT_EQ(lines[26].rfind("#sserver(", 0), 0u);
  for (const std::string& line : lines) EXPECT_EQ(line.back() == ')' || line[1] == '#' || line[0] == '#', true);
}

TEST(MenuResource, EditorMenuHasFileAndEditPopups) {
  const res::MenuResource* menu = res::LoadMenuResource(20012);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->popupCount, 2u);
  EXPECT_EQ(U8(menu->popups[0].title), "File");
  EXPECT_EQ(U8(menu->popups[1].title), "Edit");
  std::vector<std::pair<std::string, int>> items;
  for (size_t p = 0; p < 2; ++p)
    for (size_t i = 0; i < menu->popups[p].itemCount; ++i)
      items.emplace_back(U8(menu->popups[p].items[i].text), menu->popups[p].items[i].commandId);
  std::vector<std::pair<std::string, int>> expected = {{"Save", 20017}, {"Exit", 2},      {"Undo", 20018},
                                                       {"Cut", 20016},  {"Copy", 20013}, {"Paste", 20014},
                                                       {"Select all", 20015}};
  EXPECT_EQ(items, expected);
  EXPECT_EQ(res::LoadMenuResource(1), nullptr);
}
