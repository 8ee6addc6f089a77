// The main dialog: file, codec found, target list, Open, Save and Quit.
#pragma once

#include "ProgramState.h"

// Control ids shared by both templates.
inline constexpr int kFileField = 1;
inline constexpr int kQuitButton = IDCANCEL;  // 2: Escape and the close box too
inline constexpr int kCodecField = 3;
inline constexpr int kTargetList = 4;
inline constexpr int kTargetLabel = 5;
inline constexpr int kOpenButton = 100;
inline constexpr int kSaveButton = 101;

// Runs the dialog of the program's language modally until the user quits.
// Returns false when the dialog could not be created.
bool RunMainDialog(TProgramState& program);

// The same dialog, modeless, for driving it with messages.
HWND CreateMainDialog(TProgramState& program);
