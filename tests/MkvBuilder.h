// EBML byte images for the Matroska tests, every size in 8 bytes: El(kSegment, {El(kTracks, {...}, kCrc)}, kOpen);
// and what the reader's findings must hold to.
#pragma once

#include <algorithm>
#include <bit>

#include "RiffBuilder.h"
#include "mkv/MatroskaFile.h"

namespace mkvb {

using riff::MemoryStream;
enum : int { kCrc = 1, kOpen = 2 };  // a CRC-32 element first; a size of all ones

inline Bytes BigEndian(std::uint64_t v, int n) {
  Bytes b(n);
  for (int k = 0; k < n; ++k) b[k] = static_cast<std::uint8_t>(v >> 8 * (n - 1 - k));
  return b;
}
// The parts as an element's data (id 0: with no header), its size the true one unless given.
inline Bytes El(std::uint32_t id, const std::vector<Bytes>& parts, int flags = 0, std::int64_t size = -1) {
  Bytes out = id ? BigEndian(id, (std::bit_width(id) + 7) / 8) : Bytes{}, body;
  for (const Bytes& p : parts) body.insert(body.end(), p.begin(), p.end());
  if (flags & kCrc) body.insert(body.begin(), {0xBF, 0x84, 0, 0, 0, 0});
  if (flags & kCrc) FourCCToBytes(Crc32(std::span(body).subspan(6)), &body[2]);
  const std::uint64_t n = flags & kOpen ? (1ull << 56) - 1 : size >= 0 ? size : body.size();
  for (const Bytes& b : {id ? BigEndian(1ull << 56 | n, 8) : Bytes{}, body}) out.insert(out.end(), b.begin(), b.end());
  return out;
}
inline Bytes Str(std::uint32_t id, const std::string& s) { return El(id, {Bytes(s.begin(), s.end())}); }
inline Bytes Uint(std::uint32_t id, std::uint64_t v) { return El(id, {BigEndian(v, 8)}); }

// What is wrong with what r found in b, or nullptr: each position lies in the file and holds what r says, each
// CRC-32 covers the code and the inner ones, and each whose stored value holds (as all must in a built file) holds
// with its new value for DX50 over the changed bytes, the inner ones' among them.
inline const char* Wrong(const Bytes& b, const TMatroskaReader& r, bool built) {
  const std::int64_t n = std::ssize(b), at = r.CompressionPos;
  auto in = [](std::int64_t pos, std::int64_t size, std::int64_t begin, std::int64_t end) {
    return pos >= begin && size >= 0 && pos <= end && size <= end - pos;
  };
  if ((r.CodecPrivatePos && !(r.VideoTrack && in(r.CodecPrivatePos, r.CodecPrivateSize, 1, n))) ||
      (at && !(r.CodecPrivatePos && r.CodecId == kVfwCodecId && r.CodecPrivateSize >= 40 &&
               at == r.CodecPrivatePos + 16 && FourCCFromBytes(&b[at]) == r.Compression)))
    return "the track or its code not as the reader says";
  const auto values = CrcsAfterChange(r.Crcs, at, r.Compression, MakeFourCC("DX50"));
  if (at && (!values || values->size() != r.Crcs.size())) return "a CRC-32 left out";
  Bytes changed = b;
  if (at) FourCCToBytes(MakeFourCC("DX50"), &changed[at]);
  for (std::size_t i = 0; i < r.Crcs.size(); ++i) {
    const TMkvCrc& c = r.Crcs[i];
    const std::int64_t end = c.CoveredPos + c.CoveredSize;
    if (!in(c.ValuePos, 4, 1, n) || c.CoveredPos != c.ValuePos + 4 || !in(c.CoveredPos, c.CoveredSize, 0, n) ||
        FourCCFromBytes(&b[c.ValuePos]) != c.Stored || (at && !in(at, 4, c.CoveredPos, end)) ||
        (i && !in(r.Crcs[i - 1].ValuePos, 4, c.CoveredPos, end)))
      return "a CRC-32 not as the reader says, or not over the code and the inner ones";
    if (at) FourCCToBytes((*values)[i], &changed[c.ValuePos]);
  }
  for (const TMkvCrc& c : r.Crcs) {
    auto crc = [&c](const Bytes& bytes) { return Crc32(std::span(bytes).subspan(c.CoveredPos, c.CoveredSize)); };
    if (crc(b) != c.Stored && built) return "a CRC-32 that does not hold";
    if (at && crc(b) == c.Stored && crc(changed) != FourCCFromBytes(&changed[c.ValuePos])) return "nor a new one";
  }
  return nullptr;
}

}  // namespace mkvb
