// The container: the chunk walker, the AVI reader, the read-ahead against the walk without it, and damaged inputs of
// every kind.
#include <gtest/gtest.h>

#include <cstdio>

#include "RiffBuilder.h"
#include "avi/RiffIds.h"
#include "fuzz/FuzzChecks.h"

using namespace riff;

namespace {

// Walks a file as the AVI reader does (containers stay open, other chunks are left at once) and notes each header:
// "LIST:hdrl@24 avih@32+56", with "*" when found by scanning and "?" when the stream is not at the data.
std::string Walk(const Bytes& bytes, std::int64_t streams = 1, int scanFrom = -1) {
  MemoryStream s(bytes, 100000);
  TQMRIFFStream rs(&s);
  rs.StreamCount = streams;
  std::string seen;
  for (int n = 0; !rs.EndOfFile;) {
    if (rs.EndOfChunk) {
      rs.Ascend();
    } else if (rs.Descend()) {
      if (n++ == scanFrom) rs.Resync = true;
      const bool container = riffid::IsContainer(rs.ChunkId);
      seen += (seen.empty() ? "" : " ") + Code(rs.ChunkId) + (container ? ":" + Code(rs.FormType) : "") + "@" +
              std::to_string(rs.DataPos) + (container ? "" : "+" + std::to_string(rs.ChunkSize)) +
              (rs.Resync ? "*" : "") + (s.Seek(0, 1) == rs.DataPos ? "" : "?");
      if (!container) rs.Ascend();
    }
  }
  return seen;
}
// An AVI form holding only a "hdrl" list of these pieces.
Image Hdrl(std::vector<Piece> pieces) { return Build({Riff("AVI ", {List("hdrl", std::move(pieces))})}); }
Image Avi(std::vector<Piece> pieces) { return Build({Riff("AVI ", std::move(pieces))}); }
Image ScanLimitFile(std::uint32_t size) {
  Bytes data = Text(std::string("strh\4\0\0\0abcd", 12));
  return data.resize(size), Hdrl({Raw(Bytes{1, 2}), Chunk("JUNK", data)});
}

TEST(ChunkWalker, Walks) {
  const std::string head = "RIFF:AVI @12 LIST:hdrl@24 ";
  struct {
    const char* name;
    Image img;
    std::string seen;
    std::int64_t streams = 1;
    int scanFrom = -1;  // scan mode forced from this header on
  } cases[] = {
      {"sizes, pad bytes",
       Avi({List("hdrl", {Chunk("avih", 56)}), Chunk("JUNK", 5), List("movi", {Chunk("00dc", 3), Chunk("01wb", 4)}),
            Chunk("idx1", 32)}),
       head + "avih@32+56 JUNK@96+5 LIST:movi@114 00dc@122+3 01wb@134+4 idx1@146+32", 2},
      {"container shorter than its type is empty",
       Build({Riff("AVI ", {List("hdrl", {}).Sized(3), Chunk("JUNK", 6)}), Riff("AVIX", {}).Sized(0)}),
       head + "JUNK@32+6 RIFF:AVIX@50"},
      {"chunk overrunning its list: scan mode", Avi({List("hdrl", {Chunk("avih", 8).Sized(20)}), Chunk("JUNK", 16)}),
       head + "avih@32+20* JUNK@48+16*"},
      {"size 0x7FFFFFFF is taken", Hdrl({Chunk("JUNK", 8).Sized(0x7FFFFFFF), Chunk("strh", 4)}),
       head + "JUNK@32+2147483647* strh@48+4*"},
      {"size 0x80000000 is scanned past", Hdrl({Chunk("JUNK", 8).Sized(0x80000000), Chunk("strh", 4)}),
       head + "strh@48+4*"},
      {"scan: 10 MiB taken", ScanLimitFile(0xA00000), head + "JUNK@34+10485760* strh@42+4* abcd@50+0*"},
      {"scan: one byte more is not", ScanLimitFile(0xA00001), head + "strh@42+4* abcd@50+0*"},
      {"scan: a chunk past the end is not", Hdrl({Raw(Bytes{1, 2}), Chunk("strh", 4), Chunk("JUNK", 8).Sized(9)}),
       head + "strh@34+4*"},
      {"scan: one ending at the end is", Hdrl({Raw(Bytes{1, 2}), Chunk("strh", 4), Chunk("JUNK", 8)}),
       head + "strh@34+4* JUNK@46+8*"},
      {"scan: slides by two over letters, retries two on past a bad size",
       Hdrl({Raw(Text(std::string("\1\2abJUNK\4\0\0\0wxyz", 16)))}), head + "JUNK@36+4*"},
      {"scan: stream index head skipped",
       Avi({List("movi", {Chunk("ix00", Words({FCC("00dc"), 2, 0, 0, FCC("00dc"), 2, 0, 0, FCC("00dc"), 2}, 64))})}),
       "RIFF:AVI @12 LIST:movi@24 ix00@32+64* 00dc@72+2*", 1, 2},
      {"scan: legacy index entries of known streams",
       Avi({Chunk("idx1", Words({FCC("01dc"), 0x10, 0, 0, FCC("00dc"), 0x12}, 32)), Chunk("JUNK", 16)}),
       "RIFF:AVI @12 idx1@20+32* 00dc@44+18* JUNK@60+16*", 1, 1},
      {"scan: into a rec list, out of ended lists",
       Avi({List("movi", {List("rec ", {Chunk("00dc", 4), Chunk("00dc", 6)})}), Chunk("JUNK", 4)}),
       "RIFF:AVI @12 LIST:movi@24 LIST:rec @36* 00dc@44+4* 00dc@56+6* JUNK@70+4*", 1, 2},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.img.bytes, c.streams, c.scanFrom), c.seen) << c.name;
}
// The video fields' records, the codes, integrity, damaged chunks, audio streams.
using Found = std::tuple<std::int64_t, std::int64_t, std::string, std::int32_t, std::int32_t, std::int32_t>;
Found Analyse(const Bytes& bytes) {
  MemoryStream s(bytes);
  TQmAVIFileReader r(&s);
  if (r.Scan(0) != 0) return {-1, -1, "", r.Status, 0, 0};
  return {
      r.VideoStreamHeaderPos, r.VideoFormatPos,  Code(r.VideoHandler()) + "/" + Code(r.VideoCompression()), r.Integrity,
      r.DamagedCount,         r.AudioStreamCount};
}
Bytes Cut(Bytes b, std::int64_t size) { return b.resize(static_cast<std::size_t>(size)), b; }
Bytes Patched(Bytes b, std::initializer_list<std::pair<std::int64_t, std::uint32_t>> words) {
  for (auto [at, word] : words) Set32(b, static_cast<std::size_t>(at), word);
  return b;
}
// Found where the image has its stream "p" (strh, strf).
Found At(const Image& i, const std::string& codes, std::int32_t integrity = 0, std::int32_t damaged = 0,
         std::int32_t audio = 0, const std::string& p = "v") {
  return {i.DataPos(p + ".strh"), i.DataPos(p + ".strf"), codes, integrity, damaged, audio};
}
const std::string Z4(4, '\0'), kNone = Z4 + "/" + Z4;

TEST(AviReader, FindsTheVideoStream) {
  const Image plain = MakeAvi({.audio = true, .audioFirst = true, .extraStrl = {Chunk("strn", Text("video"))}});
  const Image div3 = MakeAvi("div3", "DIV3");
  const Image two = Hdrl({Chunk("avih", 56), Strl("vids", "div3", "DIV3", "a"), Strl("vids", "xvid", "XVID", "b")});
  const std::string code("\1\2\3\4");  // no letters: only the gap makes the scan look
  const Image gap = Avi(
      {List("hdrl", {Chunk("avih", 56), Raw(Bytes{1, 2, 3, 4, 5, 6}), Chunk("JUNK", 8), Strl("vids", code, code, "v")}),
       List("movi", {Chunk("00dc", 10)})});
  const Image late =
      Avi({List("hdrl", {Strl("vids", "div3", "DIV3", "v")}), Chunk("JUNK", 8), Strl("vids", "cvid", "cvid", "w")});
  const Image idx1 = Avi({List("hdrl", {Strl("vids", "xvid", "XVID", "v")}), Chunk("idx1", 32)});
  const Image twice = Hdrl({Strl("vids", "div3", "DIV3", "v", 56, 40,
                                 {Chunk("strh", Words({FCC("vids"), FCC("xvid")}, 56)),
                                  Chunk("strf", Words({40, 64, 48, 0x180001, FCC("XVID")}, 40))})});
  const std::int64_t strlSize = div3.HeaderPos("v.strl") + 4;
  const std::tuple<const char*, Bytes, Found> cases[] = {
      {"audio first, extra chunks", plain.bytes, At(plain, "DX50/DX50", 0, 0, 1)},
      {"the last video stream wins", two.bytes, At(two, "xvid/XVID", 0, 0, 0, "b")},
      {"its format or none, never another stream's",
       Patched(two.bytes, {{two.HeaderPos("b.strf"), FCC("strd")}}),
       {two.DataPos("b.strh"), 0, "xvid/" + Z4, 0, 0, 0}},
      {"cut inside the format", Cut(plain.bytes, plain.DataPos("v.strf") + 20), At(plain, "DX50/DX50", -2, 1, 1)},
      {"cut inside a header", Cut(plain.bytes, plain.HeaderPos("v.strh") + 5), {0, 0, kNone, -2, 0, 1}},
      {"header list of 5 bytes: its stream lists are read behind it", Patched(div3.bytes, {{16, 5}}),
       At(div3, "div3/DIV3", -1, 3)},
      {"form and header list of 5 bytes: their stream lists are read at the top level",
       Patched(div3.bytes, {{4, 5}, {16, 5}}), At(div3, "div3/DIV3", -1, 3)},
      {"empty form: its header list is read at the top level", Patched(div3.bytes, {{4, 4}}), At(div3, "div3/DIV3")},
      {"a stream list behind the header list does not replace its video stream", late.bytes, At(late, "div3/DIV3")},
      {"stream list of 40 bytes: the format behind it is its own", Patched(div3.bytes, {{strlSize, 40}}),
       At(div3, "div3/DIV3", -1, 3)},
      {"a stream list of 0x7FFFFFFF bytes is walked by sizes", Patched(div3.bytes, {{strlSize, 0x7FFFFFFF}}),
       At(div3, "div3/DIV3")},
      {"form longer than the file", Patched(plain.bytes, {{4, 0x7FFFFFF0}}), At(plain, "DX50/DX50", -2, 0, 1)},
      {"a gap: the chunk before it is damaged", gap.bytes, At(gap, code + "/" + code, -1, 1)},
      {"legacy index instead of movi", idx1.bytes, At(idx1, "xvid/XVID")},
      {"only the first records of a stream list count", twice.bytes, At(twice, "div3/DIV3")},
      {"no AVI form",
       Build({Riff("WAVE", {List("hdrl", {Strl("vids", "xvid", "XVID", "v")})})}).bytes,
       {0, 0, kNone, 0, 0, 0}},
  };
  for (const auto& [name, bytes, found] : cases) EXPECT_EQ(Analyse(bytes), found) << name;
  // Memory does not grow with padding: it keeps no node.
  std::vector<Piece> pieces(10000, Chunk("JUNK", 3));
  pieces.push_back(Strl("vids", "xvid", "XVID", "v"));
  MemoryStream s(Hdrl(pieces).bytes);
  TQmAVIFileReader r(&s);
  EXPECT_EQ((std::tuple{r.Scan(0), r.NodeCount, r.VideoHandler()}), std::tuple(0, 5u, FCC("xvid")));
}
// The walker without read-ahead is the reference: with it, every call gives the same results and leaves the stream at
// the same place, while the owner seeks, reads and writes between calls.
void CompareWalks(const Bytes& bytes, std::uint32_t seed) {
  MemoryStream plain(bytes), ahead(bytes);
  TQMRIFFStream ref(&plain), rs(&ahead);
  ref.ReadAhead = 0;
  std::mt19937 rng(seed);
  ref.StreamCount = rs.StreamCount = rng() % 3;
  for (int call = 0; call < 120; ++call) {
    const std::uint32_t what = rng() % 16, at = rng() % (bytes.size() + 1), n = rng() % 12;
    for (MemoryStream* s : {&plain, &ahead}) {
      std::uint8_t buffer[12] = {'0', '0', 'd', 'c', 4};
      const std::int64_t back = s->Seek(0, 1);
      if (what == 0) s->Seek(at, 0);
      if (what == 1) s->Read(buffer, n);
      if (what == 2 || what == 3) s->Seek(at, 0), s->Write(buffer, n), what == 3 && s->Seek(back, 0);
      // Written through another handle, which the walker cannot see; the move tells it.
      if (what == 4 && at + n <= bytes.size()) std::copy_n(buffer, n, s->Data().begin() + at), s->Seek(back + 1, 0);
    }
    auto step = [&](TQMRIFFStream& w) {
      const std::int64_t r = what < 9 ? w.Descend() : what < 14 ? w.Ascend() : w.FindNextChunk();
      return std::tuple(r, w.ChunkId, w.ChunkSize, w.FormType, w.EndOfChunk, w.EndOfFile, w.HeaderValid, w.Depth,
                        w.Resync, w.DataPos, w.ListEnd, w.Stream->Seek(0, 1));
    };
    ASSERT_EQ(step(ref), step(rs)) << "call " << call;
    for (std::uint32_t d = 0; d < ref.Depth; ++d) ASSERT_EQ(ref.Tags[d].End(), rs.Tags[d].End()) << "call " << call;
  }
}

// Damaged variants of the seeds, the sample and the files (AVI, Matroska) in TOVACREX_DIFF_FILES, TOVACREX_DIFF_COUNT
// of them, then the kept fuzz findings. Each walks the same with read-ahead as without and keeps the reader's fuzz
// checks; every fortieth, and each finding, the driver's too.
TEST(DamagedFiles, ReaderDriverAndReadAhead) {
  auto inputs = Seeds();
  const char* folder = std::getenv("TOVACREX_DIFF_FILES");
  for (const std::string& dir : {std::string(TOVACREX_SOURCE_DIR) + "/samples", std::string(folder ? folder : "")})
    for (const auto& e : dir.empty() ? std::filesystem::directory_iterator() : std::filesystem::directory_iterator(dir))
      if (e.path().extension() == ".avi" || e.path().extension() == ".mkv")
        inputs.emplace_back(e.path().string(), ReadBytes(e.path().string()));
  const char* count = std::getenv("TOVACREX_DIFF_COUNT");
  std::mt19937 rng(11);
  for (std::size_t i = 0, files = inputs.size(); i < std::size_t(count ? std::atoi(count) : 6000); ++i)
    inputs.emplace_back("mutation " + std::to_string(i), Mutate(inputs[rng() % files].second, rng));
  for (const auto& e : std::filesystem::directory_iterator(std::string(TOVACREX_SOURCE_DIR) + "/tests/regressions"))
    inputs.emplace_back(e.path().filename().string(), ReadBytes(e.path().string()));
  TempDir dir;
  const std::string file = dir.File("f.avi");
  for (std::uint32_t i = 0; i < inputs.size(); ++i) {
    const auto& [name, bytes] = inputs[i];
    SCOPED_TRACE(name);
    CompareWalks(bytes, i);
    const bool full = i % 40 == 0 || !name.starts_with("mutation");
    EXPECT_EQ(full ? fuzzcheck::CheckDriver(file, bytes) : fuzzcheck::CheckReader(file, bytes), "");
  }
}

#ifndef _WIN32
// Files that ffmpeg, mencoder and GStreamer write, with ffprobe as the judge of what a player sees.
// TOVACREX_SKIP_FFMPEG=1 skips this, saying so; without the tools it fails.
TEST(MediaTools, FilesAnalysedAndConverted) {
  auto output = [](const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    for (int c; p && (c = std::fgetc(p)) != EOF && c != '\n';) out += static_cast<char>(c);
    return p && pclose(p), out;
  };
  if (std::system("which ffmpeg ffprobe mencoder gst-launch-1.0 >/dev/null") != 0) {
    if (const char* skip = std::getenv("TOVACREX_SKIP_FFMPEG"); skip && std::string(skip) == "1")
      GTEST_SKIP() << "SKIPPED: no media tools";
    FAIL() << "ffmpeg, ffprobe, mencoder and gst-launch-1.0 are needed (TOVACREX_SKIP_FFMPEG=1 skips this test)";
  }
  TempDir dir;
  const std::string file = dir.File("f.avi"), in = dir.File("in.avi"), gst = "gst-launch-1.0 -q ",
                    ffmpeg = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=5:duration=1 ",
                    video = "videotestsrc num-buffers=5 ! video/x-raw,width=64,height=48 ! avenc_msmpeg4 ! ",
                    probe = "ffprobe -v error -show_entries stream=codec_tag_string -of csv=p=0 -select_streams v:0 ";
  output(ffmpeg + "-c:v msmpeg4 -vtag div3 " + in);
  const TCodecId U = kUnknownCodec;
  // The command that makes the file %F, the codec found, and found with any letter case.
  const std::tuple<std::string, TCodecId, TCodecId> cases[] = {
      {ffmpeg + "-c:v mpeg4 -vtag DX50 %F", 12, 12},
      {ffmpeg + "-f lavfi -i sine=duration=1 -map 1:a -map 0:v -c:v msmpeg4 -vtag div3 -c:a pcm_s16le %F", 6, 6},
      {"mencoder -really-quiet " + in + " -ovc copy -ffourcc DIV3 -o %F", U, 6},
      {"mencoder -really-quiet " + in + " -ovc lavc -lavcopts vcodec=msmpeg4v2 -o %F", U, 2},
      {gst + video + "avimux ! filesink location=%F", U, 3},
      {gst + "audiotestsrc num-buffers=5 ! audioconvert ! avimux name=m ! filesink location=%F " + video + "m.", U, 3}};
  for (auto [make, exact, anyCase] : cases) {
    SCOPED_TRACE(make);
    std::filesystem::remove(file);
    output(make.replace(make.find("%F"), 2, file) + " >/dev/null 2>&1");
    const Bytes original = ReadBytes(file);
    TAppState s, folded;
    folded.AnyCase = true;
    ProcessFile(s, file, kNoCodec), ProcessFile(folded, file, kNoCodec);
    ASSERT_EQ((std::tuple{s.FileStatus, s.CurrentCodec, folded.CurrentCodec}),
              (std::tuple<std::uint8_t, TCodecId, TCodecId>(fsOk, exact, anyCase)));
    EXPECT_EQ(std::pair(Code(FourCCFromBytes(&original[s.CompressionFieldPos])),
                        FourCCFromBytes(&original[s.HandlerFieldPos - 4])),
              std::pair(output(probe + file), FCC("vids")));
    EXPECT_EQ(fuzzcheck::CheckDriver(file, original, true), "");
    ProcessFile(folded, file, OfferedTargets(anyCase)[0]);
    EXPECT_EQ(output(probe + file), Code(TargetFourCCs(OfferedTargets(anyCase)[0]).Compression));
  }
}
#endif

}  // namespace
