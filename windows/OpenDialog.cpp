#include "OpenDialog.h"

#include <commdlg.h>

#include <algorithm>

namespace {

// Extra size given to the platform's dialog, in pixels.
constexpr int kExtraWidth = 200;
constexpr int kExtraHeight = 100;

// The dialog window and the estimated screen position of its client origin.
struct THookFrame {
  HWND Window;
  int OriginX;
  int OriginY;
};

void CenterInWorkArea(HWND window, int width, int height) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = (work.right - work.left - width) / 2;
  const int y = (work.bottom - work.top - height) / 2;
  MoveWindow(window, x, y, width, height, TRUE);
}

void ShiftDialogControl(const THookFrame& frame, int id, int dx, int dy, int dw, int dh) {
  HWND control = GetDlgItem(frame.Window, id);
  if (!control) return;  // this platform's dialog has no such control
  RECT r{};
  GetWindowRect(control, &r);
  MoveWindow(control, r.left - frame.OriginX + dx, r.top - frame.OriginY + dy, r.right - r.left + dw,
             r.bottom - r.top + dh, TRUE);
}

struct TControlShift {
  int Id, Dx, Dy, Dw, Dh;
};

// Makes the controls fill the enlarged window. Newer dialogs show the file
// view (1121) over the old file list (1120) and take the name in a combo box
// (1148) instead of the old edit box (1152); each moves like its older
// counterpart.
constexpr TControlShift kShifts[] = {
    {1120, 0, 0, kExtraWidth, kExtraHeight},  // file list
    {1121, 0, 0, kExtraWidth, kExtraHeight},  // file view
    {1089, 0, kExtraHeight, 0, 0},            // file-type label
    {1090, 0, kExtraHeight, 0, 0},            // file-name label
    {1152, 0, kExtraHeight, 170, 0},          // file-name edit box
    {1148, 0, kExtraHeight, 170, 0},          // file-name combo box
    {1136, 0, kExtraHeight, 170, 0},          // file-type list
    {IDOK, 180, kExtraHeight, 25, 0},        {IDCANCEL, 180, kExtraHeight, 25, 0},
};

void EnlargeDialog(HWND hook) {
  HWND window = GetParent(hook);
  RECT r{};
  GetWindowRect(window, &r);
  CenterInWorkArea(window, r.right - r.left + kExtraWidth, r.bottom - r.top + kExtraHeight);

  GetWindowRect(window, &r);
  const THookFrame frame{window, r.left + GetSystemMetrics(SM_CXFRAME),
                         r.top + GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME)};
  for (const TControlShift& s : kShifts) ShiftDialogControl(frame, s.Id, s.Dx, s.Dy, s.Dw, s.Dh);
}

UINT_PTR CALLBACK OpenDialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_NOTIFY) return 0;
  const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
  switch (notify->hdr.code) {
    case CDN_TYPECHANGE: {
      auto* program = reinterpret_cast<TProgramState*>(notify->lpOFN->lCustData);
      program->LastFilterIndex = notify->lpOFN->nFilterIndex;
      break;
    }
    case CDN_INITDONE:
      EnlargeDialog(hook);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace

bool SelectAviFile(TProgramState& program) {
  constexpr DWORD kMaxName = 255;
  wchar_t name[kMaxName + 1] = {};
  const std::wstring current = os::WideName(program.CurrentFileName);
  std::copy_n(current.begin(), std::min<std::size_t>(current.size(), kMaxName), name);

  const std::wstring filter = OpenFileFilter(program.Strings);
  OPENFILENAMEW request{};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  // Owned by the main dialog, which stays disabled meanwhile: a second Open,
  // a Save or Quit must not run while this one is still choosing.
  request.hwndOwner = program.Dialog;
  request.hInstance = GetModuleHandleW(nullptr);
  request.lpstrFilter = filter.c_str();
  request.nFilterIndex = program.LastFilterIndex;
  request.lpstrFile = name;
  request.nMaxFile = kMaxName;
  request.lpstrTitle = program.Strings[usOpenTitle].c_str();
  request.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES;
  request.lCustData = reinterpret_cast<LPARAM>(&program);
  request.lpfnHook = OpenDialogHook;
  if (!GetOpenFileNameW(&request)) return false;

  std::copy_n(name, kMaxName + 1, program.NameBuffer.begin());
  return name[0] != L'\0';
}
