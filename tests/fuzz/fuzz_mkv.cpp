// Any bytes as a Matroska file for the reader, in memory: every position it
// reports lies in the file and holds what it says, it never writes, a second
// read finds the same, a stream missing bytes gives the same or a failed
// read, and the new CRC-32 values for a changed code hold.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <tuple>

#include "mkv/MatroskaFile.h"

namespace {

// Read-only bytes, none given from `hole` on, as a window of a file before
// the rest has come. Counts what is asked of it.
class TSpanStream : public TStream64 {
 public:
  TSpanStream(std::span<const std::uint8_t> bytes, std::int64_t hole) : bytes_(bytes), hole_(hole) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t end = std::min<std::int64_t>(hole_, std::ssize(bytes_));
    const std::int64_t n = std::clamp<std::int64_t>(end - pos_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0) std::copy_n(bytes_.begin() + pos_, n, static_cast<std::uint8_t*>(buffer));
    return ++Reads, BytesRead += n, pos_ += n, n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return ++Writes, 0; }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    const std::int64_t to = SeekFrom(origin == 0   ? 0
                                     : origin == 1 ? pos_
                                     : origin == 2 ? std::ssize(bytes_)
                                                   : -1,
                                     offset);
    return to < 0 ? -1 : pos_ = to;
  }
  std::int64_t Reads = 0, BytesRead = 0, Writes = 0;

 private:
  std::span<const std::uint8_t> bytes_;
  std::int64_t hole_, pos_ = 0;
};

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_mkv: %s\n", what);
  std::abort();
}

// A copy of what the reader found.
auto Findings(const TMatroskaReader& r) {
  return std::make_tuple(r.Status, r.Damaged, r.FileSize, r.VideoTrack, r.TrackNumber, r.CodecId, r.CodecPrivatePos,
                         r.CodecPrivateSize, r.CompressionPos, r.Compression, r.Crcs);
}

bool Inside(std::int64_t pos, std::int64_t size, std::int64_t begin, std::int64_t end) {
  return pos >= begin && size >= 0 && pos <= end && size <= end - pos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto n = static_cast<std::int64_t>(size);
  TSpanStream s(bytes, INT64_MAX);
  TMatroskaReader r(&s);
  Check(r.Status == 0 || r.Status == kMkvNotMatroska, "status");
  Check(r.Status == 0 || (!r.Damaged && !r.VideoTrack && r.Crcs.empty()), "findings in a file that is not read");
  Check(s.Reads <= TMatroskaReader::kMaxReads, "more reads than the limit");
  Check(r.CompressionPos == 0 || r.VideoTrack, "a code with no video track");
  Check(r.CodecPrivatePos == 0 || Inside(r.CodecPrivatePos, r.CodecPrivateSize, 1, n), "CodecPrivate");
  if (r.CompressionPos != 0) {
    Check(r.CodecId == kVfwCodecId && r.CodecPrivateSize >= 40 && r.CompressionPos == r.CodecPrivatePos + 16,
          "a code not in a bitmap header");
    Check(Inside(r.CompressionPos, 4, 1, n) && FourCCFromBytes(&data[r.CompressionPos]) == r.Compression,
          "the code's place");
  }
  for (std::size_t i = 0; i < r.Crcs.size(); ++i) {
    const TMkvCrc& c = r.Crcs[i];
    Check(Inside(c.ValuePos, 4, 1, n) && c.CoveredPos == c.ValuePos + 4 && Inside(c.CoveredPos, c.CoveredSize, 0, n),
          "a CRC-32 outside the file");
    Check(FourCCFromBytes(&data[c.ValuePos]) == c.Stored, "a CRC-32's value");
    Check(r.CompressionPos == 0 || Inside(r.CompressionPos, 4, c.CoveredPos, c.CoveredPos + c.CoveredSize),
          "a CRC-32 that does not cover the code");
    Check(i == 0 || Inside(r.Crcs[i - 1].ValuePos, 4, c.CoveredPos, c.CoveredPos + c.CoveredSize),
          "a CRC-32 that does not cover the inner one");
  }
  Check(r.SegmentCrc() == (!r.Crcs.empty() && r.Crcs.back().OfSegment()), "the Segment's CRC-32 not outermost");

  const auto first = Findings(r);
  Check(r.Read() == std::get<0>(first) && Findings(r) == first, "a second read found something else");
  Check(s.Writes == 0, "the reader wrote");

  // A stream that gives only the first bytes: the same findings, or a read that failed and found nothing.
  for (std::int64_t hole : {n / 2, n > 0 ? data[n - 1] * 16 % n : 0}) {
    TSpanStream cut(bytes, hole);
    const TMatroskaReader c(&cut);
    Check(Findings(c) == first ||
              (c.Status == kMkvReadFailed && !c.VideoTrack && !c.Damaged && c.Crcs.empty() && c.CompressionPos == 0),
          "a stream missing bytes read as another file");
  }

  // A new code: the new CRC-32 values hold over the changed bytes, the inner ones' among them.
  if (r.CompressionPos != 0 && !r.Crcs.empty()) {
    const FourCC dx50 = MakeFourCC("DX50");
    const bool hold = std::all_of(r.Crcs.begin(), r.Crcs.end(), [&](const TMkvCrc& c) {
      return StreamCrc32(s, c.CoveredPos, c.CoveredSize) == c.Stored;
    });
    if (const auto values = CrcsAfterChange(r.Crcs, r.CompressionPos, r.Compression, dx50); hold && values) {
      Check(values->size() == r.Crcs.size(), "a CRC-32 left out");
      std::vector<std::uint8_t> changed(bytes.begin(), bytes.end());
      FourCCToBytes(dx50, &changed[r.CompressionPos]);
      for (std::size_t i = 0; i < values->size(); ++i) FourCCToBytes((*values)[i], &changed[r.Crcs[i].ValuePos]);
      for (const TMkvCrc& c : r.Crcs)
        Check(Crc32(std::span(changed).subspan(c.CoveredPos, c.CoveredSize)) == FourCCFromBytes(&changed[c.ValuePos]),
              "a new CRC-32 that does not hold");
    }
  }
  return 0;
}
