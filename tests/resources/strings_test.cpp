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
  const std::pair<int, const char*> texts[] = {
      {106, "Horolan"}, {107, "%s\n\nServer %s\nError %d\n%s"}, {108, "Time sync with device."},
      {109, "%s\n\nServer %s\n%04d/%02d/%02d %02d:%02d:%02d UTC\n%04d/%02d/%02d %02d:%02d:%02d Local\n%s"},
      {110, "Very big local clock offset"}, {111, "Unknown answer from server"}, {112, "Connection timed out"},
      {113, "Unknown host"}, {114, "Resource not found"}, {115, "Server connection time-out"},
      {104, "http://time.nist.gov:13"}};
  for (auto [id, text] : texts) EXPECT_EQ(Text(id), text) << id;
  EXPECT_EQ(LoadResourceText(103), nullptr);
  EXPECT_EQ(LoadResourceText(117), nullptr);
  // The banner: three lines naming the product and its version.
  std::string banner = Text(102);
  EXPECT_EQ(banner.rfind("Horolan 1.", 0), 0u);
  EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 2);
}

TEST(StringTable, DefaultConfigurationTextLayout) {
  std::vector<std::string> lines = Lines(Text(116));
  ASSERT_EQ(lines.size(), 27u);
  const char* head[] = {";#ONLYSHOW", ";#SILENT", "#NIST ", ";#KEEPCACHE", ";#SNTP"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lines[i], head[i]) << i;
  for (int i = 5; i < 20; ++i) EXPECT_EQ(lines[i].rfind(";#nserver(", 0), 0u) << i;
  EXPECT_EQ(lines[20], "#nserver(time.nist.gov)");
  for (int i = 21; i < 26; ++i) EXPECT_EQ(lines[i].rfind(";#sserver(", 0), 0u) << i;
  EXPECT_EQ(lines[25], ";#sserver(" + Text(105) + ")");
  EXPECT_EQ(lines[26].rfind("#sserver(", 0), 0u);
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
