#include "OsFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

// POSIX has no sharing modes: the share argument is accepted and ignored, so
// another process can always open, read and write the file while we hold it.
FileHandle OpenFile(const std::string& name, Access access, unsigned /*share*/, Disposition disposition) {
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::Read: flags |= O_RDONLY; break;
    case Access::Write: flags |= O_WRONLY; break;
    case Access::ReadWrite: flags |= O_RDWR; break;
  }
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
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
  return static_cast<FileHandle>(fd);
}

std::uint32_t ReadFile(FileHandle h, void* buffer, std::uint32_t count) {
  if (h < 0) return 0;
  ssize_t n;
  do {
    n = ::read(h, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<std::uint32_t>(n);
}

std::uint32_t WriteFile(FileHandle h, const void* buffer, std::uint32_t count) {
  if (h < 0) return 0;
  ssize_t n;
  do {
    n = ::write(h, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<std::uint32_t>(n);
}

std::int64_t SeekFile(FileHandle h, std::int64_t offset, std::uint16_t origin) {
  if (h < 0) return -1;
  int whence = origin == FromBeginning ? SEEK_SET : origin == FromCurrent ? SEEK_CUR : origin == FromEnd ? SEEK_END : -1;
  if (whence < 0) return -1;
  off_t r = ::lseek(h, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool SetEndOfFile(FileHandle h) {
  if (h < 0) return false;
  off_t pos = ::lseek(h, 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(h, pos) == 0;
}

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

const char* PlatformName() { return "POSIX"; }

}  // namespace os
