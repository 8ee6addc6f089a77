// Any bytes as an AVI file for the reader: signature check, header scan,
// results read. See FuzzChecks.h for what is checked.
#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"
#include "FuzzPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzcheck::Bytes bytes(data, data + size);
  std::string error = fuzzcheck::CheckReader(fuzzcheck::ScratchFile("reader"), bytes);
  if (!error.empty()) {
    std::fprintf(stderr, "fuzz_reader: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
