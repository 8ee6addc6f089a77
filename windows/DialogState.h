// What the Windows program shows, decided from plain state: the main dialog's
// fields, list and enabled controls, the language setting and its strings,
// the open-file filter and the command line. No Win32 here, so all of it is
// tested natively; the dialog code only applies the results.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Driver.h"

// The sixteen user-interface strings of the start language, indexed 1..16
// (entry 0 is unused).
using TUiStrings = std::array<std::wstring, 17>;

enum TUiString : int {
  usOpenTitle = 1,
  usNotFound = 2,
  usCannotOpen = 3,
  usCannotWrite = 4,
  usNotAvi = 5,
  usUnknownCodec = 6,
  usNo = 7,
  usUnknown = 8,
  usError = 9,
  usOriginalMark = 10,
  usVideoFiles = 11,
  usAllFiles = 12,
  usLanguageNotice = 13,
  usVisitSite = 14,
  usCannotCreateStream = 15,
  usCannotCreateReader = 16,
};

inline constexpr int kUiStringCount = 16;

// ---- Language setting ----

inline constexpr int kEnglish = 0;
inline constexpr int kRussian = 1;

// The stored value as the program uses it: anything but 0 or 1 is English.
int NormalizeLanguage(std::uint32_t stored);
// Resource id of string n (1..16) in a language: 10001.. or 11001..
unsigned StringResourceId(int language, int n);
// "Main0" or "Main1".
std::wstring DialogTemplateName(int language);
// The program's web page in a language (the English one for anything but 1).
const char* WebPageAddress(int language);

// ---- Main dialog ----

// Everything RefreshDialog writes.
struct TDialogView {
  std::wstring FileText;              // field 1
  std::wstring CodecText;             // field 3
  std::vector<std::wstring> Entries;  // list 4, in order; the first is selected
  bool ListEnabled = false;           // list 4 and its label 5
  bool SaveEnabled = false;           // button 101
};

// "[" + text with only A..Z lower-cased + "]": "[no]", "[Нет]".
std::wstring BracketedLower(const std::wstring& text);

// The text shown for a failed analysis or conversion, or for an unknown codec.
std::wstring StatusText(std::uint8_t fileStatus, TCodecId currentCodec, const TUiStrings& strings);

// fileName empty means no file is shown.
TDialogView DescribeDialog(const std::wstring& fileName, const TAppState& state, const TUiStrings& strings);

// ---- Open-file dialog ----

// "Video files (*.avi)\0*.AVI\0All files\0*.*\0\0" in the start language.
std::wstring OpenFileFilter(const TUiStrings& strings);

// ---- Program start ----

// The first argument after the program's own path, split the usual way:
// characters 1..32 separate, double quotes group and are dropped.
std::string FirstArgument(std::string_view commandLine);
