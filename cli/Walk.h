// Walking folders: the files that the command line's arguments stand for.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "Report.h"

namespace cli {

// Lower-case name endings, such as ".avi".
using TSuffixes = std::initializer_list<const char*>;

// The files the arguments stand for, in processing order. A file named is
// always taken; a folder only with recursive, and then stands for the files
// below it whose names end in one of the suffixes in any letter case, sorted
// by path.
// Folders that cannot be read, or are met again inside themselves, are
// reported and left.
std::vector<std::string> Expand(const std::vector<std::string>& args, bool recursive, const TSuffixes& suffixes,
                                const char* what, TReport& report);

bool EndsWith(const std::string& name, const std::string& suffix);

}  // namespace cli
