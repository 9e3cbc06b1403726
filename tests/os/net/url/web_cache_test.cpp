// The URL module's web cache: which answers may be kept and for how long, and how copies lie in the cache folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "os/net/url/web_cache.h"
#include "tests/os/net/seams.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

// Dates in these tests are written as plain numbers of seconds.
static int64_t NumberDate(const char* text) {
  char* end = nullptr;
  long long value = strtoll(text, &end, 10);
  return (end == text || *end) ? -1 : value;
}

TEST(WebCacheFreshness, OnlyTheServersOwnHeadersMakeACopyFreshAndForHowLong) {
  const struct {
    std::vector<const char*> headers;
    int64_t lifetime;  // from receipt at 1000
  } cases[] = {
      {{"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Last-Modified: 900\r\n"}, 0},
      {{"Cache-Control: max-age=60\r\n"}, 60}, {{"CACHE-CONTROL: MAX-AGE=60"}, 60},
      {{" cache-control :\tpublic, max-age = \"120\" \t\r\n"}, 120},
      {{"Cache-Control: private=\"a,max-age=5\",max-age=60,"}, 60}, {{"Cache-Control: max-age=60, max-age=60"}, 60},
      {{"Cache-Control: max-age=60", "Age: 15\r\n"}, 45}, {{"Expires: 5000\r\n", "Cache-Control: max-age=60\r\n"}, 60},
      {{"Cache-Control: max-age=0", "Age: 15"}, -15},
      {{"Date: 2000\r\n", "Expires: 2300\r\n", "Age: 100"}, 200}, {{"Date: 0", "Expires: 300"}, 300},
      {{"Date: x", "Expires: 1300"}, 300}, {{"Expires: 1300", "Expires: 1300"}, 300},
      {{"Cache-Control: max-age=2147483647"}, 2147483647},
      {{"Cache-Control: max-age=99999999999999999999999999"}, 2147483648},  // saturates
      // Refusals, broken and conflicting values: never fresh.
      {{"Cache-Control: max-age=60, no-cache\r\n"}, 0}, {{"Cache-Control: no-store\r\n", "Expires: 9999\r\n"}, 0},
      {{"Cache-Control: no-storex, no-stor, max-age=60"}, 60},
      {{"X-Cache-Control: max-age=60", "Cache-Control max-age=60"}, 0}, {{"Cache-Control: max-age=abc"}, 0},
      {{"Cache-Control: max-age=-5"}, 0}, {{"Cache-Control: max-age="}, 0}, {{"Cache-Control: max-age"}, 0},
      {{"Cache-Control: max-age=\"60"}, 0}, {{"Cache-Control: max-age=60", "Cache-Control: max-age=3600"}, 0},
      {{"Expires: 1300", "Expires: 1400"}, 0}, {{"Expires: never"}, 0}, {{"Date: 2000", "Expires: 0"}, -2000},
      // Only the last response of a redirect chain counts.
      {{"HTTP/1.1 301 Moved\r\n", "Cache-Control: max-age=600\r\n", "HTTP/1.1 200 OK\r\n"}, 0},
      {{"Cache-Control: max-age=600", "HTTP/"}, 0},
  };
  for (const auto& c : cases) {
    urlcache::Freshness freshness;
    std::string all;
    for (const char* line : c.headers) {
      urlcache::NoteHeader(freshness, line, strlen(line), NumberDate);
      all += line + std::string("|");
    }
    EXPECT_EQ(urlcache::FreshLifetime(freshness, 1000), c.lifetime) << all;
    EXPECT_EQ(freshness.noStore, all.find("no-store\r") != std::string::npos) << all;
  }
}

TEST(WebCacheNames, BeginWithTheHostAndAreSafeFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"alpha.beta.gamma", "alpha.beta.gamma"}, {"a/b\n\x1f \x7e\x7f", "a_b__ ~_"}, {"", "_"}, {".", "_."},
      {"..", "_.."}, {"...", "..."}, {std::string(200, 'h'), std::string(200, 'h')},
      {std::string(201, 'h'), std::string(200, 'h')}};
  for (const auto& [host, name] : cases) EXPECT_EQ(urlcache::CacheNameOfHost(host), name) << host;
}

TEST(WebCacheCopies, AreFoundOnlyWhileFreshWholeAndDescribedAsStored) {
  TempDir dir;
  const std::string folder = dir.File("web/deep"), url = "http://a.b:13/";  // the folder is made by the store
  auto found = [&](int64_t now, size_t maxBytes = 1 << 20, const std::string& which = "http://a.b:13/") {
    std::string body;
    return urlcache::LookUp(folder, "a.b", which, now, maxBytes, body) ? body : "none";
  };
  EXPECT_FALSE(urlcache::Store(folder, "a.b", url + "\n", "x", 1000, 90, false));
  seams::FailNext(seams::kWrite, EINTR);  // a signal interrupts no write or read
  ASSERT_TRUE(urlcache::Store(folder, "a.b", url, "line\n", 1000, 90, false));
  EXPECT_TRUE(fs::exists(folder + "/a.b[1]"));
  seams::FailNext(seams::kRead, EINTR);
  EXPECT_EQ(found(1000) + found(1089) + found(1010, 5), "line\nline\nline\n");
  EXPECT_EQ(found(1090) + found(999) + found(1010, 4) + found(1010, 5, url + "x"), "nonenonenonenone");
  seams::FailNext(seams::kRead, EIO);  // a read error other than a signal is no copy
  EXPECT_EQ(found(1010), "none");
  // The description must be whole and match the body: "stored, lifetime, size" after magic and URL.
  const std::pair<std::string, std::string> descriptions[] = {
      {"1\n" + url + "\n0000000000000001000\n90\n5\n", "line\n"}, {"2\n" + url + "\n1000\n90\n5\n", "none"},
      {"1\n" + url + "\n1000\n90\n5", "none"}, {"1\n" + url + "\n1000\n90\n5\n\n", "none"},
      {"1\n" + url + "\n00000000000000001000\n90\n5\n", "none"}, {"1\n" + url + "\n-\n90\n5\n", "none"},
      {"1\n" + url + "\n\n90\n5\n", "none"}, {"1\n" + url + "\n10:0\n90\n5\n", "none"},
      {"1\n" + url + "\n1000\n-90\n5\n", "none"}, {"1\n" + url + "\n1000\n90\n-5\n", "none"},
      {"1\n" + url + "\n1000\n90\n6\n", "none"}};
  for (const auto& [text, body] : descriptions) {
    dir.Write("web/deep/a.b[1].url", "horolan-web-cache " + text);
    EXPECT_EQ(found(1010), body) << text;
  }
  // An empty copy whose size is missing or no number, or whose body is gone, is no copy either.
  ASSERT_TRUE(urlcache::Store(folder, "a.b", url + "e", "", 1000, 90, false));
  std::string kept = found(1010, 5, url + "e");
  for (const char* size : {"", "-", "0"}) {  // "0" as stored, with the body gone
    if (*size == '0') fs::remove(folder + "/a.b[2]");
    dir.Write("web/deep/a.b[2].url", "horolan-web-cache 1\n" + url + "e\n1000\n90\n" + size + "\n");
    EXPECT_EQ(kept + found(1010, 5, url + "e"), "none") << size;
  }
  // A copy that cannot be written whole is not kept.
  seams::FailNext(seams::kWrite, EIO);
  EXPECT_FALSE(urlcache::Store(folder, "a.b", url + "w", "x", 1000, 90, false));
  EXPECT_FALSE(fs::exists(folder + "/a.b[3]") || fs::exists(folder + "/a.b[3].url"));
  // Nor one whose file cannot be opened (a folder in its place).
  ASSERT_TRUE(urlcache::Store(folder, "a.b", url + "d", "x", 1000, 90, false));
  fs::remove(folder + "/a.b[3]"), fs::create_directory(folder + "/a.b[3]");
  EXPECT_FALSE(urlcache::Store(folder, "a.b", url + "d", "y", 1000, 90, false) || fs::exists(folder + "/a.b[3].url"));
  // Nor into a FIFO in its place, though a reader makes it open.
  std::string body;
  dir.Write("web/deep/a.b[3].url", "horolan-web-cache 1\n" + url + "d\n1000\n90\n1\n");
  fs::remove(folder + "/a.b[3]"), mkfifo((folder + "/a.b[3]").c_str(), 0600);
  int reader = open((folder + "/a.b[3]").c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_FALSE(urlcache::Store(folder, "a.b", url + "d", "y", 1000, 90, false));
  close(reader);
  // A description over 16 KiB is no copy.
  ASSERT_TRUE(urlcache::Store(folder, "a.b", url + std::string(16384, 'u'), "x", 1000, 90, false));
  EXPECT_EQ(found(1010, 5, url + std::string(16384, 'u')), "none");
  EXPECT_FALSE(urlcache::LookUp("", "a.b", url, 1010, 5, body));
  // A run started without standard input writes its copy to descriptor 0.
  int input = dup(0);
  close(0);
  EXPECT_TRUE(urlcache::Store(dir.File("web3"), "a.b", url, "x", 1000, 90, false));
  dup2(input, 0), close(input);
  // A folder that cannot be made takes no copy.
  EXPECT_FALSE(urlcache::Store(folder + "/a.b[1]/sub", "h", "http://h/", "x", 1000, 90, false) ||
               urlcache::Store("", "h", "http://h/", "x", 1000, 90, false));
}

TEST(WebCacheCopies, OneSlotPerUrlUpToNinetyNineAndNoStoreRemovesTheOldCopy) {
  TempDir dir;
  auto store = [&](const std::string& path, const std::string& body, bool noStore = false) {
    return urlcache::Store(dir.path, "h.example", "http://h.example/" + path, body, 100, 60, noStore);
  };
  auto found = [&](const std::string& path) {
    std::string body;
    return urlcache::LookUp(dir.path, "h.example", "http://h.example/" + path, 120, 1 << 20, body) ? body : "none";
  };
  ASSERT_TRUE(store("a", "A1") && store("b", "B") && store("a", "A2"));
  EXPECT_FALSE(fs::exists(dir.File("h.example[3]")));
  EXPECT_EQ(found("a"), "A2");
  ASSERT_TRUE(store("a", "", true));
  EXPECT_EQ(found("a") + found("b"), "noneB");
  EXPECT_TRUE(store("gone", "", true));
  int stored = 0;
  while (stored < 200 && store(std::to_string(stored), "x")) ++stored;
  EXPECT_EQ(stored, urlcache::kMaxCopiesPerHost - 1);  // "b" holds one slot
  EXPECT_EQ(found(std::to_string(stored - 1)), "x");   // in the last slot
}

TEST(WebCacheCopies, NeverWriteOrReadThroughASymbolicLink) {
  TempDir dir;
  std::string folder = dir.File("web");
  fs::create_directory(folder);
  dir.Write("victim", "keep");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), (folder + "/evil.host[1]").c_str()), 0);
  // Slot 1 is taken by the link: the copy goes elsewhere and the target stays.
  ASSERT_TRUE(urlcache::Store(folder, "evil.host", "http://evil.host/", "new", 10, 60, false));
  std::string body;
  EXPECT_TRUE(urlcache::LookUp(folder, "evil.host", "http://evil.host/", 20, 1 << 20, body) && body == "new");
  EXPECT_EQ(std::ifstream(dir.File("victim")).get(), 'k');
  // A description or a body swapped for a link is not followed either.
  fs::remove(folder + "/evil.host[2].url");
  dir.Write("fake.url", "horolan-web-cache 1\nhttp://evil.host/\n10\n60\n3\n");
  ASSERT_EQ(symlink(dir.File("fake.url").c_str(), (folder + "/evil.host[2].url").c_str()), 0);
  EXPECT_FALSE(urlcache::LookUp(folder, "evil.host", "http://evil.host/", 20, 1 << 20, body));
  fs::remove(folder + "/evil.host[2].url");
  fs::copy_file(dir.File("fake.url"), folder + "/evil.host[2].url");
  fs::remove(folder + "/evil.host[2]");
  dir.Write("new", "new");
  ASSERT_EQ(symlink(dir.File("new").c_str(), (folder + "/evil.host[2]").c_str()), 0);
  EXPECT_FALSE(urlcache::LookUp(folder, "evil.host", "http://evil.host/", 20, 1 << 20, body));
}
