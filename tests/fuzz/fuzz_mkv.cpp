// Any bytes as a Matroska file for the reader: what it finds holds to Wrong() in MkvBuilder.h, and a stream missing
// bytes gives the same or a failed read.
#include <cstdio>
#include <cstdlib>

#include "MkvBuilder.h"

static void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_mkv: %s\n", what);
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(data, data + size);
  const auto n = static_cast<std::int64_t>(size);
  auto findings = [&bytes](std::int64_t hole) {
    riff::MemoryStream s(bytes);
    s.hole = hole;
    const TMatroskaReader r(&s);
    const char* wrong = mkvb::Wrong(bytes, r, false);
    Check(!wrong, wrong);
    return std::tuple(r.Status, r.VideoTrack, r.CompressionPos, r.Damaged, r.FileSize, r.TrackNumber, r.CodecId,
                      r.CodecPrivatePos, r.CodecPrivateSize, r.Compression, r.Crcs);
  };
  const auto whole = findings(INT64_MAX);
  Check(std::get<0>(whole) != kMkvReadFailed, "a read failed with every byte there");
  for (std::int64_t hole : {n / 2, n > 0 ? data[n - 1] * 16 % n : 0}) {
    const auto cut = findings(hole);
    Check(cut == whole || std::tuple(std::get<0>(cut), std::get<1>(cut), std::get<2>(cut)) ==
                              std::tuple(kMkvReadFailed, false, std::int64_t{0}),
          "a stream missing bytes read as another file");
  }
  return 0;
}
