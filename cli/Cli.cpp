#include "Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

#include "TovacrexVersion.h"
#include "app/Driver.h"
#include "platform/OsFile.h"

namespace {

// Members in the order they are set, so that the output reads like the
// documented interface.
using Json = nlohmann::ordered_json;

constexpr const char* kProgram = "tovacrex-cli";

// The English interface's status texts.
const char* StatusText(std::uint8_t status) {
  static const char* const kTexts[] = {"",
                                       "File no found",
                                       "Can't open file",
                                       "Can't write to file",
                                       "File isn't AVI-file",
                                       "Can't create stream",
                                       "Can't create Avi Reader"};
  return status < std::size(kTexts) ? kTexts[status] : "Unknown failure";
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A codec by its name in any letter case, or by its number.
std::optional<TCodecId> ParseCodec(const std::string& text) {
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    if (Lower(text) == Lower(CodecNames[id]) || text == std::to_string(id)) return id;
  return std::nullopt;
}

bool InCatalogue(TCodecId id) { return id >= kFirstCodec && id <= kLastCodec; }

std::string Quoted(FourCC v) { return "\"" + FourCCText(v) + "\""; }

std::string Hex(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string CodecLabel(TCodecId id) { return InCatalogue(id) ? CodecNames[id] : "Unknown codec"; }

std::string TargetList(TCodecId id) {
  std::string r;
  for (TCodecId t : OfferedTargets(id)) r += (r.empty() ? "" : ", ") + std::string(CodecNames[t]);
  return r;
}

Json TargetNames(TCodecId id) {
  Json names = Json::array();
  for (TCodecId t : OfferedTargets(id)) names.push_back(CodecNames[t]);
  return names;
}

Json CodecName(TCodecId id) { return InCatalogue(id) ? Json(CodecNames[id]) : Json(nullptr); }


std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

// What one file's run found and did; it becomes one JSON object or one line.
struct TOutcome {
  std::string file;
  TAppState state;        // after the analysis, or after the conversion
  bool analysed = false;  // the FourCCs and offsets are known
  std::string error;      // empty: success
  // convert and undo
  std::optional<TCodecId> target;  // undo: the codec the file gets back, perhaps unknown
  TCodecId from = kNoCodec;
  std::string action;  // "converted", "undone", "dry-run", "unchanged"; empty: none
  bool written = false;
  std::optional<TConversionPlan> plan;  // written, or to be written on a dry run
};

struct TOptions {
  bool dryRun = false, preserveMtime = false, anyCase = false;
};

// What the dialog's Current codec field would show.
std::string Message(const TAppState& s) {
  return s.FileStatus == fsOk ? CodecLabel(s.CurrentCodec) : StatusText(s.FileStatus);
}

Json WriteJson(const TFieldWrite& w) {
  return Json{{"offset", w.Position}, {"old", FourCCText(w.Old)}, {"new", FourCCText(w.New)}};
}

Json ToJson(const TOutcome& o) {
  const TAppState& s = o.state;
  auto known = [&](Json value) { return o.analysed ? value : Json(nullptr); };
  auto offset = [&](std::int64_t pos) { return o.analysed && pos > 0 ? Json(pos) : Json(nullptr); };
  Json j{{"file", o.file},
         {"ok", o.error.empty()},
         {"status", s.FileStatus},
         {"message", Message(s)},
         // A file that could not be analysed has no codec, not an unknown one.
         {"codec_id", o.analysed ? s.CurrentCodec : kNoCodec},
         {"codec", CodecName(o.analysed ? s.CurrentCodec : kNoCodec)},
         {"group", CodecGroupName(CodecGroup(o.analysed ? s.CurrentCodec : kNoCodec))},
         {"handler", known(FourCCText(s.OriginalHandler))},
         {"compression", known(FourCCText(s.OriginalCompression))},
         {"handler_offset", offset(s.HandlerFieldPos)},
         {"compression_offset", offset(s.CompressionFieldPos)},
         {"targets", TargetNames(s.CurrentCodec)},
         {"error", o.error.empty() ? Json(nullptr) : Json(o.error)}};
  // Recognised only because the handler's letter case was set aside.
  if (o.analysed && s.AnyCase && DetectCodec(s.OriginalHandler, s.OriginalCompression) == kUnknownCodec &&
      DetectCodec(s.OriginalHandler, s.OriginalCompression, true) != kUnknownCodec)
    j["any_case"] = true;
  if (o.target) {
    j["target"] = CodecName(*o.target);
    j["from"] = CodecName(o.from);
    j["to"] = CodecName(*o.target);
    j["action"] = o.action.empty() ? Json(nullptr) : Json(o.action);
    j["written"] = o.written;
    Json writes = Json::array();
    if (o.plan) {
      writes.push_back(WriteJson(o.plan->Handler));
      if (o.plan->Compression) writes.push_back(WriteJson(*o.plan->Compression));
    }
    j["writes"] = writes;
  }
  return j;
}

TOutcome Info(const std::string& file, const TOptions& opt) {
  TOutcome o;
  o.file = file;
  o.state.AnyCase = opt.anyCase;
  ProcessFile(o.state, file, kNoCodec);
  o.analysed = o.state.FileStatus == fsOk;
  if (!o.analysed) o.error = StatusText(o.state.FileStatus);
  return o;
}

std::string InfoLine(const TOutcome& o) {
  const TAppState& s = o.state;
  std::string line = o.file + ": " + CodecLabel(s.CurrentCodec) + " (handler " + Quoted(s.OriginalHandler);
  line += s.HandlerFieldPos ? " at " + Hex(s.HandlerFieldPos) : std::string(", no field");
  line += ", compression " + Quoted(s.OriginalCompression);
  line += s.CompressionFieldPos ? " at " + Hex(s.CompressionFieldPos) : std::string(", no field");
  return line + ")";
}

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
  o.written = true;
  o.action = action;
  TAppState check;
  check.AnyCase = opt.anyCase;
  ProcessFile(check, o.file, kNoCodec);
  s.FileStatus = check.FileStatus;
  s.CurrentCodec = check.CurrentCodec;
  if (check.FileStatus != fsOk || check.OriginalHandler != plan.Handler.New ||
      (plan.Compression && check.OriginalCompression != plan.Compression->New))
    o.error = "after writing, the file reads as " + Message(check) + " (handler " + Quoted(check.OriginalHandler) +
              ", compression " + Quoted(check.OriginalCompression) + ")";
  return SetTimeBack(o, time), o;
}

TOutcome Convert(const std::string& file, TCodecId target, const TOptions& opt) {
  TOutcome o = Info(file, opt);
  o.target = target;
  TAppState& s = o.state;
  o.from = s.CurrentCodec;
  if (!o.analysed) return o;
  if (s.CurrentCodec == kUnknownCodec) {
    o.error = "Unknown codec (handler " + Quoted(s.OriginalHandler) + ", compression " + Quoted(s.OriginalCompression) + ")";
    return o;
  }
  if (s.CurrentCodec == target) {
    o.action = "unchanged";
    return o;
  }
  auto offered = OfferedTargets(s.CurrentCodec);
  if (std::find(offered.begin(), offered.end(), target) == offered.end()) {
    o.error = std::string(CodecNames[target]) + " is not offered for " + CodecNames[s.CurrentCodec] + " (" +
              CodecGroupName(CodecGroup(s.CurrentCodec)) + "; offered: " + TargetList(s.CurrentCodec) + ")";
    return o;
  }
  o.plan = PlanConversion(s, target);
  if (!o.plan) {
    // What the driver itself would report for this conversion.
    s.FileStatus = fsCannotWrite;
    o.error = std::string(StatusText(fsCannotWrite)) + ": the file's codec fields cannot be rewritten safely";
    return o;
  }
  if (opt.dryRun) {
    o.action = "dry-run";
    return o;
  }
  return Write(o, opt, "converted");
}

// One written entry of a convert record, turned round: at each offset the
// record's "new" is expected and its "old" is to be written.
struct TUndoEntry {
  std::string file;
  TConversionPlan plan;  // Handler: the record's first write, Compression: its second
};

TOutcome Undo(const TUndoEntry& u, const TOptions& opt) {
  TOutcome o = Info(u.file, opt);
  TAppState& s = o.state;
  o.from = s.CurrentCodec;
  o.target = kUnknownCodec;
  if (!o.analysed) return o;
  // The record says where to write; only this file's own analysis may say
  // where its fields are. Each offset must name one of them, each once.
  FourCC handler = s.OriginalHandler, compression = s.OriginalCompression;  // as the undo leaves them
  const FourCC* done = nullptr;
  for (const TFieldWrite* w : {&u.plan.Handler, u.plan.Compression ? &*u.plan.Compression : nullptr}) {
    if (!w) continue;
    FourCC* field = w->Position == s.HandlerFieldPos ? &handler : w->Position == s.CompressionFieldPos ? &compression : nullptr;
    if (!field || field == done) {
      o.error = "the record's offset " + Hex(w->Position) + " is not where this file's handler (" +
                (s.HandlerFieldPos ? Hex(s.HandlerFieldPos) : "none") + ") or compression field (" +
                (s.CompressionFieldPos ? Hex(s.CompressionFieldPos) : "none") + ") lies; nothing written";
      return o;
    }
    if (*field != w->Old) {
      o.error = "changed since the conversion: " + Quoted(*field) + " at " + Hex(w->Position) + ", where the record wrote " +
                Quoted(w->Old) + "; nothing written";
      return o;
    }
    *field = w->New;
    done = field;
  }
  if (u.plan.Compression && FieldsOverlap(s.HandlerFieldPos, s.CompressionFieldPos)) {
    o.error = "the file's two fields overlap; nothing written";
    return o;
  }
  o.target = DetectCodec(handler, compression, opt.anyCase);
  o.plan = u.plan;
  if (opt.dryRun) {
    o.action = "dry-run";
    return o;
  }
  return Write(o, opt, "undone");
}

std::string ConvertLine(const TOutcome& o) {
  const std::string to = CodecLabel(*o.target);
  if (o.action == "unchanged") return o.file + ": already " + to + ", left alone";
  std::string line = o.file + ": " + CodecLabel(o.from) + " -> " + to;
  if (o.action == "undone") line += " (undone)";
  if (o.action == "dry-run") {
    auto one = [](const TFieldWrite& w) { return Quoted(w.New) + " at " + Hex(w.Position) + " (was " + Quoted(w.Old) + ")"; };
    line += " would write " + one(o.plan->Handler);
    if (o.plan->Compression) line += ", " + one(*o.plan->Compression);
  }
  return line;
}

// The output of a run over many files: one line or JSON object per file,
// errors on stderr, a summary, and a progress line when stderr is a terminal.
class TReport {
 public:
  using Clock = std::chrono::steady_clock;
  TReport(std::ostream& out, std::ostream& err, bool json, bool progress)
      : out_(out), err_(err), json_(json), progress_(progress && !json) {}

  // A failure that is no file's outcome: an argument, a folder, a record.
  void Fail(const std::string& name, const std::string& error) {
    Clear();
    err_ << kProgram << ": " << name << ": " << error << "\n";
    ok_ = false;
  }
  // Counts the file under `kind`, an index into the summary's kinds.
  void Add(const TOutcome& o, const std::string& line, std::size_t kind) {
    Clear();
    if (!o.error.empty()) Fail(o.file, o.error);
    else if (!json_) out_ << line << "\n";
    if (json_) list_.push_back(ToJson(o));
    ++counts_.at(kind), ++files_;
  }
  void Progress(std::size_t done, std::size_t total, const std::string& file) {
    const Clock::time_point now = Clock::now();
    if (!progress_ || now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(100)) return;
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " files: ";
    line += file.size() + line.size() <= kWidth ? file : "..." + file.substr(file.size() + line.size() + 3 - kWidth);
    Clear();
    err_ << line << std::flush;
    shown_ = line.size(), drawn_ = now;
  }
  // "N files: X converted, Y already DivX 5, Z failed", counts of 0 left out;
  // kinds are in the summary's order.
  int Finish(const std::vector<std::string>& kinds) {
    Clear();
    if (json_) out_ << Dump(list_) << "\n";
    if (!json_ && files_ > 1) {
      std::string parts;
      for (std::size_t k = 0; k < kinds.size(); ++k)
        if (counts_[k]) parts += (parts.empty() ? "" : ", ") + std::to_string(counts_[k]) + " " + kinds[k];
      err_ << files_ << " files: " << parts << "\n";
    }
    return ok_ ? 0 : 1;
  }

 private:
  static constexpr std::size_t kWidth = 79;  // one line of a narrow terminal
  void Clear() {
    if (shown_) err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
  }
  std::ostream &out_, &err_;
  const bool json_, progress_;
  bool ok_ = true;
  Json list_ = Json::array();
  std::size_t files_ = 0, shown_ = 0;
  std::array<std::size_t, 4> counts_{};
  const Clock::time_point start_ = Clock::now();
  Clock::time_point drawn_{};
};

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() && Lower(name.substr(name.size() - suffix.size())) == suffix;
}

// The files below a folder whose names end in suffix; links to folders are
// not followed, and a folder met again inside itself (a loop through a bind
// mount, say) is not entered.
void Walk(const std::string& folder, const std::string& suffix, std::vector<os::FolderId>& inside,
          std::vector<std::string>& found, TReport& report) {
  const os::Listing listing = os::ListFolder(folder);
  if (!listing.error.empty()) report.Fail(folder, "cannot read the folder: " + listing.error);
  if (listing.id && std::find(inside.begin(), inside.end(), *listing.id) != inside.end()) {
    report.Fail(folder, "folder loop: this folder is one it lies in; not entered again");
    return;
  }
  if (listing.id) inside.push_back(*listing.id);
  for (const os::DirEntry& e : listing.entries) {
    const std::string path = os::JoinPath(folder, e.name);
    if (e.kind == os::EntryKind::Folder) Walk(path, suffix, inside, found, report);
    else if (e.kind == os::EntryKind::File && EndsWith(e.name, suffix)) found.push_back(path);
  }
  if (listing.id) inside.pop_back();
}

// The files the arguments stand for, in processing order. A file named is
// always taken; a folder only with -r, and then stands for the files below
// it whose names end in suffix in any letter case, sorted by path.
std::vector<std::string> Expand(const std::vector<std::string>& args, bool recursive, const std::string& suffix,
                                const char* what, TReport& report) {
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "-" || !os::IsFolder(arg)) {
      files.push_back(arg);
    } else if (!recursive) {
      report.Fail(arg, std::string("is a folder; -r takes the ") + what + " below it");
    } else {
      std::vector<os::FolderId> inside;
      std::vector<std::string> found;
      Walk(arg, suffix, inside, found, report);
      std::sort(found.begin(), found.end());  // byte order
      files.insert(files.end(), found.begin(), found.end());
    }
  }
  return files;
}

// A record is read whole; a bigger text than this is no record.
constexpr std::size_t kMaxRecordBytes = std::size_t{256} << 20;

std::optional<std::string> ReadText(const std::string& name, std::string& error) {
  std::ifstream file;
  if (name != "-") file.open(name, std::ios::binary);
  std::istream& in = name == "-" ? std::cin : file;
  std::string text;
  char buffer[65536];
  while (in && text.size() <= kMaxRecordBytes) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (text.size() > kMaxRecordBytes) error = "is larger than 256 MiB, so it is no record";
  else if (!in.eof()) error = "cannot be read";
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
  std::optional<TFieldWrite> first = writes.empty() ? std::nullopt : Reversed(writes[0]);
  std::optional<TFieldWrite> second = writes.size() == 2 ? Reversed(writes[1]) : std::nullopt;
  if (!first || writes.size() > 2 || (writes.size() == 2 && !second))
    return "\"writes\" must hold one or two fields, each an offset with an old and a new FourCC";
  entry = TUndoEntry{e["file"].get<std::string>(), {*first, second}};
  return {};
}

// The written entries of the records, in order; the rest are skipped.
std::vector<TUndoEntry> ReadRecords(const std::vector<std::string>& names, TReport& report) {
  std::vector<TUndoEntry> entries;
  for (const std::string& name : names) {
    std::string error;
    std::optional<std::string> text = ReadText(name, error);
    if (!text) {
      report.Fail(name, "the record " + error);
      continue;
    }
    nlohmann::json record;
    try {
      record = nlohmann::json::parse(*text);
    } catch (const nlohmann::json::parse_error& e) {
      report.Fail(name, "not JSON (at byte " + std::to_string(e.byte) + "), so not a convert record");
      continue;
    }
    if (!record.is_array()) report.Fail(name, "not a convert record: not a JSON array");
    for (std::size_t i = 0; record.is_array() && i < record.size(); ++i) {
      std::optional<TUndoEntry> entry;
      const std::string problem = EntryProblem(record[i], entry);
      if (!problem.empty()) report.Fail(name + ": entry " + std::to_string(i + 1), "not a convert record entry: " + problem);
      if (entry) entries.push_back(std::move(*entry));
    }
  }
  return entries;
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
                          {"targets", TargetNames(id)}});
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "%2d  %-20s %s/%s  %-11s -> ", id, CodecNames[id], FourCCText(p.Handler).c_str(),
                    FourCCText(p.Compression).c_str(), group);
      out << line << TargetList(id) << "\n";
    }
  }
  if (json) out << Dump(list) << "\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  CLI::App app{
      "Converts AVI files between MPEG-4 video codecs by rewriting the video stream's handler and compression "
      "codes in place; the video data is not touched.",
      kProgram};
  app.allow_windows_style_options(false);  // "/x.avi" is a file name, also on Windows
  app.set_version_flag("--version", std::string(kProgram) + " " + TOVACREX_VERSION);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    return std::string(kProgram) + ": " + CLI::FailureMessage::simple(a, e);
  });
  app.footer("Exit status: 0 every file succeeded, 1 a file failed, 2 usage error.");

  bool json = false, recursive = false;
  TOptions opt;
  std::vector<std::string> files;
  std::string codec;
  const std::string jsonHelp = "print one JSON array (schema: docs/cli-json.schema.json)";
  const std::string recursiveHelp = "a folder stands for the files below it named *.avi (any letter case), sorted by path";
  const std::string mtimeHelp = "set each file's modification time back to what it was";
  const std::string anyCaseHelp = "recognise handlers in any letter case (\"MP43\" as \"mp43\"); divx, DIVX and DX50 stay as they are";
  CLI::App* info = app.add_subcommand("info", "Show each file's codec, its two codes and where they lie");
  info->add_flag("--json", json, jsonHelp);
  info->add_flag("-r,--recursive", recursive, recursiveHelp);
  info->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  info->add_option("FILE", files, "AVI files, or folders with -r")->required();
  CLI::App* convert = app.add_subcommand("convert", "Convert each file to another codec of its group, in place");
  convert->add_option("--to", codec, "target codec: a name as 'codecs' lists it, any letter case, or its number 1 to 13")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) { return ParseCodec(text) ? std::string() : "unknown codec '" + text + "' (see 'codecs')"; },
          "CODEC"));
  convert->add_flag("--dry-run", opt.dryRun, "show what would be written, write nothing");
  convert->add_flag("--json", json, jsonHelp);
  convert->add_flag("-r,--recursive", recursive, recursiveHelp);
  convert->add_flag("--preserve-mtime", opt.preserveMtime, mtimeHelp);
  convert->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  convert->add_option("FILE", files, "AVI files, or folders with -r")->required();
  CLI::App* undo = app.add_subcommand(
      "undo", "Put back what 'convert --json' recorded it wrote, in each file whose fields still hold what it wrote");
  undo->add_flag("--dry-run", opt.dryRun, "show what would be written, write nothing");
  undo->add_flag("--json", json, jsonHelp);
  undo->add_flag("-r,--recursive", recursive, "a folder stands for the records below it named *.json (any letter case), sorted by path");
  undo->add_flag("--preserve-mtime", opt.preserveMtime, mtimeHelp);
  undo->add_flag("--any-case", opt.anyCase, anyCaseHelp);
  undo->add_option("RECORD", files, "what 'convert --json' printed: a file, or - for standard input")->required();
  CLI::App* codecs = app.add_subcommand("codecs", "List the codecs, their codes and their targets");
  codecs->add_flag("--json", json, jsonHelp);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? 0 : 2;  // help and version, or a usage error
  }

  if (codecs->parsed()) {
    ListCodecs(out, json);
    return 0;
  }
  TReport report(out, err, json, errIsTerminal);
  if (undo->parsed()) {
    const std::vector<TUndoEntry> entries = ReadRecords(Expand(files, recursive, ".json", "records", report), report);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      report.Progress(i, entries.size(), entries[i].file);
      const TOutcome o = Undo(entries[i], opt);
      report.Add(o, o.error.empty() ? ConvertLine(o) : "", o.error.empty() ? 0 : 1);
    }
    return report.Finish({opt.dryRun ? "would be undone" : "undone", "failed"});
  }
  const std::vector<std::string> paths = Expand(files, recursive, ".avi", "AVI files", report);
  if (info->parsed()) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      report.Progress(i, paths.size(), paths[i]);
      const TOutcome o = Info(paths[i], opt);
      report.Add(o, o.error.empty() ? InfoLine(o) : "", !o.error.empty() ? 2 : InCatalogue(o.state.CurrentCodec) ? 0 : 1);
    }
    return report.Finish({"recognised", "unknown codec", "failed"});
  }
  const TCodecId target = *ParseCodec(codec);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    report.Progress(i, paths.size(), paths[i]);
    const TOutcome o = Convert(paths[i], target, opt);
    report.Add(o, o.error.empty() ? ConvertLine(o) : "", !o.error.empty() ? 2 : o.action == "unchanged" ? 1 : 0);
  }
  const std::string already = std::string("already ") + CodecNames[target];
  return report.Finish({opt.dryRun ? "would be converted" : "converted", already, "failed"});
}
