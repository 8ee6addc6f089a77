// Writes the seed corpus into the folder given, one file per seed.
#include <filesystem>

#include "RiffBuilder.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::filesystem::create_directories(argv[1]);
  for (const auto& [name, bytes] : riff::Seeds()) WriteBytes(std::string(argv[1]) + "/" + name + ".avi", bytes);
}
