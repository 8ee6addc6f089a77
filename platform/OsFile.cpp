#include "OsFile.h"

namespace os {

bool CanOpenForReading(const std::string& name) {
  FileHandle h = OpenFile(name, Access::Read, ShareReadWrite, Disposition::OpenExisting);
  if (h < 0) return false;
  CloseFile(h);
  return true;
}

}  // namespace os
