// The program's start: its arguments, its console, and the signals that stop a run.
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

volatile LONG gFinished = 0;
// Ctrl-C, Ctrl-Break and the console closing ask the run to stop after the
// file in hand. Windows ends the process when the handler of a closing
// console returns, so that handler waits for the run (Windows allows 5 s).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  RequestStop();
  for (int i = 0; event == CTRL_CLOSE_EVENT && !gFinished && i < 450; ++i) Sleep(10);
  return TRUE;
}
void CatchStops() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
#else
#include <unistd.h>
#include <csignal>
bool ErrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

// SIGINT, SIGTERM and SIGHUP ask the run to stop after the file in hand; a
// second one ends the program at once (the record is on the disk already).
void CatchStops() {
  struct sigaction action {};
  action.sa_handler = [](int) { RequestStop(); };
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
  CatchStops();
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
  gFinished = 1;
  return status;
#else
  return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, ErrIsTerminal());
#endif
}
