// The properties every input must keep, for the fuzz targets and for the
// replay of kept inputs in the normal test run. Each check takes the bytes of
// a file, writes them to the given path and returns what went wrong, or an
// empty string.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/CodecCatalogue.h"
#include "app/Driver.h"
#include "avi/QmAVIFile.h"

namespace fuzzcheck {

using Bytes = std::vector<std::uint8_t>;

inline void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Stream calls one walk may make over a file of `size` bytes. The scan over a
// damaged file costs a read, a size query (three seeks) and a step back for
// every two bytes at worst; a sound file costs a handful of calls per chunk
// of at least eight bytes. Anything beyond this is a walk that goes round.
inline std::int64_t WalkBudget(std::int64_t size) { return 8 * size + 256; }

// Counts the reader's stream calls, refuses writes, and once the budget is
// spent fails every further call, so that a walk that would never end does
// end and is reported instead of hanging the run.
class TCountingFileStream : public TFileStream64 {
 public:
  TCountingFileStream(const std::string& name, std::int64_t budget) : TFileStream64(name, kModeAnalyse), Budget(budget) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (Spent()) return 0;
    return TFileStream64::Read(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    if (Spent()) return -1;
    return TFileStream64::Seek(offset, origin);
  }
  std::int64_t Write(const void*, std::int64_t) override {
    ++Writes;
    return 0;
  }

  std::int64_t Calls = 0;
  std::int64_t Writes = 0;
  std::int64_t Budget;
  bool Exhausted = false;

 private:
  bool Spent() {
    if (++Calls <= Budget) return false;
    Exhausted = true;
    return true;
  }
};

inline std::string Hex(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

// The copy of a record must be the file's bytes from its position, as far as
// the record and the file go, and zero after that.
inline std::string CheckRecordCopy(const char* what, const std::uint8_t* copy, std::size_t copySize, std::int64_t pos,
                                   std::int64_t size, const Bytes& file) {
  if (pos == 0) return {};
  if (pos < 0 || pos > static_cast<std::int64_t>(file.size())) return std::string(what) + " position outside the file";
  std::int64_t n = std::min<std::int64_t>({static_cast<std::int64_t>(copySize), std::max<std::int64_t>(size, 0),
                                           static_cast<std::int64_t>(file.size()) - pos});
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(copySize); ++i) {
    std::uint8_t want = i < n ? file[static_cast<std::size_t>(pos + i)] : 0;
    if (copy[i] != want) return std::string(what) + " copy differs from the file at byte " + std::to_string(i);
  }
  return {};
}

struct TScanResult {
  std::int32_t Result = 0;
  std::int64_t VideoStreamHeaderPos = 0, VideoStreamHeaderSize = 0;
  std::int64_t VideoFormatPos = 0, VideoFormatSize = 0;
  FourCC Handler = 0, Compression = 0;
  std::uint32_t NodeCount = 0;
  std::int32_t Integrity = 0, DamagedCount = 0, AudioStreamCount = 0;
  bool HeadersRead = false;
  bool operator==(const TScanResult&) const = default;

  std::string Describe() const {
    return "result " + std::to_string(Result) + " strh " + std::to_string(VideoStreamHeaderPos) + "+" +
           std::to_string(VideoStreamHeaderSize) + " strf " + std::to_string(VideoFormatPos) + "+" +
           std::to_string(VideoFormatSize) + " " + FourCCText(Handler) + "/" + FourCCText(Compression) + " nodes " +
           std::to_string(NodeCount) + " integrity " + std::to_string(Integrity) + " damaged " +
           std::to_string(DamagedCount) + " audio " + std::to_string(AudioStreamCount) + " headers " +
           std::to_string(HeadersRead);
  }
};

// One scan, checked on its own.
inline std::string ScanOnce(TQmAVIFileReader& reader, TCountingFileStream& stream, const Bytes& file,
                            TScanResult& r) {
  stream.Calls = 0;
  stream.Exhausted = false;
  r.Result = reader.Scan(0);
  if (stream.Exhausted)
    return "the walk took more than " + std::to_string(stream.Budget) + " stream calls for " +
           std::to_string(file.size()) + " bytes";
  if (r.Result != 0 && r.Result != -2) return "Scan returned " + std::to_string(r.Result);
  const auto size = static_cast<std::int64_t>(file.size());
  if (reader.FileSize != size) return "FileSize " + std::to_string(reader.FileSize);
  if (reader.Integrity != 0 && reader.Integrity != -1 && reader.Integrity != -2)
    return "Integrity " + std::to_string(reader.Integrity);
  if (reader.CodecFamily > cfOther) return "CodecFamily " + std::to_string(reader.CodecFamily);
  if (reader.DamagedCount < 0 || static_cast<std::uint32_t>(reader.DamagedCount) > reader.NodeCount)
    return "DamagedCount " + std::to_string(reader.DamagedCount) + " of " + std::to_string(reader.NodeCount);
  if (r.Result == -2 && reader.NodeCount != 0) return "a scan that did not start left nodes";

  // Every node lies in the file, and the tree is a tree: each node is met at
  // most once going down from the top-level chain.
  std::uint32_t damaged = 0;
  for (TNodeIndex i = 0; i < reader.NodeCount; ++i) {
    std::int64_t pos = reader.GetNodePos(i);
    if (pos < 0 || pos > size) return "node " + std::to_string(i) + " at " + Hex(pos) + " outside the file";
    if (reader.GetNodeFlags(i) & nfDamaged) ++damaged;
    TNodeIndex next = reader.GetNextSibling(i), child = reader.GetFirstChild(i);
    if ((next != kNoNode && (next <= i || next >= reader.NodeCount)) ||
        (child != kNoNode && (child <= i || child >= reader.NodeCount)))
      return "node " + std::to_string(i) + " links outside the tree or backwards";
  }
  if (damaged != static_cast<std::uint32_t>(reader.DamagedCount)) return "DamagedCount does not match the flags";

  if (std::string e = CheckRecordCopy("strh", reader.VideoStreamHeader.data(), reader.VideoStreamHeader.size(),
                                      reader.VideoStreamHeaderPos, reader.VideoStreamHeaderSize, file);
      !e.empty())
    return e;
  if (std::string e = CheckRecordCopy("strf", reader.VideoFormat.data(), reader.VideoFormat.size(),
                                      reader.VideoFormatPos, reader.VideoFormatSize, file);
      !e.empty())
    return e;
  if (reader.VideoStreamHeaderPos == 0 && reader.VideoHandler() != 0) return "a handler without a stream header";
  if (reader.VideoFormatPos == 0 && reader.VideoCompression() != 0) return "a compression without a format";

  r.VideoStreamHeaderPos = reader.VideoStreamHeaderPos;
  r.VideoStreamHeaderSize = reader.VideoStreamHeaderSize;
  r.VideoFormatPos = reader.VideoFormatPos;
  r.VideoFormatSize = reader.VideoFormatSize;
  r.Handler = reader.VideoHandler();
  r.Compression = reader.VideoCompression();
  r.NodeCount = reader.NodeCount;
  r.Integrity = reader.Integrity;
  r.DamagedCount = reader.DamagedCount;
  r.AudioStreamCount = reader.AudioStreamCount;
  r.HeadersRead = reader.HeadersRead;
  return {};
}

// The reader: signature check, scan, results read. It never writes, its walk
// stays within the budget, and a second scan (by the same reader, unless
// asked otherwise) finds the same again.
enum class TRepeat { None, FreshReader, SameReader };
inline std::string CheckReader(const std::string& path, const Bytes& data, TScanResult* out = nullptr,
                               TRepeat repeat = TRepeat::SameReader) {
  WriteFile(path, data);
  const auto size = static_cast<std::int64_t>(data.size());
  std::string error;
  {
    TCountingFileStream stream(path, WalkBudget(size));
    auto reader = std::make_unique<TQmAVIFileReader>(&stream);
    const bool riff = size >= 12 && data[0] == 'R' && data[1] == 'I' && data[2] == 'F' && data[3] == 'F';
    if (reader->Status != (riff ? 0 : -4)) return "Status " + std::to_string(reader->Status);
    if (reader->Status == 0) {
      TScanResult first, second;
      error = ScanOnce(*reader, stream, data, first);
      if (error.empty() && repeat == TRepeat::FreshReader) {
        reader.reset();
        stream.Seek(0, 0);
        reader = std::make_unique<TQmAVIFileReader>(&stream);
      }
      if (error.empty() && repeat != TRepeat::None) {
        error = ScanOnce(*reader, stream, data, second);
        if (error.empty() && !(first == second))
          error = "a second scan found something else: " + first.Describe() + " then " + second.Describe();
      }
      if (out) *out = first;
    }
    if (error.empty() && stream.Writes != 0) error = "the reader wrote to the file";
  }
  if (error.empty() && ReadFile(path) != data) error = "the file changed";
  return error;
}

// Bytes of `now` that differ from `before` outside the two fields.
inline std::string CheckOnlyFieldsChanged(const Bytes& before, const Bytes& now, std::int64_t handlerPos,
                                          std::int64_t compressionPos) {
  if (now.size() != before.size()) return "the file size changed";
  auto inField = [](std::int64_t i, std::int64_t pos) { return pos > 0 && i >= pos && i < pos + 4; };
  for (std::size_t i = 0; i < now.size(); ++i) {
    auto at = static_cast<std::int64_t>(i);
    if (now[i] != before[i] && !inField(at, handlerPos) && !inField(at, compressionPos))
      return "byte " + Hex(at) + " outside the two fields changed";
  }
  return {};
}

// A field the driver may write: inside its record's declared data and inside
// the file.
inline std::string CheckFieldPlace(const char* what, std::int64_t field, std::int64_t recordPos,
                                   std::int64_t recordSize, std::int64_t offset, std::int64_t fileSize) {
  if (field == 0) return {};
  if (field != recordPos + offset) return std::string(what) + " field is not at its record's offset";
  if (recordSize < offset + 4) return std::string(what) + " field lies past its record";
  if (field < 0 || field + 4 > fileSize) return std::string(what) + " field lies outside the file";
  return {};
}

inline FourCC FourCCAt(const Bytes& file, std::int64_t pos) {
  return FourCCFromBytes(file.data() + static_cast<std::size_t>(pos));
}

// The driver: the analysis leaves the file alone; each offered conversion
// writes at most the two fields, in place, and a conversion back to the
// original codec restores every byte.
inline std::string CheckDriver(const std::string& path, const Bytes& data) {
  const auto size = static_cast<std::int64_t>(data.size());
  TScanResult scan;
  if (std::string e = CheckReader(path, data, &scan, TRepeat::None); !e.empty()) return "reader: " + e;

  TAppState s;
  ProcessFile(s, path, kNoCodec);
  if (ReadFile(path) != data) return "the analysis changed the file";
  const bool riff = size >= 12 && data[0] == 'R' && data[1] == 'I' && data[2] == 'F' && data[3] == 'F';
  if (s.FileStatus != (riff ? fsOk : fsNotAvi)) return "analysis FileStatus " + std::to_string(s.FileStatus);
  if (s.FileStatus != fsOk) return {};
  if (s.CurrentCodec != s.OriginalCodec || s.CurrentCodec < kFirstCodec || s.CurrentCodec > kUnknownCodec)
    return "analysis codecs " + std::to_string(s.CurrentCodec) + "/" + std::to_string(s.OriginalCodec);
  if (std::string e = CheckFieldPlace("handler", s.HandlerFieldPos, scan.VideoStreamHeaderPos,
                                      scan.VideoStreamHeaderSize, 4, size);
      !e.empty())
    return e;
  if (std::string e = CheckFieldPlace("compression", s.CompressionFieldPos, scan.VideoFormatPos,
                                      scan.VideoFormatSize, 16, size);
      !e.empty())
    return e;
  if (s.HandlerFieldPos > 0 && FourCCAt(data, s.HandlerFieldPos) != s.OriginalHandler)
    return "the handler found is not the file's";
  if (s.CompressionFieldPos > 0 && FourCCAt(data, s.CompressionFieldPos) != s.OriginalCompression)
    return "the compression found is not the file's";

  const TCodecId original = s.OriginalCodec;
  const std::int64_t handlerPos = s.HandlerFieldPos, compressionPos = s.CompressionFieldPos;
  // `reanalyse`: check what a fresh analysis finds afterwards. Not needed
  // where the result is compared with the original bytes anyway.
  auto convert = [&](TCodecId target, const Bytes& before, bool reanalyse) -> std::string {
    const bool planned = PlanConversion(s, target).has_value();
    const TCodecId currentBefore = s.CurrentCodec;
    ProcessFile(s, path, target);
    Bytes now = ReadFile(path);
    const std::string to = " to codec " + std::to_string(target);
    if (s.OriginalCodec != original || s.HandlerFieldPos != handlerPos || s.CompressionFieldPos != compressionPos)
      return "a conversion changed what the analysis found";
    if (!planned) {
      if (s.FileStatus != fsCannotWrite || s.CurrentCodec != currentBefore) return "an unplanned conversion" + to;
      if (now != before) return "a refused conversion" + to + " changed the file";
      return {};
    }
    if (s.FileStatus != fsOk || s.CurrentCodec != target) return "the conversion" + to + " failed";
    if (std::string e = CheckOnlyFieldsChanged(before, now, handlerPos, compressionPos); !e.empty()) return e + to;
    if (!reanalyse) return {};
    // What was written is recognised as the target, at the same places. In a
    // file the reader had to resynchronise, the scan looks at data bytes, the
    // two fields included, so there only the analysis itself must succeed.
    TAppState fresh;
    ProcessFile(fresh, path, kNoCodec);
    if (ReadFile(path) != now) return "the analysis after the conversion" + to + " changed the file";
    if (fresh.FileStatus != fsOk) return "after the conversion" + to + " the analysis failed";
    if (scan.Integrity != -1 && (fresh.CurrentCodec != target || fresh.HandlerFieldPos != handlerPos ||
                                 fresh.CompressionFieldPos != compressionPos))
      return "after the conversion" + to + " the file analyses as codec " + std::to_string(fresh.CurrentCodec) +
             " with fields at " + Hex(fresh.HandlerFieldPos) + "/" + Hex(fresh.CompressionFieldPos) + " instead of " +
             Hex(handlerPos) + "/" + Hex(compressionPos);
    return {};
  };

  auto targets = OfferedTargets(original);
  for (TCodecId target : targets) {
    if (std::string e = convert(target, data, true); !e.empty()) return e;
    Bytes converted = ReadFile(path);
    if (std::string e = convert(original, converted, false); !e.empty()) return "back: " + e;
    if (ReadFile(path) != data) return "converting back from codec " + std::to_string(target) + " did not restore the file";
  }
  // A chain through every target without going back in between, then back.
  for (TCodecId target : targets) {
    Bytes before = ReadFile(path);
    if (std::string e = convert(target, before, false); !e.empty()) return "chain: " + e;
  }
  if (!targets.empty()) {
    if (std::string e = convert(original, ReadFile(path), false); !e.empty()) return "chain back: " + e;
    if (ReadFile(path) != data) return "the chain back did not restore the file";
  }
  return {};
}

}  // namespace fuzzcheck
