#include "OsFile.h"

#include <windows.h>

namespace os {
namespace {

HANDLE ToWin(FileHandle h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

FileHandle FromWin(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return kInvalidHandle;
  auto v = reinterpret_cast<intptr_t>(h);
  // Kernel handles of a 32-bit process are small positive numbers.
  if (v < 0 || v > INT32_MAX) {
    ::CloseHandle(h);
    return kInvalidHandle;
  }
  return static_cast<FileHandle>(v);
}

}  // namespace

FileHandle OpenFile(const std::string& name, Access access, unsigned share, Disposition disposition) {
  DWORD desired = access == Access::Read ? GENERIC_READ : access == Access::Write ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
  DWORD shareMode = ((share & ShareRead) ? FILE_SHARE_READ : 0) | ((share & ShareWrite) ? FILE_SHARE_WRITE : 0);
  DWORD how = disposition == Disposition::CreateAlways ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = ::CreateFileA(name.c_str(), desired, shareMode, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
  return FromWin(h);
}

std::uint32_t ReadFile(FileHandle h, void* buffer, std::uint32_t count) {
  if (h < 0) return 0;
  DWORD done = 0;
  if (!::ReadFile(ToWin(h), buffer, count, &done, nullptr)) return 0;
  return done;
}

std::uint32_t WriteFile(FileHandle h, const void* buffer, std::uint32_t count) {
  if (h < 0) return 0;
  DWORD done = 0;
  if (!::WriteFile(ToWin(h), buffer, count, &done, nullptr)) return 0;
  return done;
}

std::int64_t SeekFile(FileHandle h, std::int64_t offset, std::uint16_t origin) {
  if (h < 0 || origin > 2) return -1;
  LONG high = static_cast<LONG>(static_cast<std::uint64_t>(offset) >> 32);
  ::SetLastError(NO_ERROR);
  DWORD low = ::SetFilePointer(ToWin(h), static_cast<LONG>(offset & 0xFFFFFFFF), &high, origin);
  // INVALID_SET_FILE_POINTER is also a valid low half; only the error code tells.
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
}

bool SetEndOfFile(FileHandle h) { return h >= 0 && ::SetEndOfFile(ToWin(h)); }

bool CloseFile(FileHandle h) { return h >= 0 && ::CloseHandle(ToWin(h)); }

std::optional<std::uint32_t> GetAttributes(const std::string& name) {
  DWORD a = ::GetFileAttributesA(name.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return a;
}

bool SetAttributes(const std::string& name, std::uint32_t attributes) {
  return ::SetFileAttributesA(name.c_str(), attributes) != 0;
}

const char* PlatformName() { return "Win32"; }

}  // namespace os
