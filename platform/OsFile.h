// Thin OS file layer: the only place that talks to the operating system's
// file API. Win32 on Windows, POSIX elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace os {

// A 32-bit signed handle; any negative value means "no valid handle".
using FileHandle = std::int32_t;
inline constexpr FileHandle kInvalidHandle = -1;

enum class Access { Read, Write, ReadWrite };

// Which accesses other openers keep while we hold the file.
enum Share : unsigned { ShareNone = 0, ShareRead = 1, ShareWrite = 2, ShareReadWrite = 3 };

// OpenAlways: an existing file as it is, else a new empty one.
enum class Disposition { OpenExisting, CreateAlways, OpenAlways };

// Seek origins, numbered like the platform's move methods.
enum SeekOrigin : std::uint16_t { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

// Win32 attribute bits; the POSIX layer maps read-only to the write bits.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;
inline constexpr std::uint32_t kAttrNormal = 0x80;

// A folder is refused. With size, the open file's size is left there, from
// the same call that refused a folder where there is one.
FileHandle OpenFile(const std::string& name, Access access, unsigned share, Disposition disposition,
                    std::int64_t* size = nullptr);
// Bytes actually transferred; 0 when the call failed.
std::uint32_t ReadFile(FileHandle h, void* buffer, std::uint32_t count);
std::uint32_t WriteFile(FileHandle h, const void* buffer, std::uint32_t count);
// New absolute position, or -1 when the move failed.
std::int64_t SeekFile(FileHandle h, std::int64_t offset, std::uint16_t origin);
bool SetEndOfFile(FileHandle h);
// At an absolute offset, in one call, whatever the handle's own position
// (which they may move on Windows, and leave alone on POSIX). Bytes actually
// transferred; 0 when the call failed or the offset is negative.
std::uint32_t ReadFileAt(FileHandle h, void* buffer, std::uint32_t count, std::int64_t offset);
std::uint32_t WriteFileAt(FileHandle h, const void* buffer, std::uint32_t count, std::int64_t offset);
// The file's size from the open handle; -1 when it cannot be had.
std::int64_t FileSize(FileHandle h);
bool SetFileSize(FileHandle h, std::int64_t size);
// Writes what the system still holds of the file to the disk; false when it
// could not, and what reached the disk is then unknown.
bool FlushFile(FileHandle h);
bool CloseFile(FileHandle h);

// Nothing when the attributes cannot be read.
std::optional<std::uint32_t> GetAttributes(const std::string& name);
bool SetAttributes(const std::string& name, std::uint32_t attributes);

// The plain open-and-close test: the file exists and can be opened for
// reading while others may read and write it.
bool CanOpenForReading(const std::string& name);

// The modification time in the platform's own units (POSIX nanoseconds,
// Windows 100-nanosecond ticks), to be set back as it was read. Setting it
// leaves the access time alone.
std::optional<std::int64_t> GetModifiedTime(const std::string& name);
bool SetModifiedTime(const std::string& name, std::int64_t time);

enum class EntryKind { File, Folder, Other };
struct DirEntry {
  std::string name;
  // File: a regular file, or a symbolic link that does not lead to a folder
  // (a dangling link counts as a file, so that it is reported, not lost).
  // Folder: a real folder; links to folders are Other and never followed.
  EntryKind kind;
};
// Identity of a folder, to see when a walk comes back to one it is inside.
struct FolderId {
  std::uint64_t device = 0, node = 0;
  bool operator==(const FolderId&) const = default;
};
struct Listing {
  std::vector<DirEntry> entries;  // in no particular order
  std::optional<FolderId> id;     // nothing where the system gives none
  std::string error;              // empty: the folder was read to its end
};
Listing ListFolder(const std::string& name);
bool IsFolder(const std::string& name);  // following links
inline constexpr char kPathSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

#ifdef _WIN32
// File names are UTF-8 inside the program and UTF-16 at the system, so that
// a name need not fit the ANSI code page. A name that is not UTF-8 becomes
// the empty name, which opens no file (rather than some other one).
std::wstring WideName(const std::string& utf8);
std::string Utf8Name(const std::wstring& wide);
#endif

// A name inside a folder. On Windows "C:" stands for drive C's current
// folder, so "C:" and "x" make "C:x", not "C:\\x".
std::string JoinPath(const std::string& folder, const std::string& name);

// What the last failed call of this layer met, as the system words it.
std::string LastErrorText();
// The folder and the folders above it, those missing; true when it exists.
bool MakeFolders(const std::string& name);
bool RemoveFile(const std::string& name);
// Makes the folder's entries durable (a file created in it); Windows does
// that with the file itself.
bool FlushFolder(const std::string& name);
// The name as an absolute one, against the current folder.
std::string AbsolutePath(const std::string& name);
// An environment variable, UTF-8; nothing when it is unset or empty.
std::optional<std::string> GetEnv(const char* name);

// Which implementation this build uses ("Win32" or "POSIX").
const char* PlatformName();

}  // namespace os
