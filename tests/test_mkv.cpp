// The Matroska reader over built files, for what files that mkvmerge and ffmpeg make cannot show (tests/matroska.py
// takes those): bounds, limits, malformed sizes and IDs, open sizes, nested CRC-32s, webm. Every file, and damaged
// variants of some, also goes through the driver's checks: conversions write the code and the CRC-32s around it only.
#include <gtest/gtest.h>

#include <bit>

#include "fuzz/FuzzChecks.h"

using namespace mkvid;
using riff::MemoryStream;

namespace {

enum : int { kCrc = 1, kOpen = 2 };  // a CRC-32 element first; a size of all ones

Bytes BigEndian(std::uint64_t v, int n) {
  Bytes b(n);
  for (int k = 0; k < n; ++k) b[k] = static_cast<std::uint8_t>(v >> 8 * (n - 1 - k));
  return b;
}
// The parts as an element's data (id 0: with no header), its size in 8 bytes.
Bytes El(std::uint32_t id, const std::vector<Bytes>& parts, int flags = 0) {
  Bytes out = id ? BigEndian(id, (std::bit_width(id) + 7) / 8) : Bytes{}, body;
  for (const Bytes& p : parts) body.insert(body.end(), p.begin(), p.end());
  if (flags & kCrc) body.insert(body.begin(), {0xBF, 0x84, 0, 0, 0, 0});
  if (flags & kCrc) FourCCToBytes(Crc32(std::span(body).subspan(6)), &body[2]);
  const std::uint64_t n = flags & kOpen ? (1ull << 56) - 1 : body.size();
  for (const Bytes& b : {id ? BigEndian(1ull << 56 | n, 8) : Bytes{}, body}) out.insert(out.end(), b.begin(), b.end());
  return out;
}
Bytes Str(std::uint32_t id, const std::string& s) { return El(id, {Bytes(s.begin(), s.end())}); }
Bytes Uint(std::uint32_t id, std::uint64_t v) { return El(id, {BigEndian(v, 8)}); }

// Track 2, its bitmap header of `bih` bytes holding XVID.
Bytes Video(Bytes more = {}, const std::string& codec = kVfwCodecId, std::size_t bih = 40, int flags = 0) {
  Bytes header(bih);
  if (bih >= 20) FourCCToBytes(MakeFourCC("XVID"), &header[16]);
  return El(kTrackEntry,
            {Uint(kTrackNumber, 2), Uint(kTrackType, 1), Str(kCodecId, codec), El(kCodecPrivate, {header}), more},
            flags);
}
const Bytes kTracks1 = El(kTracks, {Video()});
Bytes File(std::vector<Bytes> segment, int flags = 0, const std::string& docType = "matroska") {
  return El(0, {El(kEbml, {Str(kDocType, docType)}), El(kSegment, segment, flags)});
}
Bytes Plain(std::vector<Bytes> tracks, int flags = 0) { return File({El(kTracks, tracks, flags)}); }
Bytes SeekHead(std::uint32_t id, std::int64_t at) {
  return El(kSeekHead, {El(kSeek, {Uint(kSeekId, id), Uint(kSeekPosition, at)})});
}
// Tracks after a cluster, found through a SeekHead naming the Segment's child `to` (3: Tracks) moved by `shift`, or
// (chained) through one naming a second SeekHead past a cluster of open size.
Bytes Late(bool chained, std::size_t to = 3, std::int64_t shift = 0) {
  std::vector<Bytes> kids{SeekHead(0, 0), El(kInfo, {}), El(kCluster, {}, chained ? kOpen : 0), kTracks1,
                          SeekHead(0, 0)};
  auto at = [&kids](std::size_t i) { return std::ssize(El(0, {kids.begin(), kids.begin() + i})); };
  kids[4] = SeekHead(kTracks, at(3));
  kids[0] = chained ? SeekHead(kSeekHead, at(4)) : SeekHead(kTracks, at(to) + shift);
  return File(kids);
}

// What the reader finds; the driver's checks hold, and the file converts exactly when an undamaged VfW track holds
// its code (every CRC-32 here holds, none is the Segment's).
void Expect(const char* name, const Bytes& file, bool damaged = false, const std::string& codec = kVfwCodecId,
            bool code = true, const std::vector<std::uint32_t>& crcs = {}, std::int32_t status = 0) {
  SCOPED_TRACE(name);
  MemoryStream s(file);
  const TMatroskaReader r(&s);
  std::vector<std::uint32_t> found;
  for (const TMkvCrc& crc : r.Crcs) found.push_back(crc.ParentId);
  const FourCC xvid = code && codec == kVfwCodecId ? MakeFourCC("XVID") : 0;
  EXPECT_EQ(std::tuple(r.Status, r.Damaged, r.CodecId, r.TrackNumber, r.Compression, found),
            std::tuple(status, damaged, codec, codec.empty() ? 0u : 2u, xvid, crcs));
  TempDir dir;
  TAppState state;
  state.Matroska = true;
  EXPECT_EQ(fuzzcheck::CheckDriver(dir.File("f.mkv"), file), "");
  ProcessFile(state, dir.File("f.mkv"), kNoCodec);
  EXPECT_EQ(PlanConversion(state, 12).has_value(), xvid && !damaged);
}

TEST(mkv, Reads) {
  std::vector<Bytes> many(TMatroskaReader::kMaxElements, El(kVoid, {}));
  std::vector<Bytes> far(TMatroskaReader::kMaxReads, El(kVoid, {Bytes(TMatroskaReader::kReadSize)}));
  many.push_back(kTracks1);
  far.push_back(kTracks1);
  Expect("by a second SeekHead", Late(true));
  Expect("a SeekHead entry past the Segment", Late(false, 3, 1 << 20), false, "");
  Expect("a SeekHead entry not at Tracks", Late(false, 2), true, "");
  Expect("live: open sizes", File({kTracks1, El(kCluster, {}, kOpen)}, kOpen));
  Expect("Tracks of open size", Plain({Video()}, kOpen), true);
  Expect("webm", File({kTracks1}, 0, "webm"), false, "", true, {}, kMkvNotMatroska);
  Expect("a bitmap header of 39 bytes", Plain({Video({}, kVfwCodecId, 39)}), false, kVfwCodecId, false);
  const Bytes compressed = El(kContentEncodings, {El(kContentEncoding, {Uint(kContentEncodingScope, 2)})});
  Expect("CodecPrivate compressed", Plain({Video(compressed)}), false, kVfwCodecId, false);
  Expect("CodecPrivate twice", Plain({Video(El(kCodecPrivate, {Bytes(40)}))}), true);
  Expect("the first of two video tracks", Plain({Video({}, "V_MPEG4/ISO/ASP"), Video()}), false, "V_MPEG4/ISO/ASP");
  Expect("an ID of 5 bytes", Plain({{8, 1, 1, 1, 1, 0x80}, Video()}), true, "");
  Expect("an ID of value 0", Plain({{0x80, 0x80}, Video()}), true, "");
  Expect("a size of 9 bytes", Plain({{0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Video()}), true, "");
  Expect("more elements than the limit", File(many), true, "");
  Expect("more reads than the limit", File(far), true, "");
  Expect("a CRC-32 of 3 bytes", Plain({El(kCrc32, {Bytes(3)}), Video()}), true);
  // Not the audio track's CRC-32, nor one in Tracks not first.
  const Bytes audio = El(kTrackEntry, {Uint(kTrackNumber, 1), Uint(kTrackType, 2), Str(kCodecId, "A_AC3")}, kCrc);
  const Bytes nested = File({El(kTracks, {audio, El(kCrc32, {Bytes(4)}), Video({}, kVfwCodecId, 40, kCrc)}, kCrc)});
  Expect("CRC-32s nested", nested, false, kVfwCodecId, true, {kTrackEntry, kTracks});

  MemoryStream cut(Late(false));  // a file of which only the start has come
  cut.hole = 100;
  EXPECT_EQ(TMatroskaReader(&cut).Status, kMkvReadFailed);
  TempDir dir;
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(fuzzcheck::CheckDriver(dir.File("f.mkv"), riff::Mutate(i % 2 ? nested : Late(true), rng)), "") << i;

  Bytes big(200000, 7);  // over several chunks
  big[70000] = 1;
  MemoryStream s(big), huge(Bytes(kMaxCrcRange + 1));
  EXPECT_EQ(StreamCrc32(s, 10, 150000), Crc32(std::span(big).subspan(10, 150000)));
  EXPECT_EQ(StreamCrc32(huge, 0, kMaxCrcRange + 1), std::nullopt);
}

}  // namespace
