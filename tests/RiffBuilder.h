// Builds RIFF and AVI byte images for tests, so that each case states its
// file in a few lines: chunks, lists and raw bytes, with true sizes by
// default and deliberately wrong ones where a case needs them. Also an
// in-memory stream that feeds such an image to the readers.
//
//   riff::Image img = riff::Build({riff::Riff("AVI ", {
//       riff::List("hdrl", {riff::Chunk("avih", 56).Label("avih")}),
//       riff::Raw("garbage"),
//       riff::Chunk("JUNK", 5).Sized(1000)})});
//   img.DataPos("avih");  // where the avih data starts
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "avi/FourCC.h"
#include "avi/QmRIFFStream.h"

namespace riff {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// Codes shorter than four characters are padded with blanks.
inline void PutFourCC(Bytes& b, const std::string& code) {
  for (std::size_t i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(i < code.size() ? code[i] : ' '));
}
inline void PutBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(at + 2)) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline FourCC FourCCAt(const Bytes& b, std::int64_t at) {
  if (at < 0 || static_cast<std::uint64_t>(at) + 4 > b.size()) return 0;
  return FourCCFromBytes(b.data() + at);
}
inline FourCC FCC(const std::string& code) {
  Bytes b;
  PutFourCC(b, code);
  return FourCCFromBytes(b.data());
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One element of an image: a chunk, a container ("RIFF"/"LIST") or raw bytes.
struct Piece {
  enum class Kind { Chunk, Container, Raw };
  Kind kind = Kind::Raw;
  std::string id;    // chunk id, "RIFF" or "LIST"
  std::string type;  // form or list type of a container
  Bytes data;        // chunk data, or the raw bytes
  std::vector<Piece> children;
  std::optional<std::uint32_t> declaredSize;  // written instead of the true size
  bool pad = true;                            // pad byte after odd data
  std::string label;

  // Declares a size other than the true one (the true bytes are still written).
  Piece Sized(std::uint32_t size) const {
    Piece p = *this;
    p.declaredSize = size;
    return p;
  }
  // Leaves out the pad byte after odd data.
  Piece NoPad() const {
    Piece p = *this;
    p.pad = false;
    return p;
  }
  // Names the piece so that Image can tell where it landed.
  Piece Label(std::string name) const {
    Piece p = *this;
    p.label = std::move(name);
    return p;
  }
};

inline Piece Chunk(const std::string& id, Bytes data) {
  Piece p;
  p.kind = Piece::Kind::Chunk;
  p.id = id;
  p.data = std::move(data);
  return p;
}
inline Piece Chunk(const std::string& id, std::size_t size, std::uint8_t fill = 0) {
  return Chunk(id, Bytes(size, fill));
}
inline Piece Container(const std::string& id, const std::string& type, std::vector<Piece> children) {
  Piece p;
  p.kind = Piece::Kind::Container;
  p.id = id;
  p.type = type;
  p.children = std::move(children);
  return p;
}
inline Piece List(const std::string& type, std::vector<Piece> children) {
  return Container("LIST", type, std::move(children));
}
inline Piece Riff(const std::string& form, std::vector<Piece> children) {
  return Container("RIFF", form, std::move(children));
}
inline Piece Raw(Bytes bytes) {
  Piece p;
  p.data = std::move(bytes);
  return p;
}
inline Piece Raw(const std::string& bytes) { return Raw(Text(bytes)); }

// Where a labelled piece landed.
struct Placement {
  std::int64_t header = 0;  // first byte of the chunk header (of a raw piece: of its bytes)
  std::int64_t data = 0;    // first data byte: past the type for containers
};

struct Image {
  Bytes bytes;
  std::map<std::string, Placement> places;

  std::int64_t HeaderPos(const std::string& label) const { return At(label).header; }
  std::int64_t DataPos(const std::string& label) const { return At(label).data; }
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes.size()); }

 private:
  const Placement& At(const std::string& label) const {
    auto it = places.find(label);
    if (it == places.end()) throw std::out_of_range("no piece labelled " + label);
    return it->second;
  }
};

namespace detail {
inline void Emit(const Piece& p, Image& img) {
  Bytes& out = img.bytes;
  const auto start = static_cast<std::int64_t>(out.size());
  if (p.kind == Piece::Kind::Raw) {
    PutBytes(out, p.data);
    if (!p.label.empty()) img.places[p.label] = {start, start};
    return;
  }
  PutFourCC(out, p.id);
  const std::size_t sizeAt = out.size();
  Put32(out, 0);
  if (p.kind == Piece::Kind::Container) {
    PutFourCC(out, p.type);
    if (!p.label.empty()) img.places[p.label] = {start, start + 12};
    for (const Piece& c : p.children) Emit(c, img);
  } else {
    if (!p.label.empty()) img.places[p.label] = {start, start + 8};
    PutBytes(out, p.data);
  }
  const auto trueSize = static_cast<std::uint32_t>(out.size() - sizeAt - 4);
  Set32(out, sizeAt, p.declaredSize.value_or(trueSize));
  if (p.pad && (trueSize & 1)) out.push_back(0);
}
}  // namespace detail

inline Image Build(const std::vector<Piece>& pieces) {
  Image img;
  for (const Piece& p : pieces) detail::Emit(p, img);
  return img;
}

// ---------------------------------------------------------------- AVI records

// "avih": fourteen 32-bit words.
inline Bytes AvihData(std::uint32_t streams = 1, std::uint32_t width = 64, std::uint32_t height = 48) {
  Bytes b;
  for (std::uint32_t v : {40000u, 0u, 0u, 0x10u, 3u, 0u, streams, 0u, width, height, 0u, 0u, 0u, 0u}) Put32(b, v);
  return b;
}

// "strh" of the given size (56 is the common one); bytes past the 56 are zero,
// a shorter record is cut.
inline Bytes StrhData(const std::string& type, const std::string& handler, std::size_t size = 56) {
  Bytes b;
  PutFourCC(b, type);
  PutFourCC(b, handler);
  for (std::uint32_t v : {0u, 0u, 0u, 1u, 25u, 0u, 3u, 0u, 0xFFFFFFFFu, 0u}) Put32(b, v);
  for (std::uint16_t v : {0, 0, 64, 48}) Put16(b, v);
  b.resize(size, 0);
  return b;
}

// Video "strf", a bitmap format header; bytes past the 40 stand for codec data.
inline Bytes StrfVideoData(const std::string& compression, std::size_t size = 40, std::int32_t width = 64,
                           std::int32_t height = 48) {
  Bytes b;
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1);
  Put16(b, 24);
  PutFourCC(b, compression);
  for (int i = 0; i < 5; ++i) Put32(b, 0);
  b.resize(size, 0xCD);
  return b;
}

// Audio "strf", a 16-bit PCM wave format.
inline Bytes StrfAudioData() {
  Bytes b;
  Put16(b, 1);
  Put16(b, 1);
  Put32(b, 44100);
  Put32(b, 88200);
  Put16(b, 2);
  Put16(b, 16);
  Put16(b, 0);
  return b;
}

// A video stream list; its pieces are labelled prefix + ".strl", ".strh", ".strf".
inline Piece VideoStrl(const std::string& handler, const std::string& compression, std::size_t strhSize = 56,
                       std::size_t strfSize = 40, const std::string& prefix = "v",
                       std::vector<Piece> extra = {}) {
  std::vector<Piece> c{Chunk("strh", StrhData("vids", handler, strhSize)).Label(prefix + ".strh"),
                       Chunk("strf", StrfVideoData(compression, strfSize)).Label(prefix + ".strf")};
  for (Piece& p : extra) c.push_back(std::move(p));
  return List("strl", std::move(c)).Label(prefix + ".strl");
}

inline Piece AudioStrl(const std::string& prefix = "a") {
  return List("strl", {Chunk("strh", StrhData("auds", std::string(4, '\0'))).Label(prefix + ".strh"),
                       Chunk("strf", StrfAudioData()).Label(prefix + ".strf")})
      .Label(prefix + ".strl");
}

// A 16-byte "idx1" entry.
inline void PutIndexEntry(Bytes& b, const std::string& id, std::uint32_t flags, std::uint32_t offset,
                          std::uint32_t size) {
  PutFourCC(b, id);
  Put32(b, flags);
  Put32(b, offset);
  Put32(b, size);
}

struct AviOptions {
  std::string handler = "DX50";
  std::string compression = "DX50";
  std::size_t strhSize = 56;
  std::size_t strfSize = 40;
  bool audio = false;
  bool audioFirst = false;
  int frames = 3;
  std::size_t frameSize = 101;  // odd, so the frames carry pad bytes
  bool idx1 = true;
  std::vector<Piece> extraStrl;  // further chunks in the video stream list, after "strf"
};

// A well-formed AVI: "RIFF" "AVI " with "hdrl" (avih, the stream lists), a
// "movi" list of frames (and audio blocks) and an "idx1". Labels: "avi",
// "hdrl", "avih", "v.*" and "a.*" of the stream lists, "movi", "idx1".
inline Image MakeAvi(const AviOptions& o = {}) {
  const std::uint32_t streams = o.audio ? 2 : 1;
  std::vector<Piece> hdrl{Chunk("avih", AvihData(streams)).Label("avih")};
  Piece video = VideoStrl(o.handler, o.compression, o.strhSize, o.strfSize, "v", o.extraStrl);
  if (o.audio && o.audioFirst) hdrl.push_back(AudioStrl());
  hdrl.push_back(video);
  if (o.audio && !o.audioFirst) hdrl.push_back(AudioStrl());

  const std::string videoId = (o.audio && o.audioFirst) ? "01dc" : "00dc";
  const std::string audioId = (o.audio && o.audioFirst) ? "00wb" : "01wb";
  std::vector<Piece> movi;
  Bytes index;
  std::uint32_t offset = 4;
  for (int i = 0; i < o.frames; ++i) {
    Bytes frame(o.frameSize, static_cast<std::uint8_t>(0x10 + i));
    movi.push_back(Chunk(videoId, frame));
    PutIndexEntry(index, videoId, i == 0 ? 0x10 : 0, offset, static_cast<std::uint32_t>(o.frameSize));
    offset += static_cast<std::uint32_t>(8 + ((o.frameSize + 1) & ~std::size_t{1}));
    if (o.audio) {
      movi.push_back(Chunk(audioId, 200, 0x80));
      PutIndexEntry(index, audioId, 0x10, offset, 200);
      offset += 208;
    }
  }
  std::vector<Piece> form{List("hdrl", std::move(hdrl)).Label("hdrl"), List("movi", std::move(movi)).Label("movi")};
  if (o.idx1) form.push_back(Chunk("idx1", index).Label("idx1"));
  return Build({Riff("AVI ", std::move(form)).Label("avi")});
}

// ---------------------------------------------------------------- memory stream

// A stream over bytes in memory that behaves like a file: seeks past the end
// are allowed, seeks before the start fail and leave the position alone.
// Counts what is done to it; with a budget, throws once more operations
// than that have been made (a walk that does not end).
class MemoryStream : public TStream64 {
 public:
  explicit MemoryStream(Bytes data, std::int64_t budget = 0) : data_(std::move(data)), budget_(budget) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    Spend();
    ++reads;
    if (count <= 0 || pos_ >= Size()) return 0;
    const std::int64_t n = std::min(count, Size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    bytesRead += n;
    return n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    Spend();
    ++writes;
    if (count <= 0) return 0;
    if (pos_ + count > Size()) data_.resize(static_cast<std::size_t>(pos_ + count), 0);
    std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    Spend();
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? pos_ : origin == 2 ? Size() : -1;
    if (base < 0 || base + offset < 0) return -1;
    pos_ = base + offset;
    return pos_;
  }

  const Bytes& Data() const { return data_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }

  std::int64_t reads = 0;
  std::int64_t writes = 0;
  std::int64_t bytesRead = 0;
  std::int64_t operations = 0;

 private:
  void Spend() {
    if (++operations > budget_ && budget_ > 0) throw std::runtime_error("stream operation budget exhausted");
  }

  Bytes data_;
  std::int64_t pos_ = 0;
  std::int64_t budget_;
};

}  // namespace riff
