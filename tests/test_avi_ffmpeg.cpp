// The reader against AVI files written by ffmpeg, checked with ffprobe and
// with the bytes at the positions it reports. Needs ffmpeg and ffprobe on
// PATH; TOVACREX_SKIP_FFMPEG=1 skips these cases instead of failing them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "avi/QmAVIFile.h"

namespace {

std::optional<std::string> FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return std::nullopt;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = (std::filesystem::path(dir) / program).string();
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class FfmpegFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ffmpeg_ = FindOnPath("ffmpeg");
    ffprobe_ = FindOnPath("ffprobe");
    if (ffmpeg_ && ffprobe_) return;
    const char* skip = std::getenv("TOVACREX_SKIP_FFMPEG");
    if (skip && std::string(skip) == "1")
      GTEST_SKIP() << "ffmpeg/ffprobe not on PATH and TOVACREX_SKIP_FFMPEG=1: reader not checked against real files";
    FAIL() << "ffmpeg and ffprobe must be on PATH (set TOVACREX_SKIP_FFMPEG=1 to skip these cases)";
  }

  // Writes one second of a 64x48 test picture with the given arguments.
  std::string Make(const std::string& name, const std::string& args) {
    const std::string file = dir_.File(name);
    const std::string cmd = Quoted(*ffmpeg_) + " -v error -y -f lavfi -i testsrc=size=64x48:rate=5 " + args +
                            " -t 1 " + Quoted(file) + " 2>&1";
    const std::string log = Output(cmd);
    EXPECT_TRUE(std::filesystem::exists(file)) << cmd << "\n" << log;
    return file;
  }

  std::string ProbeVideoTag(const std::string& file) {
    return Output(Quoted(*ffprobe_) +
                  " -v error -select_streams v:0 -show_entries stream=codec_tag_string -of default=nw=1:nk=1 " +
                  Quoted(file));
  }

  // Scans the file the way the driver does and checks the results against
  // ffprobe and against the file's own bytes.
  void Check(const std::string& file, std::int32_t audioStreams) {
    ASSERT_TRUE(std::filesystem::exists(file));
    const Bytes bytes = ReadBytes(file);
    const std::string tag = ProbeVideoTag(file);
    ASSERT_EQ(tag.size(), 4u) << tag;

    TFileStream64 stream(file, kModeAnalyse);
    TQmAVIFileReader reader(&stream);
    ASSERT_EQ(reader.Status, 0);
    ASSERT_EQ(reader.Scan(0), 0);
    EXPECT_TRUE(reader.HeadersRead);
    EXPECT_EQ(reader.Integrity, 0);
    EXPECT_EQ(reader.DamagedCount, 0);
    EXPECT_EQ(reader.AudioStreamCount, audioStreams);
    EXPECT_EQ(FourCCText(reader.VideoHandler()), tag);
    EXPECT_EQ(FourCCText(reader.VideoCompression()), tag);

    using riff::FourCCAt;
    const std::int64_t strh = reader.VideoStreamHeaderPos, strf = reader.VideoFormatPos;
    EXPECT_EQ(FourCCAt(bytes, strh - 8), riff::FCC("strh"));
    EXPECT_EQ(FourCCAt(bytes, strh), riff::FCC("vids"));
    EXPECT_EQ(FourCCAt(bytes, strh + 4), reader.VideoHandler());
    EXPECT_EQ(FourCCAt(bytes, strf - 8), riff::FCC("strf"));
    EXPECT_EQ(FourCCAt(bytes, strf + 16), reader.VideoCompression());
    EXPECT_EQ(reader.VideoStreamHeaderSize, riff::Get32(bytes, static_cast<std::size_t>(strh - 4)));
    EXPECT_EQ(reader.VideoFormatSize, riff::Get32(bytes, static_cast<std::size_t>(strf - 4)));
  }

  TempDir dir_;
  std::optional<std::string> ffmpeg_, ffprobe_;
};

}  // namespace

TEST_F(FfmpegFiles, Mpeg4WithDivx5Tag) { Check(Make("dx50.avi", "-c:v mpeg4 -vtag DX50"), 0); }
TEST_F(FfmpegFiles, MsMpeg4V3) { Check(Make("mp43.avi", "-c:v msmpeg4"), 0); }
TEST_F(FfmpegFiles, MsMpeg4V2) { Check(Make("mp42.avi", "-c:v msmpeg4v2"), 0); }

TEST_F(FfmpegFiles, VideoWithAudio) {
  Check(Make("xvid-pcm.avi", "-f lavfi -i sine=duration=1 -c:v mpeg4 -vtag XVID -c:a pcm_s16le"), 1);
}

TEST_F(FfmpegFiles, AudioStreamFirst) {
  Check(Make("pcm-div3.avi", "-f lavfi -i sine=duration=1 -map 1:a -map 0:v -c:v msmpeg4 -vtag DIV3 -c:a pcm_s16le"),
        1);
}
