#include <gtest/gtest.h>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/Driver.h"

namespace {

using riff::AviOptions;
using riff::FCC;
using riff::Image;
using riff::MakeAvi;

class Driver : public ::testing::Test {
 protected:
  TempDir dir;
  TAppState state;

  std::string Put(const std::string& name, const Bytes& bytes) {
    std::string path = dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  std::string Put(const std::string& name, const Image& img) { return Put(name, img.bytes); }

  void Analyse(const std::string& path) { ProcessFile(state, path, kNoCodec); }

  // Offsets at which two images differ.
  static std::vector<std::int64_t> Diff(const Bytes& a, const Bytes& b) {
    EXPECT_EQ(a.size(), b.size());
    std::vector<std::int64_t> at;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
      if (a[i] != b[i]) at.push_back(static_cast<std::int64_t>(i));
    return at;
  }
  static bool Within(const std::vector<std::int64_t>& offsets, std::int64_t a, std::int64_t b) {
    for (std::int64_t o : offsets)
      if (!(o >= a && o < a + 4) && !(o >= b && o < b + 4)) return false;
    return true;
  }
};

TEST_F(Driver, AnalysisFindsTheCodecAndBothFields) {
  Image img = MakeAvi({.handler = "divx", .compression = "DX50", .audio = true, .audioFirst = true});
  std::string f = Put("a.avi", img);
  Analyse(f);
  EXPECT_EQ(state.FileStatus, fsOk);
  EXPECT_EQ(state.CurrentCodec, 12);
  EXPECT_EQ(state.OriginalCodec, 12);
  EXPECT_EQ(state.HandlerFieldPos, img.DataPos("v.strh") + 4);
  EXPECT_EQ(state.CompressionFieldPos, img.DataPos("v.strf") + 16);
  EXPECT_EQ(ReadBytes(f), img.bytes);  // analysis never writes
}

TEST_F(Driver, AnalysisStatuses) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::uint8_t status;
    TCodecId codec;
  } cases[] = {
      {"eleven bytes", BytesOf("RIFF\4\0\0\0AVI"), fsNotAvi, kUnknownCodec},
      {"not riff", BytesOf("riff\4\0\0\0AVI LIST"), fsNotAvi, kUnknownCodec},
      {"other form", riff::Build({riff::Riff("WAVE", {riff::Chunk("fmt ", 16)})}).bytes, fsOk, kUnknownCodec},
      {"unknown handler", MakeAvi({.handler = "DIV3", .compression = "DIV3"}).bytes, fsOk, kUnknownCodec},
      {"divx with xvid", MakeAvi({.handler = "divx", .compression = "XVID"}).bytes, fsOk, kUnknownCodec},
      {"upper xvid", MakeAvi({.handler = "XVID", .compression = "0000"}).bytes, fsOk, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TAppState s;
    ProcessFile(s, Put("s.avi", c.bytes), kNoCodec);
    EXPECT_EQ(s.FileStatus, c.status);
    EXPECT_EQ(s.CurrentCodec, c.codec);
    EXPECT_EQ(s.OriginalCodec, c.codec);
  }
  TAppState s;
  ProcessFile(s, Put("o.avi", riff::Build({riff::Riff("WAVE", {riff::Chunk("fmt ", 16)})}).bytes), kNoCodec);
  EXPECT_EQ(s.HandlerFieldPos, 0);
  EXPECT_EQ(s.CompressionFieldPos, 0);
}

TEST_F(Driver, MissingFileLeavesThePreviousFileAlone) {
  Analyse(Put("a.avi", MakeAvi({.handler = "div3", .compression = "DIV3"})));
  TAppState before = state;
  ProcessFile(state, dir.File("gone.avi"), kNoCodec);
  EXPECT_EQ(state.FileStatus, fsNotFound);
  EXPECT_EQ(state.CurrentCodec, before.CurrentCodec);
  EXPECT_EQ(state.HandlerFieldPos, before.HandlerFieldPos);
  ProcessFile(state, dir.File("gone.avi"), 7);
  EXPECT_EQ(state.FileStatus, fsNotFound);
  ProcessFile(state, "", kNoCodec);
  EXPECT_EQ(state.FileStatus, fsNotFound);
}

TEST_F(Driver, ConversionWritesExactlyTheTwoFields) {
  Image img = MakeAvi({.handler = "div3", .compression = "DIV3", .audio = true});
  std::string f = Put("c.avi", img);
  Analyse(f);
  ASSERT_EQ(state.CurrentCodec, 6);
  ProcessFile(state, f, 7);  // DivX V3 Fast
  EXPECT_EQ(state.FileStatus, fsOk);
  EXPECT_EQ(state.CurrentCodec, 7);
  EXPECT_EQ(state.OriginalCodec, 6);
  Bytes now = ReadBytes(f);
  EXPECT_EQ(riff::FourCCAt(now, state.HandlerFieldPos), FCC("div4"));
  EXPECT_EQ(riff::FourCCAt(now, state.CompressionFieldPos), FCC("DIV3"));
  EXPECT_EQ(Diff(img.bytes, now).size(), 1u);  // "div3" -> "div4": one byte

  ProcessFile(state, f, 8);  // Angel Potion V1
  now = ReadBytes(f);
  EXPECT_TRUE(Within(Diff(img.bytes, now), state.HandlerFieldPos, state.CompressionFieldPos));
  TAppState again;
  ProcessFile(again, f, kNoCodec);
  EXPECT_EQ(again.CurrentCodec, 8);
}

TEST_F(Driver, BackToTheOriginalRestoresTheExactPair) {
  Image img = MakeAvi({.handler = "DX50", .compression = "DX50"});
  std::string f = Put("r.avi", img);
  Analyse(f);
  ASSERT_EQ(state.CurrentCodec, 12);
  for (TCodecId t : {11, 10, 13, 12}) {
    ProcessFile(state, f, t);
    ASSERT_EQ(state.FileStatus, fsOk) << int(t);
  }
  EXPECT_EQ(ReadBytes(f), img.bytes);  // "DX50" again, not the catalogue's "divx"
  EXPECT_EQ(state.CurrentCodec, 12);
}

TEST_F(Driver, FieldsOutsideTheirRecordsDoNotCount) {
  {
    SCOPED_TRACE("strh too short for fccHandler");
    std::string f = Put("h.avi", MakeAvi({.handler = "div3", .compression = "DIV3", .strhSize = 6}));
    Analyse(f);
    EXPECT_EQ(state.HandlerFieldPos, 0);
    Bytes before = ReadBytes(f);
    ProcessFile(state, f, 7);
    EXPECT_EQ(state.FileStatus, fsCannotWrite);
    EXPECT_EQ(ReadBytes(f), before);
  }
  {
    SCOPED_TRACE("strf too short for biCompression");
    Image img = MakeAvi({.handler = "xvid", .compression = "XVID", .strfSize = 18});
    std::string f = Put("c.avi", img);
    Analyse(f);
    EXPECT_EQ(state.CurrentCodec, 10);
    EXPECT_EQ(state.CompressionFieldPos, 0);
    // DivX 4 and 5 differ only in the compression field: not writable here.
    for (TCodecId t : {11, 12}) {
      ProcessFile(state, f, t);
      EXPECT_EQ(state.FileStatus, fsCannotWrite);
      EXPECT_EQ(ReadBytes(f), img.bytes);
    }
    ProcessFile(state, f, 13);  // 3ivx is told by its handler alone
    EXPECT_EQ(state.FileStatus, fsOk);
    auto changed = Diff(img.bytes, ReadBytes(f));
    EXPECT_TRUE(Within(changed, state.HandlerFieldPos, state.HandlerFieldPos));
  }
  {
    SCOPED_TRACE("file ends inside strf");
    Image img = MakeAvi({.handler = "mp43", .compression = "MP43"});
    Bytes cut(img.bytes.begin(), img.bytes.begin() + img.DataPos("v.strf") + 18);
    std::string f = Put("t.avi", cut);
    Analyse(f);
    EXPECT_EQ(state.CurrentCodec, 3);
    EXPECT_EQ(state.CompressionFieldPos, 0);
    ProcessFile(state, f, 6);  // handler only; the compression would lie past the end
    EXPECT_EQ(state.FileStatus, fsOk);
    EXPECT_EQ(ReadBytes(f).size(), cut.size());
  }
}

TEST_F(Driver, OverlappingFieldsAreRefused) {
  TAppState s;
  s.OriginalCodec = s.CurrentCodec = 6;
  s.OriginalHandler = s.ExpectedHandler = FCC("div3");
  s.OriginalCompression = s.ExpectedCompression = FCC("DIV3");
  s.HandlerFieldPos = 100;
  for (std::int64_t c : {97, 100, 103}) {
    s.CompressionFieldPos = c;
    EXPECT_FALSE(PlanConversion(s, 7).has_value()) << c;
  }
  s.CompressionFieldPos = 104;
  EXPECT_TRUE(PlanConversion(s, 7).has_value());
  EXPECT_FALSE(PlanConversion(s, 0).has_value());
  EXPECT_FALSE(PlanConversion(s, 14).has_value());
}

}  // namespace
