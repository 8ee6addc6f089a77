#include "OsFile.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

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

std::wstring WideName(const std::string& utf8) {
  const int n =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8Name(const std::wstring& wide) {
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

FileHandle OpenFile(const std::string& name, Access access, unsigned share, Disposition disposition,
                    std::int64_t* size) {
  DWORD desired = access == Access::Read    ? GENERIC_READ
                  : access == Access::Write ? GENERIC_WRITE
                                            : GENERIC_READ | GENERIC_WRITE;
  DWORD shareMode = ((share & ShareRead) ? FILE_SHARE_READ : 0) | ((share & ShareWrite) ? FILE_SHARE_WRITE : 0);
  DWORD how = disposition == Disposition::CreateAlways ? CREATE_ALWAYS
              : disposition == Disposition::OpenAlways ? OPEN_ALWAYS
                                                       : OPEN_EXISTING;
  HANDLE h = ::CreateFileW(WideName(name).c_str(), desired, shareMode, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
  const FileHandle file = FromWin(h);
  if (size && file >= 0) *size = FileSize(file);
  return file;
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

namespace {
OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}
}  // namespace

// A synchronous handle reads and writes at the OVERLAPPED's offset; past the
// end a read fails with ERROR_HANDLE_EOF, which is 0 bytes.
std::uint32_t ReadFileAt(FileHandle h, void* buffer, std::uint32_t count, std::int64_t offset) {
  if (h < 0 || offset < 0) return 0;
  OVERLAPPED at = At(offset);
  DWORD done = 0;
  return ::ReadFile(ToWin(h), buffer, count, &done, &at) ? done : 0;
}

std::uint32_t WriteFileAt(FileHandle h, const void* buffer, std::uint32_t count, std::int64_t offset) {
  if (h < 0 || offset < 0) return 0;
  OVERLAPPED at = At(offset);
  DWORD done = 0;
  return ::WriteFile(ToWin(h), buffer, count, &done, &at) ? done : 0;
}

std::int64_t FileSize(FileHandle h) {
  LARGE_INTEGER size{};
  return h >= 0 && ::GetFileSizeEx(ToWin(h), &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

bool SetFileSize(FileHandle h, std::int64_t size) {
  LARGE_INTEGER to{};
  to.QuadPart = size;
  return h >= 0 && size >= 0 && ::SetFilePointerEx(ToWin(h), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(ToWin(h));
}

bool FlushFile(FileHandle h) { return h >= 0 && ::FlushFileBuffers(ToWin(h)); }

bool CloseFile(FileHandle h) { return h >= 0 && ::CloseHandle(ToWin(h)); }

std::optional<std::uint32_t> GetAttributes(const std::string& name) {
  DWORD a = ::GetFileAttributesW(WideName(name).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return a;
}

bool SetAttributes(const std::string& name, std::uint32_t attributes) {
  return ::SetFileAttributesW(WideName(name).c_str(), attributes) != 0;
}

std::optional<std::int64_t> GetModifiedTime(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(WideName(name).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                   data.ftLastWriteTime.dwLowDateTime);
}

bool SetModifiedTime(const std::string& name, std::int64_t time) {
  HANDLE h = ::CreateFileW(WideName(name).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const auto t = static_cast<std::uint64_t>(time);
  FILETIME written{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
  const bool ok = ::SetFileTime(h, nullptr, nullptr, &written);  // null: creation and access times stay
  ::CloseHandle(h);
  return ok;
}

namespace {
std::string ErrorText(DWORD code) {
  wchar_t text[256];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             std::size(text), nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.')) --n;
  return n ? Utf8Name(std::wstring(text, n)) : "Windows error " + std::to_string(code);
}
}  // namespace

// Links and junctions to folders are reparse points and are not followed, so
// a walk cannot come back to a folder it is in: no identity is needed.
Listing ListFolder(const std::string& name) {
  Listing r;
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(WideName(JoinPath(name, "*")).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) r.error = ErrorText(error);  // not found: an empty drive
    return r;
  }
  do {
    const std::string entry = Utf8Name(found.cFileName);
    if (entry == "." || entry == "..") continue;
    const DWORD a = found.dwFileAttributes;
    const bool folder = a & FILE_ATTRIBUTE_DIRECTORY;
    r.entries.push_back({entry, !folder                            ? EntryKind::File
                                : a & FILE_ATTRIBUTE_REPARSE_POINT ? EntryKind::Other
                                                                   : EntryKind::Folder});
  } while (::FindNextFileW(h, &found));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) r.error = ErrorText(error);
  ::FindClose(h);
  return r;
}

bool IsFolder(const std::string& name) {
  const DWORD a = ::GetFileAttributesW(WideName(name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string LastErrorText() { return ErrorText(::GetLastError()); }

bool MakeFolders(const std::string& name) {
  if (name.empty() || IsFolder(name)) return !name.empty();
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0 && name[slash - 1] != ':' && !MakeFolders(name.substr(0, slash)))
    return false;
  return ::CreateDirectoryW(WideName(name).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool RemoveFile(const std::string& name) { return ::DeleteFileW(WideName(name).c_str()); }

bool FlushFolder(const std::string&) { return true; }

std::string AbsolutePath(const std::string& name) {
  const std::wstring wide = WideName(name);
  std::wstring full(32768, L'\0');
  const DWORD n = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return name;
  full.resize(n);
  return Utf8Name(full);
}

std::optional<std::string> GetEnv(const char* name) {
  const wchar_t* v = ::_wgetenv(WideName(name).c_str());
  return v && *v ? std::optional<std::string>(Utf8Name(v)) : std::nullopt;
}

const char* PlatformName() { return "Win32"; }

}  // namespace os
