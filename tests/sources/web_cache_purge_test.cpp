// The web cache purge: which files go, and a walk that stays in the cache.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "os/fs/directory.h"
#include "platform/registry.h"
#include "sources/web_cache_purge.h"
#include "tests/support/isolated_env.h"

namespace fs = std::filesystem;

namespace {
std::function<void()> beforeDeletion;  // every deletion calls it first: a test may swap folders there

// What a file-name pattern means, the slow and obvious way: "*" any run (tried at every length), "?" one unit.
bool ReferenceMatch(const char16_t* p, const char16_t* n) {
  if (!*p) return !*n;
  if (*p == u'*') return ReferenceMatch(p + 1, n) || (*n && ReferenceMatch(p, n + 1));
  return *n && (*p == u'?' || *p == *n) && ReferenceMatch(p + 1, n + 1);
}
}  // namespace

extern "C" int unlinkat(int folder, const char* path, int flags) {
  if (beforeDeletion) beforeDeletion();
  return static_cast<int>(syscall(SYS_unlinkat, folder, path, flags));
}
extern "C" int unlink(const char* path) { return unlinkat(AT_FDCWD, path, 0); }

TEST(MatchWildcard, AgreesWithTheReferenceOnRandomPatterns) {
  std::mt19937 random(20240611);
  for (int i = 0; i < 50000; ++i) {
    std::u16string pattern, name;
    for (int n = random() % 9; n > 0; --n) pattern += u"ab.?*"[random() % 5];
    for (int n = random() % 11; n > 0; --n) name += u"ab.*?"[random() % (i % 2 ? 3 : 5)];
    if (i % 97 == 0) pattern = u"*.*";
    bool expected = ReferenceMatch(pattern == u"*.*" ? u"*" : pattern.c_str(), name.c_str());  // "*.*" alone is "*"
    ASSERT_EQ(MatchWildcard(pattern.c_str(), name.c_str()), expected) << U8(pattern.c_str()) << " " << U8(name.c_str());
  }
  EXPECT_FALSE(MatchWildcard(nullptr, u"a") || MatchWildcard(u"*", nullptr));
}

struct Purge : ::testing::Test {
  void SetUp() override { SetCache(dir.File("cache")); }
  void SetCache(const std::string& folder) {
    std::u16string text = U16(folder);
    RegistryWriteValue(reg::kCurrentUser, u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                       u"Cache", text.c_str(), (text.size() + 1) * 2, u"REG_SZ");
  }
  // Files (and their folders) below the test's folder; "name>target" makes a link.
  void Make(std::initializer_list<std::string> names) {
    for (const std::string& name : names) {
      size_t link = name.find('>');
      fs::create_directories(fs::path(dir.File(name.substr(0, link))).parent_path());
      if (link == std::string::npos) dir.Write(name, "x");
      else fs::create_symlink(name.substr(link + 1), dir.File(name.substr(0, link)));
    }
  }
  // Every path left below the test's folder but the registry's folder, sorted.
  std::string Tree() {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path))
      if (entry.path().string().rfind(dir.File("state"), 0) != 0) paths.insert(entry.path().string().substr(dir.path.size() + 1));
    std::string tree;
    for (const std::string& path : paths) tree += path + " ";
    return tree;
  }
  IsolatedEnv dir;
};

TEST_F(Purge, FilesOfTheFirstHostLabelGoAtAnyDepthFoldersStayAndLinksAreNeverFollowed) {
  Make({"cache/alpha.txt", "cache/alpha[1].htm", "cache/a/b/alphabet", "cache/alpha.d/alpha.x", "cache/Alpha.txt",
        "cache/xalpha", "out/alpha.keep", "cache/alpha-dir>../out", "cache/sub>../out", "cache/alpha-file>../out/alpha.keep",
        "cache/alpha-dangling>/nonexistent/alpha"});
  PurgeWebCache(u"http://alpha.beta.gamma:13");
  EXPECT_EQ(Tree(), "cache cache/Alpha.txt cache/a cache/a/b cache/alpha.d cache/sub cache/xalpha out out/alpha.keep ");
  // A cache folder that is itself a link is not walked either.
  SetCache(dir.File("cache/sub"));
  PurgeWebCache(u"http://alpha.example");
  EXPECT_EQ(Tree(), "cache cache/Alpha.txt cache/a cache/a/b cache/alpha.d cache/sub cache/xalpha out out/alpha.keep ");
}

// The first label of the host as the URL parser sees it: no user information, no port, no path.
TEST_F(Purge, ThePatternIsTheFirstLabelOfTheHost) {
  Make({"cache/localhost[1]", "cache/localhost[1].url", "cache/127x", "cache/128", "cache/beta1", "cache/user@127x",
        "cache/[::1][1]", "cache/[::2][1]", "cache/host.a", "cache/x"});
  // No "//": the host starts the text. No host: no purge.
  for (const char16_t* url : {u"http://localhost/x", u"http://user:pw@127.0.0.1:13/x.y", u"http://[::1]:13", u"beta.example",
                              u"http://u@:13/host.a", u"http://.x", u"http:///x", static_cast<const char16_t*>(nullptr)})
    PurgeWebCache(url);
  EXPECT_EQ(Tree(), "cache cache/128 cache/[::2][1] cache/host.a cache/user@127x cache/x ");
}

TEST_F(Purge, NoUsableCacheFolderMeansNoWalk) {
  // The working folder holds matching files: a walk of "/" or of a relative folder would reach them.
  Make({"work/hrlnzq-purge-probe", "work/sub/hrlnzq-purge-probe"});
  fs::path old = fs::current_path();
  fs::current_path(dir.File("work"));
  for (const char* value : {"", ".", "sub", "sub/"}) {
    SetCache(value);
    PurgeWebCache(u"http://hrlnzq-purge-probe.invalid");
  }
  RegistryWriteDword(reg::kCurrentUser, u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     u"Cache", 1);  // no text at all
  PurgeWebCache(u"http://hrlnzq-purge-probe.invalid");
  fs::current_path(old);
  EXPECT_EQ(Tree(), "work work/hrlnzq-purge-probe work/sub work/sub/hrlnzq-purge-probe ");
}

TEST_F(Purge, OddNamesSpecialFilesAndDeepTreesDoNotStopTheWalk) {
  Make({"cache/alpha\xFF", "cache/\xFE\xFF", "cache/\xFF" "d/alpha.x"});
  ASSERT_EQ(mkfifo(dir.File("cache/alpha.fifo").c_str(), 0600), 0);
  // Levels of "/d" until well past the path limit, a matching file in each.
  std::string folder = dir.File("cache");
  std::vector<std::string> levels;
  while (levels.size() < 200) levels.push_back(folder.append("/d"));
  fs::create_directories(folder);
  for (const std::string& level : levels) dir.Write(level.substr(dir.path.size() + 1) + "/alpha", "x");
  DeleteMatchingFiles(U16(dir.File("cache")).c_str(), u"alpha*");
  for (const char* name : {"alpha\xFF", "\xFF" "d/alpha.x", "alpha.fifo", "\xFE\xFF"})
    EXPECT_EQ(fs::exists(dir.File("cache/") + name), name[0] == '\xFE') << name;
  // A file goes exactly when its folder's search path and its own path fit 260 units with the terminator.
  for (const std::string& level : levels) EXPECT_EQ(fs::exists(level + "/alpha"), level.size() + 6 > 259) << level.size();
}

TEST_F(Purge, AFolderSwappedForALinkDuringTheWalkNeverLeadsItOut) {
  // "sub" and "link" (to a folder outside) trade places before the k-th deletion (k 0: every one): a path-based walk
  // then deletes outside in every round.
  std::string sub = dir.File("cache/sub"), link = dir.File("cache/link");
  auto files = [&](const std::string& base, bool make) {  // how many of its files base holds, made first or not
    size_t n = 0;
    for (int i = 0; i < 40; ++i) {
      std::string name = base + (i % 2 ? "/deep/alpha" : "/alpha") + std::to_string(i);
      if (make) Make({name});
      n += fs::exists(dir.File(name));
    }
    return n;
  };
  files("outside", true);
  Make({"cache/link>../outside"});
  fs::create_directory(sub);
  for (int k : {1, 11, 21, 31, 40, 0}) {
    files(fs::is_symlink(sub) ? "cache/link" : "cache/sub", true);
    int deletions = 0, swaps = 0;
    beforeDeletion = [&] {
      if (++deletions == k || k == 0)
        swaps += renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0;
    };
    DeleteMatchingFiles(U16(dir.File("cache")).c_str(), u"alpha*");
    beforeDeletion = nullptr;
    EXPECT_EQ(files("outside", false), 40u) << "swapped before deletion " << k;
    EXPECT_EQ(files(fs::is_symlink(sub) ? "cache/link" : "cache/sub", false), 0u) << k;  // it stayed where it entered
    EXPECT_EQ(swaps, k ? 1 : 40) << k;
  }
}
