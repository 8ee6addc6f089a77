// The Windows program under Wine and Xvfb: the dialog in this process and the real tovacrex.exe in its own, driven
// through the same window messages. The texts expected are the resource script's.
#include <windows.h>
#include <commdlg.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <process.h>
#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <utility>

#include "ProgramTexts.h"
#include "RiffBuilder.h"
#include "windows/MainDialog.h"
#include "windows/OpenDialog.h"
#include "windows/Settings.h"

namespace {

using Entries = std::vector<std::wstring>;
std::wstring Wide(const std::string& s) { return os::WideName(s); }
std::wstring Doc(int language, int n) { return Wide(language ? kRussianTexts.at(n) : kEnglishTexts.at(n)); }
std::wstring Name(TCodecId id) { return Wide(CodecNames[id]); }
std::wstring Text(HWND w) {
  wchar_t text[1024] = {};
  return SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text)), text;
}
Entries Combo(HWND combo) {
  Entries entries(SendMessageW(combo, CB_GETCOUNT, 0, 0), std::wstring(256, L'\0'));
  for (std::size_t i = 0; i < entries.size(); ++i)
    entries[i].resize(SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(entries[i].data())));
  return entries;
}
struct Shown {  // the fields, the list and its choice, what is enabled
  std::wstring file, codec;
  Entries entries;
  int selected;
  bool list, label, save;
  bool operator==(const Shown&) const = default;
};
Shown Read(HWND d) {
  HWND list = GetDlgItem(d, kTargetList);
  auto on = [d](int id) { return IsWindowEnabled(GetDlgItem(d, id)) != 0; };
  const std::wstring file = Text(GetDlgItem(d, kFileField)), codec = Text(GetDlgItem(d, kCodecField));
  const int selected = int(SendMessageW(list, CB_GETCURSEL, 0, 0));
  return {file, codec, Combo(list), selected, on(kTargetList), on(kTargetLabel), on(kSaveButton)};
}
Shown Nothing(std::wstring file, std::wstring codec) { return {file, codec, {}, -1, false, false, false}; }
Shown Offering(std::wstring f, TCodecId c, Entries e) { return {f, Name(c), e, 0, e.size() > 1, e.size() > 1, true}; }
void Press(HWND d, int id, int entry = -1) {
  if (entry >= 0) SendDlgItemMessageW(d, kTargetList, CB_SETCURSEL, entry, 0);
  SendMessageW(GetDlgItem(d, id), BM_CLICK, 0, 0);
}
HWND NameField(HWND open) { return GetDlgItem(open, cmb13) ? GetDlgItem(open, cmb13) : GetDlgItem(open, edt1); }
// What a control paints, line by line: the text and where the line starts, read from a metafile it paints into.
using Lines = std::vector<std::pair<std::wstring, int>>;
int CALLBACK AddLine(HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM lines) {
  if (const auto* t = reinterpret_cast<const EMREXTTEXTOUTW*>(r); r->iType == EMR_EXTTEXTOUTW)
    reinterpret_cast<Lines*>(lines)->emplace_back(
        std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(r) + t->emrtext.offString),
                     t->emrtext.nChars),
        t->emrtext.ptlReference.y);
  return 1;
}
// While it lives, the first visible window of this thread with the caption goes to the handler, from inside whatever
// modal loop runs.
struct WatchFor {
  WatchFor(std::wstring caption, std::function<void(HWND)> f) { watch = {std::move(caption), std::move(f)}; }
  ~WatchFor() { KillTimer(nullptr, timer), watch.second = nullptr; }
  static inline std::pair<std::wstring, std::function<void(HWND)>> watch;
  static BOOL CALLBACK Match(HWND w, LPARAM) {
    if (!watch.second || !IsWindowVisible(w) || Text(w) != watch.first) return TRUE;
    return std::exchange(watch.second, nullptr)(w), FALSE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), Match, 0); }
  UINT_PTR timer = SetTimer(nullptr, 0, 50, Tick);
};
// The text of the message box that a press shows, dismissed with OK.
std::wstring BoxText(const std::wstring& caption, const std::function<void()>& press) {
  std::wstring said = L"(no box)";
  WatchFor watch(caption, [&](HWND w) { said = Text(GetDlgItem(w, 0xFFFF)), PostMessageW(w, WM_COMMAND, IDOK, 0); });
  return press(), said;
}
// A run of the program up to its dialog, with the stored language given.
struct Program {
  explicit Program(long stored, const std::string& file = "") {
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
    if (stored >= 0) RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, kLanguageValue, REG_DWORD, &stored, 4);
    state.CurrentFileName = file;
    ReadSettings(state);
  }
  ~Program() { DestroyWindow(dialog); }
  HWND Open() { return ShowWindow(dialog = CreateMainDialog(state), SW_SHOW), dialog; }
  TProgramState state;
  HWND dialog = nullptr;
};
long Stored() {
  DWORD value = 0, size = 4;
  LSTATUS s = RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, kLanguageValue, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return s ? -1 : long(value);
}
// The open-file dialog that Open shows, answered by the handler.
void OpenWith(HWND d, int language, const std::function<void(HWND)>& answer) {
  WatchFor watch(Doc(language, 1), answer);
  Press(d, kOpenButton);
}
// The round trip a user makes on a DivX V3 Low file, on a dialog of this process or another: convert, convert on, then
// back to exactly the original.
void RoundTrip(HWND d, int language, const std::string& file) {
  const std::wstring name = Wide(file), back = Name(6) + L" " + Doc(language, 10);
  const Bytes original = ReadBytes(file);
  EXPECT_EQ(Read(d), Offering(name, 6, {Name(3), Name(8), Name(7)}));
  Press(d, kSaveButton);
  EXPECT_EQ(Read(d), Offering(name, 3, {back, Name(7), Name(8)}));
  EXPECT_EQ(ReadBytes(file), riff::MakeAvi("mp43", "MP43").bytes);
  Press(d, kSaveButton, 1);
  EXPECT_EQ(Read(d), Offering(name, 7, {Name(3), Name(8), back}));
  Press(d, kSaveButton, 2);
  EXPECT_EQ(Read(d).codec, Name(6));
  EXPECT_EQ(ReadBytes(file), original);
}

// Every text of the dialog is painted whole, inside its control and clear of the texts below it; a long path keeps its
// file name, on one line.
void ExpectTextsFit(HWND dialog, const std::wstring& name) {
  std::vector<HWND> statics;
  for (HWND c = nullptr; (c = FindWindowExW(dialog, c, L"Static", nullptr));) statics.push_back(c);
  for (HWND control : statics) {
    RECT r, o;
    GetWindowRect(control, &r);
    LONG limit = r.bottom;
    for (HWND other : statics)
      if (GetWindowRect(other, &o), o.top > r.top && o.left < r.right && o.right > r.left)
        limit = std::min(limit, o.top);
    HDC dc = GetDC(control);
    TEXTMETRICW font{};
    SelectObject(dc, HFONT(SendMessageW(control, WM_GETFONT, 0, 0))), GetTextMetricsW(dc, &font);
    ReleaseDC(control, dc), dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    SendMessageW(control, WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
    HENHMETAFILE picture = CloseEnhMetaFile(dc);
    Lines lines;
    EnumEnhMetaFile(nullptr, picture, AddLine, &lines, nullptr), DeleteEnhMetaFile(picture);
    std::wstring painted, text = Text(control);
    for (const auto& [line, top] : lines) {
      painted += line;
      EXPECT_LE(r.top + top + font.tmHeight, limit) << os::Utf8Name(line);
    }
    if (GetDlgCtrlID(control) == kFileField) {
      EXPECT_TRUE(lines.size() == 1 && painted.starts_with(L"C:\\") && painted.ends_with(L"\\" + name)) << painted;
    } else {
      for (std::size_t i = 0; i < text.size(); ++i)  // "&x" shows "x" underlined, "&&" shows "&"
        if (text[i] == L'&') text.erase(i, 1);
      std::erase(painted, L' '), std::erase(text, L' ');
      EXPECT_EQ(painted, text);
    }
  }
}

// In each language (English from no setting): the round trip, Enter, the language menu, Open, a drop, Escape; a single
// target, a file held by another program, the close box; the failure texts, as the resources have them, painted whole.
TEST(Gui, InBothLanguages) {
  TempDir dir;
  const std::string name = "Holiday in the Crimea & summer 2003.avi", unknown = dir.File(name),
                    film = dir.File("film.avi"), other = dir.File("other.avi");
  WriteBytes(unknown, riff::MakeAvi("cvid", "cvid").bytes);
  WriteBytes(other, riff::MakeAvi("divx", "DX50").bytes);
  const Bytes single = riff::MakeAvi("mpg4", "MPG4").bytes;
  const std::wstring none[2][2] = {{L"[no]", L"[unknown]"}, {L"[Нет]", L"[Неизвестно]"}};  // only A to Z lowered
  for (int language : {0, 1}) {
    SCOPED_TRACE(language);
    WriteBytes(film, riff::MakeAvi("div3", "DIV3").bytes);
    Program p(language ? 1 : -1, film);
    HWND d = p.Open();
    RoundTrip(d, language, film);
    const Shown done = Read(d);
    auto key = [d](WPARAM vk) {
      MSG msg{GetDlgItem(d, kTargetList), WM_KEYDOWN, vk, 1, GetTickCount(), {}};
      return IsDialogMessageW(d, &msg) && IsWindowVisible(d);
    };
    EXPECT_TRUE(key(VK_RETURN));
    EXPECT_EQ(Read(d), done);
    // The other language takes effect at the next start: this run keeps its texts.
    auto checked = [menu = GetSystemMenu(d, FALSE)](UINT item) { return !!(GetMenuState(menu, item, 0) & MF_CHECKED); };
    EXPECT_EQ(std::pair(checked(kCmdEnglish), checked(kCmdRussian)), std::pair(!language, !!language));
    const UINT choice = language ? kCmdEnglish : kCmdRussian;
    EXPECT_EQ(BoxText(L"Tovacrex", [&] { SendMessageW(d, WM_SYSCOMMAND, choice, 0); }), Doc(language, 13));
    EXPECT_EQ(std::tuple(checked(kCmdEnglish), checked(kCmdRussian), p.state.Strings[1], Stored()),
              std::tuple(!!language, !language, Doc(language, 1), language ? 1L : -1L));
    WriteSettings(p.state);
    EXPECT_EQ(Stored(), 1 - language);
    Entries seen;  // the filters, the one chosen, the name offered
    OpenWith(d, language, [&](HWND w) {
      HWND types = GetDlgItem(w, cmb1), name = NameField(w);
      seen = Combo(types);
      seen.insert(seen.end(), {std::to_wstring(SendMessageW(types, CB_GETCURSEL, 0, 0)), Text(name)});
      SendMessageW(types, CB_SETCURSEL, 1, 0);  // "All files", as a user picks it
      for (WORD code : {CBN_SELCHANGE, CBN_SELENDOK})
        SendMessageW(w, WM_COMMAND, MAKEWPARAM(cmb1, code), LPARAM(types));
      SetWindowTextW(name, L"other.avi"), PostMessageW(w, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(seen, (Entries{Doc(language, 11) + L" (*.avi)", Doc(language, 12), L"0", L"film.avi"}));
    EXPECT_EQ(Read(d), Offering(Wide(other), 12, {Name(11), Name(10), Name(13)}));
    // Files dropped on the dialog, as the shell hands them over: the first is opened.
    const std::wstring dropped = Wide(film) + L'\0' + Wide(other) + std::wstring(2, L'\0');
    auto* files = static_cast<DROPFILES*>(GlobalAlloc(GPTR, sizeof(DROPFILES) + dropped.size() * sizeof(wchar_t)));
    *files = {sizeof(DROPFILES), {}, FALSE, TRUE};
    std::copy(dropped.begin(), dropped.end(), reinterpret_cast<wchar_t*>(files + 1));
    SendMessageW(d, WM_DROPFILES, WPARAM(files), 0);
    EXPECT_EQ(Read(d), Offering(Wide(film), 6, {Name(3), Name(8), Name(7)}));
    EXPECT_FALSE(key(VK_ESCAPE));
    WriteBytes(film, single);
    Program one(language, film);
    EXPECT_EQ(Read(d = one.Open()), Offering(Wide(film), 1, {Name(4)}));
    HANDLE holder = CreateFileA(film.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(BoxText(Doc(language, 9), [d] { Press(d, kSaveButton); }), Doc(language, 4));  // a warning
    CloseHandle(holder);
    EXPECT_EQ(std::pair(Read(d), ReadBytes(film)), std::pair(Nothing(Wide(film), Doc(language, 4)), single));
    SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
    EXPECT_FALSE(IsWindowVisible(d));
    EXPECT_EQ(Read(Program(language).Open()), Nothing(none[language][0], none[language][1]));
    Program failed(language, unknown);
    EXPECT_EQ(Read(d = failed.Open()), Nothing(Wide(unknown), Doc(language, 6)));
    ExpectTextsFit(d, Wide(name));
  }
}

// Names outside the ANSI code page that LC_ALL chose for this run, as TOVACREX_CODE_PAGE states it: given to the real
// tovacrex.exe on its command line, chosen with Open, and given to tovacrex-cli.exe, whose JSON has the name in UTF-8.
TEST(Gui, AnyFileName) {
  const char* page = std::getenv("TOVACREX_CODE_PAGE");
  ASSERT_NE(page, nullptr) << "TOVACREX_CODE_PAGE must name the ANSI code page expected";
  ASSERT_EQ(GetACP(), UINT(std::atoi(page)));
  TempDir dir;
  const std::wstring exe = L"Z:" + Wide(TOVACREX_EXE), cli = L"\"\"Z:" + Wide(TOVACREX_CLI_EXE) + L"\" info --json \"";
  for (const char* name : {"Мой фильм.avi", "映画.avi", "Café.avi"}) {
    const std::string file = dir.File(name);
    SCOPED_TRACE(file);
    WriteBytes(file, riff::MakeAvi("div3", "DIV3").bytes);
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
    const HANDLE process =
        HANDLE(_wspawnl(_P_NOWAIT, exe.c_str(), exe.c_str(), (L"\"" + Wide(file) + L"\"").c_str(), nullptr));
    HWND d = nullptr;  // the one dialog there is: this process has none open
    for (int i = 0; i < 300 && !(d && IsWindowVisible(d)); ++i) Sleep(100), d = FindWindowW(L"#32770", nullptr);
    ASSERT_TRUE(d && IsWindowVisible(d));
    RoundTrip(d, kEnglish, file);
    Press(d, kQuitButton);
    DWORD status = WaitForSingleObject(process, 20000);  // still running, it has STILL_ACTIVE
    GetExitCodeProcess(process, &status), CloseHandle(process);
    EXPECT_EQ(std::pair(status, Stored()), std::pair(DWORD{0}, 0L));  // the setting written at the end
    Program p(kEnglish);
    OpenWith(p.Open(), kEnglish,
             [&](HWND w) { SetWindowTextW(NameField(w), Wide(file).c_str()), PostMessageW(w, WM_COMMAND, IDOK, 0); });
    RoundTrip(p.dialog, kEnglish, file);
    std::string out;
    FILE* output = _wpopen((cli + Wide(file) + L"\"\"").c_str(), L"rb");
    for (int c; output && (c = std::fgetc(output)) != EOF;) out += char(c);
    EXPECT_EQ(output ? _pclose(output) : -1, 0);
    const auto info = nlohmann::json::parse(out);
    EXPECT_EQ(std::tuple(info.at(0).at("file"), info.at(0).at("codec_id")), std::tuple(file, 6));
  }
}

}  // namespace
