// The real tovacrex.exe as a user meets it: started with a file, read and
// driven from this process through its windows, then ended with Quit.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RiffBuilder.h"
#include "TestFiles.h"

namespace {

const char kSettingsKey[] = "Software\\Quenmoor\\Tovacrex";
const wchar_t kCaption[] = L"Tovacrex v1.7 - [https://tovacrex.example.com/]";

// The program under test, as a Windows path (the build gives a host path).
std::string ProgramPath() {
  std::string path = TOVACREX_EXE;
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path)
      if (c == '/') c = '\\';
  }
  return path;
}

std::string FourCCAt(const Bytes& b, std::int64_t pos) {
  return std::string(b.begin() + pos, b.begin() + pos + 4);
}

// Texts through the wide messages, which the system carries across processes.
std::wstring Text(HWND window) {
  wchar_t text[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return text;
}

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t entry[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
    entries.push_back(entry);
  }
  return entries;
}

HWND WaitForDialog(DWORD processId) {
  for (int i = 0; i < 300; ++i) {
    HWND w = FindWindowW(L"#32770", kCaption);
    DWORD owner = 0;
    if (w) GetWindowThreadProcessId(w, &owner);
    if (w && owner == processId && IsWindowVisible(w)) return w;
    Sleep(100);
  }
  return nullptr;
}

class Process {
 public:
  explicit Process(const std::string& arguments) {
    std::string line = ProgramPath();
    line.insert(0, 1, '"');
    line.append("\" ").append(arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_);
  }
  ~Process() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  bool Started() const { return started_; }
  DWORD Id() const { return info_.dwProcessId; }
  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD WaitForExit() {
    WaitForSingleObject(info_.hProcess, 20000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

long StoredLanguage() {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "Language", RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return -1;
  return static_cast<long>(value);
}

TEST(Program, ConvertsTheFileNamedOnTheCommandLineAndStoresTheLanguage) {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  ASSERT_EQ(StoredLanguage(), -1);
  TempDir dir;
  const std::string file = dir.File("my film.avi");
  riff::AviOptions options;
  options.handler = "div3";
  options.compression = "DIV3";
  const riff::Image film = riff::MakeAvi(options);
  WriteBytes(file, film.bytes);

  Process program("\"" + file + "\"");
  ASSERT_TRUE(program.Started()) << ProgramPath();
  HWND dialog = WaitForDialog(program.Id());
  ASSERT_NE(dialog, nullptr);

  HWND list = GetDlgItem(dialog, 4);
  EXPECT_EQ(Text(GetDlgItem(dialog, 1)), std::wstring(file.begin(), file.end()));
  EXPECT_EQ(Text(GetDlgItem(dialog, 3)), L"DivX V3 Low");
  EXPECT_EQ(ComboEntries(list), (std::vector<std::wstring>{L"Microsoft MPEG4 V3", L"Angel Potion V1", L"DivX V3 Fast"}));
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
  EXPECT_TRUE(IsWindowEnabled(list));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 101)));

  SendMessageW(GetDlgItem(dialog, 101), BM_CLICK, 0, 0);  // Save
  EXPECT_EQ(Text(GetDlgItem(dialog, 3)), L"Microsoft MPEG4 V3");
  EXPECT_EQ(ComboEntries(list),
            (std::vector<std::wstring>{L"DivX V3 Low (original format)", L"DivX V3 Fast", L"Angel Potion V1"}));

  SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);  // Quit
  EXPECT_EQ(program.WaitForExit(), 0u);

  const Bytes after = ReadBytes(file);
  EXPECT_EQ(FourCCAt(after, film.DataPos("v.strh") + 4), "mp43");
  EXPECT_EQ(FourCCAt(after, film.DataPos("v.strf") + 16), "MP43");
  EXPECT_EQ(StoredLanguage(), 0);
}

}  // namespace
