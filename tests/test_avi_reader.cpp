// The AVI reader: chunk tree, signature check, header scan and header model.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CountingStream.h"
#include "RiffBuilder.h"
#include "TestFiles.h"
#include "avi/QmAVIFile.h"

using namespace riff;

namespace {

// A reader over an image in memory.
struct Scanned {
  explicit Scanned(const Image& img) : Scanned(img.bytes) {}
  explicit Scanned(Bytes bytes) : stream(std::move(bytes)), reader(&stream) {
    EXPECT_EQ(reader.Status, 0);
    result = reader.Scan(0);
  }
  MemoryStream stream;
  TQmAVIFileReader reader;
  std::int32_t result = 0;
};

std::vector<TNodeIndex> Children(const TQmAVIFileReader& r, TNodeIndex parent) {
  std::vector<TNodeIndex> out;
  for (TNodeIndex n = parent == kNoNode ? 0 : r.GetFirstChild(parent); n != kNoNode && out.size() < 100000;
       n = r.GetNextSibling(n))
    out.push_back(n);
  return out;
}

Bytes Truncated(Bytes b, std::int64_t size) {
  b.resize(static_cast<std::size_t>(size));
  return b;
}

}  // namespace

// ---------------------------------------------------------------- chunk tree

TEST(ChunkTree, LinksChildrenAndTopLevelInOrderOfAddition) {
  TQmAVIFileReader r(nullptr);
  EXPECT_EQ(r.FindChild(kNoNode, FCC("RIFF")), kNoNode);  // empty tree
  EXPECT_EQ(r.AddNode(kNoNode, FCC("RIFF"), FCC("AVI "), 12, 100), 0u);
  EXPECT_EQ(r.GetNextSibling(0), kNoNode);
  EXPECT_EQ(r.GetFirstChild(0), kNoNode);
  const TNodeIndex odml = r.AddNode(0, FCC("LIST"), FCC("odml"), 24, 4);
  const TNodeIndex strl = r.AddNode(0, FCC("LIST"), FCC("strl"), 40, 4);
  const TNodeIndex junk = r.AddNode(0, FCC("JUNK"), 0, 56, 3);
  const TNodeIndex avix = r.AddNode(kNoNode, FCC("RIFF"), FCC("AVIX"), 200, 8);
  const TNodeIndex tail = r.AddNode(kNoNode, FCC("JUNK"), 0, 220, 8);

  EXPECT_EQ(Children(r, 0), (std::vector<TNodeIndex>{odml, strl, junk}));
  EXPECT_EQ(Children(r, kNoNode), (std::vector<TNodeIndex>{0, avix, tail}));
  EXPECT_EQ(r.GetFirstChild(strl), kNoNode);
  EXPECT_EQ(r.FindChild(strl, FCC("strh")), kNoNode);
  EXPECT_EQ(r.GetNodePos(junk), 56);
  EXPECT_EQ(r.GetNodeSize(junk), 3);
  EXPECT_EQ(r.GetNodeId(junk), FCC("JUNK"));

  EXPECT_EQ(r.FindChild(0, FCC("LIST")), odml);
  EXPECT_EQ(r.FindChildList(0, FCC("LIST"), FCC("strl")), strl);  // skips odml
  EXPECT_EQ(r.FindNextSibling(odml, FCC("JUNK")), junk);
  EXPECT_EQ(r.FindNextSibling(kNoNode, FCC("JUNK")), kNoNode);
  EXPECT_EQ(r.FindNextList(0, FCC("RIFF"), FCC("AVIX")), avix);
  EXPECT_EQ(r.FindNextList(avix, FCC("RIFF"), FCC("AVIX")), kNoNode);  // never itself
  EXPECT_EQ(r.FindChildList(kNoNode, FCC("RIFF"), FCC("AVIX")), avix);

  r.SetNodeFlags(junk, r.GetNodeFlags(junk) | nfDamaged);
  EXPECT_EQ(r.GetNodeFlags(junk), nfDamaged);
  EXPECT_EQ(r.GetNodeFlags(strl), 0u);
}

TEST(ChunkTree, StoresNodesInPagesOf512) {
  TQmAVIFileReader r(nullptr);
  for (TNodeIndex i = 0; i < 512; ++i) ASSERT_EQ(r.AddNode(i == 0 ? kNoNode : 0, 1, 0, i, 0), i);
  EXPECT_EQ(r.PageTableLength(), 512u);
  EXPECT_EQ(r.AllocatedPages(), 1u);
  EXPECT_EQ(r.AddNode(0, 2, 0, 512, 0), 512u);
  EXPECT_EQ(r.PageTableLength(), 512u);
  EXPECT_EQ(r.AllocatedPages(), 2u);
  EXPECT_EQ(r.GetNodePos(511), 511);
  EXPECT_EQ(r.GetNextSibling(511), 512u);
  EXPECT_EQ(r.FindChild(0, 2), 512u);

  // The page table grows by another 512 pages once the first 512 are full.
  for (TNodeIndex i = 513; i < 512 * 512; ++i) r.AddNode(0, 3, 0, i, 0);
  EXPECT_EQ(r.PageTableLength(), 1024u);
  EXPECT_EQ(r.AddNode(kNoNode, 4, 0, 0, 0), 512u * 512u);
  EXPECT_EQ(r.AllocatedPages(), 513u);
  EXPECT_EQ(r.GetNextSibling(0), 512u * 512u);

  r.Clear();
  EXPECT_EQ(r.NodeCount, 0u);
  EXPECT_EQ(r.PageTableLength(), 0u);
  EXPECT_EQ(r.AddNode(kNoNode, 5, 0, 0, 0), 0u);
  EXPECT_EQ(r.GetNextSibling(0), kNoNode);
}

TEST(ChunkTree, IndicesThatNameNoNodeReadAsEmptyAndAreNotWritten) {
  TQmAVIFileReader r(nullptr);
  r.AddNode(kNoNode, FCC("RIFF"), FCC("AVI "), 12, 100);
  for (TNodeIndex bad : {TNodeIndex{1}, TNodeIndex{600}, kNoNode}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(r.GetNodeId(bad), 0u);
    EXPECT_EQ(r.GetNodePos(bad), -1);
    EXPECT_EQ(r.GetNextSibling(bad), kNoNode);
    EXPECT_EQ(r.GetFirstChild(bad), kNoNode);
    if (bad != kNoNode) {
      EXPECT_EQ(r.FindChild(bad, FCC("RIFF")), kNoNode);
    }
    r.SetNodeFlags(bad, nfDamaged);
    EXPECT_EQ(r.GetNodeFlags(bad), 0u);
  }
  // A parent that does not exist yet makes a top-level node.
  EXPECT_EQ(r.AddNode(7, FCC("JUNK"), 0, 0, 0), 1u);
  EXPECT_EQ(r.GetNextSibling(0), 1u);
  EXPECT_EQ(r.GetFirstChild(0), kNoNode);
}

// ---------------------------------------------------------------- signature

TEST(AviSignature, StatusFromSizeAndFirstBytes) {
  struct Row {
    const char* name;
    Bytes bytes;
    std::int32_t status;
  };
  const Row rows[] = {
      {"11 bytes", Text(std::string("RIFF\x03\0\0\0AVI", 11)), -4},
      {"12 bytes", Text(std::string("RIFF\x04\0\0\0WAVE", 12)), 0},
      {"lower case", Text(std::string("riff\x04\0\0\0AVI ", 12)), -4},
      {"RIFX", Text(std::string("RIFX\x04\0\0\0AVI ", 12)), -4},
      {"empty", Bytes{}, -4},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    MemoryStream s(r.bytes);
    TQmAVIFileReader reader(&s);
    EXPECT_EQ(reader.Status, r.status);
    EXPECT_EQ(reader.FileSize, static_cast<std::int64_t>(r.bytes.size()));
    EXPECT_LE(s.Seek(0, 1), 4);
  }
}

TEST(AviSignature, UnreadableFileIsMinusThree) {
  TempDir dir;
  const std::string name = dir.File("x.avi");
  WriteBytes(name, MakeAvi().bytes);
  TFileStream64 writeOnly(name, fmOpenWrite | fmShareDenyNone);
  TQmAVIFileReader reader(&writeOnly);
  EXPECT_EQ(reader.Status, -3);

  TQmAVIFileReader none(nullptr);
  EXPECT_EQ(none.Status, -3);
  EXPECT_EQ(none.Scan(0), -2);
}

TEST(AviSignature, ScanDoesNotStartWithoutARiffHeader) {
  for (const std::string& bytes : {std::string("LIST\x04\0\0\0hdrl", 12), std::string("RIFF\x04\0\0", 7)}) {
    MemoryStream s(Text(bytes));
    TQmAVIFileReader reader(&s);
    EXPECT_EQ(reader.Scan(0), -2);
    EXPECT_EQ(reader.NodeCount, 0u);
  }
  Scanned ok(MakeAvi());
  EXPECT_EQ(ok.reader.Scan(1), -2);  // only the header scan exists
}

// ---------------------------------------------------------------- header scan

TEST(AviScan, WellFormedFileStopsOnEnteringMovi) {
  AviOptions o;
  o.audio = true;
  o.extraStrl = {Chunk("strn", Text("video\0")), Chunk("JUNK", 7)};
  const Image img = MakeAvi(o);
  Scanned sc(img);
  const TQmAVIFileReader& r = sc.reader;
  ASSERT_EQ(sc.result, 0);

  const TNodeIndex form = r.FindChild(kNoNode, FCC("RIFF"));
  EXPECT_EQ(form, 0u);
  const TNodeIndex hdrl = r.FindChildList(form, FCC("LIST"), FCC("hdrl"));
  const TNodeIndex movi = r.FindChildList(form, FCC("LIST"), FCC("movi"));
  ASSERT_NE(hdrl, kNoNode);
  ASSERT_NE(movi, kNoNode);
  EXPECT_EQ(r.GetNodePos(movi), img.DataPos("movi"));
  EXPECT_EQ(r.GetFirstChild(movi), kNoNode);         // not entered
  EXPECT_EQ(r.FindChild(form, FCC("idx1")), kNoNode);  // not reached
  EXPECT_EQ(Children(r, hdrl).size(), 3u);             // avih, two stream lists
  const TNodeIndex vstrl = r.FindChildList(hdrl, FCC("LIST"), FCC("strl"));
  EXPECT_EQ(Children(r, vstrl).size(), 4u);

  EXPECT_TRUE(r.HeadersRead);
  EXPECT_EQ(r.Integrity, 0);
  EXPECT_EQ(r.DamagedCount, 0);
  EXPECT_EQ(r.AudioStreamCount, 1);
  EXPECT_EQ(sc.reader.ChunkStream->StreamCount, 2);
  EXPECT_EQ(r.FileSize, img.Size());

  EXPECT_EQ(r.VideoStreamHeaderPos, img.DataPos("v.strh"));
  EXPECT_EQ(r.VideoStreamHeaderSize, 56);
  EXPECT_EQ(r.VideoFormatPos, img.DataPos("v.strf"));
  EXPECT_EQ(r.VideoFormatSize, 40);
  EXPECT_EQ(r.VideoHandler(), FCC("DX50"));
  EXPECT_EQ(r.VideoCompression(), FCC("DX50"));
  EXPECT_EQ(FourCCAt(img.bytes, r.VideoStreamHeaderPos + 4), r.VideoHandler());
  EXPECT_EQ(FourCCAt(img.bytes, r.VideoFormatPos + 16), r.VideoCompression());
  EXPECT_EQ(r.CodecFamily, cfOther);
  const Bytes avih = AvihData(2);
  EXPECT_TRUE(std::equal(avih.begin(), avih.end(), r.MainHeader.begin()));
  EXPECT_EQ(sc.stream.writes, 0);
}

TEST(AviScan, HeaderAreaOnlyIsReadFromAHugeSparseFile) {
  // A first form whose movi list is declared to cover 4.5 GiB of frames: the
  // scan must stop at the list and read nothing behind it.
  const std::uint32_t moviSize = 0xF0000000;
  Image head = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()).Label("avih"), VideoStrl("XVID", "XVID")}),
                                    List("movi", {}).Label("movi")})
                          .Sized(0xFFFFFF00)});
  Set32(head.bytes, static_cast<std::size_t>(head.HeaderPos("movi") + 4), moviSize);
  const std::int64_t total = std::int64_t{5} << 30;

  TempDir dir;
  const std::string name = dir.File("big.avi");
  WriteBytes(name, head.bytes);
  std::filesystem::resize_file(name, static_cast<std::uintmax_t>(total));

  CountingFileStream s(name, kModeAnalyse);
  s.trackFurthest = true;
  TQmAVIFileReader r(&s);
  ASSERT_EQ(r.Status, 0);
  EXPECT_EQ(r.FileSize, total);
  ASSERT_EQ(r.Scan(0), 0);
  EXPECT_TRUE(r.HeadersRead);
  EXPECT_EQ(r.VideoHandler(), FCC("XVID"));
  EXPECT_EQ(r.CodecFamily, cfOther);
  EXPECT_EQ(r.Integrity, 0);
  // Nothing behind the list but what one read-ahead of the walk brings in.
  EXPECT_LE(s.furthest, head.DataPos("movi") + TQMRIFFStream::kReadAheadSize);
  EXPECT_LT(s.bytes, 512 + TQMRIFFStream::kReadAheadSize);
}

namespace {


// The header area of a file as ffmpeg writes it: hdrl with a video and an
// audio stream and an odml list, INFO, JUNK padding, then the movi list.
Image HeaderArea(std::uint32_t formSize, std::uint32_t moviSize) {
  Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData(2)), VideoStrl("XVID", "XVID"), AudioStrl(),
                                                 List("odml", {Chunk("dmlh", 248)})}),
                                   List("INFO", {Chunk("ISFT", Text("Lavf60.16.100\0"))}), Chunk("JUNK", 1016),
                                   List("movi", {}).Label("movi")})
                         .Sized(formSize)});
  Set32(img.bytes, static_cast<std::size_t>(img.HeaderPos("movi") + 4), moviSize);
  return img;
}

struct AnalysisCost {
  int reads = 0;
  int seeks = 0;
  std::int64_t strh = 0, strf = 0;
};

// What the driver's analysis does: open for reading, make a reader, scan.
AnalysisCost Analyse(const std::string& name, std::int64_t readAhead) {
  CountingFileStream s(name, kModeAnalyse);
  TQmAVIFileReader r(&s);
  EXPECT_EQ(r.Status, 0);
  r.ChunkStream->ReadAhead = readAhead;
  EXPECT_EQ(r.Scan(0), 0);
  EXPECT_EQ(r.Integrity, 0);
  return {static_cast<int>(s.reads), static_cast<int>(s.seeks), r.VideoStreamHeaderPos, r.VideoFormatPos};
}

}  // namespace

// A clean file costs the same calls whether it holds 1 MiB or 5 GiB: they
// depend on its header chunks only.
TEST(AviScan, CleanAnalysisCostsTheSameCallsAtAnySize) {
  TempDir dir;
  const std::int64_t small = std::int64_t{1} << 20, big = std::int64_t{5} << 30;
  const Image smallHead = HeaderArea(static_cast<std::uint32_t>(small - 8), static_cast<std::uint32_t>(small - 2048));
  const Image bigHead = HeaderArea(0x40000000, 0x3FFFF000);  // a first form of 1 GiB, AVIX forms behind it
  ASSERT_EQ(smallHead.Size(), bigHead.Size());
  const std::string smallName = dir.File("small.avi"), bigName = dir.File("big.avi");
  WriteBytes(smallName, smallHead.bytes);
  std::filesystem::resize_file(smallName, static_cast<std::uintmax_t>(small));
  WriteBytes(bigName, bigHead.bytes);
  std::filesystem::resize_file(bigName, static_cast<std::uintmax_t>(big));

  for (std::int64_t readAhead : {TQMRIFFStream::kReadAheadSize, std::int64_t{0}}) {
    SCOPED_TRACE(readAhead);
    const AnalysisCost a = Analyse(smallName, readAhead), b = Analyse(bigName, readAhead);
    std::printf("analysis %s read-ahead: 1 MiB file %d reads + %d seeks, 5 GiB file %d reads + %d seeks\n",
                readAhead ? "with" : "without", a.reads, a.seeks, b.reads, b.seeks);
    EXPECT_EQ(a.reads, b.reads);
    EXPECT_EQ(a.seeks, b.seeks);
    EXPECT_EQ(a.strh, b.strh);
    EXPECT_EQ(a.strf, b.strf);
    EXPECT_EQ(a.strh, smallHead.DataPos("v.strh"));
  }
  // Fifteen header chunks: two calls per walker step, the three records
  // read by the reader, and the signature check.
  const AnalysisCost buffered = Analyse(bigName, TQMRIFFStream::kReadAheadSize);
  EXPECT_LE(buffered.reads + buffered.seeks, 80);
  EXPECT_LE(buffered.reads, 6);
}

TEST(AviScan, StreamListsInAnyOrder) {
  {
    SCOPED_TRACE("audio first");
    AviOptions o;
    o.audio = o.audioFirst = true;
    o.handler = "div3";
    o.compression = "DIV3";
    const Image img = MakeAvi(o);
    Scanned sc(img);
    EXPECT_EQ(sc.reader.AudioStreamCount, 1);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, img.DataPos("v.strh"));
    EXPECT_EQ(sc.reader.VideoFormatPos, img.DataPos("v.strf"));
    EXPECT_EQ(sc.reader.VideoHandler(), FCC("div3"));
    EXPECT_EQ(sc.reader.VideoCompression(), FCC("DIV3"));
    EXPECT_EQ(sc.reader.CodecFamily, cfMsMpeg4);
  }
  {
    SCOPED_TRACE("two video streams: the last wins");
    const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData(2)), VideoStrl("div3", "DIV3", 56, 40, "v1"),
                                                         VideoStrl("DIVX", "DX50", 64, 40, "v2")}),
                                           List("movi", {})})});
    Scanned sc(img);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, img.DataPos("v2.strh"));
    EXPECT_EQ(sc.reader.VideoStreamHeaderSize, 64);
    EXPECT_EQ(sc.reader.VideoFormatPos, img.DataPos("v2.strf"));
    EXPECT_EQ(sc.reader.VideoHandler(), FCC("DIVX"));
    EXPECT_EQ(sc.reader.VideoCompression(), FCC("DX50"));
    EXPECT_EQ(sc.reader.CodecFamily, cfIsoMpeg4);
  }
  {
    // Handler and format must come from one stream, or the pair patched
    // later would belong to two.
    SCOPED_TRACE("last video stream without a format");
    const Image img =
        Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData(2)), VideoStrl("div3", "DIV3", 56, 40, "v1"),
                                           List("strl", {Chunk("strh", StrhData("vids", "xvid")).Label("v2.strh")})}),
                             List("movi", {})})});
    Scanned sc(img);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, img.DataPos("v2.strh"));
    EXPECT_EQ(sc.reader.VideoHandler(), FCC("xvid"));
    EXPECT_EQ(sc.reader.VideoFormatPos, 0);
    EXPECT_EQ(sc.reader.VideoFormatSize, 0);
    EXPECT_EQ(sc.reader.VideoCompression(), 0u);
  }
  {
    SCOPED_TRACE("a format without a header in its list");
    const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), VideoStrl("div3", "DIV3"),
                                                         List("strl", {Chunk("strf", StrfVideoData("XVID"))})}),
                                           List("movi", {})})});
    Scanned sc(img);
    EXPECT_EQ(sc.reader.VideoFormatPos, img.DataPos("v.strf"));
    EXPECT_EQ(sc.reader.VideoCompression(), FCC("DIV3"));
  }
}

TEST(AviScan, RecordsShorterOrLongerThanTheCopies) {
  {
    SCOPED_TRACE("56-byte strh, 1064-byte strf");
    AviOptions o;
    o.strfSize = 1064;
    const Image img = MakeAvi(o);
    Scanned sc(img);
    const Bytes strh = StrhData("vids", "DX50", 56);
    EXPECT_TRUE(std::equal(strh.begin(), strh.end(), sc.reader.VideoStreamHeader.begin()));
    for (std::size_t i = 56; i < 64; ++i) EXPECT_EQ(sc.reader.VideoStreamHeader[i], 0) << i;
    const Bytes strf = StrfVideoData("DX50", 40);
    EXPECT_TRUE(std::equal(strf.begin(), strf.end(), sc.reader.VideoFormat.begin()));
    EXPECT_EQ(sc.reader.VideoFormatPos, img.DataPos("v.strf"));
    EXPECT_EQ(sc.reader.VideoFormatSize, 1064);
  }
  {
    SCOPED_TRACE("6-byte strh: half a handler");
    AviOptions o;
    o.strhSize = 6;
    o.handler = "abcd";
    Scanned sc(MakeAvi(o));
    EXPECT_EQ(sc.reader.VideoStreamHeaderSize, 6);
    EXPECT_EQ(sc.reader.VideoHandler(), MakeFourCC("ab\0\0"));
  }
}

TEST(AviScan, CodecFamilyFromTheExactHandler) {
  const std::pair<const char*, std::uint8_t> rows[] = {
      {"div3", cfMsMpeg4}, {"mp43", cfMsMpeg4},  {"ap41", cfMsMpeg4}, {"mpg4", cfMsMpeg4},
      {"DIVX", cfIsoMpeg4}, {"divx", cfIsoMpeg4}, {"xvid", cfIsoMpeg4}, {"3iv2", cfIsoMpeg4},
      {"DIV3", cfOther},   {"MP43", cfOther},    {"DX50", cfOther},   {"XVID", cfOther},
  };
  for (const auto& [handler, family] : rows) {
    SCOPED_TRACE(handler);
    AviOptions o;
    o.handler = handler;
    Scanned sc(MakeAvi(o));
    EXPECT_EQ(sc.reader.CodecFamily, family);
  }
}

TEST(AviScan, OtherRiffFormsGiveNoHeaders) {
  {
    SCOPED_TRACE("WAVE");
    Scanned sc(Build({Riff("WAVE", {Chunk("wfmt", StrfAudioData()), Chunk("data", 100)})}));
    EXPECT_EQ(sc.result, 0);
    EXPECT_EQ(sc.reader.Integrity, 0);
    EXPECT_FALSE(sc.reader.HeadersRead);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, 0);
    EXPECT_EQ(sc.reader.VideoFormatPos, 0);
    EXPECT_EQ(sc.reader.NodeCount, 3u);
  }
  {
    SCOPED_TRACE("AVI without hdrl");
    Scanned sc(Build({Riff("AVI ", {List("INFO", {Chunk("ISFT", 6)}), List("movi", {})})}));
    EXPECT_FALSE(sc.reader.HeadersRead);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, 0);
  }
}

// The legacy index goes to the last top-level node, whichever form it is.
TEST(AviScan, LegacyIndexJoinsTheLastTopLevelNode) {
  {
    SCOPED_TRACE("in the AVI form, no movi");
    const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), VideoStrl("xvid", "XVID")}),
                                           Chunk("idx1", 32).Label("idx1")})});
    Scanned sc(img);
    const TNodeIndex idx1 = sc.reader.FindChild(0, FCC("idx1"));
    ASSERT_NE(idx1, kNoNode);
    EXPECT_EQ(sc.reader.GetNodePos(idx1), img.DataPos("idx1"));
    EXPECT_TRUE(sc.reader.HeadersRead);
    EXPECT_EQ(sc.reader.VideoHandler(), FCC("xvid"));
  }
  {
    SCOPED_TRACE("no AVI form: a chunk after the form is the last top-level node");
    const Image img = Build({Riff("WAVE", {Chunk("wfmt", 16)}), Chunk("JUNK", 8), Chunk("idx1", 16)});
    Scanned sc(img);
    ASSERT_EQ(Children(sc.reader, kNoNode).size(), 2u);
    const TNodeIndex junk = sc.reader.FindChild(kNoNode, FCC("JUNK"));
    ASSERT_NE(junk, kNoNode);
    EXPECT_EQ(sc.reader.GetNodeId(sc.reader.GetFirstChild(junk)), FCC("idx1"));
  }
  {
    SCOPED_TRACE("no AVI form, index inside it");
    Scanned sc(Build({Riff("WAVE", {Chunk("wfmt", 16), Chunk("idx1", 16)})}));
    EXPECT_NE(sc.reader.FindChild(0, FCC("idx1")), kNoNode);
    EXPECT_EQ(sc.reader.FindChild(0, FCC("idx1")), sc.reader.NodeCount - 1);
  }
}

TEST(AviScan, FurtherFormEndsTheWalk) {
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), VideoStrl("xvid", "XVID")})}),
                           Riff("AVIX", {List("movi", {Chunk("00dc", 8)})}), Riff("AVIX", {})});
  Scanned sc(img);
  const TNodeIndex avix = sc.reader.FindNextList(0, FCC("RIFF"), FCC("AVIX"));
  ASSERT_NE(avix, kNoNode);
  EXPECT_EQ(sc.reader.GetFirstChild(avix), kNoNode);
  EXPECT_EQ(sc.reader.FindNextList(avix, FCC("RIFF"), FCC("AVIX")), kNoNode);
  EXPECT_TRUE(sc.reader.HeadersRead);
  EXPECT_EQ(sc.reader.Integrity, 0);
}

// ---------------------------------------------------------------- damaged files

TEST(AviDamage, TruncatedFiles) {
  const Image img = MakeAvi();
  {
    SCOPED_TRACE("cut inside the video format");
    const std::int64_t cut = img.DataPos("v.strf") + 20;
    Scanned sc(Truncated(img.bytes, cut));
    const TQmAVIFileReader& r = sc.reader;
    EXPECT_EQ(r.Integrity, -2);
    const TNodeIndex strl = r.FindChildList(r.FindChildList(0, FCC("LIST"), FCC("hdrl")), FCC("LIST"), FCC("strl"));
    const TNodeIndex strf = r.FindChild(strl, FCC("strf"));
    ASSERT_NE(strf, kNoNode);
    EXPECT_EQ(r.GetNodeFlags(strf), nfDamaged);
    EXPECT_EQ(r.DamagedCount, 1);
    EXPECT_TRUE(r.HeadersRead);
    EXPECT_EQ(r.VideoCompression(), FCC("DX50"));    // offset 16 is still there
    EXPECT_EQ(r.VideoFormat[20], 0);                 // past the end: cleared
    EXPECT_EQ(r.VideoFormatPos, img.DataPos("v.strf"));
  }
  {
    SCOPED_TRACE("cut inside movi: the form runs past the end");
    Scanned sc(Truncated(img.bytes, img.DataPos("movi") + 30));
    EXPECT_EQ(sc.reader.Integrity, -2);
    EXPECT_EQ(sc.reader.DamagedCount, 0);
    EXPECT_TRUE(sc.reader.HeadersRead);
    EXPECT_EQ(sc.reader.VideoHandler(), FCC("DX50"));
  }
  {
    SCOPED_TRACE("cut inside a header");
    Scanned sc(Truncated(img.bytes, img.HeaderPos("v.strh") + 5));
    EXPECT_EQ(sc.result, 0);
    EXPECT_EQ(sc.reader.Integrity, -2);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, 0);
  }
}

TEST(AviDamage, ResynchronisationMarksTheChunkBeforeTheGap) {
  // Codes without letters keep the scan from taking words inside the
  // records for chunk ids, so only the gap itself shows.
  const std::string code("\x01\x02\x03\x04");
  const Bytes gap{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()).Label("avih"), Raw(gap),
                                                       Chunk("JUNK", 8), VideoStrl(code, code)}),
                                         List("movi", {Chunk("00dc", 10)})})});
  Scanned sc(img);
  const TQmAVIFileReader& r = sc.reader;
  EXPECT_EQ(r.Integrity, -1);
  EXPECT_EQ(r.DamagedCount, 1);
  const TNodeIndex hdrl = r.FindChildList(0, FCC("LIST"), FCC("hdrl"));
  EXPECT_EQ(r.GetNodeFlags(r.FindChild(hdrl, FCC("avih"))), nfDamaged);
  EXPECT_EQ(r.GetNodeFlags(r.FindChild(hdrl, FCC("JUNK"))), 0u);
  EXPECT_TRUE(r.HeadersRead);
  EXPECT_EQ(r.VideoStreamHeaderPos, img.DataPos("v.strh"));
  EXPECT_EQ(r.VideoFormatPos, img.DataPos("v.strf"));
  EXPECT_EQ(r.VideoHandler(), FCC(code));
}

// After a resynchronisation the lists that follow keep their places in the
// tree, and the walk still ends on entering "movi" without scanning the
// frames behind it for the next chunk.
TEST(AviDamage, DamagedHeaderAreaStillStopsAtMovi) {
  const std::string code("\x01\x01\x01\x01");
  const Image img =
      Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), Raw(Bytes{1, 2, 3, 4, 5, 6}), AudioStrl(),
                                         VideoStrl(code, code)}),
                           List("movi", {Chunk("00dc", 4 << 20)}).Label("movi")})});
  Scanned sc(img);
  const TQmAVIFileReader& r = sc.reader;
  EXPECT_EQ(r.Integrity, -1);
  const TNodeIndex hdrl = r.FindChildList(0, FCC("LIST"), FCC("hdrl"));
  const TNodeIndex audio = r.FindChildList(hdrl, FCC("LIST"), FCC("strl"));
  EXPECT_NE(r.FindNextList(audio, FCC("LIST"), FCC("strl")), kNoNode);
  EXPECT_NE(r.FindChildList(0, FCC("LIST"), FCC("movi")), kNoNode);
  EXPECT_EQ(r.AudioStreamCount, 1);
  EXPECT_EQ(r.VideoStreamHeaderPos, img.DataPos("v.strh"));
  EXPECT_EQ(r.VideoFormatPos, img.DataPos("v.strf"));
  // The 4 MiB frame is not scanned: at most one read-ahead past the list.
  EXPECT_LT(sc.stream.bytesRead, 4096 + TQMRIFFStream::kReadAheadSize);
}

TEST(AviDamage, FormLongerThanTheFileStillGivesHeaders) {
  Image img = MakeAvi();
  Set32(img.bytes, 4, 0x7FFFFFF0);
  Scanned sc(img);
  EXPECT_EQ(sc.reader.Integrity, -2);
  EXPECT_EQ(sc.reader.VideoStreamHeaderPos, img.DataPos("v.strh"));
  EXPECT_EQ(sc.reader.VideoFormatPos, img.DataPos("v.strf"));
}

TEST(AviDamage, ScanningAgainGivesTheSameResult) {
  Image damaged = MakeAvi();
  // A form size beyond the file and a gap before "hdrl": the first scan
  // ends in scan mode, which must not carry over into the next.
  damaged.bytes.insert(damaged.bytes.begin() + 12, {0x01, 0x02});
  Set32(damaged.bytes, 4, 0x7FFFFFF0);
  for (const Bytes& bytes : {MakeAvi().bytes, damaged.bytes}) {
    SCOPED_TRACE(bytes.size());
    Scanned sc(bytes);
    ASSERT_EQ(sc.result, 0);
    const std::uint32_t nodes = sc.reader.NodeCount;
    const std::int64_t pos = sc.reader.VideoStreamHeaderPos;
    const std::int32_t integrity = sc.reader.Integrity;
    EXPECT_NE(pos, 0);
    sc.stream.Seek(100, 0);
    ASSERT_EQ(sc.reader.Scan(0), 0);
    EXPECT_EQ(sc.reader.NodeCount, nodes);
    EXPECT_EQ(sc.reader.VideoStreamHeaderPos, pos);
    EXPECT_EQ(sc.reader.Integrity, integrity);
    EXPECT_TRUE(sc.reader.HeadersRead);
  }
}
