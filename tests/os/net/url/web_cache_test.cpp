// The URL module's web cache: which answers may be kept and for how long,
// and how copies lie in the cache folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "os/net/url/web_cache.h"
#include "tests/support/temp_dir.h"

namespace {

// Dates in these tests are written as plain numbers of seconds.
int64_t NumberDate(const char* text) {
  char* end = nullptr;
  long long value = strtoll(text, &end, 10);
  return (end == text || *end) ? -1 : value;
}

urlcache::Freshness Headers(std::initializer_list<const char*> lines) {
  urlcache::Freshness freshness;
  for (const char* line : lines) urlcache::NoteHeader(freshness, line, strlen(line), NumberDate);
  return freshness;
}

int64_t Lifetime(std::initializer_list<const char*> lines, int64_t receivedAt = 1000) {
  return urlcache::FreshLifetime(Headers(lines), receivedAt);
}

}  // namespace

TEST(WebCacheFreshness, OnlyTheServersOwnHeadersMakeACopyFresh) {
  EXPECT_EQ(Lifetime({"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Last-Modified: 900\r\n"}), 0);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=60\r\n"}), 60);
  EXPECT_EQ(Lifetime({"cache-control:  public, MAX-AGE=\"120\" \r\n"}), 120);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=60\r\n", "Age: 15\r\n"}), 45);
  // max-age wins over Expires; Expires counts from the server's own Date.
  EXPECT_EQ(Lifetime({"Expires: 5000\r\n", "Cache-Control: max-age=60\r\n"}), 60);
  EXPECT_EQ(Lifetime({"Date: 2000\r\n", "Expires: 2300\r\n"}), 300);
  EXPECT_EQ(Lifetime({"Expires: 1300\r\n"}, 1000), 300);
  EXPECT_LE(Lifetime({"Date: 2000\r\n", "Expires: 0\r\n"}), 0);
}

TEST(WebCacheFreshness, RefusalsAndBrokenValuesNeverMakeACopyFresh) {
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=60, no-cache\r\n"}), 0);
  EXPECT_EQ(Lifetime({"Cache-Control: no-store\r\n", "Expires: 9999\r\n"}), 0);
  EXPECT_TRUE(Headers({"Cache-Control: private, no-store\r\n"}).noStore);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=abc\r\n"}), 0);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=-5\r\n"}), 0);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age\r\n"}), 0);
  EXPECT_EQ(Lifetime({"Cache-Control: max-age=60\r\n", "Cache-Control: max-age=3600\r\n"}), 0);
  // An enormous age saturates instead of overflowing.
  EXPECT_GT(Lifetime({"Cache-Control: max-age=99999999999999999999999999\r\n"}), 0);
  // Only the last response of a redirect chain counts.
  EXPECT_EQ(Lifetime({"HTTP/1.1 301 Moved\r\n", "Cache-Control: max-age=600\r\n", "HTTP/1.1 200 OK\r\n",
                      "Content-Length: 3\r\n"}),
            0);
}

TEST(WebCacheNames, BeginWithTheHostAndAreSafeFileNames) {
  EXPECT_EQ(urlcache::CacheNameOfHost("alpha.beta.gamma"), "alpha.beta.gamma");
  EXPECT_EQ(urlcache::CacheNameOfHost("a/b\n"), "a_b_");
  EXPECT_EQ(urlcache::CacheNameOfHost(".."), "_..");
  EXPECT_EQ(urlcache::CacheNameOfHost(std::string(300, 'h')).size(), 200u);
}

TEST(WebCacheCopies, AreFoundOnlyWhileFreshAndWhole) {
  TempDir dir;
  std::string folder = dir.File("web");  // created by the first store
  const std::string url = "http://alpha.beta.gamma:13/";
  std::string body;
  ASSERT_TRUE(urlcache::Store(folder, "alpha.beta.gamma", url, "line\n", 1000, 60, false));
  EXPECT_TRUE(std::filesystem::exists(folder + "/alpha.beta.gamma[1]"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/alpha.beta.gamma[1].url"));

  EXPECT_TRUE(urlcache::LookUp(folder, "alpha.beta.gamma", url, 1059, 1 << 20, body));
  EXPECT_EQ(body, "line\n");
  EXPECT_FALSE(urlcache::LookUp(folder, "alpha.beta.gamma", url, 1060, 1 << 20, body));
  // The clock went back: a copy "from the future" is not trusted.
  EXPECT_FALSE(urlcache::LookUp(folder, "alpha.beta.gamma", url, 999, 1 << 20, body));
  EXPECT_FALSE(urlcache::LookUp(folder, "alpha.beta.gamma", url + "x", 1010, 1 << 20, body));
  EXPECT_FALSE(urlcache::LookUp(folder, "alpha.beta.gamma", url, 1010, 4, body));

  // A body that does not match its description is no copy.
  dir.Write("web/alpha.beta.gamma[1]", "lin");
  EXPECT_FALSE(urlcache::LookUp(folder, "alpha.beta.gamma", url, 1010, 1 << 20, body));
}

TEST(WebCacheCopies, OneSlotPerUrlAndNoStoreRemovesTheOldCopy) {
  TempDir dir;
  std::string folder = dir.path;
  std::string body;
  ASSERT_TRUE(urlcache::Store(folder, "h.example", "http://h.example/a", "A1", 100, 60, false));
  ASSERT_TRUE(urlcache::Store(folder, "h.example", "http://h.example/b", "B", 100, 60, false));
  ASSERT_TRUE(urlcache::Store(folder, "h.example", "http://h.example/a", "A2", 110, 60, false));
  EXPECT_FALSE(std::filesystem::exists(folder + "/h.example[3]"));
  ASSERT_TRUE(urlcache::LookUp(folder, "h.example", "http://h.example/a", 120, 1 << 20, body));
  EXPECT_EQ(body, "A2");
  ASSERT_TRUE(urlcache::Store(folder, "h.example", "http://h.example/a", "", 130, 60, true));
  EXPECT_FALSE(urlcache::LookUp(folder, "h.example", "http://h.example/a", 131, 1 << 20, body));
  EXPECT_TRUE(urlcache::LookUp(folder, "h.example", "http://h.example/b", 131, 1 << 20, body));
  // A stale copy is still stored (the daytime answer): found, but never fresh.
  ASSERT_TRUE(urlcache::Store(folder, "h.example", "http://h.example/c", "C", 100, 0, false));
  EXPECT_FALSE(urlcache::LookUp(folder, "h.example", "http://h.example/c", 100, 1 << 20, body));
}

TEST(WebCacheCopies, NeverWriteOrReadThroughASymbolicLink) {
  TempDir dir;
  std::string folder = dir.File("web");
  std::filesystem::create_directory(folder);
  dir.Write("victim", "keep");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), (folder + "/evil.host[1]").c_str()), 0);
  // Slot 1 is taken by the link: the copy goes elsewhere and the target stays.
  ASSERT_TRUE(urlcache::Store(folder, "evil.host", "http://evil.host/", "new", 10, 60, false));
  std::string body;
  ASSERT_TRUE(urlcache::LookUp(folder, "evil.host", "http://evil.host/", 20, 1 << 20, body));
  EXPECT_EQ(body, "new");
  std::string victim;
  EXPECT_EQ((std::ifstream(dir.File("victim")) >> victim, victim), "keep");

  // A description swapped for a link is not followed either.
  std::filesystem::remove(folder + "/evil.host[2].url");
  dir.Write("fake.url", "horolan-web-cache 1\nhttp://evil.host/\n10\n60\n3\n");
  ASSERT_EQ(symlink(dir.File("fake.url").c_str(), (folder + "/evil.host[2].url").c_str()), 0);
  EXPECT_FALSE(urlcache::LookUp(folder, "evil.host", "http://evil.host/", 20, 1 << 20, body));
}
