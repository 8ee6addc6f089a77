// A file stream that counts what reaches the operating system: every Read
// and Seek is one call (GetPosition one seek, GetSize three).
#pragma once

#include <algorithm>

#include "avi/QmRIFFStream.h"

struct CountingFileStream : TFileStream64 {
  using TFileStream64::TFileStream64;
  std::int64_t Read(void* buffer, std::int64_t count) override {
    ++reads;
    if (trackFurthest) furthest = std::max(furthest, TFileStream64::Seek(0, 1) + count);  // one more call
    const std::int64_t n = TFileStream64::Read(buffer, count);
    bytes += n;
    return n;
  }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    ++seeks;
    return TFileStream64::Seek(offset, origin);
  }
  std::int64_t Calls() const { return reads + seeks; }

  std::int64_t reads = 0;
  std::int64_t seeks = 0;
  std::int64_t bytes = 0;     // bytes read
  bool trackFurthest = false;
  std::int64_t furthest = 0;  // end of the furthest read asked for, when tracked
};
