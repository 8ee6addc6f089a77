// Records: the write-ahead record that convert keeps, the history of runs,
// and reading records back for undo.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Report.h"
#include "platform/OsFile.h"

namespace cli {

// One written entry of a record, turned round: at each offset the record's
// "new" is expected and its "old" is to be written back.
struct TUndoEntry {
  std::string file;
  TConversionPlan plan;  // the record's writes, in its order
};

// The written entries of the records, in the order they were recorded. Reads
// the arrays that convert --json prints and the line records; one cut short
// is read up to its last complete entry, and the cut is reported.
std::vector<TUndoEntry> ReadRecords(const std::vector<std::string>& names, TReport& report);

// The write-ahead record of one convert run: one JSON object a line, the
// run's start, an entry for each file before it is written, and its end.
// The file is opened (and the start written) with the first entry.
class TRecordWriter {
 public:
  TRecordWriter(std::string name, std::vector<std::string> command, bool history);
  ~TRecordWriter();
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  const std::string& Name() const { return name_; }
  // An entry for a file that is about to be written; durable only after Flush.
  void Add(const std::string& file, const TConversionPlan& plan);
  // Makes every entry added so far durable. False when it could not; Error()
  // says why, and no file may be written after that.
  bool Flush();
  const std::string& Error() const { return error_; }
  // The run's end: how many files it wrote, and whether it was stopped.
  void End(std::size_t written, bool interrupted);

 private:
  bool Open();  // and puts the run's start in front of the pending entries
  std::string name_, pending_, error_;
  std::vector<std::string> command_;
  bool history_;
  os::FileHandle handle_ = os::kInvalidHandle;
};

// The history of convert runs: $XDG_STATE_HOME/tovacrex/history (default
// ~/.local/state/tovacrex/history), or %LOCALAPPDATA%\Tovacrex\history on
// Windows; nothing when none of those is set.
std::optional<std::string> HistoryFolder();
// The newest kHistoryRuns runs are kept; older ones go when a new run starts.
inline constexpr std::size_t kHistoryRuns = 100;
// A name for a new run's record in the history folder, later runs sorting last.
std::string NewHistoryRun(const std::string& folder);
// The runs' records, oldest first.
std::vector<std::string> HistoryRuns(const std::string& folder);
// Notes in a run's record that it was undone.
bool MarkUndone(const std::string& record);
// One line a run: when, how many files were written, the command, and
// whether it was undone since.
void ListHistory(const std::string& folder, std::ostream& out);

}  // namespace cli
