// What every input must keep, for the fuzz targets and test_avi. Each check writes the bytes to the path and returns
// what went wrong, or "".
#pragma once
#include <string>
#include <tuple>

#include "RiffBuilder.h"
#include "avi/QmAVIFile.h"
#include "core/Driver.h"

namespace fuzzcheck {
#define FUZZ_CHECK(condition, what) \
  if (!(condition)) return std::string(what)
// Counts the reader's calls and refuses writes. Past the budget (a few calls per two bytes, a scan over damage at
// worst) the walk is going round: every call then fails, so that it ends and is reported.
struct TCountingFileStream : TFileStream64 {
  TCountingFileStream(const std::string& name, std::int64_t budget)
      : TFileStream64(name, kModeAnalyse), Budget(budget) {}
  std::int64_t Read(void* b, std::int64_t n) override { return ++Calls > Budget ? 0 : TFileStream64::Read(b, n); }
  std::int64_t Seek(std::int64_t o, std::uint16_t r) override {
    return ++Calls > Budget ? -1 : TFileStream64::Seek(o, r);
  }
  std::int64_t Write(const void*, std::int64_t) override { return ++Writes, 0; }
  std::int64_t Calls = 0, Writes = 0, Budget;
};
// The reader: the right status, a walk that ends, never a write. (What it finds is checked through the driver.)
inline std::string CheckReader(const std::string& path, const Bytes& data, std::int32_t* integrity = nullptr) {
  WriteBytes(path, data);
  const bool riff = data.size() >= 12 && FourCCFromBytes(data.data()) == MakeFourCC("RIFF");
  {
    TCountingFileStream s(path, 8 * static_cast<std::int64_t>(data.size()) + 256);
    TQmAVIFileReader r(&s);
    FUZZ_CHECK(r.Status == (riff ? 0 : -4), "Status " + std::to_string(r.Status));
    s.Calls = 0;
    FUZZ_CHECK(!riff || (r.Scan(0) == 0 && r.FileSize == static_cast<std::int64_t>(data.size())), "Scan failed");
    FUZZ_CHECK(s.Calls <= s.Budget, "the walk did not end within its budget of stream calls");
    FUZZ_CHECK(s.Writes == 0, "the reader wrote to the file");
    if (integrity) *integrity = r.Integrity;
  }
  FUZZ_CHECK(ReadBytes(path) == data, "the file changed");
  return {};
}
// The driver, AVI and Matroska: the analysis leaves the file alone and finds fields that hold what it reports; each
// offered conversion writes its planned fields only, reads back as the target with nothing refused (a CRC-32 written
// wrong would be), and converting back restores every byte.
inline std::string CheckDriver(const std::string& path, const Bytes& data, bool anyCase = false) {
  std::int32_t integrity = 0;
  if (std::string e = CheckReader(path, data, &integrity); !e.empty()) return "reader: " + e;
  TAppState s;
  s.AnyCase = anyCase;
  s.Matroska = true;
  ProcessFile(s, path, kNoCodec);
  FUZZ_CHECK(ReadBytes(path) == data, "the analysis changed the file");
  if (s.FileStatus != fsOk) return s.FileStatus == fsNotAvi ? "" : "analysis status " + std::to_string(s.FileStatus);
  const auto size = static_cast<std::int64_t>(data.size());
  auto holds = [&](std::int64_t p, FourCC v) {
    return p == 0 || (p > 0 && p + 4 <= size && FourCCFromBytes(&data[p]) == v);
  };
  FUZZ_CHECK(holds(s.HandlerFieldPos, s.OriginalHandler) && holds(s.CompressionFieldPos, s.OriginalCompression),
             "fields");
  const TAppState analysed = s;
  auto convert = [&](TCodecId target) -> std::string {
    const Bytes before = ReadBytes(path);
    const auto plan = PlanConversion(s, target);
    ProcessFile(s, path, target);
    Bytes now = ReadBytes(path);
    const std::string to = " to codec " + std::to_string(target);
    FUZZ_CHECK(s.FileStatus == (plan ? fsOk : fsCannotWrite) && now.size() == before.size(), "status or size" + to);
    for (const TFieldWrite& w : plan ? plan->Writes : std::vector<TFieldWrite>{}) {  // all but those as they were
      FUZZ_CHECK(w.Position > 0 && w.Position <= size - 4, "a write outside the file" + to);
      std::copy_n(before.begin() + w.Position, 4, now.begin() + w.Position);
    }
    FUZZ_CHECK(now == before, "bytes besides the fields changed" + to);
    if (s.FileStatus != fsOk || target == analysed.OriginalCodec || integrity == -1) return {};
    // A resynchronised walk looks at data bytes, the fields among them.
    TAppState fresh;
    fresh.AnyCase = anyCase;
    fresh.Matroska = true;
    ProcessFile(fresh, path, kNoCodec);
    FUZZ_CHECK(std::tie(fresh.CurrentCodec, fresh.HandlerFieldPos, fresh.CompressionFieldPos, fresh.Refusal) ==
                   std::tuple(target, s.HandlerFieldPos, s.CompressionFieldPos, nullptr),
               "the converted file does not read as codec" + to);
    return {};
  };
  const auto targets = OfferedTargets(analysed.OriginalCodec);
  for (TCodecId target : targets) {
    if (std::string e = convert(target); !e.empty()) return e;
    if (std::string e = convert(analysed.OriginalCodec); !e.empty()) return "back: " + e;
    FUZZ_CHECK(ReadBytes(path) == data,
               "converting back from codec " + std::to_string(target) + " did not restore the file");
  }
  return {};
}

}  // namespace fuzzcheck
