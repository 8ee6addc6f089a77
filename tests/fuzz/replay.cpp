// Runs the fuzz targets' checks over the kept fuzz findings
// (tests/regressions/*.bin) and over the generated seed corpus, so that a
// fault once found stays fixed in the ordinary test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FuzzChecks.h"
#include "Seeds.h"
#include "TestFiles.h"

namespace {

std::vector<std::filesystem::path> KeptInputs() {
  std::vector<std::filesystem::path> found;
  for (const auto& e : std::filesystem::directory_iterator(TOVACREX_REGRESSIONS_DIR))
    if (e.path().extension() == ".bin") found.push_back(e.path());
  std::sort(found.begin(), found.end());
  return found;
}

TEST(FuzzReplay, KeptFindings) {
  TempDir dir;
  const auto inputs = KeptInputs();
  ASSERT_FALSE(inputs.empty());
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    const Bytes bytes = ReadBytes(input.string());
    EXPECT_EQ(fuzzcheck::CheckReader(dir.File("r.avi"), bytes), "");
    EXPECT_EQ(fuzzcheck::CheckDriver(dir.File("d.avi"), bytes), "");
  }
}

TEST(FuzzReplay, Seeds) {
  TempDir dir;
  for (const auto& [name, bytes] : fuzzseeds::MakeSeeds()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fuzzcheck::CheckReader(dir.File("r.avi"), bytes), "");
    EXPECT_EQ(fuzzcheck::CheckDriver(dir.File("d.avi"), bytes), "");
  }
}

// Scanning again with the same reader rebuilds what the first scan found,
// also after a scan that ended inside a form cut short.
TEST(FuzzReplay, RescanWithTheSameReader) {
  TempDir dir;
  const Bytes bytes = ReadBytes(std::string(TOVACREX_REGRESSIONS_DIR) + "/rescan-after-truncated-form.bin");
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(fuzzcheck::CheckReader(dir.File("r.avi"), bytes, nullptr, fuzzcheck::TRepeat::SameReader), "");
}

}  // namespace
