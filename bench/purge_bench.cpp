// The web cache purge against `find DIR -type f -name PATTERN -delete` on an
// identical, freshly made tree: 100,000 files in 1,000 folders, one file in
// ten matching. Run by hand (bench/purge_vs_find.sh); making the trees takes
// a while.
//
//   bench_purge [--files N] [--folders N] [--rounds N] [--dir BASE]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "sources/web_cache_purge.h"
#include "tests/support/wide.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Ten top folders, the rest spread below them; files dealt out in turn.
void MakeTree(const std::string& root, int files, int folders) {
  std::vector<std::string> dirs;
  int top = std::min(10, folders);
  for (int t = 0; t < top; ++t) dirs.push_back(root + "/cache" + std::to_string(t));
  for (int s = top; s < folders; ++s) dirs.push_back(dirs[s % top] + "/sub" + std::to_string(s));
  fs::create_directories(root);
  for (const std::string& d : dirs) mkdir(d.c_str(), 0755);
  for (int i = 0; i < files; ++i) {
    std::string name =
        i % 10 == 0 ? "alpha.example.net[" : "host" + std::to_string(i % 37) + ".example.com[";
    std::string path = dirs[i % dirs.size()] + "/" + name + std::to_string(i) + "].htm";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, "cached\n", 7) != 7) {
      perror(path.c_str());
      exit(1);
    }
    close(fd);
  }
}

size_t CountFiles(const std::string& root) {
  size_t n = 0;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) ++n;
  return n;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double TimePurge(const std::string& root) {
  std::u16string folder = U16(root);
  auto start = std::chrono::steady_clock::now();
  DeleteMatchingFiles(folder.c_str(), u"alpha*");
  return Seconds(start);
}

double TimeFind(const std::string& root) {
  const char* argv[] = {"find", root.c_str(), "-type", "f", "-name", "alpha*", "-delete", nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "find", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    perror("find");
    exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double took = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "find failed\n");
    exit(1);
  }
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 100000, folders = 1000, rounds = 3;
  std::string base = fs::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--files")
      files = atoi(argv[i + 1]);
    else if (option == "--folders")
      folders = atoi(argv[i + 1]);
    else if (option == "--rounds")
      rounds = atoi(argv[i + 1]);
    else if (option == "--dir")
      base = argv[i + 1];
  }
  if (files < 1 || folders < 1 || rounds < 1) return 2;
  std::string work = base + "/horolan-purge-bench-XXXXXX";
  if (!mkdtemp(work.data())) {
    perror("mkdtemp");
    return 1;
  }
  printf("%d files in %d folders, one in ten matching \"alpha*\", %d rounds, in %s\n", files,
         folders, rounds, work.c_str());
  printf("round   purge (s)   find (s)   purge/find\n");
  std::vector<double> ratios;
  for (int r = 0; r < rounds; ++r) {
    std::string a = work + "/a", b = work + "/b";
    MakeTree(a, files, folders);
    MakeTree(b, files, folders);
    sync();  // no write-back of the fresh trees during the timings
    // The order alternates, so neither side always meets the warmer caches.
    double purge, find;
    if (r % 2 == 0) {
      purge = TimePurge(a);
      find = TimeFind(b);
    } else {
      find = TimeFind(b);
      purge = TimePurge(a);
    }
    size_t leftA = CountFiles(a), leftB = CountFiles(b);
    if (leftA != leftB || leftA != static_cast<size_t>(files - (files + 9) / 10)) {
      fprintf(stderr, "the trees differ after deleting: %zu and %zu files left\n", leftA, leftB);
      return 1;
    }
    ratios.push_back(purge / find);
    printf("%5d   %9.3f   %8.3f   %10.2f\n", r + 1, purge, find, purge / find);
    fs::remove_all(a);
    fs::remove_all(b);
  }
  fs::remove_all(work);
  std::sort(ratios.begin(), ratios.end());
  printf("median purge/find ratio: %.2f (target <= 1.50)\n", ratios[ratios.size() / 2]);
  return 0;
}
