// Program start: the file from the command line, the language setting, the
// main dialog, and the setting written back at the end.
#include <windows.h>

#include "DialogState.h"
#include "MainDialog.h"
#include "ProgramState.h"
#include "Settings.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static TProgramState program;  // the one instance of the run
  // Split as FirstArgument does, from the UTF-16 command line, so that a
  // name need not fit the ANSI code page.
  program.CurrentFileName = FirstArgument(os::Utf8Name(GetCommandLineW()));
  ReadSettings(program);
  RunMainDialog(program);
  // Also when the dialog could not be created.
  WriteSettings(program);
  return 0;
}
