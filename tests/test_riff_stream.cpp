// The RIFF chunk walker: normal walks, id plausibility, resynchronisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RiffBuilder.h"
#include "avi/QmRIFFStream.h"

using namespace riff;

namespace {

bool IsContainer(FourCC id) { return id == FCC("RIFF") || id == FCC("LIST"); }

// "LIST:hdrl@24" for a container, "avih@36+56" for a chunk; "*" marks a
// header found while resynchronising.
std::string Describe(const TQMRIFFStream& rs) {
  std::string s = FourCCText(rs.ChunkId);
  if (IsContainer(rs.ChunkId)) s.append(":").append(FourCCText(rs.FormType));
  s.append("@").append(std::to_string(rs.DataPos));
  if (!IsContainer(rs.ChunkId)) s.append("+").append(std::to_string(rs.ChunkSize));
  if (rs.Resync) s.append("*");
  return s;
}

// Walks a whole file in the order the AVI reader uses: containers stay open,
// every other chunk is left at once.
struct Walk {
  explicit Walk(Bytes bytes, std::int64_t streamCount = 0) : stream(std::move(bytes)), rs(&stream) {
    rs.StreamCount = streamCount;
  }

  std::vector<std::string> Run() {
    std::vector<std::string> seen;
    stream.Seek(0, 0);
    int passes = 0;
    while (!rs.EndOfFile) {
      if (++passes > 100000) {
        ADD_FAILURE() << "walk does not end";
        break;
      }
      if (rs.EndOfChunk) {
        rs.Ascend();
        continue;
      }
      if (!rs.Descend()) continue;
      seen.push_back(Describe(rs));
      if (!IsContainer(rs.ChunkId)) rs.Ascend();
    }
    return seen;
  }

  MemoryStream stream;
  TQMRIFFStream rs;
};

std::string At(const Image& img, const std::string& label, const std::string& what) {
  return what + "@" + std::to_string(img.DataPos(label));
}

}  // namespace

// ---------------------------------------------------------------- normal walks

TEST(RiffWalk, WellFormedFileIsWalkedBySizesAndSkipsPadBytes) {
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 56).Label("avih")}).Label("hdrl"),
                                         Chunk("JUNK", 5).Label("junk"),
                                         List("movi", {Chunk("00dc", 3).Label("f0"), Chunk("01wb", 4).Label("a0")})
                                             .Label("movi"),
                                         Chunk("idx1", 32).Label("idx1")})
                               .Label("avi")});
  Walk w(img.bytes, 2);
  EXPECT_EQ(w.Run(), (std::vector<std::string>{
                         At(img, "avi", "RIFF:AVI "), At(img, "hdrl", "LIST:hdrl"), At(img, "avih", "avih") + "+56",
                         At(img, "junk", "JUNK") + "+5", At(img, "movi", "LIST:movi"), At(img, "f0", "00dc") + "+3",
                         At(img, "a0", "01wb") + "+4", At(img, "idx1", "idx1") + "+32"}));
  EXPECT_FALSE(w.rs.Resync);
  // The walk stops at the end of the file with the form still open.
  EXPECT_TRUE(w.rs.EndOfChunk);
  EXPECT_EQ(w.rs.ChunkId, FCC("RIFF"));
  w.rs.Ascend();
  EXPECT_EQ(w.rs.ChunkId, 0xFFFFFFFFu);
  EXPECT_EQ(w.rs.ListEnd, 0);
  EXPECT_FALSE(w.rs.EndOfChunk);
  EXPECT_TRUE(w.rs.EndOfFile);
  EXPECT_EQ(w.rs.Depth, 0u);
}

TEST(RiffWalk, AscendReportsTheEnclosingChunk) {
  // The list's size leaves out the pad byte of its last chunk.
  const Image img =
      Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 8), Chunk("JUNK", 3)}).Sized(31).Label("hdrl")})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("avih"));
  EXPECT_EQ(rs.Depth, 3u);
  rs.Ascend();
  EXPECT_EQ(rs.ChunkId, FCC("LIST"));
  EXPECT_FALSE(rs.EndOfChunk);
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkSize, 3);
  rs.Ascend();
  // The unpadded end counts: a list whose last chunk has a pad byte is done.
  EXPECT_TRUE(rs.EndOfChunk);
  EXPECT_EQ(rs.ChunkSize, 27);
  EXPECT_EQ(rs.ListEnd, img.DataPos("hdrl") + 28);
  EXPECT_EQ(s.Seek(0, 1), img.Size());
}

TEST(RiffWalk, ListOfDeclaredSizeFourIsEmptyAtOnce) {
  const Image img = Build({Riff("AVI ", {List("INFO", {}), Chunk("JUNK", 4)})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.FormType, FCC("INFO"));
  EXPECT_EQ(rs.ChunkSize, 0);
  EXPECT_TRUE(rs.EndOfChunk);
}

// A container declared shorter than its own type field is taken as empty:
// the walk goes on right after its 12 header bytes and ends.
TEST(RiffWalk, ContainerShorterThanItsTypeIsEmpty) {
  for (std::uint32_t declared : {0u, 1u, 2u, 3u}) {
    SCOPED_TRACE(declared);
    const Image img =
        Build({Riff("AVI ", {List("hdrl", {}).Sized(declared).Label("hdrl"), Chunk("JUNK", 6).Label("junk")})});
    Walk w(img.bytes);
    EXPECT_EQ(w.Run(), (std::vector<std::string>{"RIFF:AVI @12", At(img, "hdrl", "LIST:hdrl"),
                                                 At(img, "junk", "JUNK") + "+6"}));
    EXPECT_FALSE(w.rs.Resync);
  }
  for (std::uint32_t declared : {0u, 3u}) {
    SCOPED_TRACE("top level " + std::to_string(declared));
    Image img = Build({Riff("AVI ", {}).Sized(declared), Riff("AVIX", {}).Sized(declared)});
    Walk w(img.bytes);
    EXPECT_EQ(w.Run(), (std::vector<std::string>{"RIFF:AVI @12", "RIFF:AVIX@24"}));
  }
}

TEST(RiffWalk, FileEndingInsideAHeaderEndsTheWalk) {
  for (const std::string& tail : {std::string("str"), std::string("strh\x08\x00", 6), std::string("LIST\x04\0\0\0st", 10)}) {
    SCOPED_TRACE(tail);
    const Image img = Build({Riff("AVI ", {Chunk("avih", 4), Raw(tail)})});
    MemoryStream s(img.bytes);
    TQMRIFFStream rs(&s);
    ASSERT_TRUE(rs.Descend());
    ASSERT_TRUE(rs.Descend());
    rs.Ascend();
    EXPECT_FALSE(rs.Descend());
    EXPECT_TRUE(rs.EndOfFile);
    EXPECT_FALSE(rs.HeaderValid);
    // A failed Descend leaves nothing to ascend from.
    EXPECT_EQ(rs.Ascend(), -1);
  }
}

TEST(RiffWalk, OddLastChunkWithoutPadByteEndsAtTheEndOfTheFile) {
  const Image img = Build({Riff("AVI ", {Chunk("JUNK", 3).NoPad()}).NoPad()});
  ASSERT_EQ(img.Size() % 2, 1);
  Walk w(img.bytes);
  EXPECT_EQ(w.Run(), (std::vector<std::string>{"RIFF:AVI @12", "JUNK@20+3"}));
  EXPECT_TRUE(w.rs.EndOfFile);
  EXPECT_FALSE(w.rs.Resync);
}

TEST(RiffWalk, ChunkOverrunningItsListSwitchesToScanMode) {
  {
    SCOPED_TRACE("plain chunk");
    const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 8).Sized(20)}), Chunk("JUNK", 16)})});
    Walk w(img.bytes);
    w.Run();
    EXPECT_TRUE(w.rs.Resync);
  }
  {
    SCOPED_TRACE("list inside a list");
    const Image img = Build({Riff("AVI ", {List("hdrl", {List("strl", {Chunk("strh", 8)}).Sized(40)}),
                                           Chunk("JUNK", 40)})});
    Walk w(img.bytes);
    w.Run();
    EXPECT_TRUE(w.rs.Resync);
  }
  {
    SCOPED_TRACE("form longer than the file");
    const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 8)})}).Sized(1000)});
    Walk w(img.bytes);
    w.Run();
    EXPECT_FALSE(w.rs.Resync);
  }
}

// ---------------------------------------------------------------- id plausibility

TEST(RiffIds, PlausibilityDependsOnTheEnclosingChunks) {
  // Positions inside: nothing, hdrl, movi, a "rec " list in movi, idx1.
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 8)}),
                                         List("movi", {List("rec ", {Chunk("00dc", 8)}), Chunk("00dc", 8)}),
                                         Chunk("idx1", 16)})});
  struct Row {
    const char* where;
    std::int64_t streams;
    const char* id;
    bool valid;
  };
  const Row rows[] = {
      {"none", 0, "avih", true},  {"none", 0, "rec ", false}, {"none", 0, "LIST", true},
      {"none", 0, "ab\x01" "d", false},
      {"hdrl", 0, "strh", true},  {"hdrl", 0, "00dc", true},  {"hdrl", 0, "JUNK", true},
      {"movi", 2, "00dc", true},  {"movi", 2, "01wb", true},  {"movi", 2, "01db", true},
      {"movi", 2, "01pc", true},  {"movi", 2, "ix01", true},  {"movi", 2, "JUNK", true},
      {"movi", 2, "02dc", false}, {"movi", 2, "ix02", false}, {"movi", 2, "0Xdc", false},
      {"movi", 2, "00xx", false}, {"movi", 2, "LIST", false}, {"movi", 2, "RIFF", false},
      {"movi", 0, "00dc", false}, {"movi", 0, "JUNK", true},  {"movi", 0, "ix00", false},
      {"rec", 2, "01wb", true},   {"rec", 2, "02dc", false},  {"rec", 2, "LIST", false},
      {"idx1", 2, "00dc", true},  {"idx1", 2, "JUNK", true},  {"idx1", 2, "02dc", false},
      {"idx1", 2, "ix00", false}, {"idx1", 2, "LIST", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.where) + " " + r.id + " with " + std::to_string(r.streams) + " streams");
    MemoryStream s(img.bytes);
    TQMRIFFStream rs(&s);
    rs.StreamCount = r.streams;
    const std::string where = r.where;
    if (where != "none") {
      ASSERT_TRUE(rs.Descend());  // RIFF
      ASSERT_TRUE(rs.Descend());  // hdrl
      if (where != "hdrl") {
        rs.Ascend();
        ASSERT_TRUE(rs.Descend());  // movi
        if (where == "rec") {
          ASSERT_TRUE(rs.Descend());
        } else if (where == "idx1") {
          rs.Ascend();
          ASSERT_TRUE(rs.Descend());
          ASSERT_EQ(rs.ChunkId, FCC("idx1"));
        }
      }
    }
    EXPECT_EQ(rs.IsValidChunkId(FCC(r.id)), r.valid);
  }
}

TEST(RiffIds, KnownContainers) {
  for (const char* t : {"hdrl", "strl", "movi", "rec ", "odml", "INFO"}) EXPECT_TRUE(TQMRIFFStream::IsKnownList(FCC("LIST"), FCC(t))) << t;
  EXPECT_TRUE(TQMRIFFStream::IsKnownList(FCC("RIFF"), FCC("AVI ")));
  EXPECT_TRUE(TQMRIFFStream::IsKnownList(FCC("RIFF"), FCC("AVIX")));
  EXPECT_FALSE(TQMRIFFStream::IsKnownList(FCC("RIFF"), FCC("WAVE")));
  EXPECT_FALSE(TQMRIFFStream::IsKnownList(FCC("LIST"), FCC("AVI ")));
  EXPECT_FALSE(TQMRIFFStream::IsKnownList(FCC("LIST"), FCC("HDRL")));
  EXPECT_FALSE(TQMRIFFStream::IsKnownList(FCC("JUNK"), FCC("hdrl")));
}

// ---------------------------------------------------------------- resynchronisation

TEST(RiffResync, GarbageIsScannedOverFromTheLastTrustedData) {
  // "xy" + "st" looks like a chunk id; its size would run past the end, so
  // the scan slides on and finds "strh" two bytes later.
  const Bytes garbage{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 'x', 'y'};
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 16), Raw(garbage),
                                                       Chunk("strh", 8).Label("strh")})})});
  Walk w(img.bytes);
  const auto seen = w.Run();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3], At(img, "strh", "strh") + "+8*");
  EXPECT_TRUE(w.rs.Resync);
  EXPECT_TRUE(w.rs.EndOfFile);
}

TEST(RiffResync, UnknownSmallListIsEnteredByTheScan) {
  const Image img = Build({Riff("AVI ", {List("hdrl", {Raw(Bytes{0x01, 0x02, 0x03, 0x04}),
                                                       List("zzzz", {Chunk("strh", 8).Label("strh")}).Label("zzzz")})})});
  Walk w(img.bytes);
  const auto seen = w.Run();
  EXPECT_EQ(seen, (std::vector<std::string>{"RIFF:AVI @12", "LIST:hdrl@24", At(img, "strh", "strh") + "+8*"}));

  // Straight from the unknown list's header as well.
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  s.Seek(img.HeaderPos("zzzz"), 0);
  EXPECT_EQ(rs.FindNextChunk(), img.HeaderPos("strh"));
  EXPECT_TRUE(rs.Resync);
}

TEST(RiffResync, ScanRejectsChunksAboveTenMebibytesThatANormalDescendAccepts) {
  auto file = [](std::uint32_t size) {
    // The chunk's data begins with a small "strh" chunk the scan can find.
    Bytes data;
    PutFourCC(data, "strh");
    Put32(data, 4);
    PutFourCC(data, "abcd");
    data.resize(size, 0);
    return Build({Chunk("JUNK", data)}).bytes;
  };
  {
    SCOPED_TRACE("10,485,761 bytes");
    MemoryStream s(file(10485761));
    TQMRIFFStream normal(&s);
    ASSERT_TRUE(normal.Descend());
    EXPECT_EQ(normal.ChunkId, FCC("JUNK"));
    EXPECT_EQ(normal.ChunkSize, 10485761);
    EXPECT_FALSE(normal.Resync);

    s.Seek(0, 0);
    TQMRIFFStream scan(&s);
    EXPECT_EQ(scan.FindNextChunk(), 8);  // slid past "JUNK" and its size
    EXPECT_EQ(scan.ChunkId, FCC("strh"));
    EXPECT_EQ(scan.ChunkSize, 4);
  }
  {
    SCOPED_TRACE("10,485,760 bytes");
    MemoryStream s(file(10485760));
    TQMRIFFStream scan(&s);
    EXPECT_EQ(scan.FindNextChunk(), 0);
    EXPECT_EQ(scan.ChunkSize, 10485760);
  }
}

TEST(RiffResync, ScanRejectsChunksRunningPastTheEnd) {
  Bytes bytes = Build({Chunk("JUNK", 8).Sized(100), Chunk("strh", 0)}).bytes;
  MemoryStream s(bytes);
  TQMRIFFStream scan(&s);
  EXPECT_EQ(scan.FindNextChunk(), 16);
  EXPECT_EQ(scan.ChunkId, FCC("strh"));
}

TEST(RiffResync, AscendFromAStreamIndexScansOnPastItsHead) {
  Bytes ix(64, 0);
  auto putChunk = [&ix](std::size_t at, const char* id) {
    for (int i = 0; i < 4; ++i) ix[at + i] = static_cast<std::uint8_t>(id[i]);
    ix[at + 4] = 2;
  };
  putChunk(8, "00dc");   // inside the 32-byte head: not found
  putChunk(24, "00dc");
  putChunk(32, "00dc");  // first entry past the head
  const Image img = Build({Riff("AVI ", {List("movi", {Chunk("ix00", ix).Label("ix")})})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  rs.StreamCount = 1;
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  rs.Resync = true;
  ASSERT_TRUE(rs.Descend());
  ASSERT_EQ(rs.ChunkId, FCC("ix00"));
  rs.Ascend();
  EXPECT_EQ(s.Seek(0, 1), img.DataPos("ix") + 32);
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("00dc"));
  EXPECT_EQ(rs.DataPos, img.DataPos("ix") + 40);
  EXPECT_EQ(rs.ChunkSize, 2);
}

TEST(RiffResync, AscendFromTheLegacyIndexReportsItsFirstValidEntry) {
  Bytes idx;
  PutIndexEntry(idx, "01dc", 0x10, 4, 0);  // no stream 1
  PutIndexEntry(idx, "00dc", 0x12, 4, 0);
  const Image img = Build({Riff("AVI ", {Chunk("idx1", idx).Label("idx1"), Chunk("JUNK", 16)})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  rs.StreamCount = 1;
  ASSERT_TRUE(rs.Descend());
  rs.Resync = true;
  ASSERT_TRUE(rs.Descend());
  ASSERT_EQ(rs.ChunkId, FCC("idx1"));
  rs.Ascend();
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("00dc"));
  EXPECT_EQ(rs.DataPos, img.DataPos("idx1") + 16 + 8);
  EXPECT_EQ(rs.ChunkSize, 0x12);  // the entry's flags
}

TEST(RiffResync, ScanModeAscendLeavesEveryChunkThatHasEnded) {
  const Image img = Build({Riff("AVI ", {List("hdrl", {List("strl", {Chunk("strh", 8)})}), Chunk("JUNK", 4).Label("junk")})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  ASSERT_TRUE(rs.Descend());
  rs.Resync = true;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(rs.Descend());
  ASSERT_EQ(rs.ChunkId, FCC("strh"));
  ASSERT_EQ(rs.Depth, 4u);
  rs.Ascend();
  EXPECT_EQ(rs.Depth, 1u);
  EXPECT_EQ(rs.ChunkId, FCC("RIFF"));
  EXPECT_EQ(s.Seek(0, 1), img.HeaderPos("junk"));
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("JUNK"));
}

TEST(RiffResync, RecListInsideMoviIsScannedThrough) {
  const Image img = Build({Riff("AVI ", {List("movi", {List("rec ", {Chunk("00dc", 4).Label("a"), Chunk("00dc", 6).Label("b")})})})});
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  rs.StreamCount = 1;
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  rs.Resync = true;
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(Describe(rs), At(img, "a", "00dc") + "+4*");
  rs.Ascend();
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(Describe(rs), At(img, "b", "00dc") + "+6*");
}

// ---------------------------------------------------------------- read-ahead

// A megabyte of garbage after the first header chunk: the scan finds the
// chunk behind it as the unbuffered walk does, reading a buffer at a time,
// and leaves the stream where that walk leaves it.
TEST(RiffReadAhead, ScanOverGarbageReadsABufferAtATime) {
  Bytes garbage(1 << 20);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  const Image img = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 56), Raw(garbage), Chunk("strh", 8).Label("strh")})})});
  Walk buffered(img.bytes), unbuffered(img.bytes);
  unbuffered.rs.ReadAhead = 0;
  const std::vector<std::string> seen = buffered.Run();
  EXPECT_EQ(seen, unbuffered.Run());
  EXPECT_EQ(seen.back(), At(img, "strh", "strh") + "+8*");
  EXPECT_EQ(buffered.stream.Seek(0, 1), unbuffered.stream.Seek(0, 1));
  EXPECT_LT(buffered.stream.reads, (1 << 20) / TQMRIFFStream::kReadAheadSize + 20);
  EXPECT_GT(unbuffered.stream.reads, (1 << 20) / 4);
}

// The owner reads and seeks between calls; each call starts from where the
// stream is, buffered or not.
TEST(RiffReadAhead, OwnerMovesBetweenCallsAreSeen) {
  const Image img = MakeAvi();
  MemoryStream s(img.bytes);
  TQMRIFFStream rs(&s);
  ASSERT_TRUE(rs.Descend());
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(s.Seek(0, 1), img.DataPos("hdrl"));
  // Reading a record elsewhere and coming back changes nothing.
  std::uint8_t record[8];
  s.Seek(img.DataPos("v.strh"), 0);
  s.Read(record, 8);
  s.Seek(img.DataPos("hdrl"), 0);
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("avih"));
  EXPECT_EQ(s.Seek(0, 1), img.DataPos("avih"));
  // Moved on by the owner: the next header is read where the stream is.
  s.Seek(img.HeaderPos("v.strh"), 0);
  ASSERT_TRUE(rs.Descend());
  EXPECT_EQ(rs.ChunkId, FCC("strh"));
  EXPECT_EQ(rs.DataPos, img.DataPos("v.strh"));
  EXPECT_EQ(s.Seek(0, 1), img.DataPos("v.strh"));
}
