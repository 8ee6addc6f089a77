// Figures for the AVI reader, through real files in the page cache:
//  - a clean analysis (open, reader, header scan) of a 1 MiB file and of a
//    sparse 5 GiB file with the same header area, with its system calls;
//  - the scan of a damaged file whose header area is followed by garbage to
//    its end, so that the walk resynchronises through all of it: with the
//    walker's read-ahead and without it (one call per step of the scan).
// Prints the Google Benchmark table, then a summary with the speed-up.
//
//   avi_bench [--damaged-mib=N] [--dir=DIR] [benchmark options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "CountingStream.h"
#include "RiffBuilder.h"
#include "avi/QmAVIFile.h"

using namespace riff;

namespace {

std::int64_t gDamagedBytes = std::int64_t{64} << 20;
std::string gDir;

Bytes HeaderArea(std::uint32_t formSize, std::uint32_t moviSize) {
  Image img =
      Build({Riff("AVI ", {List("hdrl", {Chunk("avih", Chunk("avih", 56).data), Strl("vids", "XVID", "XVID", "v"),
                                         Strl("auds", "", "", "a"), List("odml", {Chunk("dmlh", 248)})}),
                           List("INFO", {Chunk("ISFT", Text("Lavf60.16.100"))}), Chunk("JUNK", 1016),
                           List("movi", {}).Label("movi")})
                 .Sized(formSize)});
  Set32(img.bytes, static_cast<std::size_t>(img.HeaderPos("movi") + 4), moviSize);
  return img.bytes;
}

std::string MakeClean(const std::string& name, std::int64_t size) {
  const std::string path = gDir + "/" + name;
  if (size < (std::int64_t{1} << 30))
    WriteBytes(path, HeaderArea(static_cast<std::uint32_t>(size - 8), static_cast<std::uint32_t>(size - 2048)));
  else
    WriteBytes(path, HeaderArea(0x40000000, 0x3FFFF000));
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
  return path;
}

// "RIFF" "AVI " { "LIST" "hdrl" { "avih", then random bytes to the end } }:
// every size is true, but what follows avih is no chunk.
std::string MakeDamaged() {
  const std::string path = gDir + "/damaged.avi";
  Bytes b = Build({Riff("AVI ", {List("hdrl", {Chunk("avih", Chunk("avih", 56).data)})})}).bytes;
  const std::size_t head = b.size();
  b.resize(static_cast<std::size_t>(gDamagedBytes));
  std::mt19937_64 rng(42);
  for (std::size_t i = head; i + 8 <= b.size(); i += 8) {
    const std::uint64_t v = rng();
    for (int k = 0; k < 8; ++k) b[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
  }
  Set32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  Set32(b, 16, static_cast<std::uint32_t>(b.size() - 20));
  WriteBytes(path, b);
  ReadBytes(path);  // into the page cache
  return path;
}

void CleanAnalysis(benchmark::State& state, const std::string& path) {
  std::int64_t calls = 0;
  for (auto _ : state) {
    CountingFileStream s(path, kModeAnalyse);
    TQmAVIFileReader r(&s);
    r.Scan(0);
    benchmark::DoNotOptimize(r.VideoStreamHeaderPos);
    calls = s.Calls();
  }
  state.counters["stream_calls"] = static_cast<double>(calls);
}

void DamagedScan(benchmark::State& state, const std::string& path, std::int64_t readAhead) {
  std::int64_t nodes = 0;
  for (auto _ : state) {
    TFileStream64 s(path, kModeAnalyse);
    TQmAVIFileReader r(&s);
    r.ChunkStream->ReadAhead = readAhead;
    r.Scan(0);
    if (r.Integrity != -1) state.SkipWithError("the damaged file was not seen as damaged");
    nodes = r.NodeCount;
  }
  state.SetBytesProcessed(state.iterations() * gDamagedBytes);
  state.counters["nodes"] = static_cast<double>(nodes);
}

// Keeps the mean time of each benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred && r.iterations > 0) {
        seconds[r.run_name.function_name] = r.real_accumulated_time / static_cast<double>(r.iterations);
        auto c = r.counters.find("stream_calls");
        if (c != r.counters.end()) syscalls[r.run_name.function_name] = c->second.value;
      }
  }
  std::map<std::string, double> seconds, syscalls;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--damaged-mib=", 0) == 0)
      gDamagedBytes = std::int64_t{std::atoi(a.c_str() + 14)} << 20;
    else if (a.rfind("--dir=", 0) == 0)
      gDir = a.substr(6);
  }
  TempDir temp;
  if (gDir.empty()) gDir = temp.File(".");

  const std::string small = MakeClean("clean-1MiB.avi", std::int64_t{1} << 20);
  const std::string big = MakeClean("clean-5GiB.avi", std::int64_t{5} << 30);
  const std::string damaged = MakeDamaged();
  benchmark::RegisterBenchmark("clean_analysis/1MiB", CleanAnalysis, small);
  benchmark::RegisterBenchmark("clean_analysis/5GiB_sparse", CleanAnalysis, big);
  benchmark::RegisterBenchmark("damaged_scan/read_ahead", DamagedScan, damaged, TQMRIFFStream::kReadAheadSize)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  // A call per step of the scan: one run is plenty.
  benchmark::RegisterBenchmark("damaged_scan/unbuffered", DamagedScan, damaged, std::int64_t{0})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(1);

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double mib = static_cast<double>(gDamagedBytes) / (1 << 20);
  std::printf("\nSummary\n");
  for (const char* name : {"clean_analysis/1MiB", "clean_analysis/5GiB_sparse"})
    if (reporter.seconds.count(name))
      std::printf("  %-28s %8.1f us, %3.0f stream calls\n", name, reporter.seconds[name] * 1e6,
                  reporter.syscalls[name]);
  const auto fast = reporter.seconds.find("damaged_scan/read_ahead");
  const auto slow = reporter.seconds.find("damaged_scan/unbuffered");
  if (fast != reporter.seconds.end())
    std::printf("  damaged scan, read-ahead    %8.1f MB/s (%.0f MiB in %.1f ms)\n", mib * 1.048576 / fast->second, mib,
                fast->second * 1e3);
  if (slow != reporter.seconds.end())
    std::printf("  damaged scan, unbuffered    %8.2f MB/s (%.0f MiB in %.1f s)\n", mib * 1.048576 / slow->second, mib,
                slow->second);
  if (fast != reporter.seconds.end() && slow != reporter.seconds.end())
    std::printf("  speed-up                    %8.0fx\n", slow->second / fast->second);
  return 0;
}
