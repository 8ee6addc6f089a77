// Walking folders: the files below a folder, sorted, without loops.
#include "Walk.h"

#include <algorithm>

#include "platform/OsFile.h"

namespace cli {

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() && Lower(name.substr(name.size() - suffix.size())) == suffix;
}

namespace {

// The files below a folder whose names end in one of the suffixes; links to folders are
// not followed, and a folder met again inside itself (a loop through a bind
// mount, say) is not entered.
void Walk(const std::string& folder, const TSuffixes& suffixes, std::vector<os::FolderId>& inside,
          std::vector<std::string>& found, TReport& report) {
  const os::Listing listing = os::ListFolder(folder);
  if (!listing.error.empty()) report.Fail(folder, "cannot read the folder: " + listing.error);
  if (listing.id && std::find(inside.begin(), inside.end(), *listing.id) != inside.end()) {
    report.Fail(folder, "folder loop: this folder is one it lies in; not entered again");
    return;
  }
  if (listing.id) inside.push_back(*listing.id);
  for (const os::DirEntry& e : listing.entries) {
    const std::string path = os::JoinPath(folder, e.name);
    if (e.kind == os::EntryKind::Folder)
      Walk(path, suffixes, inside, found, report);
    else if (e.kind == os::EntryKind::File &&
             std::any_of(suffixes.begin(), suffixes.end(), [&](const char* x) { return EndsWith(e.name, x); }))
      found.push_back(path);
  }
  if (listing.id) inside.pop_back();
}

}  // namespace

std::vector<std::string> Expand(const std::vector<std::string>& args, bool recursive, const TSuffixes& suffixes,
                                const char* what, TReport& report) {
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "-" || !os::IsFolder(arg)) {
      files.push_back(arg);
    } else if (!recursive) {
      report.Fail(arg, std::string("is a folder; -r takes the ") + what + " below it");
    } else {
      std::vector<os::FolderId> inside;
      std::vector<std::string> found;
      Walk(arg, suffixes, inside, found, report);
      std::sort(found.begin(), found.end());  // byte order
      files.insert(files.end(), found.begin(), found.end());
    }
  }
  return files;
}

}  // namespace cli
