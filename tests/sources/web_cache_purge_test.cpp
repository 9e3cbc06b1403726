// The web cache purge: which files go, and a walk that stays in the cache.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/fs/directory.h"
#include "os/registry/registry_store.h"
#include "platform/registry.h"
#include "sources/web_cache_purge.h"
#include "tests/sources/wildcard_reference.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {
std::function<void()> beforeDeletion;  // every deletion calls it first: a test may swap folders there
}  // namespace

extern "C" int unlinkat(int folder, const char* path, int flags) {
  if (beforeDeletion) beforeDeletion();
  return static_cast<int>(syscall(SYS_unlinkat, folder, path, flags));
}
extern "C" int unlink(const char* path) { return unlinkat(AT_FDCWD, path, 0); }

namespace {

const char16_t kShellFolders[] = u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct Purge : ::testing::Test {
  TempDir dir;
  std::string cache = dir.File("cache");
  void SetUp() override {
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    fs::create_directory(cache);
    SetCache(cache);
  }
  void TearDown() override { os::SetRegistryStorePathForTests(nullptr); }

  static void SetCache(const std::string& folder) {
    std::u16string text = U16(folder);
    ASSERT_EQ(RegistryWriteValue(reg::kCurrentUser, kShellFolders, u"Cache", text.c_str(), (text.size() + 1) * 2,
                                 u"REG_SZ"),
              0);
  }
  // Makes a file (and its folders) below base; returns its path.
  static std::string Make(const std::string& base, const std::string& name) {
    std::string path = base + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
    return path;
  }
  static bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
  }
};

}  // namespace

TEST(MatchWildcard, AgreesWithTheReferenceOnRandomPatterns) {
  std::mt19937 random(20240611);
  const char16_t patternUnits[] = u"ab.?*";
  const char16_t nameUnits[] = u"ab.*?";
  int disagreements = 0;
  for (int i = 0; i < 50000; ++i) {
    std::u16string pattern, name;
    for (int n = random() % 9; n > 0; --n) pattern += patternUnits[random() % 5];
    for (int n = random() % 11; n > 0; --n) name += nameUnits[random() % (i % 2 ? 3 : 5)];
    if (i % 97 == 0) pattern = u"*.*";
    bool expected = ReferenceMatch(pattern, name);
    if (MatchWildcard(pattern.c_str(), name.c_str()) != expected && ++disagreements < 5)
      ADD_FAILURE() << "pattern " << U8(pattern.c_str()) << " name " << U8(name.c_str()) << " expected " << expected;
  }
  EXPECT_EQ(disagreements, 0);
  EXPECT_TRUE(MatchWildcard(u"*.*", u"nodot"));
  EXPECT_FALSE(MatchWildcard(nullptr, u"a"));
  EXPECT_FALSE(MatchWildcard(u"*", nullptr));
}

TEST_F(Purge, FilesOfTheFirstHostLabelGoAtAnyDepthAndFoldersStay) {
  for (auto name : {"alpha.txt", "alpha[1].htm", "a/b/c/alphabet", "alpha.d/alpha.x", "Alpha.txt", "xalpha", "a/beta"})
    Make(cache, name);
  PurgeWebCache(u"http://alpha.beta.gamma:13");
  for (auto gone : {"alpha.txt", "alpha[1].htm", "a/b/c/alphabet", "alpha.d/alpha.x"})
    EXPECT_FALSE(Exists(cache + "/" + gone)) << gone;
  for (auto kept : {"alpha.d", "a/b/c", "Alpha.txt", "xalpha", "a/beta"}) EXPECT_TRUE(Exists(cache + "/" + kept)) << kept;
}

TEST_F(Purge, ThePatternIsCutAtTheFirstDotAfterTheHostStart) {
  for (auto name : {"localhost:13", "127x", "128", "beta1", "host.a", "host:13/x"}) Make(cache, name);
  PurgeWebCache(u"http://localhost:13");  // no dot: nothing
  PurgeWebCache(u"http://host:13/x.y");   // "host:13/x*" names no file
  EXPECT_TRUE(Exists(cache + "/localhost:13"));
  EXPECT_TRUE(Exists(cache + "/host.a"));
  PurgeWebCache(u"http://127.0.0.1:13");
  EXPECT_FALSE(Exists(cache + "/127x"));
  EXPECT_TRUE(Exists(cache + "/128"));
  PurgeWebCache(u"beta.example");  // no "//": the host starts the text
  EXPECT_FALSE(Exists(cache + "/beta1"));
}

TEST_F(Purge, NoUsableCacheFolderMeansNoWalk) {
  // The working folder holds a matching file: a walk of "/" or of a
  // relative folder would reach it.
  std::string work = dir.File("work");
  Make(work, "hrlnzq-purge-probe");
  Make(work, "sub/hrlnzq-purge-probe");
  fs::path old = fs::current_path();
  fs::current_path(work);
  for (const char* value : {"", ".", "sub", "sub/"}) {
    SetCache(value);
    PurgeWebCache(u"http://hrlnzq-purge-probe.invalid");
  }
  ASSERT_EQ(RegistryWriteDword(reg::kCurrentUser, kShellFolders, u"Cache", 1), 0);  // no text at all
  PurgeWebCache(u"http://hrlnzq-purge-probe.invalid");
  fs::current_path(old);
  EXPECT_TRUE(Exists(work + "/hrlnzq-purge-probe"));
  EXPECT_TRUE(Exists(work + "/sub/hrlnzq-purge-probe"));
  for (const char16_t* root : {u"/", u"//", u"/.", u"/..", u"/tmp/.."}) EXPECT_TRUE(os::IsFilesystemRoot(root));
  EXPECT_FALSE(os::IsFilesystemRoot(U16(cache).c_str()));
}

TEST_F(Purge, SymbolicLinksAreRemovedAsLinksAndNeverFollowed) {
  std::string outside = dir.File("outside");
  Make(outside, "alpha.keep");
  Make(outside, "deep/alpha.keep");
  for (auto [target, link] : {std::pair<std::string, const char*>{outside, "alpha-dir"}, {outside, "sub"},
                               {outside + "/alpha.keep", "alpha-file"}, {"/nonexistent/alpha", "alpha-dangling"}})
    ASSERT_EQ(symlink(target.c_str(), (cache + "/" + link).c_str()), 0);
  PurgeWebCache(u"http://alpha.example");
  for (auto gone : {"alpha-dir", "alpha-file", "alpha-dangling"}) EXPECT_FALSE(Exists(cache + "/" + gone)) << gone;
  for (auto kept : {cache + "/sub", outside + "/alpha.keep", outside + "/deep/alpha.keep"}) EXPECT_TRUE(Exists(kept));
  // A cache folder that is itself a link is not walked either.
  SetCache(cache + "/sub");
  PurgeWebCache(u"http://alpha.example");
  EXPECT_TRUE(Exists(outside + "/alpha.keep"));
}

TEST_F(Purge, OddNamesSpecialFilesAndDeepTreesDoNotStopTheWalk) {
  Make(cache, "alpha\xFF");
  Make(cache, "\xFE\xFF");
  Make(cache, "\xFF" "d/alpha.x");
  ASSERT_EQ(mkfifo((cache + "/alpha.fifo").c_str(), 0600), 0);
  // Levels of "/d" until well past the path limit, a matching file in each.
  std::string folder = cache;
  std::vector<std::string> levels;
  for (int depth = 0; depth < 200; ++depth) {
    folder += "/d";
    levels.push_back(folder);
  }
  fs::create_directories(folder);
  for (const std::string& level : levels) Make(level, "alpha");
  DeleteMatchingFiles(U16(cache).c_str(), u"alpha*");
  for (auto gone : {"/alpha\xFF", "/\xFF" "d/alpha.x", "/alpha.fifo"}) EXPECT_FALSE(Exists(cache + gone)) << gone;
  EXPECT_TRUE(Exists(cache + "/\xFE\xFF"));
  // A file goes exactly when its folder's search path and its own path fit
  // 260 units with the terminator.
  for (const std::string& level : levels)
    EXPECT_EQ(Exists(level + "/alpha"), level.size() + 6 > 259) << level.size();
}

TEST_F(Purge, AFileThatCannotBeDeletedIsSkipped) {
  Make(cache, "locked/alpha.1");
  Make(cache, "open/alpha.2");
  Make(cache, "open/z/alpha.3");
  chmod((cache + "/open/alpha.2").c_str(), 0444);  // read-only files go: the folder decides
  for (const std::string& p : {dir.path, cache, cache + "/open", cache + "/open/z"}) chmod(p.c_str(), 0777);
  chmod((cache + "/locked").c_str(), 0555);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // As an ordinary user, so that the locked folder really refuses.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    DeleteMatchingFiles(U16(cache).c_str(), u"alpha*");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(Exists(cache + "/locked/alpha.1"));
  for (auto gone : {"/open/alpha.2", "/open/z/alpha.3"}) EXPECT_FALSE(Exists(cache + gone)) << gone;
}

TEST_F(Purge, AFolderSwappedForALinkDuringTheWalkNeverLeadsItOut) {
  // "sub" and "link" (to a folder outside) trade places right before the
  // walk's k-th deletion, for several k, and in the last round before every
  // one. A walk that looks paths up again then deletes outside, every round;
  // one that holds the folders it entered never does. (A free-running
  // swapper thread hit the old walk only now and then on a loaded machine.)
  std::string outside = dir.File("outside"), sub = cache + "/sub", link = cache + "/link";
  auto files = [](const std::string& base, bool make) {  // how many of its files base holds, made first or not
    size_t n = 0;
    for (int i = 0; i < 40; ++i) {
      std::string name = (i % 2 ? "deep/alpha" : "alpha") + std::to_string(i);
      if (make) Make(base, name);
      n += Exists(base + "/" + name);
    }
    return n;
  };
  files(outside, true);
  fs::create_directory(sub);
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  for (int k : {1, 11, 21, 31, 40, 0}) {
    files(fs::is_symlink(sub) ? link : sub, true);
    int deletions = 0, swaps = 0;
    beforeDeletion = [&] {
      if (++deletions == k || k == 0)
        swaps += renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0;
    };
    DeleteMatchingFiles(U16(cache).c_str(), u"alpha*");
    beforeDeletion = nullptr;
    EXPECT_EQ(files(outside, false), 40u) << "swapped before deletion " << k;
    EXPECT_EQ(files(fs::is_symlink(sub) ? link : sub, false), 0u) << k;  // the walk stayed in the folder it entered
    EXPECT_EQ(swaps, k ? 1 : 40) << k;
  }
}
