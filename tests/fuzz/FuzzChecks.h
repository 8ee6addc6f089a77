// What every input must keep, for the fuzz targets, the replay of kept
// inputs and the robustness test. Each check writes the bytes to the given
// path and returns what went wrong, or an empty string.
#pragma once

#include <memory>
#include <string>
#include <tuple>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/Driver.h"
#include "avi/QmAVIFile.h"

namespace fuzzcheck {

#define FUZZ_CHECK(condition, what) \
  if (!(condition)) return std::string(what)

// Stream calls one walk may make over a file of `size` bytes: a scan over
// damage costs a few calls per two bytes at worst. Past it the walk goes
// round; every call then fails, so that it ends and is reported.
inline std::int64_t WalkBudget(std::int64_t size) { return 8 * size + 256; }

class TCountingFileStream : public TFileStream64 {
 public:
  TCountingFileStream(const std::string& name, std::int64_t budget) : TFileStream64(name, kModeAnalyse), Budget(budget) {}
  std::int64_t Read(void* b, std::int64_t n) override { return Spent() ? 0 : TFileStream64::Read(b, n); }
  std::int64_t Seek(std::int64_t o, std::uint16_t r) override { return Spent() ? -1 : TFileStream64::Seek(o, r); }
  std::int64_t Write(const void*, std::int64_t) override { return ++Writes, 0; }
  std::int64_t Calls = 0, Writes = 0, Budget;

 private:
  bool Spent() { return ++Calls > Budget; }
};

// What a scan found, to compare scans.
inline auto Results(const TQmAVIFileReader& r) {
  return std::tuple(r.VideoStreamHeaderPos, r.VideoStreamHeaderSize, r.VideoFormatPos, r.VideoFormatSize,
                    r.VideoHandler(), r.VideoCompression(), r.NodeCount, r.Integrity, r.DamagedCount,
                    r.AudioStreamCount, r.HeadersRead, r.CodecFamily);
}

// A record's copy holds the file's bytes as far as the record and the file
// go, and zeros after that.
inline bool CopyHolds(const std::uint8_t* copy, std::int64_t copySize, std::int64_t pos, std::int64_t size, const Bytes& file) {
  if (pos == 0) return std::all_of(copy, copy + copySize, [](std::uint8_t c) { return c == 0; });
  const std::int64_t n = std::min({copySize, std::max<std::int64_t>(size, 0), static_cast<std::int64_t>(file.size()) - pos});
  for (std::int64_t i = 0; i < copySize; ++i)
    if (copy[i] != (i < n ? file[static_cast<std::size_t>(pos + i)] : 0)) return false;
  return pos > 0;
}

inline std::string ScanOnce(TQmAVIFileReader& r, TCountingFileStream& s, const Bytes& file) {
  s.Calls = 0;
  const std::int32_t result = r.Scan(0);
  FUZZ_CHECK(s.Calls <= s.Budget, "the walk did not end within its budget of stream calls");
  FUZZ_CHECK(result == 0 || (result == -2 && r.NodeCount == 0), "Scan returned " + std::to_string(result));
  FUZZ_CHECK(r.FileSize == static_cast<std::int64_t>(file.size()), "FileSize is not the file's");
  std::int32_t damaged = 0;
  for (TNodeIndex i = 0; i < r.NodeCount; ++i) {
    const TChunkNode& n = r.GetNode(i);
    FUZZ_CHECK(n.DataPos >= 0 && n.DataPos <= r.FileSize, "a node outside the file");
    FUZZ_CHECK(n.NextSibling == kNoNode || (n.NextSibling > i && n.NextSibling < r.NodeCount), "a sibling link backwards");
    FUZZ_CHECK(n.FirstChild == kNoNode || (n.FirstChild > i && n.FirstChild < r.NodeCount), "a child link backwards");
    damaged += (n.Flags & nfDamaged) != 0;
  }
  FUZZ_CHECK(damaged == r.DamagedCount, "DamagedCount does not match the flags");
  FUZZ_CHECK(CopyHolds(r.VideoStreamHeader.data(), 64, r.VideoStreamHeaderPos, r.VideoStreamHeaderSize, file),
             "the strh copy is not the file's");
  FUZZ_CHECK(CopyHolds(r.VideoFormat.data(), 40, r.VideoFormatPos, r.VideoFormatSize, file), "the strf copy is not the file's");
  return {};
}

// The reader: the right status, a walk that ends, copies that are the
// file's, never a write, and the same again from a second scan.
inline std::string CheckReader(const std::string& path, const Bytes& data, std::int32_t* integrity = nullptr) {
  WriteBytes(path, data);
  const bool riff = data.size() >= 12 && FourCCFromBytes(data.data()) == MakeFourCC("RIFF");
  {
    TCountingFileStream stream(path, WalkBudget(static_cast<std::int64_t>(data.size())));
    TQmAVIFileReader reader(&stream);
    FUZZ_CHECK(reader.Status == (riff ? 0 : -4), "Status " + std::to_string(reader.Status));
    if (riff) {
      if (std::string e = ScanOnce(reader, stream, data); !e.empty()) return e;
      const auto first = Results(reader);
      if (integrity) *integrity = reader.Integrity;
      if (std::string e = ScanOnce(reader, stream, data); !e.empty()) return "again: " + e;
      FUZZ_CHECK(Results(reader) == first, "a second scan found something else");
    }
    FUZZ_CHECK(stream.Writes == 0, "the reader wrote to the file");
  }
  FUZZ_CHECK(ReadBytes(path) == data, "the file changed");
  return {};
}

// The driver: the analysis leaves the file alone and finds fields that lie
// in the file and hold what it reports; each offered conversion writes the
// two fields only, and converting back restores every byte, also after a
// chain through every target.
inline std::string CheckDriver(const std::string& path, const Bytes& data) {
  std::int32_t integrity = 0;
  if (std::string e = CheckReader(path, data, &integrity); !e.empty()) return "reader: " + e;
  TAppState s;
  ProcessFile(s, path, kNoCodec);
  FUZZ_CHECK(ReadBytes(path) == data, "the analysis changed the file");
  if (s.FileStatus != fsOk) return s.FileStatus == fsNotAvi ? "" : "analysis status " + std::to_string(s.FileStatus);
  const auto size = static_cast<std::int64_t>(data.size());
  auto holds = [&](std::int64_t pos, FourCC v) { return pos == 0 || (pos > 0 && pos + 4 <= size && FourCCFromBytes(&data[pos]) == v); };
  FUZZ_CHECK(holds(s.HandlerFieldPos, s.OriginalHandler), "the handler field does not hold the handler");
  FUZZ_CHECK(holds(s.CompressionFieldPos, s.OriginalCompression), "the compression field does not hold the compression");
  const TAppState analysed = s;
  auto convert = [&](TCodecId target) -> std::string {
    const Bytes before = ReadBytes(path);
    const bool planned = PlanConversion(s, target).has_value();
    ProcessFile(s, path, target);
    const Bytes now = ReadBytes(path);
    const std::string to = " to codec " + std::to_string(target);
    FUZZ_CHECK(s.FileStatus == (planned ? fsOk : fsCannotWrite), "status " + std::to_string(s.FileStatus) + to);
    FUZZ_CHECK(now.size() == before.size(), "the size changed" + to);
    for (std::int64_t i = 0; i < size; ++i) {
      const bool field = (i >= s.HandlerFieldPos && i < s.HandlerFieldPos + 4) ||
                         (i >= s.CompressionFieldPos && i < s.CompressionFieldPos + 4 && s.CompressionFieldPos > 0);
      FUZZ_CHECK(now[i] == before[i] || (planned && field), "byte " + std::to_string(i) + " changed" + to);
    }
    return {};
  };
  const auto targets = OfferedTargets(analysed.OriginalCodec);
  for (TCodecId target : targets) {
    if (std::string e = convert(target); !e.empty()) return e;
    TAppState fresh;
    ProcessFile(fresh, path, kNoCodec);
    // A resynchronised walk looks at data bytes, the fields among them.
    FUZZ_CHECK(s.FileStatus != fsOk || integrity == -1 ||
                   (fresh.CurrentCodec == target && fresh.HandlerFieldPos == analysed.HandlerFieldPos &&
                    fresh.CompressionFieldPos == analysed.CompressionFieldPos),
               "the converted file does not read as codec " + std::to_string(target) + " at the same fields");
    if (std::string e = convert(analysed.OriginalCodec); !e.empty()) return "back: " + e;
    FUZZ_CHECK(ReadBytes(path) == data, "converting back from codec " + std::to_string(target) + " did not restore the file");
  }
  for (TCodecId target : targets)
    if (std::string e = convert(target); !e.empty()) return "chain: " + e;
  if (!targets.empty()) convert(analysed.OriginalCodec);
  FUZZ_CHECK(ReadBytes(path) == data, "the chain back did not restore the file");
  return {};
}

}  // namespace fuzzcheck
