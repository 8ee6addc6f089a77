// Records: the write-ahead record, the history of runs, reading records.
#include "Record.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include "Walk.h"

namespace cli {

namespace {

// The most writes one conversion makes: a handler and a compression code,
// or a Matroska track's code and the CRC-32s of the elements around it.
constexpr std::size_t kMaxWrites = 8;

// A record is read whole; a bigger text than this is no record.
constexpr std::size_t kMaxRecordBytes = std::size_t{256} << 20;

std::optional<std::string> ReadText(const std::string& name, std::string& error) {
  std::string text;
  char buffer[65536];
  bool whole = true;
  if (name == "-") {
    while (std::cin && text.size() <= kMaxRecordBytes) {
      std::cin.read(buffer, sizeof buffer);
      text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    }
    whole = std::cin.eof();
  } else {
    // Through the system's calls, as every file here: a C++ stream takes a Windows name in the ANSI code page only,
    // and a record named, or kept in a folder named, outside it could not be read back.
    const os::FileHandle h = os::OpenFile(name, os::Access::Read, os::ShareReadWrite, os::Disposition::OpenExisting);
    const std::int64_t size = os::FileSize(h);  // as opened: a run may add to it meanwhile
    for (std::uint32_t n = 1; size >= 0 && n > 0 && text.size() <= kMaxRecordBytes;)
      text.append(buffer, n = os::ReadFile(h, buffer, sizeof buffer));
    whole = size >= 0 && static_cast<std::int64_t>(text.size()) >= size;
    os::CloseFile(h);
  }
  if (text.size() > kMaxRecordBytes)
    error = "is larger than 256 MiB, so it is no record";
  else if (!whole)
    error = "cannot be read";
  return error.empty() ? std::optional(std::move(text)) : std::nullopt;
}

// A "writes" member of a convert record, turned round; nothing when it is
// not as convert writes it.
std::optional<TFieldWrite> Reversed(const nlohmann::json& w) {
  if (!w.is_object() || w.size() != 3 || !w.contains("offset") || !w["offset"].is_number_integer() ||
      !w.contains("old") || !w["old"].is_string() || !w.contains("new") || !w["new"].is_string())
    return std::nullopt;
  const auto offset = w["offset"].get<std::int64_t>();
  const auto old = FourCCFromText(w["old"].get<std::string>()), now = FourCCFromText(w["new"].get<std::string>());
  if (offset < 1 || !old || !now) return std::nullopt;  // past 2^63 reads as negative
  return TFieldWrite{offset, *now, *old};
}

// Why an entry of a record is not one that convert writes; empty when it is.
std::string EntryProblem(const nlohmann::json& e, std::optional<TUndoEntry>& entry) {
  if (!e.is_object() || !e.contains("file") || !e["file"].is_string() || !e.contains("written") ||
      !e["written"].is_boolean() || !e.contains("writes") || !e["writes"].is_array())
    return "it lacks \"file\", \"written\" or \"writes\"";
  if (!e["written"].get<bool>()) return {};  // skipped
  const nlohmann::json& writes = e["writes"];
  TConversionPlan plan;
  for (std::size_t i = 0; i < writes.size() && i < kMaxWrites; ++i)
    if (std::optional<TFieldWrite> w = Reversed(writes[i])) plan.Writes.push_back(*w);
  if (plan.Writes.empty() || plan.Writes.size() != writes.size())
    return "\"writes\" must hold one to " + std::to_string(kMaxWrites) +
           " fields, each an offset with an old and a new FourCC";
  entry = TUndoEntry{e["file"].get<std::string>(), std::move(plan)};
  return {};
}

// Where the JSON value starting at `at` ends, or npos when the text ends
// first. Strings are skipped whole, so brackets inside names do not count.
std::size_t ValueEnd(const std::string& text, std::size_t at) {
  int depth = 0;
  for (bool inString = false; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\')
        ++at;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && --depth == 0) {
      return at + 1;
    }
  }
  return std::string::npos;
}

std::size_t SkipSpace(const std::string& text, std::size_t at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

// The lines of a line record; the last is unfinished when no line break ends it.
std::vector<std::string_view> Lines(const std::string& text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t eol = std::min(text.find('\n', at), text.size());
    lines.emplace_back(text.data() + at, eol - at);
    at = eol + 1;
  }
  return lines;
}

// The complete elements of an array whose end was cut off.
std::vector<nlohmann::json> CompleteElements(const std::string& text) {
  std::vector<nlohmann::json> elements;
  for (std::size_t at = SkipSpace(text, 0) + 1;;) {  // past the '['
    at = SkipSpace(text, at);
    const std::size_t end = at < text.size() && text[at] == '{' ? ValueEnd(text, at) : std::string::npos;
    if (end == std::string::npos) return elements;
    elements.push_back(nlohmann::json::parse(text.substr(at, end - at), nullptr, false));
    if (elements.back().is_discarded()) return elements.pop_back(), elements;
    at = SkipSpace(text, end);
    if (at >= text.size() || text[at] != ',') return elements;
    ++at;
  }
}

// The objects of a record, each with its place for messages; sets cut when the
// record ends in the middle of one. Fails the record when it is none.
std::optional<std::vector<std::pair<std::string, nlohmann::json>>> RecordObjects(const std::string& name,
                                                                                 const std::string& text, bool& cut,
                                                                                 TReport& report) {
  std::vector<std::pair<std::string, nlohmann::json>> objects;
  const std::size_t start = SkipSpace(text, 0);
  if (start == text.size()) return cut = true, objects;  // stopped before its first entry
  if (text[start] == '{') {                              // a line record
    const std::vector<std::string_view> lines = Lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string one(lines[i]), place = "line " + std::to_string(i + 1);
      if (SkipSpace(one, 0) == one.size()) continue;
      nlohmann::json j;
      try {
        j = nlohmann::json::parse(one);
      } catch (const nlohmann::json::parse_error& e) {
        // Only the last line can be unfinished: the run appends line by line.
        if (i + 1 == lines.size() && text.back() != '\n' && e.byte > one.size()) return cut = true, objects;
        report.Fail(name, "not JSON (" + place + ", at byte " + std::to_string(e.byte) + "), so not a convert record");
        return std::nullopt;
      }
      if (!j.contains("run")) objects.emplace_back(name + ": " + place, std::move(j));
    }
    return objects;
  }
  nlohmann::json record;
  try {
    record = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    if (text[start] != '[' || e.byte <= text.size()) {
      report.Fail(name, "not JSON (at byte " + std::to_string(e.byte) + "), so not a convert record");
      return std::nullopt;
    }
    cut = true;  // the array's end is missing: a run that was stopped
    record = CompleteElements(text);
  }
  if (!record.is_array()) {
    report.Fail(name, "not a convert record: not a JSON array");
    return std::nullopt;
  }
  for (std::size_t i = 0; i < record.size(); ++i)
    objects.emplace_back(name + ": entry " + std::to_string(i + 1), record[i]);
  return objects;
}

std::string Now(bool forName) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto days = floor<std::chrono::days>(now);
  const year_month_day date{days};
  const hh_mm_ss time{floor<milliseconds>(now - days)};
  char text[40];
  if (forName)
    std::snprintf(text, sizeof text, "%04d%02u%02uT%02d%02d%02d.%03dZ", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                  int(time.seconds().count()), int(time.subseconds().count()));
  else
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                  int(time.seconds().count()));
  return text;
}

std::string Line(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

// Appends text at the file's end; false, with the system's words in error, when it could not.
bool AppendTo(os::FileHandle h, const std::string& text, std::string& error) {
  std::int64_t at = os::FileSize(h);
  std::size_t done = 0;
  for (std::uint32_t n = 1; at >= 0 && done < text.size() && n > 0; done += n, at += n)
    n = os::WriteFileAt(h, text.data() + done, static_cast<std::uint32_t>(text.size() - done), at);
  if (at >= 0 && done == text.size()) return true;
  error = "cannot write the record: " + os::LastErrorText();
  return false;
}

// Where the last whole line of the first size bytes of a file ends: read backwards from there, as a record grows
// long and its lines are short. Nothing when the file cannot be read.
std::optional<std::int64_t> EndOfLastLine(os::FileHandle h, std::int64_t size) {
  char buffer[4096];
  for (std::int64_t end = size; end > 0; end -= static_cast<std::int64_t>(sizeof buffer)) {
    const auto n = static_cast<std::uint32_t>(std::min(end, static_cast<std::int64_t>(sizeof buffer)));
    if (os::ReadFileAt(h, buffer, n, end - n) != n) return std::nullopt;
    for (std::uint32_t i = n; i-- > 0;)
      if (buffer[i] == '\n') return end - n + i + 1;
  }
  return 0;
}

// A run killed in the middle of a write leaves the last line of its record unfinished. What is appended next must not
// join it, or it is lost and the record no longer reads; so that rest, which undo leaves, is cut off first (written
// ahead, it stands for no file written).
bool CutUnfinishedLine(os::FileHandle h) {
  const std::int64_t size = os::FileSize(h);
  if (size <= 0) return true;  // new, or no regular file
  const std::optional<std::int64_t> end = EndOfLastLine(h, size);
  return end && (*end == size || os::SetFileSize(h, *end));
}

std::string FolderOf(const std::string& name) {
  const std::size_t slash = name.find_last_of(os::kPathSeparator == '/' ? "/" : "\\/");
  return slash == std::string::npos ? "." : slash == 0 ? name.substr(0, 1) : name.substr(0, slash);
}

}  // namespace

std::vector<TUndoEntry> ReadRecords(const std::vector<std::string>& names, TReport& report) {
  std::vector<TUndoEntry> entries;
  for (const std::string& name : names) {
    std::string error;
    std::optional<std::string> text = ReadText(name, error);
    if (!text) {
      report.Fail(name, "the record " + error);
      continue;
    }
    bool cut = false;
    const auto objects = RecordObjects(name, *text, cut, report);
    if (!objects) continue;
    for (const auto& [place, object] : *objects) {
      std::optional<TUndoEntry> entry;
      const std::string problem = EntryProblem(object, entry);
      if (!problem.empty()) report.Fail(place, "not a convert record entry: " + problem);
      if (entry) entries.push_back(std::move(*entry));
    }
    if (cut)
      report.Note(name, "the record is cut short: its " + std::to_string(objects->size()) +
                            " complete entries are read, the unfinished rest is left");
  }
  return entries;
}

TRecordWriter::TRecordWriter(std::string name, std::vector<std::string> command, bool history)
    : name_(std::move(name)), command_(std::move(command)), history_(history) {}

TRecordWriter::~TRecordWriter() {
  if (handle_ != os::kInvalidHandle) os::CloseFile(handle_);
}

void TRecordWriter::Add(const std::string& file, const TConversionPlan& plan) {
  pending_ += Line(Json{{"file", file}, {"written", true}, {"writes", WritesJson(plan)}});
}

bool TRecordWriter::Open() {
  if (history_ && !os::MakeFolders(FolderOf(name_)))
    return error_ = "cannot make the history folder " + FolderOf(name_) + ": " + os::LastErrorText(), false;
  handle_ = os::OpenFile(name_, os::Access::ReadWrite, os::ShareRead, os::Disposition::OpenAlways);
  if (handle_ == os::kInvalidHandle) return error_ = "cannot open the record: " + os::LastErrorText(), false;
  if (!CutUnfinishedLine(handle_)) return error_ = "cannot read the record before adding to it", false;
  pending_ = Line(Json{{"run", "start"}, {"time", Now(false)}, {"command", command_}}) + pending_;
  return true;
}

bool TRecordWriter::Flush() {
  if (pending_.empty() || !error_.empty()) return error_.empty();
  const bool first = handle_ == os::kInvalidHandle;
  if ((first && !Open()) || !AppendTo(handle_, pending_, error_)) return false;
  pending_.clear();
  if (!os::FlushFile(handle_)) return error_ = "cannot flush the record to disk: " + os::LastErrorText(), false;
  // A new record's name must be on the disk too.
  if (first && !os::FlushFolder(FolderOf(name_)))
    return error_ = "cannot flush the record's folder to disk: " + os::LastErrorText(), false;
  if (first && history_) {
    std::vector<std::string> runs = HistoryRuns(FolderOf(name_));
    for (std::size_t i = 0; i + kHistoryRuns < runs.size(); ++i) os::RemoveFile(runs[i]);
  }
  return true;
}

void TRecordWriter::End(std::size_t written, bool interrupted) {
  if (handle_ == os::kInvalidHandle || !error_.empty()) return;
  if (AppendTo(handle_,
               Line(Json{{"run", "end"}, {"time", Now(false)}, {"written", written}, {"interrupted", interrupted}}),
               error_))
    os::FlushFile(handle_);
}

std::optional<std::string> HistoryFolder() {
#ifdef _WIN32
  if (auto local = os::GetEnv("LOCALAPPDATA")) return os::JoinPath(os::JoinPath(*local, "Tovacrex"), "history");
  return std::nullopt;
#else
  std::optional<std::string> state = os::GetEnv("XDG_STATE_HOME");
  if (!state || (*state)[0] != '/') {  // a relative one is to be ignored
    std::optional<std::string> home = os::GetEnv("HOME");
    if (!home) return std::nullopt;
    state = os::JoinPath(os::JoinPath(*home, ".local"), "state");
  }
  return os::JoinPath(os::JoinPath(*state, "tovacrex"), "history");
#endif
}

std::string NewHistoryRun(const std::string& folder) {
  const unsigned long id = static_cast<unsigned long>(getpid());
  return os::JoinPath(folder, Now(true) + "-" + std::to_string(id) + ".jsonl");
}

std::vector<std::string> HistoryRuns(const std::string& folder) {
  std::vector<std::string> runs;
  for (const os::DirEntry& e : os::ListFolder(folder).entries)
    if (e.kind == os::EntryKind::File && EndsWith(e.name, ".jsonl")) runs.push_back(os::JoinPath(folder, e.name));
  std::sort(runs.begin(), runs.end());
  return runs;
}

bool MarkUndone(const std::string& record) {
  const os::FileHandle h = os::OpenFile(record, os::Access::ReadWrite, os::ShareRead, os::Disposition::OpenExisting);
  std::string error;
  const bool ok = h != os::kInvalidHandle && CutUnfinishedLine(h) &&
                  AppendTo(h, Line(Json{{"run", "undone"}, {"time", Now(false)}}), error) && os::FlushFile(h);
  if (h != os::kInvalidHandle) os::CloseFile(h);
  return ok;
}

void ListHistory(const std::string& folder, std::ostream& out) {
  for (const std::string& run : HistoryRuns(folder)) {
    std::string error, when = "?", command, undone;
    std::optional<std::size_t> written;
    std::size_t entries = 0;
    const std::optional<std::string> text = ReadText(run, error);
    for (const std::string_view line : text ? Lines(*text) : std::vector<std::string_view>{}) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (!j.is_object()) continue;
      const std::string kind = j.contains("run") && j["run"].is_string() ? j["run"].get<std::string>() : "";
      if (kind.empty()) ++entries;
      if (kind == "start" && j.contains("time") && j["time"].is_string()) when = j["time"].get<std::string>();
      if (kind == "start" && j.contains("command") && j["command"].is_array())
        for (const auto& a : j["command"]) {
          const std::string arg = a.is_string() ? a.get<std::string>() : "";
          const bool plain = !arg.empty() && arg.find_first_of(" \t\"'\\$") == std::string::npos;
          command += (command.empty() ? "" : " ") + (plain ? arg : nlohmann::json(arg).dump());
        }
      if (kind == "end" && j.contains("written") && j["written"].is_number_unsigned())
        written = j["written"].get<std::size_t>();
      if (kind == "undone" && j.contains("time") && j["time"].is_string()) undone = j["time"].get<std::string>();
    }
    out << when << "  "
        << (written ? std::to_string(*written) + " written" : "cut short, " + std::to_string(entries) + " recorded")
        << "  " << command << (undone.empty() ? "" : "  (undone " + undone + ")") << "  " << run << "\n";
  }
}

}  // namespace cli
