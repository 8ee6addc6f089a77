#include "MainDialog.h"

#include <shellapi.h>

#include <string>

#include "OpenDialog.h"
#include "Settings.h"

namespace {

void RefreshDialog(const TProgramState& program) {
  HWND dialog = program.Dialog;
  const TDialogView view = DescribeDialog(os::WideName(program.CurrentFileName), program.App, program.Strings);

  HWND list = GetDlgItem(dialog, kTargetList);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const std::wstring& entry : view.Entries)
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  SendMessageW(list, CB_SETCURSEL, 0, 0);

  // A control that loses its enabled state while it has the focus would
  // leave the dialog without one; hand it to Open instead.
  HWND focus = GetFocus();
  EnableWindow(list, view.ListEnabled);
  EnableWindow(GetDlgItem(dialog, kTargetLabel), view.ListEnabled);
  EnableWindow(GetDlgItem(dialog, kSaveButton), view.SaveEnabled);
  if (focus && !IsWindowEnabled(focus) && IsChild(dialog, focus))
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kOpenButton)), TRUE);

  SetDlgItemTextW(dialog, kCodecField, view.CodecText.c_str());
  SetDlgItemTextW(dialog, kFileField, view.FileText.c_str());
}

void Analyse(TProgramState& program) {
  ProcessFile(program.App, program.CurrentFileName, kNoCodec);
  RefreshDialog(program);
}

void OnOpen(TProgramState& program) {
  if (!SelectAviFile(program)) return;
  program.CurrentFileName = os::Utf8Name(program.NameBuffer.data());
  Analyse(program);
}

// A file dropped on the dialog is opened as if chosen with Open; of several,
// the first.
void OnDrop(TProgramState& program, HDROP drop) {
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring name(length, L'\0');
  const bool got = length > 0 && DragQueryFileW(drop, 0, name.data(), length + 1) == length;
  DragFinish(drop);
  if (!got) return;
  program.CurrentFileName = os::Utf8Name(name);
  Analyse(program);
}

void OnSave(TProgramState& program) {
  HWND list = GetDlgItem(program.Dialog, kTargetList);
  const LRESULT selected = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return;
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, selected, 0);
  if (length == CB_ERR) return;
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));

  const auto target = CodecFromText(text, program.Strings[usOriginalMark]);
  if (!target) return;
  ProcessFile(program.App, program.CurrentFileName, *target);
  if (program.App.FileStatus == fsCannotWrite)
    MessageBoxW(program.Dialog, program.Strings[usCannotWrite].c_str(), program.Strings[usError].c_str(),
                MB_ICONWARNING | MB_OK);
  RefreshDialog(program);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* program = reinterpret_cast<TProgramState*>(lParam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
    program->Dialog = dialog;
    Analyse(*program);
    AppendWindowMenuItems(dialog, *program);
    DragAcceptFiles(dialog, TRUE);
    return TRUE;  // the dialog manager focuses the first tab stop
  }
  auto* program = reinterpret_cast<TProgramState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (!program) return FALSE;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kQuitButton:
          EndDialog(dialog, kQuitButton);
          return TRUE;
        case kOpenButton:
          OnOpen(*program);
          return TRUE;
        case kSaveButton:
          OnSave(*program);
          return TRUE;
        default:
          // Among them IDOK, which Enter sends: no button is the default.
          return FALSE;
      }
    case WM_DROPFILES:
      OnDrop(*program, reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      HandleWindowMenuCommand(*program, LOWORD(wParam));
      return FALSE;  // move, close and the rest keep their default handling
    default:
      return FALSE;
  }
}

}  // namespace

bool RunMainDialog(TProgramState& program) {
  const std::wstring name = DialogTemplateName(program.Language);
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), name.c_str(), nullptr, MainDialogProc,
                                         reinterpret_cast<LPARAM>(&program));
  return result != -1 && result != 0;
}

HWND CreateMainDialog(TProgramState& program) {
  const std::wstring name = DialogTemplateName(program.Language);
  return CreateDialogParamW(GetModuleHandleW(nullptr), name.c_str(), nullptr, MainDialogProc,
                            reinterpret_cast<LPARAM>(&program));
}
