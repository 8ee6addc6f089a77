// What a conversion decides about one analysed file, and how it judges the
// file read back after writing: shared by the command line and the browser
// module, which reads and writes through the page.
#include <algorithm>

#include "Report.h"

namespace cli {

TOutcome Plan(TOutcome o, TCodecId target, bool dryRun, const TFourCCPair* original) {
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
    return w.Position == check.HandlerFieldPos ? check.OriginalHandler == w.New
                                               : w.Position == check.CompressionFieldPos && check.OriginalCompression == w.New;
  };
  if (check.FileStatus != fsOk || !holds(plan.Handler) || (plan.Compression && !holds(*plan.Compression)))
    o.error = "after writing, the file reads as " + Message(check) + " (handler " + Quoted(check.OriginalHandler) +
              ", compression " + Quoted(check.OriginalCompression) + ")";
}

}  // namespace cli
