// Writes the fuzzers' seed corpus: make_seeds DIR.
#include <cstdio>
#include <filesystem>

#include "Seeds.h"
#include "TestFiles.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  int n = 0;
  for (const auto& [name, bytes] : fuzzseeds::MakeSeeds()) {
    WriteBytes((std::filesystem::path(argv[1]) / (name + ".avi")).string(), bytes);
    ++n;
  }
  std::printf("%d seeds written to %s\n", n, argv[1]);
  return 0;
}
