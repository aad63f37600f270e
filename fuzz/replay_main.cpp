// Runs a fuzz target over files and folders of inputs without libFuzzer, so the committed
// corpus is replayed by every ordinary test run.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
int RunFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

int Run(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "no such input: %s\n", path.c_str());
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) return RunFile(path);
  int n = 0;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      int r = Run(path + "/" + e->d_name);
      if (r < 0) return r;
      n += r;
    }
    closedir(d);
  }
  return n;
}
}  // namespace

int main(int argc, char** argv) {
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    int r = Run(argv[i]);
    if (r < 0) return 1;
    total += r;
  }
  std::printf("replayed %d inputs\n", total);
  return total > 0 ? 0 : 1;  // an empty corpus means the replay tested nothing
}
