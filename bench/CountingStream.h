// A file stream that counts what reaches the operating system: every Read
// and Seek is one call (GetPosition one seek, GetSize three).
#pragma once

#include "avi/QmRIFFStream.h"

struct CountingFileStream : TFileStream64 {
  using TFileStream64::TFileStream64;
  std::int64_t Read(void* buffer, std::int64_t count) override { return ++calls, TFileStream64::Read(buffer, count); }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    return ++calls, TFileStream64::Seek(offset, origin);
  }
  std::int64_t Calls() const { return calls; }
  std::int64_t calls = 0;
};
