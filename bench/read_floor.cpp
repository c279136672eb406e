// The floor of a search, for bench/compare.sh: walks ROOT with the library's
// skip rules (no entry whose name begins with '.', none of the fixed
// directory names, links followed, each directory once, regular files only)
// and reads every file whole into one reused buffer, doing nothing else.
//
//   read_floor [--warmup W] [--runs N] ROOT
//
// Prints one line per timed run, then "summary MIN MEDIAN MAX" in ms and
// "files N bytes N". POSIX only: a benchmark tool, not part of the library.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kSkipped[] = {"node_modules", "bin",   "obj",        "target",
                                "dist",         "build", "__pycache__"};

struct walker {
  std::vector<char> buffer = std::vector<char>(1 << 20);
  std::set<std::pair<dev_t, ino_t>> listed;
  long long files = 0, bytes = 0;

  void read_file(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      if (static_cast<size_t>(st.st_size) + 1 > buffer.size()) buffer.resize(st.st_size + 1);
      size_t got = 0;
      while (got < static_cast<size_t>(st.st_size)) {
        ssize_t n = read(fd, buffer.data() + got, st.st_size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      ++files;
      bytes += static_cast<long long>(got);
    }
    close(fd);
  }

  void walk(const std::string &dir, int depth) {
    if (depth > 64) return;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    struct stat self;
    if (fstat(dirfd(d), &self) != 0 || !listed.insert({self.st_dev, self.st_ino}).second) {
      closedir(d);
      return;
    }
    while (const dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      // The entry's type from the listing; links and unknown types are asked.
      struct stat st;
      st.st_mode = e->d_type == DT_DIR ? S_IFDIR : (e->d_type == DT_REG ? S_IFREG : 0);
      if ((e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) &&
          fstatat(dirfd(d), e->d_name, &st, 0) != 0) {
        continue;
      }
      const std::string child = dir + "/" + e->d_name;
      if (S_ISDIR(st.st_mode)) {
        bool skip = false;
        for (const char *name : kSkipped) skip = skip || std::strcmp(e->d_name, name) == 0;
        if (!skip) walk(child, depth + 1);
      } else if (S_ISREG(st.st_mode)) {
        read_file(child);
      }
    }
    closedir(d);
  }
};

}  // namespace

int main(int argc, char **argv) {
  int warmup = 1, runs = 5, i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--warmup") == 0) warmup = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  }
  if (i >= argc || runs < 1) {
    std::fprintf(stderr, "usage: %s [--warmup W] [--runs N] ROOT\n", argv[0]);
    return 2;
  }
  std::vector<double> times;
  walker last;
  for (int run = 0; run < warmup + runs; ++run) {
    walker w;
    auto start = std::chrono::steady_clock::now();
    w.walk(argv[i], 0);
    auto end = std::chrono::steady_clock::now();
    if (run < warmup) continue;
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    std::printf("run %d: %.1f ms\n", run - warmup + 1, times.back());
    last.files = w.files;
    last.bytes = w.bytes;
  }
  std::sort(times.begin(), times.end());
  std::printf("summary %.1f %.1f %.1f\n", times.front(), times[times.size() / 2], times.back());
  std::printf("files %lld bytes %lld\n", last.files, last.bytes);
  return 0;
}
