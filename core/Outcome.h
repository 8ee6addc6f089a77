// What one file's run found and did, shared by every front end: the outcome
// of an analysis, the plan of a conversion, the judgement of the file read
// back after writing, and the JSON object that says it all.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Text.h"

class TStream64;

namespace core {

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
  std::string element;                  // its JSON element, when made ahead on the thread that ran it
};

// The analysis of a file: the named file opened by the driver, or, when
// stream is given, the stream that holds it (opened by the caller).
TOutcome Analyse(const std::string& file, bool anyCase, TStream64* stream = nullptr);
// The conversion of an analysed file to target: the plan to write, or why
// there is none ("unchanged", not offered, unknown codec...). original: the
// pair the file held before earlier conversions, when the caller knows it.
TOutcome Plan(TOutcome analysed, TCodecId target, bool dryRun, const TFourCCPair* original = nullptr);
// After the plan was written: the outcome as the file, analysed again as
// check, now reads; an error when the fields do not hold what was written.
void ReadBack(TOutcome& o, const TAppState& check, const char* action);

// What the dialog's Current codec field would show.
std::string Message(const TAppState& s);
// The codes found, as messages name them: "handler "div3", compression "DIV3"".
std::string Codes(const TAppState& s);
// A Matroska track may have no code at all; an AVI file always has both fields.
bool HasCode(const TAppState& s);
// The targets offered for the codec found, in list order.
std::vector<TCodecId> Targets(const TAppState& s);
std::string TargetList(std::span<const TCodecId> targets);
Json TargetNames(std::span<const TCodecId> targets);
Json CodecName(TCodecId id);
Json WritesJson(const std::optional<TConversionPlan>& plan);
Json ToJson(const TOutcome& o);

}  // namespace core
