#include "Driver.h"

#include <algorithm>
#include <memory>

#include "avi/QmAVIFile.h"
#include "mkv/MatroskaFile.h"
#include "platform/OsFile.h"

namespace {

// Read and write access, others may read and write: the conversion reads
// each field back before it overwrites it.
constexpr std::uint16_t kModePatch = fmOpenReadWrite | fmShareDenyNone;

// A field counts only when its four bytes lie inside the record's data and
// inside the file; otherwise its position is 0 and it is never written.
std::int64_t FieldPos(std::int64_t recordPos, std::int64_t recordSize, std::int64_t offset, std::int64_t fileSize) {
  if (recordPos <= 0 || recordSize < offset + 4) return 0;
  if (recordPos > fileSize - offset - 4) return 0;
  return recordPos + offset;
}

std::uint8_t StatusFromReader(std::int32_t status) {
  switch (status) {
    case -4:
      return fsNotAvi;
    case -3:
      return fsCannotOpen;
    case -2:
      return fsCannotCreateStream;
    default:
      return fsNotFound;
  }
}

// One open: a file this shared read-only open cannot open is the file the
// open-and-close test calls not found (the same open), and the state is left
// as that test leaves it.
void Analyse(TAppState& s, const std::string& fileName) {
  std::unique_ptr<TFileStream64> stream;
  try {
    stream = std::make_unique<TFileStream64>(fileName, kModeAnalyse);
  } catch (...) {
    s.FileStatus = fsNotFound;
    return;
  }
  AnalyseStream(s, *stream);
}

// A Matroska file's first video track. The code counts only when nothing
// stops it from being written: a file whose elements do not fit, or a
// CRC-32 over it that could not be written true, keeps it shown but unwritten.
void AnalyseMatroska(TAppState& s, TStream64& stream) {
  std::optional<TMatroskaReader> reader;
  try {
    stream.Seek(0, 0);
    reader.emplace(&stream);
  } catch (...) {
    s.FileStatus = fsScanFailed;
    return;
  }
  if (reader->Status == kMkvNotMatroska) {
    s.FileStatus = fsNotAvi;
    return;
  }
  if (reader->Status < 0) {
    s.FileStatus = fsScanFailed;
    return;
  }
  s.Container = ctMatroska;
  s.TrackNumber = reader->TrackNumber;
  s.OriginalHandler = s.ExpectedHandler = 0;
  s.OriginalCompression = s.ExpectedCompression = reader->Compression;
  s.CurrentCodec = s.OriginalCodec = kUnknownCodec;
  s.FileStatus = fsOk;
  if (reader->CompressionPos <= 0) return;  // no code to show
  s.CurrentCodec = s.OriginalCodec = DetectCodecByCompression(reader->Compression, s.AnyCase);
  // A code that must not be written is still shown, with no offset. One
  // under a CRC-32 that does not hold keeps its offset: a run stopped
  // between the code and its CRC-32 leaves that, and undo must find both.
  s.CompressionFieldPos = reader->CompressionPos;
  for (const TMkvCrc& c : reader->Crcs) {
    const std::optional<std::uint32_t> crc = StreamCrc32(stream, c.CoveredPos, c.CoveredSize);
    if (c.OfSegment()) {
      s.Refusal = "the Segment's CRC-32 covers the whole file, which is not written again";
      s.CompressionFieldPos = 0;
    } else if (!crc) {
      s.Refusal = "a CRC-32 over the code covers more than can be checked";
      s.CompressionFieldPos = 0;
    } else if (*crc != c.Stored && !s.Refusal) {
      s.Refusal = "a CRC-32 over the code does not hold for the bytes it covers";
    }
    s.Crcs.push_back(c);
  }
  if (reader->Damaged) {
    s.Refusal = "the file's elements do not fit in their parents or the file";
    s.CompressionFieldPos = 0;
  }
}

// The code of a VfW track, then each CRC-32 over it, the inner ones first:
// each new value follows from the stored one, which the analysis found true,
// and the changes inside its range.
std::optional<TConversionPlan> PlanMatroska(const TAppState& s, TCodecId target) {
  if (s.CompressionFieldPos <= 0 || s.Refusal) return std::nullopt;
  const FourCC code = target == s.OriginalCodec ? s.OriginalCompression : TargetFourCCs(target).Compression;
  if (DetectCodecIn(s, 0, code, s.AnyCase) != target) return std::nullopt;
  TConversionPlan plan{{{s.CompressionFieldPos, s.ExpectedCompression, code}}};
  const auto values = CrcsAfterChange(s.Crcs, s.CompressionFieldPos, s.ExpectedCompression, code);
  if (!values) return std::nullopt;
  for (std::size_t i = 0; i < s.Crcs.size(); ++i)
    plan.Writes.push_back({s.Crcs[i].ValuePos, s.Crcs[i].Stored, (*values)[i]});
  return plan;
}

}  // namespace

void AnalyseStream(TAppState& s, TStream64& stream) {
  s.HandlerFieldPos = 0;
  s.CompressionFieldPos = 0;
  s.CurrentCodec = kUnknownCodec;
  s.OriginalCodec = kUnknownCodec;
  s.Container = ctAvi;
  s.TrackNumber = 0;
  s.Crcs.clear();
  s.Refusal = nullptr;
  std::unique_ptr<TQmAVIFileReader> reader;
  try {
    reader = std::make_unique<TQmAVIFileReader>(&stream);
  } catch (...) {
    s.FileStatus = fsScanFailed;  // the reader itself could not be made
    return;
  }
  if (reader->Status < 0) {
    s.FileStatus = StatusFromReader(reader->Status);
    if (s.FileStatus == fsNotAvi && s.Matroska) AnalyseMatroska(s, stream);
    return;
  }
  try {
    reader->Scan(0);
  } catch (...) {
    s.FileStatus = fsScanFailed;
    return;
  }
  s.OriginalHandler = reader->VideoHandler();
  s.OriginalCompression = reader->VideoCompression();
  s.ExpectedHandler = s.OriginalHandler;
  s.ExpectedCompression = s.OriginalCompression;
  s.HandlerFieldPos = FieldPos(reader->VideoStreamHeaderPos, reader->VideoStreamHeaderSize, 4, reader->FileSize);
  s.CompressionFieldPos = FieldPos(reader->VideoFormatPos, reader->VideoFormatSize, 16, reader->FileSize);
  reader.reset();
  s.CurrentCodec = s.OriginalCodec = DetectCodec(s.OriginalHandler, s.OriginalCompression, s.AnyCase);
  s.FileStatus = fsOk;
}

namespace {

// Seeks to a field and checks that it still holds what we expect there.
bool FieldHolds(TStream64& stream, std::int64_t pos, FourCC expected) {
  std::uint8_t bytes[4];
  return stream.Seek(pos, 0) == pos && stream.Read(bytes, 4) == 4 && FourCCFromBytes(bytes) == expected;
}

bool WriteField(TStream64& stream, std::int64_t pos, FourCC value) {
  std::uint8_t bytes[4];
  FourCCToBytes(value, bytes);
  return stream.Seek(pos, 0) == pos && stream.Write(bytes, 4) == 4;
}

}  // namespace

bool ApplyPlan(TStream64& stream, const TConversionPlan& plan) {
  const std::vector<TFieldWrite>& writes = plan.Writes;
  if (writes.empty()) return false;
  for (const TFieldWrite& w : writes)
    if (!FieldHolds(stream, w.Position, w.Old)) return false;
  std::size_t done = 0;
  while (done < writes.size() && WriteField(stream, writes[done].Position, writes[done].New)) ++done;
  // Success only once the disk has it: after a failed flush nobody knows
  // which of the new bytes are there, so the old ones go back as after a
  // failed write. A partial write is undone, the last write first.
  if (done == writes.size() && stream.Flush()) return true;
  for (std::size_t i = std::min(done + 1, writes.size()); i-- > 0;)
    WriteField(stream, writes[i].Position, writes[i].Old);
  stream.Flush();
  return false;
}

bool FieldsOverlap(std::int64_t a, std::int64_t b) { return a - b > -4 && a - b < 4; }

bool WritePlan(const std::string& fileName, const TConversionPlan& plan) {
  // A read-only file is made writable for the write, and read-only again.
  std::optional<std::uint32_t> attrs = os::GetAttributes(fileName);
  if (attrs && !(*attrs & os::kAttrReadOnly)) attrs.reset();
  if (attrs) os::SetAttributes(fileName, *attrs & ~os::kAttrReadOnly);
  bool written = false;
  try {
    TFileStream64 stream(fileName, kModePatch);
    written = ApplyPlan(stream, plan);
  } catch (...) {
    written = false;
  }
  if (attrs) os::SetAttributes(fileName, *attrs);
  return written;
}

namespace {

void Convert(TAppState& s, const std::string& fileName, TCodecId target) {
  std::optional<TConversionPlan> plan = PlanConversion(s, target);
  if (!plan || !WritePlan(fileName, *plan)) {
    s.FileStatus = fsCannotWrite;
    return;
  }
  for (const TFieldWrite& w : plan->Writes) {
    if (w.Position == s.HandlerFieldPos) s.ExpectedHandler = w.New;
    if (w.Position == s.CompressionFieldPos) s.ExpectedCompression = w.New;
    // The state goes on describing the file, so that a second conversion from it plans from the CRC-32s written.
    for (TMkvCrc& crc : s.Crcs)
      if (w.Position == crc.ValuePos) crc.Stored = w.New;
  }
  s.CurrentCodec = target;
  s.FileStatus = fsOk;
}

}  // namespace

std::optional<TConversionPlan> PlanConversion(const TAppState& s, TCodecId target) {
  if (target < kFirstCodec || target > kLastCodec) return std::nullopt;
  if (s.Container == ctMatroska) return PlanMatroska(s, target);
  if (s.HandlerFieldPos <= 0) return std::nullopt;
  // Back to the original codec means back to the exact pair found.
  TFourCCPair pair =
      target == s.OriginalCodec ? TFourCCPair{s.OriginalHandler, s.OriginalCompression} : TargetFourCCs(target);
  TConversionPlan plan{{{s.HandlerFieldPos, s.ExpectedHandler, pair.Handler}}};
  FourCC compressionAfter = s.ExpectedCompression;
  if (s.CompressionFieldPos > 0) {
    if (FieldsOverlap(s.HandlerFieldPos, s.CompressionFieldPos)) return std::nullopt;
    plan.Writes.push_back({s.CompressionFieldPos, s.ExpectedCompression, pair.Compression});
    compressionAfter = pair.Compression;
  }
  // A file that would not be recognised as the target afterwards is not written.
  if (DetectCodec(pair.Handler, compressionAfter, s.AnyCase) != target) return std::nullopt;
  return plan;
}

TCodecId DetectCodecIn(const TAppState& s, FourCC handler, FourCC compression, bool anyCase) {
  return s.Container == ctMatroska ? DetectCodecByCompression(compression, anyCase)
                                   : DetectCodec(handler, compression, anyCase);
}

bool CanOpenFile(const std::string& fileName) { return os::CanOpenForReading(fileName); }

void ProcessFile(TAppState& state, const std::string& fileName, TCodecId target) {
  state.FileStatus = fsNotFound;
  if (target == kNoCodec) return Analyse(state, fileName);  // its open is the test
  if (!CanOpenFile(fileName)) return;
  Convert(state, fileName, target);
}
