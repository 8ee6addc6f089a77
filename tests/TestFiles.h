// Files for tests: a private folder removed afterwards, whole-file reads and
// writes, and the README's tables.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class TempDir {
 public:
  TempDir() { std::filesystem::create_directories(path_); }
  ~TempDir() {
    std::error_code ec;  // read-only files would stop the removal on Windows
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  static inline int made_ = 0;
  std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                ("tovacrex-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                                 "-" + std::to_string(++made_));
};

inline void WriteBytes(const std::string& name, const Bytes& data) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
inline Bytes ReadBytes(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

#ifdef TOVACREX_SOURCE_DIR
// The cells of the rows of the README's table whose header starts with
// `header`: the documentation states the texts and codes the program holds.
inline std::vector<std::vector<std::string>> ReadmeTable(const std::string& header) {
  std::ifstream f(std::string(TOVACREX_SOURCE_DIR) + "/README.md");
  std::vector<std::vector<std::string>> rows;
  bool in = false;
  for (std::string line; std::getline(f, line);) {
    if (line.rfind(header, 0) == 0) in = true;
    else if (in && line.rfind("|", 0) != 0) break;
    else if (in && line.rfind("|---", 0) != 0 && (rows.emplace_back(), true))
      for (std::size_t at = 1, bar; (bar = line.find(" |", at)) != std::string::npos; at = bar + 2)
        rows.back().push_back(line.substr(at + 1, bar - at - 1));
  }
  return rows;
}
#endif
