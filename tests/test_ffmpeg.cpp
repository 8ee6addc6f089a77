// Files that ffmpeg writes, analysed and converted, with ffprobe as the
// judge of what a player will see. TOVACREX_SKIP_FFMPEG=1 skips them, saying
// so; a missing ffmpeg otherwise fails them.
#include <gtest/gtest.h>

#include <cstdio>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/Driver.h"

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(p)) != EOF;) out += static_cast<char>(c);
    pclose(p);
  }
  return out.substr(0, out.find('\n'));
}

TEST(Ffmpeg, FilesAnalysedAndConverted) {
  if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0) {
    if (const char* skip = std::getenv("TOVACREX_SKIP_FFMPEG"); skip && std::string(skip) == "1")
      GTEST_SKIP() << "SKIPPED: no ffmpeg, and TOVACREX_SKIP_FFMPEG=1";
    FAIL() << "ffmpeg and ffprobe are needed (TOVACREX_SKIP_FFMPEG=1 skips this test)";
  }
  TempDir dir;
  const std::pair<const char*, TCodecId> cases[] = {
      {"-c:v mpeg4 -vtag DX50", 12},  {"-c:v mpeg4 -vtag xvid", 10},
      {"-c:v msmpeg4 -vtag div3", 6},            {"-c:v msmpeg4v2 -vtag mp42", 2},
      {"-f lavfi -i sine=duration=1 -c:v mpeg4 -vtag XVID -c:a pcm_s16le", 10},
      {"-f lavfi -i sine=duration=1 -map 1:a -map 0:v -c:v msmpeg4 -vtag div3 -c:a pcm_s16le", 6},
  };
  for (auto [args, codec] : cases) {
    SCOPED_TRACE(args);
    const std::string file = dir.File("f.avi");
    Output("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=5:duration=1 " + std::string(args) + " " + file);
    auto probe = [&] { return Output("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of csv=p=0 " + file); };
    const Bytes original = ReadBytes(file);
    TAppState s;
    ProcessFile(s, file, kNoCodec);
    ASSERT_EQ(s.FileStatus, fsOk);
    EXPECT_EQ(s.CurrentCodec, codec);
    EXPECT_EQ(riff::Code(FourCCFromBytes(&original[s.CompressionFieldPos])), probe());
    EXPECT_EQ(FourCCFromBytes(&original[s.HandlerFieldPos]), s.OriginalHandler);
    EXPECT_EQ(FourCCFromBytes(&original[s.HandlerFieldPos - 4]), riff::FCC("vids"));
    for (TCodecId target : OfferedTargets(codec)) {
      ProcessFile(s, file, target);
      ASSERT_EQ(s.FileStatus, fsOk);
      EXPECT_EQ(probe(), riff::Code(TargetFourCCs(target).Compression));
    }
    ProcessFile(s, file, codec);
    EXPECT_EQ(ReadBytes(file), original);
  }
}

}  // namespace
