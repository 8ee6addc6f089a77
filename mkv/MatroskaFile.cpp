#include "MatroskaFile.h"

#include <algorithm>
#include <bit>
#include <cstring>

using namespace mkvid;

namespace {

// One element as the walk takes it: its size is what its parent leaves it
// room for when the declared one is larger or unknown.
struct TMkvElement {
  std::uint32_t Id = 0;
  std::int64_t Pos = 0;  // the ID's first byte
  std::int64_t DataPos = 0;
  std::int64_t Size = 0;
  std::int64_t End() const { return DataPos + Size; }
};

// One analysis's view of the file: bytes through a small window read at
// the position asked for, the limits, and what went wrong.
class TMkvWalk {
 public:
  TMkvWalk(TStream64& stream, std::int64_t fileSize) : stream_(stream), fileSize_(fileSize) {}

  // n (at most kReadSize) bytes at pos, which the caller knows to lie in the file.
  bool Get(std::int64_t pos, std::int64_t n, std::uint8_t* out) {
    if (n == 0) return true;
    if (Failed || pos < 0 || n < 0 || n > fileSize_ - pos) return false;
    if (pos < windowPos_ || pos + n > windowPos_ + windowLength_) {
      if (++reads_ > TMatroskaReader::kMaxReads) return Damaged = true, false;
      windowPos_ = pos;
      windowLength_ = 0;
      const std::int64_t ask = std::min(TMatroskaReader::kReadSize, fileSize_ - pos);
      if (stream_.Seek(pos, 0) == pos) windowLength_ = std::max<std::int64_t>(stream_.Read(window_.data(), ask), 0);
      // A window short of bytes the file holds: the stream could not give
      // them, and nothing read so far can be trusted as the whole answer.
      if (windowLength_ < n) return Failed = true, false;
    }
    std::memcpy(out, window_.data() + (pos - windowPos_), static_cast<std::size_t>(n));
    return true;
  }

  // The element whose header is at pos, inside a parent whose data ends at
  // end. Nothing at the parent's end, or where no valid header fits.
  std::optional<TMkvElement> At(std::int64_t pos, std::int64_t end) {
    if (pos >= end || Failed) return std::nullopt;
    if (++elements_ > TMatroskaReader::kMaxElements) return Damage();
    std::uint8_t b[12];
    const std::int64_t n = std::min<std::int64_t>(end - pos, sizeof b);
    if (!Get(pos, n, b)) return std::nullopt;
    const int idLength = std::countl_zero(b[0]) + 1;
    if (b[0] == 0 || idLength > 4 || idLength >= n) return Damage();
    TMkvElement e{0, pos, 0, 0};
    for (int i = 0; i < idLength; ++i) e.Id = e.Id << 8 | b[i];
    const std::uint32_t idBits = (1u << (7 * idLength)) - 1;
    if ((e.Id & idBits) == 0 || (e.Id & idBits) == idBits) return Damage();
    const int sizeLength = std::countl_zero(b[idLength]) + 1;
    if (b[idLength] == 0 || idLength + sizeLength > n) return Damage();
    std::uint64_t size = b[idLength] & (0xFFu >> sizeLength);
    for (int i = 1; i < sizeLength; ++i) size = size << 8 | b[idLength + i];
    e.DataPos = pos + idLength + sizeLength;
    const std::int64_t room = end - e.DataPos;
    // Only a Segment or a Cluster may leave its size open: it ends where its parent does.
    const bool unknown = size == (std::uint64_t{1} << (7 * sizeLength)) - 1;
    if ((unknown && e.Id != kSegment && e.Id != kCluster) || (!unknown && size > static_cast<std::uint64_t>(room)))
      Damaged = true;
    e.Size = unknown || size > static_cast<std::uint64_t>(room) ? room : static_cast<std::int64_t>(size);
    return e;
  }

  // An unsigned integer element; nothing when it is longer than 8 bytes.
  std::optional<std::uint64_t> Uint(const TMkvElement& e) {
    std::uint8_t b[8];
    if (e.Size > 8) return Damaged = true, std::nullopt;
    if (!Get(e.DataPos, e.Size, b)) return std::nullopt;
    std::uint64_t v = 0;
    for (std::int64_t i = 0; i < e.Size; ++i) v = v << 8 | b[i];
    return v;
  }

  // At most cap bytes of a string element; zero padding is dropped only
  // from one read whole.
  std::string Text(const TMkvElement& e, std::size_t cap) {
    std::string s(static_cast<std::size_t>(std::min<std::int64_t>(e.Size, static_cast<std::int64_t>(cap))), '\0');
    if (!Get(e.DataPos, static_cast<std::int64_t>(s.size()), reinterpret_cast<std::uint8_t*>(s.data()))) return {};
    if (static_cast<std::int64_t>(s.size()) == e.Size) s.erase(s.find_last_not_of('\0') + 1);
    return s;
  }

  std::nullopt_t Damage() { return Damaged = true, std::nullopt; }

  bool Damaged = false;
  bool Failed = false;

 private:
  TStream64& stream_;
  std::int64_t fileSize_;
  std::array<std::uint8_t, TMatroskaReader::kReadSize> window_;
  std::int64_t windowPos_ = 0, windowLength_ = 0;
  std::int32_t reads_ = 0;
  std::uint32_t elements_ = 0;
};

// Children of a master, in file order.
#define FOR_CHILDREN(e, parent) \
  for (auto e = w.At((parent).DataPos, (parent).End()); e; e = w.At(e->End(), (parent).End()))

// A CRC-32 element counts only as a master's first child, and only with 4 bytes.
void NoteCrc(TMkvWalk& w, const TMkvElement& parent, const TMkvElement& e, std::optional<TMkvCrc>& crc) {
  if (e.Id != kCrc32 || e.Pos != parent.DataPos) return;
  std::uint8_t b[4];
  if (e.Size != 4) return void(w.Damaged = true);
  if (w.Get(e.DataPos, 4, b)) crc = TMkvCrc{parent.Id, e.DataPos, e.End(), parent.End() - e.End(), FourCCFromBytes(b)};
}

// Where a SeekHead puts Tracks and another SeekHead: file positions, or -1
// for none or one outside the Segment.
std::pair<std::int64_t, std::int64_t> SeekEntries(TMkvWalk& w, const TMkvElement& segment, const TMkvElement& head) {
  std::int64_t tracks = -1, next = -1;
  FOR_CHILDREN(seek, head) {
    if (seek->Id != kSeek) continue;
    std::optional<std::uint64_t> id, at;
    FOR_CHILDREN(field, *seek) {
      if (field->Id == kSeekId) id = w.Uint(*field);
      if (field->Id == kSeekPosition) at = w.Uint(*field);
    }
    if (!id || !at || *at >= static_cast<std::uint64_t>(segment.Size)) continue;
    const std::int64_t pos = segment.DataPos + static_cast<std::int64_t>(*at);
    if (*id == kTracks && tracks < 0) tracks = pos;
    if (*id == kSeekHead && next < 0 && pos != head.Pos) next = pos;
  }
  return {tracks, next};
}

// Tracks by the SeekHead, and by a second SeekHead the first names, once.
std::optional<TMkvElement> TracksBySeekHead(TMkvWalk& w, const TMkvElement& segment, TMkvElement head) {
  for (int round = 0; round < 2; ++round) {
    const auto [tracks, next] = SeekEntries(w, segment, head);
    if (tracks >= 0) {
      auto e = w.At(tracks, segment.End());
      return e && e->Id == kTracks ? e : w.Damage();
    }
    auto e = next >= 0 ? w.At(next, segment.End()) : std::nullopt;
    if (!e || e->Id != kSeekHead) return std::nullopt;
    head = *e;
  }
  return std::nullopt;
}

// What a TrackEntry says of its track.
struct TTrack {
  std::optional<std::uint64_t> Number, Type;
  std::optional<std::string> CodecId;
  std::optional<TMkvElement> CodecPrivate;
  bool PrivateEncoded = false;  // compressed or encrypted: its bytes are not the header
  std::optional<TMkvCrc> Crc;
};

TTrack ReadTrackEntry(TMkvWalk& w, const TMkvElement& entry) {
  TTrack t;
  // A field given twice leaves open which one a player takes.
  auto once = [&w](auto& field, auto value) { field ? void(w.Damaged = true) : void(field = value); };
  FOR_CHILDREN(e, entry) {
    NoteCrc(w, entry, *e, t.Crc);
    if (e->Id == kTrackNumber) once(t.Number, w.Uint(*e).value_or(0));
    if (e->Id == kTrackType) once(t.Type, w.Uint(*e).value_or(0));
    if (e->Id == kCodecId) once(t.CodecId, w.Text(*e, TMatroskaReader::kMaxCodecIdLength));
    if (e->Id == kCodecPrivate) once(t.CodecPrivate, *e);
    if (e->Id != kContentEncodings) continue;
    FOR_CHILDREN(encoding, *e) {
      if (encoding->Id != kContentEncoding) continue;
      std::uint64_t scope = 1;  // the frames only, unless it says otherwise
      FOR_CHILDREN(field, *encoding) {
        if (field->Id == kContentEncodingScope) scope = w.Uint(*field).value_or(1);
      }
      if (scope & 2) t.PrivateEncoded = true;
    }
  }
  return t;
}

// Fills r's findings; 0, or kMkvNotMatroska.
std::int32_t Walk(TMkvWalk& w, TMatroskaReader& r) {
  auto ebml = w.At(0, r.FileSize);
  std::string docType;
  if (ebml && ebml->Id == kEbml) {
    FOR_CHILDREN(e, *ebml) {
      if (e->Id == kDocType) {
        docType = w.Text(*e, 16);
        break;
      }
    }
  }
  if (docType != "matroska") return kMkvNotMatroska;

  std::optional<TMkvElement> segment, tracks, seekHead;
  for (auto e = w.At(ebml->End(), r.FileSize); e; e = w.At(e->End(), r.FileSize)) {
    if (e->Id == kSegment) {
      segment = e;
      break;
    }
  }
  std::optional<TMkvCrc> segmentCrc, tracksCrc, entryCrc;
  if (segment) {
    FOR_CHILDREN(e, *segment) {
      NoteCrc(w, *segment, *e, segmentCrc);
      if (e->Id == kTracks) tracks = e;
      if (e->Id == kTracks || e->Id == kCluster) break;
      if (e->Id == kSeekHead && !seekHead) seekHead = e;
    }
    // Tracks written after the clusters, as a muxer that cannot seek back does.
    if (!tracks && seekHead) tracks = TracksBySeekHead(w, *segment, *seekHead);
  }
  if (tracks) {
    FOR_CHILDREN(e, *tracks) {
      NoteCrc(w, *tracks, *e, tracksCrc);
      // The walk goes on past the first video track, so that a Tracks whose
      // children do not fill it is found damaged too.
      if (e->Id != kTrackEntry || r.VideoTrack) continue;
      TTrack t = ReadTrackEntry(w, *e);
      if (t.Type != 1) continue;
      r.VideoTrack = true;
      r.TrackNumber = t.Number.value_or(0);
      r.CodecId = t.CodecId.value_or("");
      entryCrc = t.Crc;
      if (t.CodecPrivate) r.CodecPrivatePos = t.CodecPrivate->DataPos, r.CodecPrivateSize = t.CodecPrivate->Size;
      std::uint8_t b[4];
      if (r.CodecId == kVfwCodecId && r.CodecPrivateSize >= 40 && !t.PrivateEncoded &&
          w.Get(r.CodecPrivatePos + 16, 4, b))
        r.CompressionPos = r.CodecPrivatePos + 16, r.Compression = FourCCFromBytes(b);
    }
  }
  for (const auto& crc : {entryCrc, tracksCrc, segmentCrc})
    if (crc) r.Crcs.push_back(*crc);
  return 0;
}

#undef FOR_CHILDREN

}  // namespace

TMatroskaReader::TMatroskaReader(TStream64* stream) : Stream(stream) { Read(); }

bool TMatroskaReader::SegmentCrc() const {
  return std::any_of(Crcs.begin(), Crcs.end(), [](const TMkvCrc& c) { return c.OfSegment(); });
}

std::int32_t TMatroskaReader::Read() {
  TStream64* const stream = Stream;
  *this = TMatroskaReader();
  Stream = stream;
  FileSize = stream ? stream->GetSize() : -1;
  if (FileSize < 0) return Status = kMkvReadFailed;
  TMkvWalk w(*stream, FileSize);
  Status = Walk(w, *this);
  if (w.Failed) {
    *this = TMatroskaReader();
    Stream = stream;
    return Status = kMkvReadFailed;
  }
  Damaged = Status == 0 && w.Damaged;
  return Status;
}

// ---------------------------------------------------------------- CRC-32

namespace {
constexpr auto kCrcTable = [] {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}();

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  crc = ~crc;
  for (std::uint8_t b : data) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::optional<std::uint32_t> StreamCrc32(TStream64& stream, std::int64_t pos, std::int64_t size) {
  constexpr std::int64_t kChunk = 65536;
  if (pos < 0 || size < 0 || size > kMaxCrcRange || pos > INT64_MAX - size) return std::nullopt;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(size, kChunk)));
  std::uint32_t crc = 0;
  for (std::int64_t at = pos; at < pos + size; at += kChunk) {
    const std::int64_t n = std::min(kChunk, pos + size - at);
    if (stream.Seek(at, 0) != at || stream.Read(chunk.data(), n) != n) return std::nullopt;
    crc = Crc32(std::span(chunk.data(), static_cast<std::size_t>(n)), crc);
  }
  return crc;
}

namespace {

// What a CRC-32 gains when four bytes change by delta (old XOR new) with
// `after` bytes of its range behind them: the CRC-32s of two strings of one
// length differ by the CRC register run from zero over their difference,
// which is zero but for these four bytes.
std::uint32_t CrcChange(FourCC delta, std::int64_t after) {
  static constexpr std::uint8_t kZeros[4096] = {};
  auto run = [](std::span<const std::uint8_t> bytes, std::uint32_t reg) { return ~Crc32(bytes, ~reg); };
  std::uint8_t bytes[4];
  FourCCToBytes(delta, bytes);
  std::uint32_t reg = run(bytes, 0);
  for (; after > 0; after -= static_cast<std::int64_t>(sizeof kZeros))
    reg = run(std::span(kZeros, static_cast<std::size_t>(std::min<std::int64_t>(after, sizeof kZeros))), reg);
  return reg;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> CrcsAfterChange(std::span<const TMkvCrc> crcs, std::int64_t pos, FourCC old,
                                                          FourCC now) {
  struct TChange {
    std::int64_t pos;
    FourCC delta;
  };
  std::vector<TChange> changes{{pos, old ^ now}};
  std::vector<std::uint32_t> values;
  for (const TMkvCrc& c : crcs) {
    if (c.CoveredPos < 0 || c.CoveredSize < 0 || c.CoveredSize > kMaxCrcRange) return std::nullopt;
    const std::int64_t end = c.CoveredPos + c.CoveredSize;
    std::uint32_t value = c.Stored;
    for (const TChange& ch : changes) {
      if (ch.pos + 4 <= c.CoveredPos || ch.pos >= end) continue;
      if (ch.pos < c.CoveredPos || ch.pos + 4 > end) return std::nullopt;  // half inside
      value ^= CrcChange(ch.delta, end - ch.pos - 4);
    }
    changes.push_back({c.ValuePos, value ^ c.Stored});
    values.push_back(value);
  }
  return values;
}
