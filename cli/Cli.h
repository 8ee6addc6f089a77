// The command line front end, callable in-process for tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit status: 0 every file succeeded, 1 some file failed, 2 usage error,
// 130 stopped. With errIsTerminal a long run shows its progress on err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal = false);

// A stop asked for (a signal, Ctrl-C): the run finishes the file in hand,
// reports what it did and exits with 130. Safe to call from a signal handler.
void RequestStop();
bool StopRequested();
