// Matroska reader: the first video track's codec, where a VfW track keeps
// its compression code, and the CRC-32 elements whose ranges hold that code.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avi/QmRIFFStream.h"

// Element IDs as they are written, marker bits included.
namespace mkvid {
inline constexpr std::uint32_t kEbml = 0x1A45DFA3;
inline constexpr std::uint32_t kDocType = 0x4282;
inline constexpr std::uint32_t kSegment = 0x18538067;
inline constexpr std::uint32_t kSeekHead = 0x114D9B74;
inline constexpr std::uint32_t kSeek = 0x4DBB;
inline constexpr std::uint32_t kSeekId = 0x53AB;
inline constexpr std::uint32_t kSeekPosition = 0x53AC;
inline constexpr std::uint32_t kInfo = 0x1549A966;
inline constexpr std::uint32_t kTracks = 0x1654AE6B;
inline constexpr std::uint32_t kTrackEntry = 0xAE;
inline constexpr std::uint32_t kTrackNumber = 0xD7;
inline constexpr std::uint32_t kTrackType = 0x83;
inline constexpr std::uint32_t kCodecId = 0x86;
inline constexpr std::uint32_t kCodecPrivate = 0x63A2;
inline constexpr std::uint32_t kContentEncodings = 0x6D80;
inline constexpr std::uint32_t kContentEncoding = 0x6240;
inline constexpr std::uint32_t kContentEncodingScope = 0x5032;
inline constexpr std::uint32_t kCluster = 0x1F43B675;
inline constexpr std::uint32_t kCrc32 = 0xBF;
inline constexpr std::uint32_t kVoid = 0xEC;
}  // namespace mkvid

inline constexpr std::int32_t kMkvReadFailed = -3;   // the stream did not give bytes the file holds
inline constexpr std::int32_t kMkvNotMatroska = -4;  // no EBML header, or one for another DocType
inline constexpr char kVfwCodecId[] = "V_MS/VFW/FOURCC";

// A CRC-32 element that is the first child of a master: it covers the rest
// of that master's data.
struct TMkvCrc {
  std::uint32_t ParentId = 0;    // the master holding it
  std::int64_t ValuePos = 0;     // its 4 data bytes, the value little-endian
  std::int64_t CoveredPos = 0;   // from the end of the CRC-32 element
  std::int64_t CoveredSize = 0;  // to the end of the master's data
  std::uint32_t Stored = 0;
  // A Segment's covers the whole file: nothing in it may change.
  bool OfSegment() const { return ParentId == mkvid::kSegment; }
  bool operator==(const TMkvCrc&) const = default;
};

// Reads the headers of a Matroska file as far as the first video track.
// Every size is checked against its parent and the file; the walk visits a
// bounded number of elements through a bounded number of small reads, and
// holds nothing whose size the file declares.
class TMatroskaReader {
 public:
  static constexpr std::uint32_t kMaxElements = 100000;
  static constexpr std::int64_t kReadSize = 4096;  // bytes asked for at a time
  static constexpr std::int32_t kMaxReads = 256;   // so at most 1 MiB of header area
  static constexpr std::size_t kMaxCodecIdLength = 64;

  // Reads at once. The stream stays the caller's and must outlive the
  // reader, which only reads and seeks it.
  explicit TMatroskaReader(TStream64* stream);

  // Reads the headers again from nothing; returns Status.
  std::int32_t Read();

  std::int32_t Status = 0;  // 0 read, kMkvReadFailed (nothing else is set then) or kMkvNotMatroska
  // Sizes that do not fit their parent or the file, invalid numbers, doubled
  // fields, or more than the limits hold: what was found is reported, but
  // the file must not be written.
  bool Damaged = false;
  std::int64_t FileSize = 0;

  bool VideoTrack = false;  // a TrackEntry of TrackType 1 was found
  std::uint64_t TrackNumber = 0;
  std::string CodecId;                // at most kMaxCodecIdLength bytes, trailing zeros dropped
  std::int64_t CodecPrivatePos = 0;   // its data; 0: none
  std::int64_t CodecPrivateSize = 0;  // the bytes the file holds of it
  // A V_MS/VFW/FOURCC track whose CodecPrivate holds a whole bitmap header,
  // stored as it is: the biCompression field. 0: none.
  std::int64_t CompressionPos = 0;
  FourCC Compression = 0;
  // Of the Segment, Tracks and the video track's TrackEntry, as far as the
  // walk went: innermost first.
  std::vector<TMkvCrc> Crcs;

  bool SegmentCrc() const;

 private:
  TMatroskaReader() = default;

  TStream64* Stream = nullptr;
};

// IEEE CRC-32 as zlib's crc32(): pass the last result on to go on.
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

inline constexpr std::int64_t kMaxCrcRange = 64 << 20;

// The CRC-32 of size bytes at pos; nothing when the range is over
// kMaxCrcRange or the stream does not give all of it.
std::optional<std::uint32_t> StreamCrc32(TStream64& stream, std::int64_t pos, std::int64_t size);

// The new values of the CRC-32s (innermost first, as the reader gives them)
// once the four bytes at pos change from old to now; each outer value counts
// the inner ones' new bytes. They follow from the stored values alone, which
// the caller must have found true to their bytes. Nothing when a change lies
// half inside a range.
std::optional<std::vector<std::uint32_t>> CrcsAfterChange(std::span<const TMkvCrc> crcs, std::int64_t pos, FourCC old,
                                                          FourCC now);
