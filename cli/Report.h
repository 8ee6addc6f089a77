// The report of a run: what one file's run found and did, as a line or a JSON
// object, the failures on stderr, the summary and the progress line.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/Outcome.h"

namespace cli {

// The engine's outcomes, texts and JSON, as the command line prints them.
using namespace core;

inline constexpr const char* kProgram = "tovacrex-cli";

// The object as an element of the --json array, indented as in it.
std::string Element(const TOutcome& o);
std::string InfoLine(const TOutcome& o);
std::string ConvertLine(const TOutcome& o);

// The output of a run over many files: one line or JSON object per file, each
// written out as its file is done, errors on stderr, a summary, and a progress
// line when stderr is a terminal.
class TReport {
 public:
  using Clock = std::chrono::steady_clock;
  // flushEach: every file's JSON object reaches the output as the file is
  // done, for runs whose output is the record of what they wrote.
  TReport(std::ostream& out, std::ostream& err, bool json, bool progress, bool flushEach = true)
      : out_(out), err_(err), json_(json), progress_(progress && !json), flushEach_(flushEach) {}

  // A failure that is no file's outcome: an argument, a folder, a record.
  void Fail(const std::string& name, const std::string& error);
  // A remark on stderr that is no failure.
  void Note(const std::string& name, const std::string& text);
  // Counts the file under `kind`, an index into the summary's kinds.
  void Add(const TOutcome& o, const std::string& line, std::size_t kind);
  void Progress(std::size_t done, std::size_t total, const std::string& file);
  // "N files: X converted, Y already DivX 5, Z failed", counts of 0 left out,
  // kinds in the summary's order; "interrupted" closes it after a stop.
  // Exit status: 0, 1 when anything failed, 130 after a stop.
  int Finish(const std::vector<std::string>& kinds, bool interrupted = false);

 private:
  static constexpr std::size_t kWidth = 79;  // one line of a narrow terminal
  void Clear();
  std::ostream &out_, &err_;
  const bool json_, progress_, flushEach_;
  bool ok_ = true;
  std::size_t files_ = 0, shown_ = 0;
  std::array<std::size_t, 4> counts_{};
  const Clock::time_point start_ = Clock::now();
  Clock::time_point drawn_{};
};

}  // namespace cli
