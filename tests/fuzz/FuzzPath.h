// One private scratch file per fuzzing process, reused for every input.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace fuzzcheck {

inline std::string ScratchFile(const char* target) {
  static const std::string path = [target] {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::exists("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
    dir /= "tovacrex-fuzz-" + std::string(target) + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir, ec);
    static std::filesystem::path made = dir;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(made, ignored);
    });
    return (dir / "input.avi").string();
  }();
  return path;
}

}  // namespace fuzzcheck
