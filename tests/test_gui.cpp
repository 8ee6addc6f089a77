// The Windows program in-process: the main dialog from the real templates
// with the real dialog procedure, the settings in the registry, the window
// menu and the open-file dialog. Needs an X display (the tests run under
// Wine inside their own Xvfb).
#include <windows.h>
#include <commdlg.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/MainDialog.h"
#include "app/OpenDialog.h"
#include "app/Settings.h"

namespace {

// ---- A small AVI file --------------------------------------------------

// A one-stream AVI; the codec fields lie at Handler() and Compression().
struct Film {
  Film(const std::string& handler, const std::string& compression) {
    riff::AviOptions options;
    options.handler = handler;
    options.compression = compression;
    image = riff::MakeAvi(options);
  }
  std::size_t Handler() const { return static_cast<std::size_t>(image.DataPos("v.strh") + 4); }
  std::size_t Compression() const { return static_cast<std::size_t>(image.DataPos("v.strf") + 16); }
  riff::Image image;
};

std::string FourCCAt(const Bytes& b, std::size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + pos, b.begin() + pos + 4) : std::string();
}

// ---- Settings in the registry -------------------------------------------

void ResetSettings() {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenmoor");
}

void StoreSetting(DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, kLanguageValue, 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

void StoreLanguage(DWORD value) { StoreSetting(REG_DWORD, Bytes{std::uint8_t(value), 0, 0, 0}); }

// The stored language, or -1 when there is no REG_DWORD value.
long StoredLanguage() {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, kLanguageValue, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return -1;
  return static_cast<long>(value);
}

// ---- Reading the dialog ---------------------------------------------------

std::wstring Text(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return text;
}
std::wstring Text(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring entry(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
    entry.resize(SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data())));
    entries.push_back(entry);
  }
  return entries;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

using Entries = std::vector<std::wstring>;

// Everything RefreshDialog sets, for one comparison per state.
struct Shown {
  std::wstring file, codec;
  Entries entries;
  int selected;
  bool list, label, save;
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
  auto narrow = [](const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
  };
  os << "{file '" << narrow(s.file) << "', codec '" << narrow(s.codec) << "', entries [";
  for (auto& e : s.entries) os << "'" << narrow(e) << "' ";
  return os << "], selected " << s.selected << ", list " << s.list << ", label " << s.label << ", save " << s.save
            << "}";
}

Shown Read(HWND dialog) {
  HWND list = GetDlgItem(dialog, kTargetList);
  return {Text(dialog, kFileField),
          Text(dialog, kCodecField),
          ComboEntries(list),
          static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)),
          Enabled(dialog, kTargetList),
          Enabled(dialog, kTargetLabel),
          Enabled(dialog, kSaveButton)};
}

void Press(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Choose(HWND dialog, int entry) { SendDlgItemMessageW(dialog, kTargetList, CB_SETCURSEL, entry, 0); }

// ---- Modal windows ----------------------------------------------------------

struct DialogSearch {
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<DialogSearch*>(p);
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  if (IsWindowVisible(w) && std::wstring(cls) == L"#32770" && Text(w) == *s->caption) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level dialog of this thread with this caption.
HWND FindThreadDialog(const std::wstring& caption) {
  DialogSearch search{&caption, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// While it lives, a timer looks for a window with the caption each time a
// modal loop of this thread runs, and hands it to the handler once.
class WatchFor {
 public:
  WatchFor(std::wstring caption, std::function<void(HWND)> handler)
      : caption_(std::move(caption)), handler_(std::move(handler)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 50, Tick);
  }
  ~WatchFor() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  bool Seen() const { return seen_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    WatchFor* self = current_;
    if (!self || self->seen_) return;
    HWND window = FindThreadDialog(self->caption_);
    if (!window) return;
    self->seen_ = true;
    self->handler_(window);
  }
  static inline WatchFor* current_ = nullptr;
  std::wstring caption_;
  std::function<void(HWND)> handler_;
  UINT_PTR timer_ = 0;
  bool seen_ = false;
};

// What a message box said before it was dismissed with OK.
struct Box {
  std::wstring text;
  bool warningIcon = false, informationIcon = false;
};

std::function<void(HWND)> ReadAndDismiss(Box& box) {
  return [&box](HWND w) {
    box.text = Text(w, 0xFFFF);  // the message text's static control
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageW(w, 0x440, STM_GETICON, 0, 0));
    box.warningIcon = icon && icon == LoadIconA(nullptr, IDI_WARNING);
    box.informationIcon = icon && icon == LoadIconA(nullptr, IDI_INFORMATION);
    PostMessageW(w, WM_COMMAND, IDOK, 0);
  };
}

// ---- The program under test -----------------------------------------------

// A run of the program with the given stored language, up to its dialog.
class Program {
 public:
  explicit Program(long storedLanguage, const std::string& file = "") {
    ResetSettings();
    if (storedLanguage >= 0) StoreLanguage(static_cast<DWORD>(storedLanguage));
    state.CurrentFileName = file;
    ReadSettings(state);
  }
  ~Program() {
    if (dialog) DestroyWindow(dialog);
  }
  HWND Open() {
    dialog = CreateMainDialog(state);
    ShowWindow(dialog, SW_SHOW);
    return dialog;
  }
  TProgramState state;
  HWND dialog = nullptr;
};

const wchar_t kEnglishMark[] = L"(original format)";
const wchar_t kRussianMark[] = L"(оригинальный формат)";

// ---- Main dialog --------------------------------------------------------------

TEST(MainDialog, NoFileState) {
  {
    Program en(0);
    const Shown s = Read(en.Open());
    EXPECT_EQ(s, (Shown{L"[no]", L"[unknown]", {}, -1, false, false, false}));
    EXPECT_EQ(Text(en.dialog), L"Tovacrex v1.7 - [https://tovacrex.example.com/]");
  }
  {
    Program ru(1);
    EXPECT_EQ(Read(ru.Open()), (Shown{L"[Нет]", L"[Неизвестно]", {}, -1, false, false, false}));
  }
}

TEST(MainDialog, FailureAndUnknownCodecStates) {
  TempDir dir;
  const std::string missing = dir.File("missing.avi");
  const std::string text = dir.File("notes.avi");
  const std::string unknown = dir.File("unknown.avi");
  WriteBytes(text, BytesOf("just some text, not a RIFF file"));
  WriteBytes(unknown, Film("cvid", "cvid").image.bytes);

  struct Row {
    long language;
    std::string file;
    const wchar_t* codec;
  };
  const Row rows[] = {
      {0, missing, L"File no found"},  {0, text, L"File isn't AVI-file"},
      {0, unknown, L"Unknown codec"},  {1, missing, L"Файл не найден"},
      {1, text, L"Файл не является AVI-файлом"}, {1, unknown, L"Файл записан неизвестным кодеком"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " language " + std::to_string(row.language));
    Program p(row.language, row.file);
    const std::wstring name(row.file.begin(), row.file.end());
    EXPECT_EQ(Read(p.Open()), (Shown{name, row.codec, {}, -1, false, false, false}));
  }
}

TEST(MainDialog, SingleTargetCodecConvertsWithTheListDisabled) {
  for (const auto& [language, mark] : {std::pair(0L, kEnglishMark), std::pair(1L, kRussianMark)}) {
    SCOPED_TRACE(language);
    TempDir dir;
    const std::string file = dir.File("v1.avi");
    const Film v1("mpg4", "MPG4");
    WriteBytes(file, v1.image.bytes);
    const std::wstring name(file.begin(), file.end());

    Program p(language, file);
    HWND d = p.Open();
    EXPECT_EQ(Read(d), (Shown{name, L"Microsoft MPEG4 V1", {L"DivX V1"}, 0, false, false, true}));

    Press(d, kSaveButton);
    const Bytes after = ReadBytes(file);
    EXPECT_EQ(FourCCAt(after, v1.Handler()), "div1");
    EXPECT_EQ(FourCCAt(after, v1.Compression()), "DIV1");
    EXPECT_EQ(Read(d),
              (Shown{name, L"DivX V1", {std::wstring(L"Microsoft MPEG4 V1 ") + mark}, 0, false, false, true}));
  }
}

TEST(MainDialog, ConvertsAndConvertsBackInBothLanguages) {
  struct Row {
    long language;
    const wchar_t* mark;
  };
  for (const Row& row : {Row{0, kEnglishMark}, Row{1, kRussianMark}}) {
    SCOPED_TRACE(row.language);
    TempDir dir;
    const std::string file = dir.File("film.avi");
    const Film film("div3", "DIV3");
    const Bytes& original = film.image.bytes;
    WriteBytes(file, original);
    const std::wstring name(file.begin(), file.end());

    Program p(row.language, file);
    HWND d = p.Open();
    EXPECT_EQ(Read(d), (Shown{name, L"DivX V3 Low", {L"Microsoft MPEG4 V3", L"Angel Potion V1", L"DivX V3 Fast"}, 0,
                              true, true, true}));

    Press(d, kSaveButton);  // the first entry is preselected
    Bytes bytes = ReadBytes(file);
    EXPECT_EQ(FourCCAt(bytes, film.Handler()), "mp43");
    EXPECT_EQ(FourCCAt(bytes, film.Compression()), "MP43");
    const std::wstring back = std::wstring(L"DivX V3 Low ") + row.mark;
    EXPECT_EQ(Read(d), (Shown{name, L"Microsoft MPEG4 V3", {back, L"DivX V3 Fast", L"Angel Potion V1"}, 0, true, true,
                              true}));

    Choose(d, 1);
    Press(d, kSaveButton);
    bytes = ReadBytes(file);
    EXPECT_EQ(FourCCAt(bytes, film.Handler()), "div4");
    EXPECT_EQ(FourCCAt(bytes, film.Compression()), "DIV3");
    EXPECT_EQ(Read(d).entries, (Entries{L"Microsoft MPEG4 V3", L"Angel Potion V1", back}));

    Choose(d, 2);  // the marked entry: back to exactly what the file had
    Press(d, kSaveButton);
    EXPECT_EQ(ReadBytes(file), original);
    EXPECT_EQ(Read(d).codec, L"DivX V3 Low");
  }
}

TEST(MainDialog, WriteFailureWarnsThenShowsTheFailureState) {
  struct Row {
    long language;
    const wchar_t* caption;
    const wchar_t* text;
  };
  for (const Row& row : {Row{0, L"Error", L"Can't write to file"},
                         Row{1, L"Ошибка", L"Файл не доступен для записи"}}) {
    SCOPED_TRACE(row.language);
    TempDir dir;
    const std::string file = dir.File("busy.avi");
    const Bytes original = Film("div3", "DIV3").image.bytes;
    WriteBytes(file, original);
    const std::wstring name(file.begin(), file.end());

    Program p(row.language, file);
    HWND d = p.Open();
    // Another program reads the file and lets nobody write it.
    HANDLE holder = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Box box;
    {
      WatchFor watch(row.caption, ReadAndDismiss(box));
      Press(d, kSaveButton);
      EXPECT_TRUE(watch.Seen());
    }
    CloseHandle(holder);
    EXPECT_EQ(box.text, row.text);
    EXPECT_TRUE(box.warningIcon);
    EXPECT_EQ(Read(d), (Shown{name, row.text, {}, -1, false, false, false}));
    EXPECT_EQ(ReadBytes(file), original);
  }
}

TEST(MainDialog, EnterDoesNothingAndEscapeQuits) {
  TempDir dir;
  const std::string file = dir.File("film.avi");
  const Bytes original = Film("xvid", "XVID").image.bytes;
  WriteBytes(file, original);

  Program p(0, file);
  HWND d = p.Open();
  const Shown before = Read(d);
  ASSERT_EQ(before.codec, L"XviD");

  auto key = [d](HWND target, WPARAM vk) {
    SetFocus(target);
    MSG msg{target, WM_KEYDOWN, vk, 1, GetTickCount(), {}};
    return IsDialogMessageW(d, &msg);
  };
  EXPECT_TRUE(key(GetDlgItem(d, kTargetList), VK_RETURN));
  EXPECT_EQ(Read(d), before);
  EXPECT_EQ(ReadBytes(file), original);
  EXPECT_TRUE(IsWindowVisible(d));

  // Escape ends the dialog like Quit (a modeless dialog is only hidden).
  EXPECT_TRUE(key(GetDlgItem(d, kTargetList), VK_ESCAPE));
  EXPECT_FALSE(IsWindowVisible(d));
  EXPECT_EQ(ReadBytes(file), original);
}

TEST(MainDialog, CloseBoxQuits) {
  Program p(0);
  HWND d = p.Open();
  SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
  // The close command arrives as a posted Quit.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_FALSE(IsWindowVisible(d));
}

// ---- Settings and the window menu -------------------------------------------

TEST(Settings, NoKeyIsEnglishAndStoresZeroAtTheEnd) {
  Program p(-1);
  EXPECT_EQ(p.state.Language, kEnglish);
  // The first and last ids, and the one that holds the other language.
  EXPECT_EQ(p.state.Strings[1], L"Open file - Tovacrex");
  EXPECT_EQ(p.state.Strings[13], L"Язык изменится после перезапуска программы.");
  EXPECT_EQ(p.state.Strings[16], L"Can't create Avi Reader");
  EXPECT_EQ(StoredLanguage(), -1);
  WriteSettings(p.state);
  EXPECT_EQ(StoredLanguage(), 0);
}

TEST(Settings, StoredOneIsTheRussianTemplateAndStrings) {
  Program p(1);
  EXPECT_EQ(p.state.Language, kRussian);
  EXPECT_EQ(p.state.Strings[1], L"Открыть файл для переконвертации - Tovacrex");
  EXPECT_EQ(p.state.Strings[13], L"The language changes will take effect next time your start program.");
  EXPECT_EQ(p.state.Strings[16], L"Невозможно создать Avi Reader");
  HWND d = p.Open();
  EXPECT_EQ(Text(d, kTargetLabel), L"Новый кодек:");
  EXPECT_EQ(Text(d, kOpenButton), L"&Открыть");
  EXPECT_EQ(Text(d, kSaveButton), L"&Записать");
  EXPECT_EQ(Text(d, kQuitButton), L"&Выход");
  WriteSettings(p.state);
  EXPECT_EQ(StoredLanguage(), 1);
}

TEST(Settings, AnythingButAReadableOneIsEnglish) {
  struct Row {
    const char* name;
    DWORD type;
    Bytes data;
    int language;
  };
  const Row rows[] = {
      {"dword 2", REG_DWORD, {2, 0, 0, 0}, kEnglish},
      {"dword 0x101", REG_DWORD, {1, 1, 0, 0}, kEnglish},
      {"string \"1\"", REG_SZ, {'1', 0}, kEnglish},
      // Longer than four bytes: the read fails, whatever the first bytes say.
      {"binary 01 00 00 00 00", REG_BINARY, {1, 0, 0, 0, 0}, kEnglish},
      {"binary 01 00", REG_BINARY, {1, 0}, kRussian},
      {"binary 01 00 00 00", REG_BINARY, {1, 0, 0, 0}, kRussian},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResetSettings();
    StoreSetting(row.type, row.data);
    TProgramState s;
    ReadSettings(s);
    EXPECT_EQ(s.Language, row.language);
    EXPECT_EQ(s.Strings[usNo], row.language == kRussian ? L"Нет" : L"No");
  }
}

struct MenuItem {
  UINT id;
  std::wstring text;
  bool separator, checked;
  bool operator==(const MenuItem&) const = default;
};

std::vector<MenuItem> LastMenuItems(HWND dialog, int count) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  std::vector<MenuItem> items;
  const int total = GetMenuItemCount(menu);
  for (int i = total - count; i < total; ++i) {
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 128;
    GetMenuItemInfoW(menu, i, TRUE, &info);
    items.push_back({info.wID, text, (info.fType & MFT_SEPARATOR) != 0, (info.fState & MFS_CHECKED) != 0});
  }
  return items;
}

TEST(Settings, ChoosingRussianMovesTheMarkShowsTheNoticeAndIsStoredAtTheEnd) {
  Program p(-1);
  HWND d = p.Open();
  EXPECT_EQ(LastMenuItems(d, 5), (std::vector<MenuItem>{{0, L"", true, false},
                                                         {kCmdEnglish, L"English", false, true},
                                                         {kCmdRussian, L"Russian", false, false},
                                                         {0, L"", true, false},
                                                         {kCmdWebPage, L"Visit Tovacrex Web site", false, false}}));
  Box box;
  {
    WatchFor watch(L"Tovacrex", ReadAndDismiss(box));
    SendMessageW(d, WM_SYSCOMMAND, kCmdRussian, 0);
    EXPECT_TRUE(watch.Seen());
  }
  EXPECT_EQ(box.text, L"Язык изменится после перезапуска программы.");
  EXPECT_TRUE(box.informationIcon);
  const auto items = LastMenuItems(d, 5);
  EXPECT_FALSE(items[1].checked);
  EXPECT_TRUE(items[2].checked);
  // This run keeps its language.
  EXPECT_EQ(Text(d, kTargetLabel), L"New codec:");
  EXPECT_EQ(Read(d).file, L"[no]");
  EXPECT_TRUE(IsWindowVisible(d));

  WriteSettings(p.state);
  EXPECT_EQ(StoredLanguage(), 1);
  TProgramState next;
  ReadSettings(next);
  EXPECT_EQ(next.Language, kRussian);
}

TEST(Settings, ChoosingTheActiveLanguageStillShowsTheNotice) {
  Program p(1);
  HWND d = p.Open();
  Box box;
  {
    WatchFor watch(L"Tovacrex", ReadAndDismiss(box));
    SendMessageW(d, WM_SYSCOMMAND, kCmdRussian, 0);
    EXPECT_TRUE(watch.Seen());
  }
  EXPECT_EQ(box.text, L"The language changes will take effect next time your start program.");
  EXPECT_TRUE(LastMenuItems(d, 5)[2].checked);
  EXPECT_EQ(LastMenuItems(d, 5)[4].text, L"Посетить сайт программы");
  WriteSettings(p.state);
  EXPECT_EQ(StoredLanguage(), 1);
}

// ---- Open-file dialog -----------------------------------------------------------

RECT WindowRect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

// The file view (1121 over the old list 1120) and the file-name box (1148,
// formerly the edit box 1152) as this platform's dialog has them.
HWND FileView(HWND dialog) {
  HWND view = GetDlgItem(dialog, 1121);
  return view ? view : GetDlgItem(dialog, 1120);
}
int FileNameBoxId(HWND dialog) { return GetDlgItem(dialog, 1148) ? 1148 : 1152; }

struct Layout {
  RECT window;
  RECT view, name, types, open, cancel;
};

Layout MeasureOpenDialog(HWND w) {
  return {WindowRect(w),
          WindowRect(FileView(w)),
          WindowRect(GetDlgItem(w, FileNameBoxId(w))),
          WindowRect(GetDlgItem(w, 1136)),
          WindowRect(GetDlgItem(w, IDOK)),
          WindowRect(GetDlgItem(w, IDCANCEL))};
}

Layout gPlatformLayout;

UINT_PTR CALLBACK MeasuringHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == CDN_INITDONE) {
    gPlatformLayout = MeasureOpenDialog(GetParent(hook));
    PostMessageW(GetParent(hook), WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

// The platform's own dialog, with a hook that does nothing but measure.
Layout PlatformOpenDialog() {
  wchar_t name[256] = {};
  OPENFILENAMEW request{};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.lpstrFilter = L"Video files (*.avi)\0*.AVI\0All files\0*.*\0\0";
  request.nFilterIndex = 1;
  request.lpstrFile = name;
  request.nMaxFile = 255;
  request.lpstrTitle = L"Open file - Tovacrex";
  request.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES;
  request.lpfnHook = MeasuringHook;
  GetOpenFileNameW(&request);
  return gPlatformLayout;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

TEST(OpenFileDialog, EnlargedCentredAndItsControlsFillTheSpace) {
  const Layout platform = PlatformOpenDialog();
  ASSERT_GT(Width(platform.window), 0);

  Program p(0);
  Layout ours{};
  {
    WatchFor watch(L"Open file - Tovacrex", [&](HWND w) {
      ours = MeasureOpenDialog(w);
      PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_FALSE(SelectAviFile(p.state));
    ASSERT_TRUE(watch.Seen());
  }
  EXPECT_EQ(Width(ours.window), Width(platform.window) + 200);
  EXPECT_EQ(Height(ours.window), Height(platform.window) + 100);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(ours.window.left, (Width(work) - Width(ours.window)) / 2);
  EXPECT_EQ(ours.window.top, (Height(work) - Height(ours.window)) / 2);

  // Sizes grow by the table's amounts; positions move relative to the file view.
  EXPECT_EQ(Width(ours.view), Width(platform.view) + 200);
  EXPECT_EQ(Height(ours.view), Height(platform.view) + 100);
  EXPECT_EQ(Width(ours.name), Width(platform.name) + 170);
  EXPECT_EQ(Width(ours.types), Width(platform.types) + 170);
  EXPECT_EQ(Width(ours.open), Width(platform.open) + 25);
  EXPECT_EQ(Width(ours.cancel), Width(platform.cancel) + 25);
  using Offset = std::pair<long, long>;
  auto offset = [](const RECT& r, const RECT& view) { return Offset(r.left - view.left, r.top - view.top); };
  auto moved = [](Offset p, long dx, long dy) { return Offset(p.first + dx, p.second + dy); };
  EXPECT_EQ(offset(ours.name, ours.view), moved(offset(platform.name, platform.view), 0, 100));
  EXPECT_EQ(offset(ours.types, ours.view), moved(offset(platform.types, platform.view), 0, 100));
  EXPECT_EQ(offset(ours.open, ours.view), moved(offset(platform.open, platform.view), 180, 100));
  EXPECT_EQ(offset(ours.cancel, ours.view), moved(offset(platform.cancel, platform.view), 180, 100));
}

TEST(OpenFileDialog, FiltersFileChoiceAndTheRememberedFilter) {
  TempDir dir;
  const std::string film = dir.File("film.avi");
  const std::string notes = dir.File("notes.txt");
  WriteBytes(film, Film("div3", "DIV3").image.bytes);
  WriteBytes(notes, BytesOf("text"));

  Program p(1);
  p.state.CurrentFileName = film;
  Entries filters;
  int selectedFilter = -1;
  std::wstring offeredName;
  {
    WatchFor watch(L"Открыть файл для переконвертации - Tovacrex", [&](HWND w) {
      HWND types = GetDlgItem(w, 1136);
      filters = ComboEntries(types);
      selectedFilter = static_cast<int>(SendMessageW(types, CB_GETCURSEL, 0, 0));
      offeredName = Text(w, FileNameBoxId(w));
      // The user picks "All files" and types the name of the text file.
      SendMessageW(types, CB_SETCURSEL, 1, 0);
      for (WORD code : {CBN_SELCHANGE, CBN_SELENDOK})  // as the combo box reports a choice
        SendMessageW(w, WM_COMMAND, MAKEWPARAM(1136, code), reinterpret_cast<LPARAM>(types));
      SetDlgItemTextW(w, FileNameBoxId(w), L"notes.txt");
      PostMessageW(w, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(SelectAviFile(p.state));
    ASSERT_TRUE(watch.Seen());
  }
  EXPECT_EQ(filters, (Entries{L"Видео файлы (*.avi)", L"Все файлы"}));
  EXPECT_EQ(selectedFilter, 0);
  EXPECT_EQ(offeredName, L"film.avi");
  EXPECT_EQ(std::string(p.state.NameBuffer.data()), notes);
  EXPECT_EQ(p.state.LastFilterIndex, 2u);

  // The next Open of the run starts with "All files"; Cancel returns nothing.
  strcpy(p.state.NameBuffer.data(), "unchanged");
  selectedFilter = -1;
  {
    WatchFor watch(L"Открыть файл для переконвертации - Tovacrex", [&](HWND w) {
      selectedFilter = static_cast<int>(SendDlgItemMessageW(w, 1136, CB_GETCURSEL, 0, 0));
      PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_FALSE(SelectAviFile(p.state));
    ASSERT_TRUE(watch.Seen());
  }
  EXPECT_EQ(selectedFilter, 1);
  EXPECT_STREQ(p.state.NameBuffer.data(), "unchanged");
}

TEST(OpenFileDialog, OpenAnalysesTheChosenFileAndCancelChangesNothing) {
  TempDir dir;
  const std::string first = dir.File("first.avi");
  const std::string second = dir.File("second.avi");
  WriteBytes(first, Film("div3", "DIV3").image.bytes);
  WriteBytes(second, Film("divx", "DX50").image.bytes);

  Program p(0, first);
  HWND d = p.Open();
  const Shown before = Read(d);
  {
    WatchFor watch(L"Open file - Tovacrex", [](HWND w) { PostMessageW(w, WM_COMMAND, IDCANCEL, 0); });
    Press(d, kOpenButton);
    ASSERT_TRUE(watch.Seen());
  }
  EXPECT_EQ(Read(d), before);

  {
    WatchFor watch(L"Open file - Tovacrex", [](HWND w) {
      SetDlgItemTextW(w, FileNameBoxId(w), L"second.avi");
      PostMessageW(w, WM_COMMAND, IDOK, 0);
    });
    Press(d, kOpenButton);
    ASSERT_TRUE(watch.Seen());
  }
  const std::wstring name(second.begin(), second.end());
  EXPECT_EQ(Read(d), (Shown{name, L"DivX 5", {L"DivX 4", L"XviD", L"3ivx"}, 0, true, true, true}));
}

}  // namespace
