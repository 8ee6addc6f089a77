#include "Settings.h"

#include <shellapi.h>

namespace {

// Owns one open registry key.
class TRegKey {
 public:
  TRegKey() = default;
  ~TRegKey() {
    if (key_) RegCloseKey(key_);
  }
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  HKEY* Put() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring LoadUiString(HINSTANCE module, unsigned id) {
  wchar_t buffer[1024];
  int length = LoadStringW(module, id, buffer, 1024);
  return std::wstring(buffer, length > 0 ? length : 0);
}

void ShowLanguageNotice(const TProgramState& program) {
  MessageBoxW(program.Dialog, program.Strings[usLanguageNotice].c_str(), L"Tovacrex", MB_ICONINFORMATION | MB_OK);
}

void CheckLanguageItems(HWND dialog, int language) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  CheckMenuItem(menu, kCmdEnglish, MF_BYCOMMAND | (language == kEnglish ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, kCmdRussian, MF_BYCOMMAND | (language == kRussian ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace

void ReadSettings(TProgramState& program) {
  std::uint32_t stored = 0;
  TRegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS) {
    // Read into a local first: a failed read (a value longer than 4 bytes,
    // say) may leave bytes behind, and then the setting must stay English.
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.Get(), kLanguageValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
        ERROR_SUCCESS)
      stored = value;
  }
  program.Language = NormalizeLanguage(stored);

  HINSTANCE module = GetModuleHandleW(nullptr);
  for (int n = 1; n <= kUiStringCount; ++n)
    program.Strings[n] = LoadUiString(module, StringResourceId(program.Language, n));
}

void WriteSettings(const TProgramState& program) {
  TRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.Put(), nullptr) != ERROR_SUCCESS)
    return;
  const DWORD value = static_cast<DWORD>(program.Language);
  RegSetValueExA(key.Get(), kLanguageValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void AppendWindowMenuItems(HWND dialog, const TProgramState& program) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  const UINT english = program.Language == kEnglish ? MF_CHECKED : MF_UNCHECKED;
  const UINT russian = program.Language == kRussian ? MF_CHECKED : MF_UNCHECKED;
  AppendMenuW(menu, MF_SEPARATOR, 0, L"");
  AppendMenuW(menu, MF_STRING | english, kCmdEnglish, L"English");
  AppendMenuW(menu, MF_STRING | russian, kCmdRussian, L"Russian");
  AppendMenuW(menu, MF_SEPARATOR, 0, L"");
  AppendMenuW(menu, MF_STRING, kCmdWebPage, program.Strings[usVisitSite].c_str());
}

void HandleWindowMenuCommand(TProgramState& program, UINT id) {
  switch (id) {
    case kCmdEnglish:
    case kCmdRussian:
      // Takes effect at the next start; this run keeps its strings.
      program.Language = id == kCmdRussian ? kRussian : kEnglish;
      CheckLanguageItems(program.Dialog, program.Language);
      ShowLanguageNotice(program);
      break;
    case kCmdWebPage:
      ShellExecuteA(program.Dialog, "open", WebPageAddress(program.Language), "", "", SW_SHOWDEFAULT);
      break;
    default:
      break;
  }
}
