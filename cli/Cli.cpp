#include "Cli.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "app/Driver.h"

namespace {

constexpr const char* kProgram = "tovacrex-cli";
constexpr const char* kVersion = "1.7.0";

constexpr const char* kUsage =
    "Usage:\n"
    "  tovacrex-cli info [--json] FILE...\n"
    "  tovacrex-cli convert --to CODEC [--dry-run] [--json] FILE...\n"
    "  tovacrex-cli codecs [--json]\n"
    "  tovacrex-cli --help | --version\n"
    "\n"
    "Converts AVI files between MPEG-4 video codecs by rewriting the video\n"
    "stream's handler and compression codes in place; the video data is not\n"
    "touched. CODEC is a codec name as 'codecs' lists it (letter case does\n"
    "not matter, e.g. \"divx 5\") or its number 1 to 13.\n"
    "\n"
    "Exit status: 0 every file succeeded, 1 a file failed, 2 usage error.\n";

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

std::optional<TCodecId> ParseCodec(const std::string& text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    if (text.size() > 2) return std::nullopt;
    int id = std::stoi(text);
    if (id >= kFirstCodec && id <= kLastCodec) return static_cast<TCodecId>(id);
    return std::nullopt;
  }
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    if (Lower(text) == Lower(CodecNames[id])) return id;
  return std::nullopt;
}

std::string JsonString(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': r += "\\\""; break;
      case '\\': r += "\\\\"; break;
      case '\n': r += "\\n"; break;
      case '\r': r += "\\r"; break;
      case '\t': r += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          r += buf;
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r + "\"";
}

std::string Quoted(FourCC v) {
  std::string r(1, '"');
  r += FourCCText(v);
  r += '"';
  return r;
}

std::string Hex(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string CodecLabel(TCodecId id) { return id >= kFirstCodec && id <= kLastCodec ? CodecNames[id] : "Unknown codec"; }

std::string TargetList(TCodecId id, bool json) {
  std::string r;
  for (TCodecId t : OfferedTargets(id)) {
    if (!r.empty()) r += ", ";
    r += json ? JsonString(CodecNames[t]) : CodecNames[t];
  }
  return r;
}

// Collects one JSON object per file, or prints one line per file.
class TReport {
 public:
  TReport(std::ostream& out, std::ostream& err, bool json) : out_(out), err_(err), json_(json) {}
  ~TReport() {
    if (json_ && started_) out_ << "\n]\n";
  }

  void Object(const std::string& body) {
    out_ << (started_ ? ",\n  {" : "[\n  {") << body << "}";
    started_ = true;
  }
  void Line(const std::string& text) { out_ << text << "\n"; }
  void Error(const std::string& file, const std::string& reason) { err_ << kProgram << ": " << file << ": " << reason << "\n"; }
  bool Json() const { return json_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  bool started_ = false;
};

std::string AnalysisFields(const TAppState& s) {
  std::string r = ", \"codec_id\": " + std::to_string(s.CurrentCodec) +
                  ", \"codec\": " + JsonString(CodecLabel(s.CurrentCodec)) +
                  ", \"group\": " + JsonString(CodecGroupName(CodecGroup(s.CurrentCodec))) +
                  ", \"handler\": " + JsonString(FourCCText(s.OriginalHandler)) +
                  ", \"handler_pos\": " + std::to_string(s.HandlerFieldPos) +
                  ", \"compression\": " + JsonString(FourCCText(s.OriginalCompression)) +
                  ", \"compression_pos\": " + std::to_string(s.CompressionFieldPos) +
                  ", \"targets\": [" + TargetList(s.CurrentCodec, true) + "]";
  return r;
}

std::string FailureObject(const std::string& file, const std::string& reason) {
  return "\"file\": " + JsonString(file) + ", \"ok\": false, \"error\": " + JsonString(reason);
}

bool InfoOne(TReport& rep, const std::string& file) {
  TAppState s;
  ProcessFile(s, file, kNoCodec);
  if (s.FileStatus != fsOk) {
    rep.Error(file, StatusText(s.FileStatus));
    if (rep.Json()) rep.Object(FailureObject(file, StatusText(s.FileStatus)) + ", \"status\": " + std::to_string(s.FileStatus));
    return false;
  }
  if (rep.Json()) {
    rep.Object("\"file\": " + JsonString(file) + ", \"ok\": true, \"status\": 0" + AnalysisFields(s));
  } else {
    std::string line = file + ": " + CodecLabel(s.CurrentCodec) + " (handler " + Quoted(s.OriginalHandler);
    line += s.HandlerFieldPos ? " at " + Hex(s.HandlerFieldPos) : std::string(", no field");
    line += ", compression " + Quoted(s.OriginalCompression);
    line += s.CompressionFieldPos ? " at " + Hex(s.CompressionFieldPos) : std::string(", no field");
    line += ")";
    rep.Line(line);
  }
  return true;
}

std::string PlanText(const TConversionPlan& p) {
  std::string r = Quoted(p.Handler.New) + " at " + Hex(p.Handler.Position) + " (was " + Quoted(p.Handler.Old) + ")";
  if (p.Compression)
    r += ", " + Quoted(p.Compression->New) + " at " + Hex(p.Compression->Position) + " (was " + Quoted(p.Compression->Old) + ")";
  return r;
}

std::string PlanJson(const TConversionPlan& p) {
  auto one = [](const TFieldWrite& w) {
    return "{\"position\": " + std::to_string(w.Position) + ", \"old\": " + JsonString(FourCCText(w.Old)) +
           ", \"new\": " + JsonString(FourCCText(w.New)) + "}";
  };
  std::string r = "[" + one(p.Handler);
  if (p.Compression) r += ", " + one(*p.Compression);
  return r + "]";
}

bool ConvertOne(TReport& rep, const std::string& file, TCodecId target, bool dryRun) {
  auto fail = [&](const std::string& reason) {
    rep.Error(file, reason);
    if (rep.Json()) rep.Object(FailureObject(file, reason));
    return false;
  };
  TAppState s;
  ProcessFile(s, file, kNoCodec);
  if (s.FileStatus != fsOk) return fail(StatusText(s.FileStatus));
  const TCodecId from = s.CurrentCodec;
  if (from == kUnknownCodec)
    return fail("Unknown codec (handler " + Quoted(s.OriginalHandler) + ", compression " + Quoted(s.OriginalCompression) + ")");
  const std::string head = "\"file\": " + JsonString(file) + ", \"from\": " + JsonString(CodecNames[from]) +
                           ", \"to\": " + JsonString(CodecNames[target]);
  if (from == target) {
    if (rep.Json())
      rep.Object(head + ", \"ok\": true, \"action\": \"unchanged\"");
    else
      rep.Line(file + ": already " + CodecNames[target] + ", left alone");
    return true;
  }
  auto offered = OfferedTargets(from);
  if (std::find(offered.begin(), offered.end(), target) == offered.end())
    return fail(std::string(CodecNames[target]) + " is not offered for " + CodecNames[from] + " (" +
                CodecGroupName(CodecGroup(from)) + "; offered: " + TargetList(from, false) + ")");
  std::optional<TConversionPlan> plan = PlanConversion(s, target);
  if (!plan) return fail(std::string(StatusText(fsCannotWrite)) + ": the file's codec fields cannot be rewritten safely");
  if (dryRun) {
    if (rep.Json())
      rep.Object(head + ", \"ok\": true, \"action\": \"dry-run\", \"writes\": " + PlanJson(*plan));
    else
      rep.Line(file + ": " + CodecNames[from] + " -> " + CodecNames[target] + " would write " + PlanText(*plan));
    return true;
  }
  ProcessFile(s, file, target);
  if (s.FileStatus != fsOk) return fail(StatusText(s.FileStatus));
  TAppState check;
  ProcessFile(check, file, kNoCodec);
  if (check.FileStatus != fsOk || check.CurrentCodec != target)
    return fail(std::string("after writing, the file reads as ") +
                (check.FileStatus != fsOk ? StatusText(check.FileStatus) : CodecLabel(check.CurrentCodec)));
  if (rep.Json())
    rep.Object(head + ", \"ok\": true, \"action\": \"converted\", \"writes\": " + PlanJson(*plan));
  else
    rep.Line(file + ": " + CodecNames[from] + " -> " + CodecNames[target]);
  return true;
}

void ListCodecs(std::ostream& out, bool json) {
  if (json) out << "[\n";
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id) {
    TFourCCPair p = TargetFourCCs(id);
    const char* group = CodecGroupName(CodecGroup(id));
    if (json) {
      out << "  {\"id\": " << int(id) << ", \"name\": " << JsonString(CodecNames[id])
          << ", \"handler\": " << JsonString(FourCCText(p.Handler))
          << ", \"compression\": " << JsonString(FourCCText(p.Compression)) << ", \"group\": " << JsonString(group)
          << ", \"targets\": [" << TargetList(id, true) << "]}" << (id < kLastCodec ? ",\n" : "\n");
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "%2d  %-20s %s/%s  %-11s -> ", id, CodecNames[id], FourCCText(p.Handler).c_str(),
                    FourCCText(p.Compression).c_str(), group);
      out << line << TargetList(id, false) << "\n";
    }
  }
  if (json) out << "]\n";
}

int Usage(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << "\n\n" << kUsage;
  return 2;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "a command is needed");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return 0;
  }
  if (command == "--version") {
    out << kProgram << " " << kVersion << "\n";
    return 0;
  }
  if (command != "info" && command != "convert" && command != "codecs") return Usage(err, "unknown command '" + command + "'");

  bool json = false, dryRun = false, optionsEnded = false;
  std::optional<TCodecId> target;
  std::vector<std::string> files;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      files.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    } else if (command == "convert" && a == "--dry-run") {
      dryRun = true;
    } else if (command == "convert" && (a == "--to" || a.rfind("--to=", 0) == 0)) {
      std::string value;
      if (a == "--to") {
        if (i + 1 >= args.size()) return Usage(err, "--to needs a codec");
        value = args[++i];
      } else {
        value = a.substr(5);
      }
      target = ParseCodec(value);
      if (!target) return Usage(err, "unknown codec '" + value + "' (see 'tovacrex-cli codecs')");
    } else {
      return Usage(err, "unknown option '" + a + "' for " + command);
    }
  }

  if (command == "codecs") {
    if (!files.empty()) return Usage(err, "codecs takes no files");
    ListCodecs(out, json);
    return 0;
  }
  if (command == "convert" && !target) return Usage(err, "convert needs --to CODEC");
  if (files.empty()) return Usage(err, command + " needs at least one file");

  TReport rep(out, err, json);
  bool allOk = true;
  for (const std::string& f : files) allOk &= command == "info" ? InfoOne(rep, f) : ConvertOne(rep, f, *target, dryRun);
  return allOk ? 0 : 1;
}
