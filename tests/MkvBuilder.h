// EBML byte images for the Matroska tests, each stated in a few lines:
//
//   Bytes file = Build({Master(kEbml, {...}), Master(kSegment, {Master(kTracks, {...}).Crc()}).Unknown()});
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "avi/QmRIFFStream.h"

namespace mkvb {

using Bytes = std::vector<std::uint8_t>;

// CRC-32 bit by bit, apart from the reader's table.
inline std::uint32_t BitCrc(const std::uint8_t* p, std::int64_t n, std::uint32_t c = ~0u) {
  for (std::int64_t i = 0; i < 8 * n; ++i) c = (c ^ p[i / 8] >> i % 8) & 1 ? c >> 1 ^ 0xEDB88320u : c >> 1;
  return ~c;
}

// An element of data, or of children; id 0: the data with no header.
struct El {
  std::uint32_t id;
  Bytes data = {};
  std::vector<El> kids = {};
  bool crc = false, unknown = false;  // a CRC-32 element first; a size of all ones
  std::int64_t size = -1;             // the declared size; -1: the true one
  El Crc() const { return With(&El::crc, true); }
  El Unknown() const { return With(&El::unknown, true); }
  El Sized(std::int64_t n) const { return With(&El::size, n); }
  template <class T>
  El With(T El::*field, T value) const {
    El e = *this;
    e.*field = value;
    return e;
  }
};
inline El Master(std::uint32_t id, std::vector<El> kids) { return El{id, {}, std::move(kids)}; }
inline El Bin(std::uint32_t id, Bytes data) { return El{id, std::move(data)}; }
inline El Raw(Bytes data) { return Bin(0, std::move(data)); }
inline El Str(std::uint32_t id, const std::string& s) { return Bin(id, Bytes(s.begin(), s.end())); }
inline El Uint(std::uint32_t id, std::uint64_t v, int width = 1) {
  Bytes b;
  for (int k = 7; k >= 0; --k)
    if (v >> 8 * k || k < width) b.push_back(static_cast<std::uint8_t>(v >> 8 * k));
  return Bin(id, b);
}

// The elements one after the other, each size in as few bytes as hold it.
inline Bytes Build(const std::vector<El>& elements) {
  Bytes out;
  for (const El& e : elements) {
    Bytes body = e.data, kids = Build(e.kids);
    body.insert(body.end(), kids.begin(), kids.end());
    if (e.crc) body.insert(body.begin(), {0xBF, 0x84, 0, 0, 0, 0});
    if (e.crc) FourCCToBytes(BitCrc(&body[6], std::ssize(body) - 6), &body[2]);
    for (int k = 3; k >= 0; --k)
      if (e.id >> 8 * k) out.push_back(static_cast<std::uint8_t>(e.id >> 8 * k));
    std::uint64_t size = e.size >= 0 ? e.size : body.size();
    int n = 1;
    while (n < 8 && size >= (std::uint64_t{1} << 7 * n) - 1) ++n;
    if (e.unknown) n = 8, size = (std::uint64_t{1} << 56) - 1;
    for (int k = n - 1; e.id && k >= 0; --k)
      out.push_back(static_cast<std::uint8_t>(size >> 8 * k | (k == n - 1 ? 0x80 >> k : 0)));
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

// Bytes, read-only, none given from `hole` on: a window of a file before
// the rest has come.
struct MemoryStream : TStream64 {
  explicit MemoryStream(Bytes b, std::int64_t hole = INT64_MAX) : data(std::move(b)), hole(hole) {}
  std::int64_t Read(void* out, std::int64_t n) override {
    n = std::clamp<std::int64_t>(std::min(hole, std::ssize(data)) - pos, 0, std::max<std::int64_t>(n, 0));
    if (n > 0) std::copy_n(data.begin() + pos, n, static_cast<std::uint8_t*>(out));
    return pos += n, n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    const std::int64_t to = SeekFrom(origin == 0 ? 0 : origin == 1 ? pos : origin == 2 ? std::ssize(data) : -1, offset);
    return to < 0 ? -1 : pos = to;
  }
  Bytes data;
  std::int64_t hole, pos = 0;
};

}  // namespace mkvb
