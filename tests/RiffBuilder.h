// The test inputs: RIFF/AVI byte images stated in a few lines, the seed corpus, random damage to it, an in-memory
// stream; a private folder.
//   Build({Riff("AVI ", {List("hdrl", {Chunk("avih", 56).Label("avih")}), Chunk("JUNK", 5).Sized(1000)})})
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "avi/QmRIFFStream.h"
#include "core/CodecCatalogue.h"

using Bytes = std::vector<std::uint8_t>;
// File names are UTF-8 strings, as the program keeps them.
inline std::filesystem::path Path(const std::string& name) { return std::u8string(name.begin(), name.end()); }
struct TempDir {
  TempDir() { std::filesystem::create_directories(path); }
  ~TempDir() { std::filesystem::remove_all(path, ec); }
  std::string File(const std::string& name) const {
    const std::u8string s = (path / Path(name)).u8string();
    return std::string(s.begin(), s.end());
  }
  static inline int made = 0;
  std::error_code ec;
  std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("tovacrex-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
       std::to_string(++made));
};
inline void WriteBytes(const std::string& name, const Bytes& data) {
  std::ofstream(Path(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
inline Bytes ReadBytes(const std::string& name) {
  std::ifstream f(Path(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

namespace riff {

inline void Put32(Bytes& b, std::uint32_t v) { b.resize(b.size() + 4), FourCCToBytes(v, &b[b.size() - 4]); }
inline void Set32(Bytes& b, std::size_t at, std::uint32_t v) { FourCCToBytes(v, &b.at(at + 3) - 3); }
// Codes shorter than four characters are padded with blanks.
inline FourCC FCC(const std::string& code) {
  return FourCCFromBytes(reinterpret_cast<const std::uint8_t*>((code + "    ").data()));
}
inline std::string Code(FourCC v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
// A chunk, a container ("RIFF"/"LIST", with a type) or raw bytes (no id).
struct Piece {
  std::string id, type, label;
  Bytes data;
  std::vector<Piece> children;
  std::optional<std::uint32_t> declared;  // written instead of the true size
  Piece Sized(std::uint32_t size) const { return {id, type, label, data, children, size}; }
  Piece Label(std::string name) const { return {id, type, std::move(name), data, children, declared}; }
};
inline Piece Chunk(const std::string& id, Bytes data) { return {id, "", "", std::move(data), {}, {}}; }
inline Piece Chunk(const std::string& id, std::size_t n, std::uint8_t fill = 0) { return Chunk(id, Bytes(n, fill)); }
inline Piece List(const std::string& type, std::vector<Piece> c, const std::string& id = "LIST") {
  return {id, type, "", {}, std::move(c), {}};
}
inline Piece Riff(const std::string& form, std::vector<Piece> c) { return List(form, std::move(c), "RIFF"); }
inline Piece Raw(Bytes bytes) { return {"", "", "", std::move(bytes), {}, {}}; }
struct Image {
  Bytes bytes;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> places;  // label: header and data position
  std::int64_t HeaderPos(const std::string& label) const { return places.at(label).first; }
  std::int64_t DataPos(const std::string& label) const { return places.at(label).second; }
};
inline void Emit(const Piece& p, Image& img) {
  Bytes& out = img.bytes;
  const auto start = static_cast<std::int64_t>(out.size());
  if (!p.id.empty()) out.insert(out.end(), p.id.begin(), p.id.end()), Put32(out, 0);
  if (!p.type.empty()) out.insert(out.end(), p.type.begin(), p.type.end());
  if (!p.label.empty()) img.places[p.label] = {start, static_cast<std::int64_t>(out.size())};
  out.insert(out.end(), p.data.begin(), p.data.end());
  for (const Piece& c : p.children) Emit(c, img);
  if (p.id.empty()) return;
  const auto size = static_cast<std::uint32_t>(out.size() - start - 8);
  Set32(out, static_cast<std::size_t>(start + 4), p.declared.value_or(size));
  if (size & 1) out.push_back(0);
}
inline Image Build(const std::vector<Piece>& pieces) {
  Image img;
  return Emit(Piece{"", "", "", {}, pieces, {}}, img), img;  // a raw piece holding them all
}
inline Bytes Words(std::initializer_list<std::uint32_t> words, std::size_t size) {
  Bytes b;
  return std::for_each(words.begin(), words.end(), [&b](std::uint32_t w) { Put32(b, w); }), b.resize(size), b;
}
// A stream list; its format a bitmap header, the compression at byte 16, bytes past 40 standing for codec data.
inline Piece Strl(const std::string& type, const std::string& handler, const std::string& compression,
                  const std::string& prefix, std::size_t strhSize = 56, std::size_t strfSize = 40,
                  std::vector<Piece> extra = {}) {
  extra.insert(extra.begin(),
               {Chunk("strh", Words({FCC(type), FCC(handler), 0, 0, 0, 1, 25, 0, 3}, strhSize)).Label(prefix + ".strh"),
                Chunk("strf", Words({40, 64, 48, 0x180001, FCC(compression)}, strfSize)).Label(prefix + ".strf")});
  return List("strl", std::move(extra)).Label(prefix + ".strl");
}
struct AviOptions {
  std::string handler = "DX50", compression = "DX50";
  std::size_t strhSize = 56, strfSize = 40;
  bool audio = false, audioFirst = false, idx1 = true;
  std::vector<Piece> extraStrl;  // after "strf" in the video stream list
};
// "RIFF" "AVI " with "hdrl" (avih, stream lists), "movi" (three frames of odd size, so with pad bytes) and "idx1".
// Labels: "avih", "v.*" and "a.*" (strl, strh, strf), "movi", "idx1".
inline Image MakeAvi(const AviOptions& o = {}) {
  std::vector<Piece> hdrl{Chunk("avih", Words({40000, 0, 0, 0x10, 3, 0, o.audio ? 2u : 1u}, 56)).Label("avih"),
                          Strl("vids", o.handler, o.compression, "v", o.strhSize, o.strfSize, o.extraStrl)};
  if (o.audio) hdrl.insert(hdrl.begin() + (o.audioFirst ? 1 : 2), Strl("auds", "", "\1\1\1\1", "a", 56, 18));
  std::vector<Piece> movi;
  Bytes index;  // entries of 16 bytes: the id, then zeros
  for (std::uint8_t i = 0; i < 3; ++i) {
    movi.push_back(Chunk(o.audioFirst ? "01dc" : "00dc", 101, 0x10 + i));
    if (o.audio) movi.push_back(Chunk(o.audioFirst ? "00wb" : "01wb", 200, 0x80));
  }
  for (const Piece& p : movi) Put32(index, FCC(p.id)), index.resize(index.size() + 12);
  std::vector<Piece> form{List("hdrl", std::move(hdrl)), List("movi", std::move(movi)).Label("movi")};
  if (o.idx1) form.push_back(Chunk("idx1", index).Label("idx1"));
  return Build({Riff("AVI ", std::move(form))});
}
inline Image MakeAvi(const std::string& handler, const std::string& compression) {
  return MakeAvi({.handler = handler, .compression = compression});
}
// Sound files of every codec and layout (Mutate damages them as real files get damaged).
inline std::vector<std::pair<std::string, Bytes>> Seeds() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  auto add = [&](const std::string& name, const AviOptions& o) { seeds.emplace_back(name, MakeAvi(o).bytes); };
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    add("codec" + std::to_string(id), {Code(TargetFourCCs(id).Handler), Code(TargetFourCCs(id).Compression)});
  add("video-audio", {.handler = "div3", .compression = "DIV3", .audio = true});
  add("audio-video", {.handler = "XVID", .compression = "XVID", .audio = true, .audioFirst = true});
  add("long-records", {.handler = "mp43", .compression = "MP43", .strhSize = 64, .strfSize = 133});
  add("short-records", {.handler = "div3", .compression = "DIV3", .strhSize = 8, .strfSize = 20});
  add("no-compression-field", {.handler = "xvid", .compression = "XVID", .strfSize = 18});
  add("a-pair-no-codec-writes", {.handler = "XVID", .compression = "DX50"});
  add("strl-extras", {.idx1 = false, .extraStrl = {Chunk("JUNK", 7), Chunk("strn", Text("video")), Chunk("indx", 24)}});
  return seeds;
}
// Damage as files get it: sizes or ids overwritten, bytes swapped, a cut, garbage.
inline Bytes Mutate(Bytes b, std::mt19937& rng) {
  auto any = [&](std::size_t n) { return n ? static_cast<std::size_t>(rng() % n) : 0; };
  static const std::uint32_t kSizes[] = {0, 1, 3, 4, 5, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xA00000, 0xA00001};
  // Half of the damage falls on a chunk header: its id, size or list type.
  std::vector<std::size_t> heads;
  for (std::size_t i = 0; i + 12 <= b.size(); ++i)
    for (const char* id : {"RIFF", "LIST", "avih", "strh", "strf", "JUNK", "idx1"})
      if (std::equal(id, id + 4, b.begin() + std::ptrdiff_t(i))) heads.push_back(i + 4 * any(3));
  for (int k = 0, n = 1 + static_cast<int>(rng() % 3); k < n && b.size() > 8; ++k) {
    std::size_t at = any(b.size() - 4) & ~std::size_t{rng() % 2};
    if (!heads.empty() && rng() % 2) at = std::min(heads[any(heads.size())], b.size() - 4);
    const std::uint32_t kind = rng() % 6;
    if (kind == 0) Set32(b, at, kSizes[any(std::size(kSizes))]);
    if (kind == 1) Set32(b, at, rng() % 2 ? FCC("LIST") : FCC("strl"));
    if (kind == 2) std::swap(b[at], b[any(b.size())]);
    if (kind == 3) b.resize(any(b.size()));
    if (kind == 4) b[at] = static_cast<std::uint8_t>(rng());
    if (kind == 5) b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), any(9), static_cast<std::uint8_t>(rng()));
  }
  return b;
}
// A file in memory: seeks past the end are allowed, before the start they fail. With a budget, every call past it
// throws (a walk that does not end).
struct MemoryStream : TStream64 {
  explicit MemoryStream(Bytes data, std::int64_t budget = 0) : data_(std::move(data)), budget_(budget) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    Spend();
    const std::int64_t n = std::clamp<std::int64_t>(Size() - pos_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    return pos_ += n, n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    Spend(), ++Generation;
    if (count <= 0) return 0;
    if (pos_ + count > Size()) data_.resize(static_cast<std::size_t>(pos_ + count), 0);
    std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
    return pos_ += count, count;
  }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    Spend();
    const std::int64_t to = SeekFrom(origin == 0 ? 0 : origin == 1 ? pos_ : origin == 2 ? Size() : -1, offset);
    return to < 0 ? -1 : pos_ = to;
  }
  Bytes& Data() { return data_; }  // changed here, it is written behind the stream's back
  std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
  void Spend() {
    if (budget_ > 0 && ++calls_ > budget_) throw std::runtime_error("stream call budget spent");
  }
  Bytes data_;
  std::int64_t pos_ = 0, budget_, calls_ = 0;
};

}  // namespace riff
