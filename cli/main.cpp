#include <iostream>

#include "Cli.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "platform/OsFile.h"
// A console; _isatty would also take the NUL device for one.
bool ErrIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
#else
#include <unistd.h>
bool ErrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
  // The arguments as UTF-16, so that a file name need not fit the ANSI code
  // page; the program keeps names, and prints everything, in UTF-8.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(os::Utf8Name(wide[i]));
  LocalFree(wide);
  const UINT consoleCodePage = GetConsoleOutputCP();  // the console's again at the end
  SetConsoleOutputCP(CP_UTF8);
  const int status = RunCli(args, std::cout, std::cerr, ErrIsTerminal());
  if (consoleCodePage) SetConsoleOutputCP(consoleCodePage);
  return status;
#else
  return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, ErrIsTerminal());
#endif
}
