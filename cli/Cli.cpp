// The commands and their options: what each does with one file, and the
// runs over many files.
#include "Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "Parallel.h"
#include "Record.h"
#include "Report.h"
#include "TovacrexVersion.h"
#include "Walk.h"
#include "platform/OsFile.h"

namespace {

std::atomic<bool> gStop{false};

}  // namespace

void RequestStop() { gStop = true; }
bool StopRequested() { return gStop; }

namespace cli {
namespace {

// A codec by its name in any letter case, or by its number.
std::optional<TCodecId> ParseCodec(const std::string& text) {
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    if (Lower(text) == Lower(CodecNames[id]) || text == std::to_string(id)) return id;
  return std::nullopt;
}

struct TOptions {
  bool dryRun = false, preserveMtime = false, anyCase = false;
  unsigned jobs = 1;
};

constexpr unsigned kMaxJobs = 64;
// Files a thread takes at a time for info: an analysis takes microseconds,
// a hand-over between threads about as long.
constexpr std::size_t kInfoGrain = 16;

bool NotStopped(std::size_t) { return !StopRequested(); }

TOutcome Info(const std::string& file, const TOptions& opt) { return Analyse(file, opt.anyCase); }

// The modification time to set back after a write; false when it is asked
// for and cannot be read, and then nothing is written.
bool KeepTime(TOutcome& o, const TOptions& opt, std::optional<std::int64_t>& time) {
  if (!opt.preserveMtime || (time = os::GetModifiedTime(o.file))) return true;
  o.error = "the modification time cannot be read, so it could not be kept; nothing written";
  return false;
}

// After a write that was tried (a failed one may have put bytes back).
void SetTimeBack(TOutcome& o, const std::optional<std::int64_t>& time) {
  if (time && !os::SetModifiedTime(o.file, *time) && o.error.empty())
    o.error = "written, but the modification time could not be set back";
}

// Writes the planned fields (both, or the file is left as it was), keeping
// the modification time when asked, then reads the file back: the record must
// say what the file now holds.
TOutcome& Write(TOutcome& o, const TOptions& opt, const char* action) {
  TAppState& s = o.state;
  const TConversionPlan plan = *o.plan;
  std::optional<std::int64_t> time;
  if (!KeepTime(o, opt, time)) return o.plan.reset(), o;
  if (!WritePlan(o.file, plan)) {
    s.FileStatus = fsCannotWrite;
    o.error = StatusText(fsCannotWrite);
    o.plan.reset();
    return SetTimeBack(o, time), o;
  }
  ReadBack(o, Info(o.file, opt).state, action);
  return SetTimeBack(o, time), o;
}

// Everything a conversion does before writing: the analysis and the plan.
// The plan is left for the caller to record and write, unless on a dry run.
TOutcome PlanConvert(const std::string& file, TCodecId target, const TOptions& opt) {
  return Plan(Info(file, opt), target, opt.dryRun);
}

TOutcome Undo(const TUndoEntry& u, const TOptions& opt) {
  TOutcome o = Info(u.file, opt);
  TAppState& s = o.state;
  o.from = s.CurrentCodec;
  o.target = kUnknownCodec;
  if (!o.analysed) return o;
  // The record says where to write; only this file's own analysis may say
  // where its fields are. Each offset must name one of them, each once.
  // Each field is judged on its own: one that holds the record's new code
  // gets its old one back; one that holds the old code already is left (its
  // write never happened, as after a power cut between the two, or was
  // undone before); any other value refuses the file.
  // A Matroska file's CRC-32s over its code are fields too.
  struct TField {
    std::int64_t pos;
    FourCC value;  // as the undo leaves it
    bool named = false;
  };
  std::vector<TField> fields;
  if (s.HandlerFieldPos) fields.push_back({s.HandlerFieldPos, s.OriginalHandler});
  if (s.CompressionFieldPos) fields.push_back({s.CompressionFieldPos, s.OriginalCompression});
  for (const TMkvCrc& crc : s.Crcs) fields.push_back({crc.ValuePos, crc.Stored});
  std::vector<TFieldWrite> writes;
  for (const TFieldWrite& w : u.plan.Writes) {
    auto field = std::find_if(fields.begin(), fields.end(), [&](const TField& f) { return f.pos == w.Position; });
    if (field == fields.end() || field->named) {
      std::string crcs;
      for (const TMkvCrc& crc : s.Crcs) crcs += (crcs.empty() ? "" : ", ") + Hex(crc.ValuePos);
      o.error = "the record's offset " + Hex(w.Position) + " is not where this file's handler (" +
                (s.HandlerFieldPos ? Hex(s.HandlerFieldPos) : "none") + ") or compression field (" +
                (s.CompressionFieldPos ? Hex(s.CompressionFieldPos) : "none") + ")" +
                (crcs.empty() ? "" : " or a CRC-32 over it (" + crcs + ")") + " lies; nothing written";
      return o;
    }
    field->named = true;
    if (field->value == w.New) continue;
    if (field->value != w.Old) {
      o.error = "changed since the conversion: " + Quoted(field->value) + " at " + Hex(w.Position) +
                ", where the record wrote " + Quoted(w.Old) + "; nothing written";
      return o;
    }
    field->value = w.New;
    writes.push_back(w);
  }
  if (s.Container == ctAvi && writes.size() == 2 && FieldsOverlap(s.HandlerFieldPos, s.CompressionFieldPos)) {
    o.error = "the file's two fields overlap; nothing written";
    return o;
  }
  auto after = [&](std::int64_t pos, FourCC now) {  // a field that does not count stays as found
    for (const TField& f : fields)
      if (pos && f.pos == pos) return f.value;
    return now;
  };
  const FourCC handler = after(s.HandlerFieldPos, s.OriginalHandler);
  const FourCC compression = after(s.CompressionFieldPos, s.OriginalCompression);
  o.target = DetectCodecIn(s, handler, compression, opt.anyCase);
  if (writes.empty()) {
    o.action = "unchanged";
    return o;
  }
  o.plan = TConversionPlan{writes};
  if (opt.dryRun) {
    o.action = "dry-run";
    return o;
  }
  return Write(o, opt, "undone");
}

void ListCodecs(std::ostream& out, bool json) {
  Json list = Json::array();
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id) {
    TFourCCPair p = TargetFourCCs(id);
    const char* group = CodecGroupName(CodecGroup(id));
    if (json) {
      list.push_back(Json{{"id", id},
                          {"name", CodecNames[id]},
                          {"handler", FourCCText(p.Handler)},
                          {"compression", FourCCText(p.Compression)},
                          {"group", group},
                          {"targets", TargetNames(OfferedTargets(id))}});
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "%2d  %-20s %s/%s  %-11s -> ", id, CodecNames[id], FourCCText(p.Handler).c_str(),
                    FourCCText(p.Compression).c_str(), group);
      out << line << TargetList(OfferedTargets(id)) << "\n";
    }
  }
  if (json) out << Dump(list) << "\n";
}

// Files whose entries share one flush of the record: planned together, then
// written. Each is checked again just before its write.
constexpr std::size_t kBatch = 64;

int RunConvert(const std::vector<std::string>& paths, TCodecId target, const TOptions& opt, TRecordWriter* record,
               TReport& report) {
  std::size_t next = 0, reported = 0, written = 0;
  bool recordFailed = false;
  while (next < paths.size() && !StopRequested() && !recordFailed) {
    const std::size_t first = next;
    std::vector<TOutcome> batch;
    std::vector<std::string> files;  // absolute: one file named two ways is still one file
    bool repeated = false;
    RunInOrder<TOutcome>(
        std::min(kBatch, paths.size() - first), opt.jobs, NotStopped,
        [&](std::size_t i) { return PlanConvert(paths[first + i], target, opt); },
        [&](std::size_t i, TOutcome& o) {
          // A file named again is planned again in the next batch, after its
          // first write: now its plan would expect the codes that write replaces.
          std::string file = os::AbsolutePath(o.file);
          if (repeated || (repeated = std::find(files.begin(), files.end(), file) != files.end())) return;
          report.Progress(first + i, paths.size(), o.file);
          if (record && o.plan) record->Add(file, *o.plan);
          files.push_back(std::move(file));
          batch.push_back(std::move(o));
        });
    next = first + batch.size();
    // No file is written before its entry is on the disk.
    if (record && !record->Flush()) {
      report.Fail(record->Name(), record->Error() + "; no further file is written");
      recordFailed = true;
      break;
    }
    // A stop waits for the files in hand, and comes before the next.
    reported += RunInOrder<TOutcome>(
        batch.size(), opt.jobs, [](std::size_t i) { return i == 0 || !StopRequested(); },
        [&](std::size_t i) {
          TOutcome o = std::move(batch[i]);
          if (o.plan && !opt.dryRun) Write(o, opt, "converted");
          return o;
        },
        [&](std::size_t, TOutcome& o) {
          written += o.written;
          report.Add(o, o.error.empty() ? ConvertLine(o) : "", !o.error.empty() ? 2 : o.action == "unchanged" ? 1 : 0);
        });
    if (reported < next) break;
  }
  // Stopped: files left undone, not a signal that came after the last one.
  const bool interrupted = !recordFailed && reported < paths.size();
  if (record) record->End(written, interrupted);
  const std::string already = std::string("already ") + CodecNames[target];
  return report.Finish({opt.dryRun ? "would be converted" : "converted", already, "failed"}, interrupted);
}

int RunUndo(std::vector<TUndoEntry> entries, const TOptions& opt, const std::string& historyRun, TReport& report) {
  std::reverse(entries.begin(), entries.end());  // the newest first
  std::vector<std::string> files;
  for (const TUndoEntry& e : entries) files.push_back(os::AbsolutePath(e.file));
  const std::vector<std::size_t> after = SameKeyBefore(files);  // one file's entries in turn
  const std::size_t done = RunInOrder<TOutcome>(
      entries.size(), opt.jobs, NotStopped, [&](std::size_t i) { return Undo(entries[i], opt); },
      [&](std::size_t i, TOutcome& o) {
        report.Progress(i, entries.size(), o.file);
        report.Add(o, o.error.empty() ? ConvertLine(o) : "", !o.error.empty() ? 2 : o.action == "unchanged" ? 1 : 0);
      },
      &after);
  const int status =
      report.Finish({opt.dryRun ? "would be undone" : "undone", "already undone", "failed"}, done < entries.size());
  if (status == 0 && !historyRun.empty() && !opt.dryRun && !MarkUndone(historyRun))
    report.Note(historyRun, "undone, but this could not be noted in the history");
  return status;
}

}  // namespace
}  // namespace cli

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  using namespace cli;
  CLI::App app{
      "Converts AVI and Matroska files between MPEG-4 video codecs by rewriting the video stream's handler and "
      "compression codes in place; the video data is not touched.",
      kProgram};
  app.allow_windows_style_options(false);  // "/x.avi" is a file name, also on Windows
  app.set_version_flag("--version", std::string(kProgram) + " " + TOVACREX_VERSION);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    return std::string(kProgram) + ": " + CLI::FailureMessage::simple(a, e);
  });
  app.footer("Exit status: 0 every file succeeded, 1 a file failed, 2 usage error, 130 stopped by a signal.");

  bool json = false, recursive = false, noRecord = false, last = false;
  TOptions opt;
  std::vector<std::string> files;
  std::string codec, recordName;
  const std::string jsonHelp = "print one JSON array (schema: docs/cli-json.schema.json)";
  const std::string recursiveHelp =
      "a folder stands for the files below it named *.avi or *.mkv (any letter case), sorted by path";
  const std::string mtimeHelp = "set each file's modification time back to what it was";
  unsigned jobs = 0;  // 0: as many as suit the command
  const std::string jobsHelp = "files handled at once (default: the number of processors";
  const std::string sameOutput = "; the output is the same";
  const std::string anyCaseHelp =
      "recognise handlers in any letter case (\"MP43\" as \"mp43\"); divx, DIVX and DX50 stay as they are";
  CLI::App* info = app.add_subcommand("info", "Show each file's codec, its two codes and where they lie");
  info->add_flag("--json", json, jsonHelp);
  info->add_flag("-r,--recursive", recursive, recursiveHelp);
  info->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  info->add_option("-j,--jobs", jobs, jobsHelp + ")" + sameOutput)->type_name("N")->check(CLI::Range(1u, kMaxJobs));
  info->add_option("FILE", files, "AVI or Matroska files, or folders with -r")->required();
  CLI::App* convert = app.add_subcommand("convert", "Convert each file to another codec of its group, in place");
  convert
      ->add_option("--to", codec, "target codec: a name as 'codecs' lists it, any letter case, or its number 1 to 13")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) {
            return ParseCodec(text) ? std::string() : "unknown codec '" + text + "' (see 'codecs')";
          },
          "CODEC"));
  convert->add_flag("--dry-run", opt.dryRun, "show what would be written, write nothing");
  convert->add_flag("--json", json, jsonHelp);
  convert->add_flag("-r,--recursive", recursive, recursiveHelp);
  convert->add_flag("--preserve-mtime", opt.preserveMtime, mtimeHelp);
  convert->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  convert->add_option("-j,--jobs", jobs, jobsHelp + " times 4: each waits for its file's flush)" + sameOutput)
      ->type_name("N")
      ->check(CLI::Range(1u, kMaxJobs));
  CLI::Option* recordOption =
      convert
          ->add_option("--record", recordName,
                       "append the write-ahead record to FILE (one JSON object a line), not to the history")
          ->type_name("FILE");
  convert->add_flag("--no-record", noRecord, "keep no record of the run")->excludes(recordOption);
  convert->add_option("FILE", files, "AVI or Matroska files, or folders with -r")->required();
  CLI::App* undo = app.add_subcommand(
      "undo", "Put back what convert recorded it wrote, in each file whose fields still hold what it wrote");
  undo->add_flag("--dry-run", opt.dryRun, "show what would be written, write nothing");
  undo->add_flag("--json", json, jsonHelp);
  undo->add_flag("-r,--recursive", recursive,
                 "a folder stands for the records below it named *.json (any letter case), sorted by path");
  undo->add_flag("--preserve-mtime", opt.preserveMtime, mtimeHelp);
  undo->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  undo->add_option("-j,--jobs", jobs, jobsHelp + " times 4: each waits for its file's flush)" + sameOutput)
      ->type_name("N")
      ->check(CLI::Range(1u, kMaxJobs));
  CLI::Option* lastOption = undo->add_flag("--last", last, "undo the newest run in the history");
  undo->add_option("RECORD", files, "a record: what 'convert --json' printed, or a --record file; - for standard input")
      ->excludes(lastOption);
  CLI::App* history = app.add_subcommand("history", "List the convert runs in the history, oldest first");
  CLI::App* codecs = app.add_subcommand("codecs", "List the codecs, their codes and their targets");
  codecs->add_flag("--json", json, jsonHelp);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    app.parse(reversed);
    if (undo->parsed() && !last && files.empty()) throw CLI::RequiredError("RECORD or --last");
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? 0 : 2;  // help and version, or a usage error
  }

  // Writes wait for the disk, not for a processor: flushes of more files at
  // once than there are processors still overlap. (Counting the processors
  // reads a file: not for a run over one.)
  auto threads = [&](std::size_t files) {
    if (jobs || files <= 1) return std::max(jobs, 1u);
    const unsigned processors = std::max(std::thread::hardware_concurrency(), 1u);
    return std::min(info->parsed() ? processors : 4 * processors, kMaxJobs);
  };
  if (codecs->parsed()) {
    ListCodecs(out, json);
    return 0;
  }
  TReport report(out, err, json, errIsTerminal, !info->parsed());
  const std::optional<std::string> historyFolder = HistoryFolder();
  if (history->parsed() || last) {
    if (!historyFolder) {
      report.Fail("history", "there is none: neither XDG_STATE_HOME nor HOME is set");
      return report.Finish({});
    }
    if (history->parsed()) return ListHistory(*historyFolder, out), 0;
  }
  if (undo->parsed()) {
    std::string run;
    if (last) {
      const std::vector<std::string> runs = HistoryRuns(*historyFolder);
      if (runs.empty())
        report.Fail(*historyFolder, "the history holds no run");
      else
        run = runs.back(), files = {run};
    }
    std::vector<TUndoEntry> entries = ReadRecords(Expand(files, recursive, {".json"}, "records", report), report);
    opt.jobs = threads(entries.size());
    return RunUndo(std::move(entries), opt, run, report);
  }
  const std::vector<std::string> paths = Expand(files, recursive, {".avi", ".mkv"}, "AVI and Matroska files", report);
  opt.jobs = threads(paths.size());
  if (info->parsed()) {
    const std::size_t done = RunInOrder<TOutcome>(
        paths.size(), opt.jobs, NotStopped,
        [&](std::size_t i) {
          TOutcome o = Info(paths[i], opt);
          if (json) o.element = Element(o);  // the threads share the formatting too
          return o;
        },
        [&](std::size_t i, TOutcome& o) {
          report.Progress(i, paths.size(), o.file);
          report.Add(o, o.error.empty() ? InfoLine(o) : "",
                     !o.error.empty()                    ? 2
                     : InCatalogue(o.state.CurrentCodec) ? 0
                                                         : 1);
        },
        nullptr, kInfoGrain);
    return report.Finish({"recognised", "unknown codec", "failed"}, done < paths.size());
  }
  // The record of what convert writes, made durable before each write.
  std::optional<TRecordWriter> record;
  if (!opt.dryRun && !noRecord) {
    if (!recordName.empty())
      record.emplace(recordName, args, false);
    else if (historyFolder)
      record.emplace(NewHistoryRun(*historyFolder), args, true);
    else {
      report.Fail("history",
                  "there is none (neither XDG_STATE_HOME nor HOME is set): give --record FILE or --no-record");
      return report.Finish({});
    }
  }
  return RunConvert(paths, *ParseCodec(codec), opt, record ? &*record : nullptr, report);
}
