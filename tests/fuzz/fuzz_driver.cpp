// Any bytes as an AVI file for the driver: analysis, then a conversion to
// every offered codec and back, on a private copy. See FuzzChecks.h.
#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"
#include "FuzzPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzcheck::Bytes bytes(data, data + size);
  std::string error = fuzzcheck::CheckDriver(fuzzcheck::ScratchFile("driver"), bytes);
  if (!error.empty()) {
    std::fprintf(stderr, "fuzz_driver: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
