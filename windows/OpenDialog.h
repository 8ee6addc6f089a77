// The open-file dialog: filters from the start language, the last chosen
// filter kept for the run, and a hook that enlarges and centres the window.
#pragma once

#include "ProgramState.h"

// Offers the first 255 characters of the current file name. True when the
// user confirmed a file; its full path is then in program.NameBuffer.
// False on cancel or any failure; nothing else changes then.
bool SelectAviFile(TProgramState& program);
