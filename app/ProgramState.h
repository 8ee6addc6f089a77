// The program-wide state of one run of the Windows program, in one place.
// WinMain owns the single instance; it reaches the main dialog through the
// dialog's creation parameter and the open-file hook through lCustData.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "DialogState.h"
#include "Driver.h"

struct TProgramState {
  // The one file-name buffer of the run, for the open-file dialog.
  std::array<char, 2048> NameBuffer{};
  // The file shown (ANSI, as the file API takes it); empty means none.
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

// A file name in the ANSI code page as the wide text the controls show.
inline std::wstring WidenAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}
