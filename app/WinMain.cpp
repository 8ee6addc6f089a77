// Program start: the file from the command line, the language setting, the
// main dialog, and the setting written back at the end.
#include <windows.h>

#include "DialogState.h"
#include "MainDialog.h"
#include "ProgramState.h"
#include "Settings.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static TProgramState program;  // the one instance of the run
  program.CurrentFileName = FirstArgument(GetCommandLineA());
  ReadSettings(program);
  RunMainDialog(program);
  // Also when the dialog could not be created.
  WriteSettings(program);
  return 0;
}
