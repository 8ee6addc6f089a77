// What one file's run found and did: the analysis, the plan of a conversion
// and its read-back, and the JSON object.
#include "Outcome.h"

#include <algorithm>

namespace core {

TOutcome Analyse(const std::string& file, bool anyCase, TStream64* stream) {
  TOutcome o;
  o.file = file;
  o.state.AnyCase = anyCase;
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
    o.error = std::string(UnknownCodecText()) + " (handler " + Quoted(s.OriginalHandler) + ", compression " +
              Quoted(s.OriginalCompression) + ")";
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
  // Back to the original codec means back to the pair found first: by the
  // caller that has seen the file before its conversions, else now.
  TAppState planned = s;
  if (original) {
    planned.OriginalHandler = original->Handler;
    planned.OriginalCompression = original->Compression;
    planned.OriginalCodec = DetectCodec(original->Handler, original->Compression, s.AnyCase);
  }
  o.plan = PlanConversion(planned, target);
  if (!o.plan) {
    // What the driver itself would report for this conversion.
    s.FileStatus = fsCannotWrite;
    o.error = std::string(StatusText(fsCannotWrite)) + ": the file's codec fields cannot be rewritten safely";
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
  // By position: an undo may write the compression field alone.
  auto holds = [&](const TFieldWrite& w) {
    return w.Position == check.HandlerFieldPos
               ? check.OriginalHandler == w.New
               : w.Position == check.CompressionFieldPos && check.OriginalCompression == w.New;
  };
  if (check.FileStatus != fsOk || !holds(plan.Handler) || (plan.Compression && !holds(*plan.Compression)))
    o.error = "after writing, the file reads as " + Message(check) + " (handler " + Quoted(check.OriginalHandler) +
              ", compression " + Quoted(check.OriginalCompression) + ")";
}

std::string Message(const TAppState& s) {
  return s.FileStatus == fsOk ? CodecLabel(s.CurrentCodec) : StatusText(s.FileStatus);
}

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

Json WritesJson(const std::optional<TConversionPlan>& plan) {
  auto one = [](const TFieldWrite& w) {
    return Json{{"offset", w.Position}, {"old", FourCCText(w.Old)}, {"new", FourCCText(w.New)}};
  };
  Json writes = Json::array();
  if (plan) {
    writes.push_back(one(plan->Handler));
    if (plan->Compression) writes.push_back(one(*plan->Compression));
  }
  return writes;
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
    j["writes"] = WritesJson(o.plan);
  }
  return j;
}

}  // namespace core
