// The Matroska reader over built files: where Tracks lies, open sizes, other
// codecs, damage, and the CRC-32 elements over the code and their new values.
#include <gtest/gtest.h>

#include "MkvBuilder.h"
#include "mkv/MatroskaFile.h"

using namespace mkvb;
using namespace mkvid;

namespace {

// Track 2, its bitmap header holding XVID.
El Video(std::vector<El> more = {}, const std::string& codec = kVfwCodecId, std::size_t bih = 40) {
  Bytes header(bih);
  if (bih >= 20) FourCCToBytes(MakeFourCC("XVID"), &header[16]);
  more.insert(more.begin(),
              {Uint(kTrackNumber, 2), Uint(kTrackType, 1), Str(kCodecId, codec), Bin(kCodecPrivate, header)});
  return Master(kTrackEntry, more);
}
const char kAsp[] = "V_MPEG4/ISO/ASP";
const El kAudio = Master(kTrackEntry, {Uint(kTrackNumber, 1), Uint(kTrackType, 2), Str(kCodecId, "A_AC3")});
const El kSomeInfo = Master(kInfo, {Uint(0x2AD7B1, 1000000)});
const El kSomeCluster = Master(kCluster, {Uint(0xE7, 0), Bin(0xA3, Bytes(100))});

std::int64_t Where(const Bytes& b, const std::string& s) {
  return std::search(b.begin(), b.end(), s.begin(), s.end()) - b.begin();
}
El Seg(std::vector<El> kids) { return Master(kSegment, std::move(kids)); }
El Tracks(std::vector<El> kids) { return Master(kTracks, std::move(kids)); }
Bytes File(El segment, const std::string& docType = "matroska") {
  return Build({Master(kEbml, {Uint(0x4286, 1), Str(kDocType, docType)}), segment});
}
Bytes Plain(std::vector<El> tracks) { return File(Seg({Tracks(std::move(tracks))})); }
El SeekHead(std::uint32_t id, std::uint64_t at) {
  return Master(kSeekHead, {Master(kSeek, {Uint(kSeekId, id), Uint(kSeekPosition, at, 8)})});
}

// Tracks after a cluster, named by the SeekHead first, or by a second one
// the first names past a cluster of open size; as the Segment's child
// `target` (3: Tracks), moved by `shift`.
Bytes Late(bool chained, std::size_t target = 3, std::int64_t shift = 0) {
  auto kids = [&](std::int64_t tracks, std::int64_t head) {
    return std::vector<El>{chained ? SeekHead(kSeekHead, head) : SeekHead(kTracks, tracks), kSomeInfo,
                           chained ? kSomeCluster.Unknown() : kSomeCluster, Tracks({Video()}),
                           SeekHead(kTracks, tracks)};
  };
  const auto all = kids(0, 0);
  auto at = [&all](std::size_t i) { return std::ssize(Build({all.begin(), all.begin() + i})); };
  return File(Seg(kids(at(target) + shift, at(4))));
}

struct Case {
  const char* name;
  Bytes file;
  std::vector<std::uint32_t> crcs = {};  // their masters
  std::int32_t status = 0;
  bool damaged = false;
  std::string codec = kVfwCodecId;  // empty: no video track
  bool code = true;                 // with a VfW track: XVID found at CodecPrivate + 16
  std::int64_t hole = INT64_MAX;
};

TEST(mkv, Reads) {
  std::vector<El> many(TMatroskaReader::kMaxElements, Bin(kVoid, {}));
  std::vector<El> far(TMatroskaReader::kMaxReads, Bin(kVoid, Bytes(TMatroskaReader::kReadSize)));
  many.push_back(Tracks({Video()})), far.push_back(Tracks({Video()}));
  const El encoded = Master(kContentEncodings, {Master(kContentEncoding, {Uint(kContentEncodingScope, 2)})});
  const std::vector<Case> cases{
      {"Tracks early", File(Seg({kSomeInfo, Bin(kVoid, Bytes(4000)), Tracks({kAudio, Video()})}))},
      {"Tracks after the clusters, by the SeekHead", Late(false)},
      {"by a second SeekHead", Late(true)},
      {"a SeekHead entry past the Segment", Late(false, 3, 1 << 20), {}, 0, false, ""},
      {"a SeekHead entry not at Tracks", Late(false, 2), {}, 0, true, ""},
      {"live: open sizes", File(Seg({Tracks({Video()}), kSomeCluster.Unknown()}).Unknown())},
      {"webm", File(Seg({Tracks({Video()})}), "webm"), {}, kMkvNotMatroska, false, ""},
      {"no EBML header", Build({Seg({Tracks({Video()})})}), {}, kMkvNotMatroska, false, ""},
      {"MPEG-4 ASP", Plain({Video({}, kAsp)}), {}, 0, false, kAsp},
      {"a bitmap header of 39 bytes", Plain({Video({}, kVfwCodecId, 39)}), {}, 0, false, kVfwCodecId, false},
      {"CodecPrivate compressed", Plain({Video({encoded})}), {}, 0, false, kVfwCodecId, false},
      {"CodecPrivate twice", Plain({Video({Bin(kCodecPrivate, Bytes(40))})}), {}, 0, true},
      {"Tracks past the Segment", File(Seg({Tracks({Video()}).Sized(500)})), {}, 0, true},
      {"Segment past the file", File(Seg({Tracks({Video()})}).Sized(500)), {}, 0, true},
      {"an ID of 5 bytes", Plain({Raw({8, 1, 1, 1, 1, 0x80}), Video()}), {}, 0, true, ""},
      {"an ID of value 0", Plain({Raw({0x80, 0x80}), Video()}), {}, 0, true, ""},
      {"a size of 9 bytes", Plain({Raw({0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0}), Video()}), {}, 0, true, ""},
      {"Tracks of open size", File(Seg({Tracks({Video()}).Unknown()})), {}, 0, true},
      {"more elements than the limit", File(Seg(many)), {}, 0, true, ""},
      {"more reads than the limit", File(Seg(far)), {}, 0, true, ""},
      {"the first of two video tracks", Plain({Video({}, kAsp), Video()}), {}, 0, false, kAsp},
      {"ffmpeg: CRC-32 first in level 1", File(Seg({kSomeInfo.Crc(), Tracks({Video()}).Crc()})), {kTracks}},
      {"CRC-32s nested",
       File(Seg({Tracks({kAudio.Crc(), Video().Crc()}).Crc()}).Crc()),
       {kTrackEntry, kTracks, kSegment}},
      {"a CRC-32 not first", Plain({kAudio, Bin(kCrc32, Bytes(4)), Video()})},
      {"a CRC-32 of 3 bytes", Plain({Bin(kCrc32, Bytes(3)), Video()}), {}, 0, true},
      {"bytes the stream cannot give yet", Late(false), {}, kMkvReadFailed, false, "", true, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream s(c.file, c.hole);
    const TMatroskaReader r(&s);
    const bool code = c.code && c.codec == kVfwCodecId;
    EXPECT_EQ(std::tuple(r.Status, r.Damaged, r.CodecId), std::tuple(c.status, c.damaged, c.codec));
    EXPECT_EQ(r.TrackNumber, c.codec.empty() ? 0u : 2u);
    EXPECT_EQ(std::pair(r.CompressionPos, r.Compression),
              code ? std::pair(Where(c.file, "XVID"), MakeFourCC("XVID")) : std::pair(std::int64_t{0}, 0u));
    std::vector<std::uint32_t> crcs;
    for (const TMkvCrc& crc : r.Crcs) {
      crcs.push_back(crc.ParentId);
      EXPECT_EQ(FourCCFromBytes(&c.file[crc.ValuePos]), crc.Stored);
      EXPECT_EQ(BitCrc(&c.file[crc.CoveredPos], crc.CoveredSize), crc.Stored);
    }
    EXPECT_EQ(crcs, c.crcs);
    EXPECT_EQ(r.SegmentCrc(), std::count(crcs.begin(), crcs.end(), kSegment) == 1);
  }
}

TEST(mkv, Crc) {
  const std::string text = "123456789";
  EXPECT_EQ(Crc32({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}), 0xCBF43926u);
  Bytes big(200000, 7);  // over several chunks
  big[70000] = 1;
  MemoryStream s(big);
  EXPECT_EQ(StreamCrc32(s, 10, 150000), BitCrc(&big[10], 150000));
  MemoryStream huge(Bytes(kMaxCrcRange + 1));
  EXPECT_EQ(StreamCrc32(huge, 0, kMaxCrcRange + 1), std::nullopt);
}

// New values from the stored ones: the inner CRC-32 for the code, the outer
// for the code and the inner one's new bytes.
TEST(mkv, CrcsAfterChange) {
  const Bytes file = File(Seg({Tracks({kAudio, Video().Crc()}).Crc()}));
  MemoryStream s(file);
  const TMatroskaReader r(&s);
  const FourCC dx50 = MakeFourCC("DX50");
  const auto values = CrcsAfterChange(r.Crcs, r.CompressionPos, r.Compression, dx50);
  ASSERT_TRUE(values && values->size() == 2);
  Bytes changed = file;
  FourCCToBytes(dx50, &changed[r.CompressionPos]);
  for (std::size_t i = 0; i < 2; ++i) FourCCToBytes((*values)[i], &changed[r.Crcs[i].ValuePos]);
  for (const TMkvCrc& crc : r.Crcs)
    EXPECT_EQ(BitCrc(&changed[crc.CoveredPos], crc.CoveredSize), FourCCFromBytes(&changed[crc.ValuePos]));
  EXPECT_EQ(CrcsAfterChange(r.Crcs, r.Crcs[0].CoveredPos - 2, 0, 1), std::nullopt);  // half inside
}

}  // namespace
