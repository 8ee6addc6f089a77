// What one file's run found and did: the analysis, the plan of a conversion
// and its read-back, and the JSON object.
#include "Outcome.h"

#include <algorithm>

namespace core {

TOutcome Analyse(const std::string& file, bool anyCase, TStream64* stream) {
  TOutcome o;
  o.file = file;
  o.state.AnyCase = anyCase;
  o.state.Matroska = true;
  if (stream)
    AnalyseStream(o.state, *stream);
  else
    ProcessFile(o.state, file, kNoCodec);
  o.analysed = o.state.FileStatus == fsOk;
  if (!o.analysed) o.error = StatusText(o.state.FileStatus);
  return o;
}

TOutcome Plan(TOutcome o, TCodecId target, bool dryRun, const TFourCCPair* original) {
  o.target = target;
  TAppState& s = o.state;
  o.from = s.CurrentCodec;
  if (!o.analysed) return o;
  if (s.CurrentCodec == kUnknownCodec) {
    o.error = std::string(UnknownCodecText()) + " (" + Codes(s) + ")";
    return o;
  }
  if (s.CurrentCodec == target) {
    o.action = "unchanged";
    return o;
  }
  const std::vector<TCodecId> offered = Targets(s);
  if (std::find(offered.begin(), offered.end(), target) == offered.end()) {
    o.error = std::string(CodecNames[target]) + " is not offered for " + CodecNames[s.CurrentCodec] + " (" +
              CodecGroupName(CodecGroup(s.CurrentCodec)) + "; offered: " + TargetList(offered) + ")";
    return o;
  }
  // Back to the original codec means back to the pair found first: by the
  // caller that has seen the file before its conversions, else now.
  TAppState planned = s;
  if (original) {
    planned.OriginalHandler = original->Handler;
    planned.OriginalCompression = original->Compression;
    planned.OriginalCodec = DetectCodecIn(s, original->Handler, original->Compression, s.AnyCase);
  }
  o.plan = PlanConversion(planned, target);
  if (!o.plan) {
    // What the driver itself would report for this conversion.
    s.FileStatus = fsCannotWrite;
    o.error = std::string(StatusText(fsCannotWrite)) + ": " +
              (s.Refusal ? s.Refusal : "the file's codec fields cannot be rewritten safely");
    return o;
  }
  if (dryRun) o.action = "dry-run";
  return o;
}

void ReadBack(TOutcome& o, const TAppState& check, const char* action) {
  const TConversionPlan& plan = *o.plan;
  o.written = true;
  o.action = action;
  o.state.FileStatus = check.FileStatus;
  o.state.CurrentCodec = check.CurrentCodec;
  // By position: an undo may write the compression field alone. A CRC-32
  // holds what was written only if the analysis found it true to its bytes.
  auto holds = [&](const TFieldWrite& w) {
    if (w.Position == check.HandlerFieldPos) return check.OriginalHandler == w.New;
    if (w.Position == check.CompressionFieldPos) return check.OriginalCompression == w.New;
    return !check.Refusal && std::any_of(check.Crcs.begin(), check.Crcs.end(), [&](const TMkvCrc& c) {
      return c.ValuePos == w.Position && c.Stored == w.New;
    });
  };
  if (check.FileStatus != fsOk || !std::all_of(plan.Writes.begin(), plan.Writes.end(), holds))
    o.error = "after writing, the file reads as " + Message(check) + " (" + Codes(check) + ")";
}

std::string Codes(const TAppState& s) {
  if (s.Container == ctAvi)
    return "handler " + Quoted(s.OriginalHandler) + ", compression " + Quoted(s.OriginalCompression);
  const std::string track = "track " + std::to_string(s.TrackNumber);
  return HasCode(s) ? track + ", compression " + Quoted(s.OriginalCompression) : track + ", no compression code";
}

bool HasCode(const TAppState& s) { return s.Container == ctAvi || s.CompressionFieldPos > 0 || s.Refusal != nullptr; }

std::vector<TCodecId> Targets(const TAppState& s) {
  if (s.Container == ctMatroska) return OfferedTargetsByCompression(s.CurrentCodec);
  const auto offered = OfferedTargets(s.CurrentCodec);
  return {offered.begin(), offered.end()};
}

std::string Message(const TAppState& s) {
  return s.FileStatus == fsOk ? CodecLabel(s.CurrentCodec) : StatusText(s.FileStatus);
}

std::string TargetList(std::span<const TCodecId> targets) {
  std::string r;
  for (TCodecId t : targets) r += (r.empty() ? "" : ", ") + std::string(CodecNames[t]);
  return r;
}

Json TargetNames(std::span<const TCodecId> targets) {
  Json names = Json::array();
  for (TCodecId t : targets) names.push_back(CodecNames[t]);
  return names;
}

Json CodecName(TCodecId id) { return InCatalogue(id) ? Json(CodecNames[id]) : Json(nullptr); }

Json WritesJson(const std::optional<TConversionPlan>& plan) {
  auto one = [](const TFieldWrite& w) {
    return Json{{"offset", w.Position}, {"old", FourCCText(w.Old)}, {"new", FourCCText(w.New)}};
  };
  Json writes = Json::array();
  if (plan)
    for (const TFieldWrite& w : plan->Writes) writes.push_back(one(w));
  return writes;
}

Json ToJson(const TOutcome& o) {
  const TAppState& s = o.state;
  auto known = [&](Json value) { return o.analysed ? value : Json(nullptr); };
  const bool avi = s.Container == ctAvi;
  auto offset = [&](std::int64_t pos) { return o.analysed && pos > 0 ? Json(pos) : Json(nullptr); };
  Json j{{"file", o.file},
         {"ok", o.error.empty()},
         {"status", s.FileStatus},
         {"message", Message(s)},
         // A file that could not be analysed has no codec, not an unknown one.
         {"codec_id", o.analysed ? s.CurrentCodec : kNoCodec},
         {"codec", CodecName(o.analysed ? s.CurrentCodec : kNoCodec)},
         {"group", CodecGroupName(CodecGroup(o.analysed ? s.CurrentCodec : kNoCodec))},
         {"container", known(avi ? "avi" : "matroska")},
         {"track", o.analysed && !avi ? Json(s.TrackNumber) : Json(nullptr)},
         // A Matroska track has no handler, and perhaps no code at all.
         {"handler", avi ? known(FourCCText(s.OriginalHandler)) : Json(nullptr)},
         {"compression", HasCode(s) ? known(FourCCText(s.OriginalCompression)) : Json(nullptr)},
         {"handler_offset", offset(s.HandlerFieldPos)},
         {"compression_offset", offset(s.CompressionFieldPos)},
         {"targets", TargetNames(Targets(s))},
         {"error", o.error.empty() ? Json(nullptr) : Json(o.error)}};
  // Recognised only because the handler's letter case was set aside.
  auto detect = [&](bool anyCase) { return DetectCodecIn(s, s.OriginalHandler, s.OriginalCompression, anyCase); };
  if (o.analysed && s.AnyCase && HasCode(s) && detect(false) == kUnknownCodec && detect(true) != kUnknownCodec)
    j["any_case"] = true;
  if (o.target) {
    j["target"] = CodecName(*o.target);
    j["from"] = CodecName(o.from);
    j["to"] = CodecName(*o.target);
    j["action"] = o.action.empty() ? Json(nullptr) : Json(o.action);
    j["written"] = o.written;
    j["writes"] = WritesJson(o.plan);
  }
  return j;
}

}  // namespace core
