// Runs a fuzz target over every file of the corpus folders (or files) named on
// the command line, so the checked-in corpus is an ordinary test on any
// compiler. A target reports a broken property by aborting.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool run_file(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

int main(int argc, char **argv) {
  size_t ran = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      fprintf(stderr, "replay: cannot read %s\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
      ran += run_file(argv[i]);
      continue;
    }
    DIR *dir = opendir(argv[i]);
    if (dir == nullptr) return 1;
    while (const dirent *ent = readdir(dir)) {
      if (ent->d_name[0] == '.') continue;
      ran += run_file(std::string(argv[i]) + "/" + ent->d_name);
    }
    closedir(dir);
  }
  printf("replayed %zu inputs\n", ran);
  return ran > 0 ? 0 : 1;
}
