#include "Driver.h"

#include <memory>

#include "avi/QmAVIFile.h"
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

}  // namespace

void AnalyseStream(TAppState& s, TStream64& stream) {
  s.HandlerFieldPos = 0;
  s.CompressionFieldPos = 0;
  s.CurrentCodec = kUnknownCodec;
  s.OriginalCodec = kUnknownCodec;
  std::unique_ptr<TQmAVIFileReader> reader;
  try {
    reader = std::make_unique<TQmAVIFileReader>(&stream);
  } catch (...) {
    s.FileStatus = fsScanFailed;  // the reader itself could not be made
    return;
  }
  if (reader->Status < 0) {
    s.FileStatus = StatusFromReader(reader->Status);
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
  if (!FieldHolds(stream, plan.Handler.Position, plan.Handler.Old)) return false;
  if (plan.Compression && !FieldHolds(stream, plan.Compression->Position, plan.Compression->Old)) return false;
  const bool handler = WriteField(stream, plan.Handler.Position, plan.Handler.New);
  const bool compression =
      handler && (!plan.Compression || WriteField(stream, plan.Compression->Position, plan.Compression->New));
  // Success only once the disk has it: after a failed flush nobody knows
  // which of the new bytes are there, so the old ones go back as after a
  // failed write.
  if (handler && compression && stream.Flush()) return true;
  if (handler && plan.Compression) WriteField(stream, plan.Compression->Position, plan.Compression->Old);
  WriteField(stream, plan.Handler.Position, plan.Handler.Old);  // a partial write is undone
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
  s.ExpectedHandler = plan->Handler.New;
  if (plan->Compression) s.ExpectedCompression = plan->Compression->New;
  s.CurrentCodec = target;
  s.FileStatus = fsOk;
}

}  // namespace

std::optional<TConversionPlan> PlanConversion(const TAppState& s, TCodecId target) {
  if (target < kFirstCodec || target > kLastCodec || s.HandlerFieldPos <= 0) return std::nullopt;
  // Back to the original codec means back to the exact pair found.
  TFourCCPair pair =
      target == s.OriginalCodec ? TFourCCPair{s.OriginalHandler, s.OriginalCompression} : TargetFourCCs(target);
  TConversionPlan plan{{s.HandlerFieldPos, s.ExpectedHandler, pair.Handler}, std::nullopt};
  FourCC compressionAfter = s.ExpectedCompression;
  if (s.CompressionFieldPos > 0) {
    if (FieldsOverlap(s.HandlerFieldPos, s.CompressionFieldPos)) return std::nullopt;
    plan.Compression = TFieldWrite{s.CompressionFieldPos, s.ExpectedCompression, pair.Compression};
    compressionAfter = pair.Compression;
  }
  // A file that would not be recognised as the target afterwards is not written.
  if (DetectCodec(pair.Handler, compressionAfter, s.AnyCase) != target) return std::nullopt;
  return plan;
}

bool CanOpenFile(const std::string& fileName) { return os::CanOpenForReading(fileName); }

void ProcessFile(TAppState& state, const std::string& fileName, TCodecId target) {
  state.FileStatus = fsNotFound;
  if (target == kNoCodec) return Analyse(state, fileName);  // its open is the test
  if (!CanOpenFile(fileName)) return;
  Convert(state, fileName, target);
}
