#include "OsFile.h"

namespace os {

bool CanOpenForReading(const std::string& name) {
  FileHandle h = OpenFile(name, Access::Read, ShareReadWrite, Disposition::OpenExisting);
  if (h < 0) return false;
  CloseFile(h);
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  const char last = folder.empty() ? '/' : folder.back();
  const bool separated = last == '/' || last == kPathSeparator || (kPathSeparator == '\\' && last == ':');
  return folder + (separated ? "" : std::string(1, kPathSeparator)) + name;
}

}  // namespace os
