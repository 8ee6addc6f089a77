// The walker reads ahead; the walk it replaced made one stream call per
// step. Both must find the same things and leave the stream at the same
// place after every call, whatever the file and whatever the owner does with
// the stream between calls. Checked on thousands of generated and damaged
// files, with read-ahead sizes from one byte up so that every buffer edge is
// met, against the old walker (ReferenceRiffStream.h) and, for the whole
// reader, against the walker with its read-ahead off.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ReferenceRiffStream.h"
#include "RiffBuilder.h"
#include "TestFiles.h"
#include "avi/QmAVIFile.h"

using namespace riff;

namespace {

using Rng = std::mt19937;

std::size_t Pick(Rng& rng, std::size_t n) {
  return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
}
bool Chance(Rng& rng, int percent) { return static_cast<int>(Pick(rng, 100)) < percent; }

const std::vector<std::string> kIds = {"RIFF", "LIST", "idx1", "ix00", "ix01", "ix07", "00dc", "01wb", "00db",
                                       "02pc", "JUNK", "avih", "strh", "strf", "strn", "dmlh", "abcd", "rec "};
const std::vector<std::string> kListTypes = {"hdrl", "strl", "movi", "rec ", "odml", "INFO", "PRMI", "abcd", "AVI "};

// Garbage of three kinds: random bytes, bytes that look like chunk ids
// (the scan stops at many candidates), and zeros.
Bytes Garbage(Rng& rng, std::size_t n) {
  Bytes g(n);
  const std::string idBytes = "RIFFLISTmovirec idx1ix0001dcwbJUNKavih";
  const std::size_t kind = Pick(rng, 3);
  for (auto& x : g)
    x = kind == 0 ? static_cast<std::uint8_t>(Pick(rng, 256))
        : kind == 1 ? static_cast<std::uint8_t>(idBytes[Pick(rng, idBytes.size())])
                    : 0;
  return g;
}

Piece IndexChunk(Rng& rng, const std::string& id) {
  Bytes ix(32, 0);
  ix[0] = 2;  // wLongsPerEntry
  PutFourCC(ix, "00dc");
  for (std::size_t i = 0, n = Pick(rng, 6); i < n; ++i) {
    Put32(ix, static_cast<std::uint32_t>(Pick(rng, 4000)));
    Put32(ix, static_cast<std::uint32_t>(Pick(rng, 300)));
  }
  return Chunk(id, ix);
}

std::vector<Piece> MoviContent(Rng& rng, int streams) {
  std::vector<Piece> movi;
  for (std::size_t i = 0, n = Pick(rng, 12); i < n; ++i) {
    std::string s(1, '0');
    s += std::to_string(Pick(rng, static_cast<std::size_t>(streams) + 1));
    switch (Pick(rng, 6)) {
      case 0: movi.push_back(List("rec ", {Chunk(s + "dc", Pick(rng, 40), 0x30), Chunk("01wb", Pick(rng, 9))})); break;
      case 1: movi.push_back(IndexChunk(rng, "ix" + s)); break;
      case 2: movi.push_back(Chunk("JUNK", Pick(rng, 20))); break;
      default: movi.push_back(Chunk(s + (Chance(rng, 70) ? "dc" : "wb"), Pick(rng, 300), static_cast<std::uint8_t>(Pick(rng, 256))));
    }
  }
  return movi;
}

// An AVI with a random choice of what real files hold: audio and video
// stream lists in either order, odml, INFO and unknown lists, JUNK, a movi
// list with rec lists and stream indexes, idx1, a further AVIX form.
Bytes GeneratedAvi(Rng& rng) {
  std::vector<Piece> hdrl{Chunk("avih", AvihData(2))};
  const int streams = 1 + static_cast<int>(Pick(rng, 3));
  for (int i = 0; i < streams; ++i) {
    std::vector<Piece> extra;
    if (Chance(rng, 30)) extra.push_back(Chunk("strn", Text("name")));
    if (Chance(rng, 20)) extra.push_back(IndexChunk(rng, "ix0" + std::to_string(i)));
    if (Chance(rng, 20)) extra.push_back(Chunk("JUNK", Pick(rng, 30)));
    if (Chance(rng, 60))
      hdrl.push_back(VideoStrl(Chance(rng, 50) ? "div3" : "XVID", "DIV3", Chance(rng, 20) ? 64 : 56,
                               Chance(rng, 20) ? 1064 : 40, "v" + std::to_string(i), std::move(extra)));
    else
      hdrl.push_back(AudioStrl("a" + std::to_string(i)));
  }
  if (Chance(rng, 30)) hdrl.push_back(List("odml", {Chunk("dmlh", 248)}));
  std::vector<Piece> form{List("hdrl", std::move(hdrl))};
  if (Chance(rng, 30)) form.push_back(List("INFO", {Chunk("ISFT", Text("Lavf\0"))}));
  if (Chance(rng, 20)) form.push_back(List(kListTypes[Pick(rng, kListTypes.size())], {Chunk("abcd", Pick(rng, 9))}));
  if (Chance(rng, 40)) form.push_back(Chunk("JUNK", Pick(rng, 200)));
  form.push_back(List("movi", MoviContent(rng, streams)));
  if (Chance(rng, 70)) {
    Bytes idx;
    for (std::size_t i = 0, n = Pick(rng, 8); i < n; ++i)
      PutIndexEntry(idx, Chance(rng, 80) ? "00dc" : "01wb", static_cast<std::uint32_t>(Pick(rng, 0x20)),
                    static_cast<std::uint32_t>(Pick(rng, 2000)), static_cast<std::uint32_t>(Pick(rng, 300)));
    form.push_back(Chunk("idx1", idx));
  }
  std::vector<Piece> top{Riff("AVI ", std::move(form))};
  if (Chance(rng, 20)) top.push_back(Riff("AVIX", {List("movi", MoviContent(rng, streams))}));
  return Build(top).bytes;
}

// Damage: lying sizes, ids out of place, garbage runs (some longer than a
// read-ahead), slices lost or repeated, truncation, flipped bytes.
Bytes Damaged(Bytes b, Rng& rng) {
  for (std::size_t m = 0, count = Pick(rng, 4); m < count && !b.empty(); ++m) {
    const std::size_t at = Pick(rng, b.size());
    switch (Pick(rng, 7)) {
      case 0:
        for (std::size_t i = 0, n = 1 + Pick(rng, 6); i < n; ++i) b[Pick(rng, b.size())] ^= static_cast<std::uint8_t>(1 + Pick(rng, 255));
        break;
      case 1: {  // a size that lies; header fields are at even offsets
        static const std::uint32_t sizes[] = {0, 1, 3, 4, 5, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xA00000, 0xA00001};
        if (b.size() >= 8)
          Set32(b, (at / 2 * 2) % (b.size() - 4),
                Chance(rng, 50) ? sizes[Pick(rng, std::size(sizes))] : static_cast<std::uint32_t>(Pick(rng, b.size() + 64)));
        break;
      }
      case 2:
        if (b.size() >= 4) {
          const std::string& id = Chance(rng, 50) ? kIds[Pick(rng, kIds.size())] : kListTypes[Pick(rng, kListTypes.size())];
          std::copy(id.begin(), id.end(), b.begin() + static_cast<std::ptrdiff_t>(std::min(at, b.size() - 4)));
        }
        break;
      case 3: {
        const Bytes g = Garbage(rng, Chance(rng, 5) ? 70000 + Pick(rng, 70000) : 1 + Pick(rng, 400));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), g.begin(), g.end());
        break;
      }
      case 4:
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + Pick(rng, 80))));
        break;
      case 5: {
        const Bytes slice(b.begin() + static_cast<std::ptrdiff_t>(at),
                          b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + Pick(rng, 80))));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(Pick(rng, b.size() + 1)), slice.begin(), slice.end());
        break;
      }
      case 6:
        b.resize(12 + Pick(rng, b.size()));
        break;
    }
  }
  return b;
}

Bytes TestFile(Rng& rng) {
  Bytes b = GeneratedAvi(rng);
  return Chance(rng, 85) ? Damaged(std::move(b), rng) : b;
}

// Small sizes put a buffer edge inside almost every header; the default is
// what the program uses.
std::int64_t ReadAheadSize(Rng& rng) {
  static const std::int64_t sizes[] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 64, 500, TQMRIFFStream::kReadAheadSize};
  return sizes[Pick(rng, std::size(sizes))];
}

std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < b.size() && i < 200; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
  }
  return b.size() > 200 ? s + "... (" + std::to_string(b.size()) + " bytes)" : s;
}

// Everything a walker shows, and where its stream is.
template <class Walker>
std::string WalkerState(const Walker& w, TStream64& s) {
  std::string out = FourCCText(w.ChunkId) + " size " + std::to_string(w.ChunkSize) + " form " + FourCCText(w.FormType) +
                    " eoc " + std::to_string(w.EndOfChunk) + " eof " + std::to_string(w.EndOfFile) + " valid " +
                    std::to_string(w.HeaderValid) + " resync " + std::to_string(w.Resync) + " data " +
                    std::to_string(w.DataPos) + " streams " + std::to_string(w.StreamCount) + " listEnd " +
                    std::to_string(w.ListEnd) + " depth " + std::to_string(w.Depth) + " tags " +
                    std::to_string(w.Tags.size()) + " at " + std::to_string(s.Seek(0, 1));
  for (std::uint32_t i = 0; i < w.Depth && i < w.Tags.size(); ++i)
    out += " [" + FourCCText(w.Tags[i].Id) + " " + FourCCText(w.Tags[i].FormType) + " " +
           std::to_string(w.Tags[i].DataPos) + " " + std::to_string(w.Tags[i].Size) + "]";
  return out;
}

// The old walker and the new one over two copies of a file, driven by the
// same random calls: mostly in the reader's order, mixed with calls out of
// order and with what an owner may do between calls (read a record and seek
// back, seek elsewhere, read on, change the stream count).
void CompareWalks(const Bytes& file, std::int64_t readAhead, Rng& rng) {
  MemoryStream oldStream(file), newStream(file);
  reference::ReferenceRiffStream oldWalker(&oldStream);
  TQMRIFFStream newWalker(&newStream);
  newWalker.ReadAhead = readAhead;
  const auto size = static_cast<std::int64_t>(file.size());
  for (int step = 0; step < 300; ++step) {
    std::string oldResult, newResult, what;
    const std::size_t op = Pick(rng, 100);
    if (op < 75) {
      what = "walk";
      const bool ascend = oldWalker.EndOfChunk || (oldWalker.HeaderValid && oldWalker.Depth > 0 &&
                                                    oldWalker.ChunkId != FCC("RIFF") && oldWalker.ChunkId != FCC("LIST") &&
                                                    oldWalker.ChunkId != TQMRIFFStream::kTopLevel && Chance(rng, 90));
      if (ascend) {
        oldResult = std::to_string(oldWalker.Ascend());
        newResult = std::to_string(newWalker.Ascend());
      } else {
        oldResult = std::to_string(oldWalker.Descend());
        newResult = std::to_string(newWalker.Descend());
      }
    } else if (op < 79) {
      what = "ascend";
      oldResult = std::to_string(oldWalker.Ascend());
      newResult = std::to_string(newWalker.Ascend());
    } else if (op < 83) {
      what = "find";
      oldResult = std::to_string(oldWalker.FindNextChunk());
      newResult = std::to_string(newWalker.FindNextChunk());
    } else if (op < 86) {
      what = "valid";
      const FourCC id = FCC(kIds[Pick(rng, kIds.size())]);
      oldResult = std::to_string(oldWalker.IsValidChunkId(id));
      newResult = std::to_string(newWalker.IsValidChunkId(id));
    } else if (op < 92) {
      what = "owner reads a record";
      const auto at = static_cast<std::int64_t>(Pick(rng, file.size() + 8));
      const auto n = static_cast<std::int64_t>(1 + Pick(rng, 64));
      for (auto* s : {&oldStream, &newStream}) {
        const std::int64_t saved = s->Seek(0, 1);
        std::uint8_t record[64];
        s->Seek(at, 0);
        (s == &oldStream ? oldResult : newResult) = std::to_string(s->Read(record, n));
        s->Seek(saved, 0);
      }
    } else if (op < 95) {
      what = "owner seeks";
      const auto to = static_cast<std::int64_t>(Pick(rng, static_cast<std::size_t>(size) + 20));
      oldStream.Seek(to, 0);
      newStream.Seek(to, 0);
    } else if (op < 97) {
      what = "owner reads on";
      std::uint8_t b[16];
      const auto n = static_cast<std::int64_t>(1 + Pick(rng, 16));
      oldResult = std::to_string(oldStream.Read(b, n));
      newResult = std::to_string(newStream.Read(b, n));
    } else {
      what = "stream count";
      oldWalker.StreamCount = newWalker.StreamCount = static_cast<std::int64_t>(Pick(rng, 4));
    }
    SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
    ASSERT_EQ(newResult, oldResult);
    ASSERT_EQ(WalkerState(newWalker, newStream), WalkerState(oldWalker, oldStream));
  }
  EXPECT_EQ(newStream.writes, 0);
}

std::string NodeText(const TChunkNode& n) {
  return FourCCText(n.Id) + " " + FourCCText(n.FormType) + " pos " + std::to_string(n.DataPos) + " size " +
         std::to_string(n.Size) + " next " + std::to_string(n.NextSibling) + " first " + std::to_string(n.FirstChild) +
         " last " + std::to_string(n.LastChild) + " children " + std::to_string(n.ChildCount) + " flags " +
         std::to_string(n.Flags);
}

template <std::size_t N>
std::string BytesText(const std::array<std::uint8_t, N>& a) {
  return Hex(Bytes(a.begin(), a.end()));
}

// The whole outcome of a scan: results, header copies, every tree node,
// the walker's state and the stream's position.
std::vector<std::string> Outcome(TQmAVIFileReader& r, std::int32_t result, TStream64& s) {
  std::vector<std::string> out{
      "result " + std::to_string(result) + " status " + std::to_string(r.Status) + " integrity " +
          std::to_string(r.Integrity) + " size " + std::to_string(r.FileSize) + " damaged " +
          std::to_string(r.DamagedCount) + " nodes " + std::to_string(r.NodeCount) + " headers " +
          std::to_string(r.HeadersRead) + " audio " + std::to_string(r.AudioStreamCount) + " family " +
          std::to_string(r.CodecFamily),
      "avih " + BytesText(r.MainHeader),
      "strh " + BytesText(r.VideoStreamHeader) + " @" + std::to_string(r.VideoStreamHeaderPos) + "+" +
          std::to_string(r.VideoStreamHeaderSize),
      "strf " + BytesText(r.VideoFormat) + " @" + std::to_string(r.VideoFormatPos) + "+" + std::to_string(r.VideoFormatSize),
      r.ChunkStream ? WalkerState(*r.ChunkStream, s) : "no walker"};
  for (TNodeIndex i = 0; i < r.NodeCount; ++i) out.push_back(std::to_string(i) + ": " + NodeText(r.GetNode(i)));
  return out;
}

// Two readers over two copies of the file, one walking with read-ahead and
// one without; then both scan again from wherever the owner left the stream.
void CompareScans(TStream64& oldStream, TStream64& newStream, std::int64_t readAhead, std::int64_t rescanFrom) {
  TQmAVIFileReader oldReader(&oldStream), newReader(&newStream);
  ASSERT_EQ(newReader.Status, oldReader.Status);
  if (!oldReader.ChunkStream) return;
  oldReader.ChunkStream->ReadAhead = 0;
  newReader.ChunkStream->ReadAhead = readAhead;
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first scan" : "second scan");
    const std::int32_t oldResult = oldReader.Scan(0);
    const std::int32_t newResult = newReader.Scan(0);
    ASSERT_EQ(Outcome(newReader, newResult, newStream), Outcome(oldReader, oldResult, oldStream));
    oldStream.Seek(rescanFrom, 0);
    newStream.Seek(rescanFrom, 0);
  }
}

}  // namespace

TEST(ReadAheadEquivalence, WalkerCallsMatchTheUnbufferedWalk) {
  Rng rng(6001);
  for (int i = 0; i < 3000; ++i) {
    const Bytes file = TestFile(rng);
    const std::int64_t readAhead = ReadAheadSize(rng);
    SCOPED_TRACE("case " + std::to_string(i) + " read-ahead " + std::to_string(readAhead) + ": " + Hex(file));
    CompareWalks(file, readAhead, rng);
    if (HasFailure()) break;  // one reproducible case is enough
  }
}

// With its read-ahead off, the walker is the old walker call for call.
TEST(ReadAheadEquivalence, WalkerWithoutReadAheadIsTheOldWalker) {
  Rng rng(6002);
  for (int i = 0; i < 500; ++i) {
    const Bytes file = TestFile(rng);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Hex(file));
    MemoryStream oldStream(file), newStream(file);
    reference::ReferenceRiffStream oldWalker(&oldStream);
    TQMRIFFStream newWalker(&newStream);
    newWalker.ReadAhead = 0;
    for (int step = 0; step < 200 && !oldWalker.EndOfFile; ++step) {
      if (oldWalker.EndOfChunk || (oldWalker.HeaderValid && oldWalker.ChunkId != FCC("RIFF") && oldWalker.ChunkId != FCC("LIST")))
        ASSERT_EQ(newWalker.Ascend(), oldWalker.Ascend());
      else
        ASSERT_EQ(newWalker.Descend(), oldWalker.Descend());
      ASSERT_EQ(WalkerState(newWalker, newStream), WalkerState(oldWalker, oldStream));
    }
    // The same calls on the stream, in the same order.
    EXPECT_EQ(newStream.operations, oldStream.operations);
    EXPECT_EQ(newStream.bytesRead, oldStream.bytesRead);
    if (HasFailure()) break;
  }
}

TEST(ReadAheadEquivalence, ScansMatchTheUnbufferedScan) {
  Rng rng(6003);
  for (int i = 0; i < 3000; ++i) {
    const Bytes file = TestFile(rng);
    const std::int64_t readAhead = ReadAheadSize(rng);
    const auto rescanFrom = static_cast<std::int64_t>(Pick(rng, file.size() + 1));
    SCOPED_TRACE("case " + std::to_string(i) + " read-ahead " + std::to_string(readAhead) + ": " + Hex(file));
    MemoryStream oldStream(file), newStream(file);
    CompareScans(oldStream, newStream, readAhead, rescanFrom);
    EXPECT_EQ(newStream.writes, 0);
    if (HasFailure()) break;
  }
}

// The same through the file layer, where reads of a whole buffer meet the
// real end of the file.
TEST(ReadAheadEquivalence, ScansOfFilesOnDiskMatch) {
  Rng rng(6004);
  TempDir dir;
  const std::string name = dir.File("e.avi");
  for (int i = 0; i < 120; ++i) {
    const Bytes file = TestFile(rng);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Hex(file));
    WriteBytes(name, file);
    {
      TFileStream64 oldStream(name, kModeAnalyse), newStream(name, kModeAnalyse);
      CompareScans(oldStream, newStream, i % 2 ? TQMRIFFStream::kReadAheadSize : ReadAheadSize(rng),
                   static_cast<std::int64_t>(Pick(rng, file.size() + 1)));
    }
    EXPECT_TRUE(ReadBytes(name) == file);
    if (HasFailure()) break;
  }
}
