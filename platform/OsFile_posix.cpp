#include "OsFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace os {

// POSIX has no sharing modes: the share argument is accepted and ignored, so
// another process can always open, read and write the file while we hold it.
FileHandle OpenFile(const std::string& name, Access access, unsigned /*share*/, Disposition disposition,
                    std::int64_t* size) {
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::Read:
      flags |= O_RDONLY;
      break;
    case Access::Write:
      flags |= O_WRONLY;
      break;
    case Access::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
  if (disposition == Disposition::OpenAlways) flags |= O_CREAT;
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidHandle;
  // Refuse directories: they open read-only on POSIX but are not files.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kInvalidHandle;
  }
  if (size) *size = static_cast<std::int64_t>(st.st_size);
  return static_cast<FileHandle>(fd);
}

namespace {
// A read or write, again while a signal interrupts it; 0 bytes on failure.
template <class Call>
std::uint32_t Transferred(Call call) {
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<std::uint32_t>(n);
}
}  // namespace

std::uint32_t ReadFile(FileHandle h, void* buffer, std::uint32_t count) {
  return h < 0 ? 0 : Transferred([&] { return ::read(h, buffer, count); });
}

std::uint32_t WriteFile(FileHandle h, const void* buffer, std::uint32_t count) {
  return h < 0 ? 0 : Transferred([&] { return ::write(h, buffer, count); });
}

std::int64_t SeekFile(FileHandle h, std::int64_t offset, std::uint16_t origin) {
  if (h < 0) return -1;
  int whence = origin == FromBeginning ? SEEK_SET
               : origin == FromCurrent ? SEEK_CUR
               : origin == FromEnd     ? SEEK_END
                                       : -1;
  if (whence < 0) return -1;
  off_t r = ::lseek(h, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool SetEndOfFile(FileHandle h) {
  if (h < 0) return false;
  off_t pos = ::lseek(h, 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(h, pos) == 0;
}

std::uint32_t ReadFileAt(FileHandle h, void* buffer, std::uint32_t count, std::int64_t offset) {
  return h < 0 || offset < 0 ? 0 : Transferred([&] { return ::pread(h, buffer, count, static_cast<off_t>(offset)); });
}

std::uint32_t WriteFileAt(FileHandle h, const void* buffer, std::uint32_t count, std::int64_t offset) {
  return h < 0 || offset < 0 ? 0 : Transferred([&] { return ::pwrite(h, buffer, count, static_cast<off_t>(offset)); });
}

std::int64_t FileSize(FileHandle h) {
  struct stat st {};
  return h >= 0 && ::fstat(h, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool SetFileSize(FileHandle h, std::int64_t size) {
  return h >= 0 && size >= 0 && ::ftruncate(h, static_cast<off_t>(size)) == 0;
}

bool FlushFile(FileHandle h) { return h >= 0 && ::fsync(h) == 0; }

bool CloseFile(FileHandle h) { return h >= 0 && ::close(h) == 0; }

std::optional<std::uint32_t> GetAttributes(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return std::nullopt;
  return (st.st_mode & 0222) == 0 ? kAttrReadOnly : kAttrNormal;
}

bool SetAttributes(const std::string& name, std::uint32_t attributes) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(0222);
  } else if ((mode & 0222) == 0) {
    mode |= S_IWUSR;  // writable again for its owner, as after the read-only flag is cleared
  } else {
    return true;  // already writable: leave the permission bits as they are
  }
  return ::chmod(name.c_str(), mode) == 0;
}

namespace {
constexpr std::int64_t kNano = 1000000000;
}

std::optional<std::int64_t> GetModifiedTime(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNano + st.st_mtim.tv_nsec;
}

bool SetModifiedTime(const std::string& name, std::int64_t time) {
  std::int64_t seconds = time / kNano, nanos = time % kNano;
  if (nanos < 0) nanos += kNano, --seconds;  // before 1970
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), static_cast<long>(nanos)}};
  return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

namespace {
// What an entry is, asking the system only when the listing does not say.
EntryKind KindOf(int folder, const dirent& e) {
  struct stat st {};
  switch (e.d_type) {
    case DT_REG:
      return EntryKind::File;
    case DT_DIR:
      return EntryKind::Folder;
    case DT_LNK:
      break;
    case DT_UNKNOWN:
      if (::fstatat(folder, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::File;  // gone: reported later
      if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
      if (S_ISREG(st.st_mode)) return EntryKind::File;
      if (!S_ISLNK(st.st_mode)) return EntryKind::Other;
      break;
    default:
      return EntryKind::Other;  // devices, pipes and sockets are no AVI files
  }
  if (::fstatat(folder, e.d_name, &st, 0) != 0) return EntryKind::File;  // dangling
  return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}
}  // namespace

Listing ListFolder(const std::string& name) {
  Listing r;
  DIR* d = ::opendir(name.c_str());
  if (!d) {
    r.error = std::strerror(errno);
    return r;
  }
  struct stat st {};
  if (::fstat(::dirfd(d), &st) == 0)
    r.id = FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(d);
    if (!e) {
      if (errno != 0) r.error = std::strerror(errno);
      break;
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    r.entries.push_back({e->d_name, KindOf(::dirfd(d), *e)});
  }
  ::closedir(d);
  return r;
}

bool IsFolder(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LastErrorText() { return std::strerror(errno); }

bool MakeFolders(const std::string& name) {
  struct stat st {};
  if (name.empty() || (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return !name.empty();
  const std::size_t slash = name.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(name.substr(0, slash))) return false;
  return ::mkdir(name.c_str(), 0777) == 0 || errno == EEXIST;
}

bool RemoveFile(const std::string& name) { return ::unlink(name.c_str()) == 0; }

bool FlushFolder(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

std::string AbsolutePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string cwd(4096, '\0');
  if (!::getcwd(cwd.data(), cwd.size())) return name;
  cwd.resize(std::strlen(cwd.c_str()));
  return JoinPath(cwd, name);
}

std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::optional<std::string>(v) : std::nullopt;
}

const char* PlatformName() { return "POSIX"; }

}  // namespace os
