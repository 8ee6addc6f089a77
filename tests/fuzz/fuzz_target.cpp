// Any bytes as a file, for the AVI reader (FUZZ_DRIVER 0) or for the driver's analysis and conversions, AVI and
// Matroska (1), on a private scratch file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/dev/shm/tovacrex-fuzz-" + std::to_string(getpid()) + ".avi";
  const Bytes bytes(data, data + size);
  const std::string error = FUZZ_DRIVER ? fuzzcheck::CheckDriver(path, bytes) : fuzzcheck::CheckReader(path, bytes);
  std::remove(path.c_str());
  if (!error.empty()) std::fprintf(stderr, "fuzz: %s\n", error.c_str()), std::abort();
  return 0;
}
