// Untrusted input: random and mutated files through Create + Scan. Each walk
// must end within a number of stream operations linear in the file size,
// never write, and leave results that point inside the file. Meant for the
// sanitizer build as much as for the normal one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "avi/QmAVIFile.h"

using namespace riff;

namespace {

std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  AviOptions o;
  seeds.push_back(MakeAvi(o).bytes);
  o.audio = true;
  seeds.push_back(MakeAvi(o).bytes);
  o.audioFirst = true;
  o.strfSize = 1064;
  o.extraStrl = {Chunk("strn", Text("name\0")), Chunk("JUNK", 3)};
  seeds.push_back(MakeAvi(o).bytes);

  Bytes ix(64, 0);
  std::copy_n("00dc\x02\0\0\0", 8, ix.begin() + 32);
  Bytes idx;
  PutIndexEntry(idx, "00dc", 0x10, 4, 8);
  PutIndexEntry(idx, "01wb", 0x10, 20, 6);
  seeds.push_back(
      Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData(2)), VideoStrl("div3", "DIV3"), AudioStrl(),
                                         List("odml", {Chunk("dmlh", 248)})}),
                           List("INFO", {Chunk("ISFT", Text("x\0"))}), Chunk("JUNK", 9),
                           List("movi", {List("rec ", {Chunk("00dc", 8), Chunk("01wb", 6)}), Chunk("ix00", ix)}),
                           Chunk("idx1", idx)}),
             Riff("AVIX", {List("movi", {Chunk("00dc", 5)})})})
          .bytes);
  return seeds;
}

const std::vector<std::string> kWords = {"RIFF", "LIST", "AVI ", "AVIX", "hdrl", "strl", "movi", "rec ", "idx1",
                                         "ix00", "00dc", "01wb", "JUNK", "strh", "strf", "vids", "auds", "odml"};
const std::vector<std::uint32_t> kSizes = {0,          1,          2,          3,          4,          5,
                                           7,          8,          12,         0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                           0xFFFFFFFC, 0x00A00000, 0x00A00001, 0x10000};

Bytes Mutate(Bytes b, std::mt19937& rng) {
  auto pick = [&rng](std::size_t n) { return n == 0 ? std::size_t{0} : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  const int count = 1 + static_cast<int>(pick(4));
  for (int m = 0; m < count; ++m) {
    switch (pick(7)) {
      case 0:  // flip bytes
        for (std::size_t i = 0, n = 1 + pick(8); i < n && !b.empty(); ++i) b[pick(b.size())] ^= static_cast<std::uint8_t>(1 + pick(255));
        break;
      case 1:  // a size field that lies
        if (b.size() >= 8) {
          std::uint32_t v = kSizes[pick(kSizes.size())];
          if (pick(3) == 0) v = static_cast<std::uint32_t>(b.size() + pick(40) - 20);
          Set32(b, pick(b.size() / 2 - 1) * 2, v);
        }
        break;
      case 2:  // a chunk id where it does not belong
        if (b.size() >= 4) {
          const std::string& w = kWords[pick(kWords.size())];
          const std::size_t at = pick(b.size() - 3);
          for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(w[i]);
        }
        break;
      case 3:  // truncate
        b.resize(pick(b.size() + 1));
        break;
      case 4: {  // insert garbage
        Bytes g(1 + pick(24));
        for (auto& x : g) x = static_cast<std::uint8_t>(pick(256));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), g.begin(), g.end());
        break;
      }
      case 5:  // repeat a slice
        if (!b.empty()) {
          const std::size_t from = pick(b.size()), len = std::min<std::size_t>(1 + pick(64), b.size() - from);
          Bytes slice(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + len));
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), slice.begin(), slice.end());
        }
        break;
      case 6:  // cut a slice out
        if (!b.empty()) {
          const std::size_t from = pick(b.size()), len = std::min<std::size_t>(1 + pick(64), b.size() - from);
          b.erase(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + len));
        }
        break;
    }
  }
  return b;
}

Bytes RandomFile(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 600)(rng);
  Bytes b;
  if (n % 2) PutFourCC(b, "RIFF");  // half of them get past the signature
  // Bias towards the bytes of chunk ids, so that the scan finds candidates.
  const std::string alphabet = "RIFFLISTmovirec idx1ix0001dcwbJUNK";
  while (b.size() < n)
    b.push_back(byte(rng) < 128 ? static_cast<std::uint8_t>(alphabet[static_cast<std::size_t>(byte(rng)) % alphabet.size()])
                                : static_cast<std::uint8_t>(byte(rng)));
  return b;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < b.size() && i < 256; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
  }
  return b.size() > 256 ? s + "..." : s;
}

void CheckResults(const TQmAVIFileReader& r, std::int64_t size) {
  EXPECT_TRUE(r.Integrity == 0 || r.Integrity == -1 || r.Integrity == -2) << r.Integrity;
  std::int32_t damaged = 0;
  for (TNodeIndex i = 0; i < r.NodeCount; ++i) damaged += (r.GetNodeFlags(i) & nfDamaged) ? 1 : 0;
  EXPECT_EQ(r.DamagedCount, damaged);
  for (std::int64_t pos : {r.VideoStreamHeaderPos, r.VideoFormatPos})
    EXPECT_TRUE(pos == 0 || (pos >= 8 && pos <= size)) << pos;
  if (r.VideoStreamHeaderPos == 0) {
    EXPECT_EQ(r.VideoFormatPos, 0);
  }
}

// Scans the bytes from memory; false when the walk ran over its budget.
void ScanInMemory(const Bytes& input) {
  // A linear walk does a few operations per byte; this is far above that.
  MemoryStream s(input, 64 * static_cast<std::int64_t>(input.size()) + 10000);
  try {
    TQmAVIFileReader r(&s);
    const std::int32_t first = r.Scan(0);
    EXPECT_TRUE(first == 0 || first == -2);
    CheckResults(r, s.Size());
    // Scanning again gives the same tree and results.
    const std::uint32_t nodes = r.NodeCount;
    const std::int64_t strh = r.VideoStreamHeaderPos, strf = r.VideoFormatPos;
    EXPECT_EQ(r.Scan(0), first);
    EXPECT_EQ(r.NodeCount, nodes);
    EXPECT_EQ(r.VideoStreamHeaderPos, strh);
    EXPECT_EQ(r.VideoFormatPos, strf);
  } catch (const std::runtime_error& e) {
    ADD_FAILURE() << e.what() << " after " << s.operations << " operations";
  }
  EXPECT_EQ(s.writes, 0);
  EXPECT_TRUE(s.Data() == input);
}

}  // namespace

TEST(AviRobustness, MutatedFilesFromMemory) {
  const std::vector<Bytes> seeds = Seeds();
  std::mt19937 rng(20240611);
  for (int i = 0; i < 3000; ++i) {
    const Bytes input = Mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Hex(input));
    ScanInMemory(input);
    if (HasFailure()) break;  // one reproducible case is enough
  }
}

TEST(AviRobustness, RandomFilesFromMemory) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const Bytes input = RandomFile(rng);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Hex(input));
    ScanInMemory(input);
    if (HasFailure()) break;
  }
}

// Through the real file layer: the file is opened for reading only and
// its bytes are the same afterwards.
TEST(AviRobustness, MutatedFilesOnDiskAreLeftUnchanged) {
  const std::vector<Bytes> seeds = Seeds();
  std::mt19937 rng(99);
  TempDir dir;
  const std::string name = dir.File("m.avi");
  for (int i = 0; i < 150; ++i) {
    const Bytes input = Mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + Hex(input));
    WriteBytes(name, input);
    {
      TFileStream64 s(name, kModeAnalyse);
      TQmAVIFileReader r(&s);
      r.Scan(0);
      CheckResults(r, static_cast<std::int64_t>(input.size()));
    }
    EXPECT_TRUE(ReadBytes(name) == input);
    if (HasFailure()) break;
  }
}

// Many nested lists that all end at one place, then a long run of garbage:
// the scan over the garbage must not walk the whole stack for every two
// bytes it moves.
TEST(AviRobustness, DeepNestingBeforeGarbage) {
  const int depth = 20000;
  const std::size_t garbage = 1000000;
  Bytes b;
  PutFourCC(b, "RIFF");
  Put32(b, 0);
  PutFourCC(b, "AVI ");
  const std::size_t end = b.size() + 12 * depth + 8;  // where every list ends
  for (int i = 0; i < depth; ++i) {
    PutFourCC(b, "LIST");
    Put32(b, static_cast<std::uint32_t>(end - b.size() - 4));
    PutFourCC(b, "hdrl");
  }
  b.resize(b.size() + 8 + garbage, 0x01);
  Set32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  const auto start = std::chrono::steady_clock::now();
  ScanInMemory(b);
  // Linear: well under a second even unoptimised; a walk of the stack per
  // step takes tens of seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
