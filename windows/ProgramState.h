// The program-wide state of one run of the Windows program, in one place.
// WinMain owns the single instance; it reaches the main dialog through the
// dialog's creation parameter and the open-file hook through lCustData.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "DialogState.h"
#include "core/Driver.h"
#include "platform/OsFile.h"

struct TProgramState {
  // The one file-name buffer of the run, for the open-file dialog; UTF-16,
  // as the dialog gives any name.
  std::array<wchar_t, 2048> NameBuffer{};
  // The file shown (UTF-8, as the program keeps names); empty means none.
  std::string CurrentFileName;
  // Written only by the driver.
  TAppState App;
  // 0 English, 1 Russian; menu choices change it, the next start uses it.
  int Language = kEnglish;
  // The strings of the start language, loaded once.
  TUiStrings Strings;
  // Preselected filter of the open-file dialog, 1-based; kept for the run.
  DWORD LastFilterIndex = 1;
  HWND Dialog = nullptr;
};
