#include "QmRIFFStream.h"

#include <algorithm>

#include "../platform/OsFile.h"

// ---------------------------------------------------------------- streams

void TStream64::SetSize(std::int64_t) {}

std::int64_t TStream64::GetPosition() { return Seek(0, os::FromCurrent); }

void TStream64::SetPosition(std::int64_t position) { Seek(position, os::FromBeginning); }

std::int64_t TStream64::GetSize() {
  std::int64_t pos = Seek(0, os::FromCurrent);
  std::int64_t size = Seek(0, os::FromEnd);
  Seek(pos, os::FromBeginning);
  return size;
}

namespace {
// One OS call moves at most 4 GiB - 1 bytes; a non-positive count moves none.
std::uint32_t CallCount(std::int64_t count) {
  if (count <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(count, 0xFFFFFFFF));
}
}  // namespace

void THandleStream64::SetSize(std::int64_t newSize) {
  Seek(newSize, os::FromBeginning);
  os::SetEndOfFile(Handle);
}

std::int64_t THandleStream64::Read(void* buffer, std::int64_t count) {
  std::uint32_t n = CallCount(count);
  return n == 0 ? 0 : os::ReadFile(Handle, buffer, n);
}

std::int64_t THandleStream64::Write(const void* buffer, std::int64_t count) {
  std::uint32_t n = CallCount(count);
  return n == 0 ? 0 : os::WriteFile(Handle, buffer, n);
}

std::int64_t THandleStream64::Seek(std::int64_t offset, std::uint16_t origin) {
  return os::SeekFile(Handle, offset, origin);
}

namespace {
std::int32_t OpenByMode(const std::string& fileName, std::uint16_t mode) {
  if (mode == fmCreate)
    return os::OpenFile(fileName, os::Access::ReadWrite, os::ShareNone, os::Disposition::CreateAlways);
  os::Access access;
  switch (mode & 0x3) {
    case 0: access = os::Access::Read; break;
    case 1: access = os::Access::Write; break;
    case 2: access = os::Access::ReadWrite; break;
    default: return os::kInvalidHandle;  // access 3 is not a valid mode
  }
  unsigned share;
  switch ((mode >> 4) & 0xF) {
    case 0:
    case 1: share = os::ShareNone; break;
    case 2: share = os::ShareRead; break;
    case 3: share = os::ShareWrite; break;
    case 4: share = os::ShareReadWrite; break;
    default: return os::kInvalidHandle;  // sharing 5 to 15 is not a valid mode
  }
  return os::OpenFile(fileName, access, share, os::Disposition::OpenExisting);
}
}  // namespace

TFileStream64::TFileStream64(const std::string& fileName, std::uint16_t mode) : TFileStream64(fileName, mode, 0) {}

TFileStream64::TFileStream64(const std::string& fileName, std::uint16_t mode, std::uint32_t /*rights*/)
    : THandleStream64(OpenByMode(fileName, mode)) {
  if (Handle < 0) {
    if (mode == fmCreate) throw EFCreateError("Cannot create file " + fileName);
    throw EFOpenError("Cannot open file " + fileName);
  }
}

TFileStream64::~TFileStream64() {
  if (Handle >= 0) os::CloseFile(Handle);
}
