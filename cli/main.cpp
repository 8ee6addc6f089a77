#include <iostream>

#include "Cli.h"

#ifdef _WIN32
#include <windows.h>
// A console; _isatty would also take the NUL device for one.
bool ErrIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
#else
#include <unistd.h>
bool ErrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunCli(args, std::cout, std::cerr, ErrIsTerminal());
}
