// Writes the benchmarks' settings files: bvx_bench_settings <size> <path>.
// The programs measured under Wine read exactly the bytes that the native
// benchmarks parse.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/settings_text.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <size in bytes> <path>\n", argv[0]);
    return 2;
  }
  const std::string text =
      bvx::bench::SettingsText(std::strtoul(argv[1], nullptr, 10), bvx::bench::kBenchDrives);
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
