#include "Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

#include "TovacrexVersion.h"
#include "app/Driver.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // keeps min and max usable
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

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

#ifdef _WIN32
// The command line arrives in the ANSI code page; JSON text is UTF-8.
std::string NameText(const std::string& name) {
  const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  if (n <= 0) return name;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(m, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
  return utf8;
}
#else
// The bytes as given; Dump() replaces what is not UTF-8.
std::string NameText(const std::string& name) { return name; }
#endif

std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

// What one file's run found and did; it becomes one JSON object or one line.
struct TOutcome {
  std::string file;
  TAppState state;        // after the analysis, or after the conversion
  bool analysed = false;  // the FourCCs and offsets are known
  std::string error;      // empty: success
  // convert only
  std::optional<TCodecId> target;
  TCodecId from = kNoCodec;
  const char* action = nullptr;  // "converted", "dry-run", "unchanged"
  bool written = false;
  std::optional<TConversionPlan> plan;  // written, or to be written on a dry run
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
  Json j{{"file", NameText(o.file)},
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
  if (o.target) {
    j["target"] = CodecNames[*o.target];
    j["from"] = CodecName(o.from);
    j["to"] = CodecNames[*o.target];
    j["action"] = o.action ? Json(o.action) : Json(nullptr);
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

TOutcome Info(const std::string& file) {
  TOutcome o;
  o.file = file;
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

TOutcome Convert(const std::string& file, TCodecId target, bool dryRun) {
  TOutcome o = Info(file);
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
  if (dryRun) {
    o.action = "dry-run";
    return o;
  }
  ProcessFile(s, file, target);
  if (s.FileStatus != fsOk) {
    o.error = StatusText(s.FileStatus);
    o.plan.reset();  // the driver writes both fields or leaves the file as it was
    return o;
  }
  o.written = true;
  o.action = "converted";
  // Read back: the record must say what the file now holds.
  TAppState check;
  ProcessFile(check, file, kNoCodec);
  if (check.FileStatus != fsOk || check.CurrentCodec != target) {
    s.FileStatus = check.FileStatus;
    s.CurrentCodec = check.CurrentCodec;
    o.error = "after writing, the file reads as " + Message(check);
  }
  return o;
}

std::string ConvertLine(const TOutcome& o) {
  const std::string to = CodecNames[*o.target];
  if (std::string(o.action) == "unchanged") return o.file + ": already " + to + ", left alone";
  std::string line = o.file + ": " + CodecNames[o.from] + " -> " + to;
  if (std::string(o.action) == "dry-run") {
    auto one = [](const TFieldWrite& w) { return Quoted(w.New) + " at " + Hex(w.Position) + " (was " + Quoted(w.Old) + ")"; };
    line += " would write " + one(o.plan->Handler);
    if (o.plan->Compression) line += ", " + one(*o.plan->Compression);
  }
  return line;
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

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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

  bool json = false, dryRun = false;
  std::vector<std::string> files;
  std::string codec;
  const std::string jsonHelp = "print one JSON array (schema: docs/cli-json.schema.json)";
  CLI::App* info = app.add_subcommand("info", "Show each file's codec, its two codes and where they lie");
  info->add_flag("--json", json, jsonHelp);
  info->add_option("FILE", files, "AVI files")->required();
  CLI::App* convert = app.add_subcommand("convert", "Convert each file to another codec of its group, in place");
  convert->add_option("--to", codec, "target codec: a name as 'codecs' lists it, any letter case, or its number 1 to 13")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) { return ParseCodec(text) ? std::string() : "unknown codec '" + text + "' (see 'codecs')"; },
          "CODEC"));
  convert->add_flag("--dry-run", dryRun, "show what would be written, write nothing");
  convert->add_flag("--json", json, jsonHelp);
  convert->add_option("FILE", files, "AVI files")->required();
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
  const bool converting = convert->parsed();
  const TCodecId target = converting ? *ParseCodec(codec) : kNoCodec;
  Json list = Json::array();
  bool allOk = true;
  for (const std::string& file : files) {
    TOutcome o = converting ? Convert(file, target, dryRun) : Info(file);
    allOk &= o.error.empty();
    if (!o.error.empty())
      err << kProgram << ": " << file << ": " << o.error << "\n";
    else if (!json)
      out << (converting ? ConvertLine(o) : InfoLine(o)) << "\n";
    if (json) list.push_back(ToJson(o));
  }
  if (json) out << Dump(list) << "\n";
  return allOk ? 0 : 1;
}
