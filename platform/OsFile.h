// Thin OS file layer: the only place that talks to the operating system's
// file API. Win32 on Windows, POSIX elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace os {

// A 32-bit signed handle; any negative value means "no valid handle".
using FileHandle = std::int32_t;
inline constexpr FileHandle kInvalidHandle = -1;

enum class Access { Read, Write, ReadWrite };

// Which accesses other openers keep while we hold the file.
enum Share : unsigned { ShareNone = 0, ShareRead = 1, ShareWrite = 2, ShareReadWrite = 3 };

enum class Disposition { OpenExisting, CreateAlways };

// Seek origins, numbered like the platform's move methods.
enum SeekOrigin : std::uint16_t { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

// Win32 attribute bits; the POSIX layer maps read-only to the write bits.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;
inline constexpr std::uint32_t kAttrNormal = 0x80;

FileHandle OpenFile(const std::string& name, Access access, unsigned share, Disposition disposition);
// Bytes actually transferred; 0 when the call failed.
std::uint32_t ReadFile(FileHandle h, void* buffer, std::uint32_t count);
std::uint32_t WriteFile(FileHandle h, const void* buffer, std::uint32_t count);
// New absolute position, or -1 when the move failed.
std::int64_t SeekFile(FileHandle h, std::int64_t offset, std::uint16_t origin);
bool SetEndOfFile(FileHandle h);
bool CloseFile(FileHandle h);

// Nothing when the attributes cannot be read.
std::optional<std::uint32_t> GetAttributes(const std::string& name);
bool SetAttributes(const std::string& name, std::uint32_t attributes);

// The plain open-and-close test: the file exists and can be opened for
// reading while others may read and write it.
bool CanOpenForReading(const std::string& name);

// Which implementation this build uses ("Win32" or "POSIX").
const char* PlatformName();

}  // namespace os
