// Analysis and conversion driver: the one way the program touches a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CodecCatalogue.h"
#include "mkv/MatroskaFile.h"

// Outcome of the last ProcessFile call.
enum TFileStatus : std::uint8_t {
  fsOk = 0,
  fsNotFound = 1,  // missing or not readable
  fsCannotOpen = 2,
  fsCannotWrite = 3,
  fsNotAvi = 4,
  fsCannotCreateStream = 5,
  fsScanFailed = 6,
};

enum TContainer : std::uint8_t { ctAvi = 0, ctMatroska = 1 };

// The application state. Only the driver writes it; the dialog and the
// command line read FileStatus, CurrentCodec and OriginalCodec.
struct TAppState {
  std::uint8_t FileStatus = 0;
  TCodecId CurrentCodec = 0;
  TCodecId OriginalCodec = 0;

  FourCC OriginalHandler = 0;
  FourCC OriginalCompression = 0;
  std::int64_t HandlerFieldPos = 0;      // 0: the field does not count
  std::int64_t CompressionFieldPos = 0;  // 0: the field does not count
  // What the two fields hold now, as far as this state knows: found by the
  // analysis, replaced by each conversion. Checked before every write.
  FourCC ExpectedHandler = 0;
  FourCC ExpectedCompression = 0;
  // Set by the caller: recognise handlers in any letter case (the command
  // line's --any-case; the Windows program never sets it).
  bool AnyCase = false;

  // Matroska files (not the Windows program's): the codec is the video
  // track's compression code alone, there is no handler field, and the
  // CRC-32s that cover the code are written with it, innermost first.
  // Set by the caller: read Matroska files too (the command line and the
  // page; the Windows program stays with AVI files).
  bool Matroska = false;
  TContainer Container = ctAvi;
  std::uint64_t TrackNumber = 0;
  std::vector<TMkvCrc> Crcs;
  // Why a code that was found must not be written; nullptr: it may be.
  const char* Refusal = nullptr;
};

// One planned write of a conversion.
struct TFieldWrite {
  std::int64_t Position;
  FourCC Old;
  FourCC New;
};

// What a conversion to target would write, in order: the handler, the
// compression, then any CRC-32s; or nothing when it must not be written (not
// analysed, no field, or the result would not be recognised as the target).
struct TConversionPlan {
  std::vector<TFieldWrite> Writes;
};
std::optional<TConversionPlan> PlanConversion(const TAppState& state, TCodecId target);

// The codec that codes name in a file of the state's container: both codes
// in an AVI file, the compression alone in a Matroska track.
TCodecId DetectCodecIn(const TAppState& state, FourCC handler, FourCC compression, bool anyCase);

class TStream64;
// Checks that every field still holds its old value, writes the new ones
// and flushes them to the disk; on any failure, the flush's included, puts
// back what it wrote and returns false.
bool ApplyPlan(TStream64& stream, const TConversionPlan& plan);
// ApplyPlan on the named file, also when it is read-only; its attributes end
// as they were. The plan's positions must come from an analysis of the file.
bool WritePlan(const std::string& fileName, const TConversionPlan& plan);
// Two fields that overlap could not both hold their values.
bool FieldsOverlap(std::int64_t a, std::int64_t b);

bool CanOpenFile(const std::string& fileName);

// The analysis of a stream that is open already (the browser's, over the
// bytes the page read); the outcome is left in state as by ProcessFile.
void AnalyseStream(TAppState& state, TStream64& stream);

// target 0: analyse; 1..13: convert. The outcome is left in state.
void ProcessFile(TAppState& state, const std::string& fileName, TCodecId target);
