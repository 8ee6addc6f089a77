// The core as a WebAssembly module for the page. A page cannot read a user's
// file synchronously, so it hands the module windows of the file; an analysis
// that needs bytes outside them ends by naming the offset and length it
// needs, and the page reads those and asks again. Writes go back to the page
// as a list: it applies them.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "avi/QmRIFFStream.h"
#include "core/Outcome.h"

namespace {

// The bytes of one file the page has read, by offset.
struct TWindows {
  std::int64_t size = 0;
  std::map<std::int64_t, std::vector<std::uint8_t>> pieces;
};

// A read-only stream over the windows. A read that reaches a byte no window
// holds gives what lies before it and notes where to read; the analysis that
// made it is then thrown away and made again once the page has read there.
class TWindowStream : public TStream64 {
 public:
  // At least this much is asked for at a time: the walker reads ahead 64 KiB.
  static constexpr std::int64_t kAsk = 1 << 20;

  explicit TWindowStream(const TWindows& w) : w_(w) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::int64_t end = std::min(w_.size, pos_ + std::max<std::int64_t>(count, 0));
    std::int64_t done = 0;
    while (pos_ < end) {
      auto piece = w_.pieces.upper_bound(pos_);
      std::int64_t n = 0;
      if (piece != w_.pieces.begin()) {
        --piece;
        const std::int64_t inside = pos_ - piece->first;
        n = std::min<std::int64_t>(static_cast<std::int64_t>(piece->second.size()) - inside, end - pos_);
        if (n > 0) std::memcpy(out + done, piece->second.data() + inside, static_cast<std::size_t>(n));
      }
      if (n <= 0) {
        if (!need) need = std::pair(pos_, std::min(kAsk, w_.size - pos_));
        break;
      }
      pos_ += n, done += n;
    }
    return done;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    const std::int64_t to = SeekFrom(origin == 0 ? 0 : origin == 1 ? pos_ : origin == 2 ? w_.size : -1, offset);
    return to < 0 ? -1 : pos_ = to;
  }

  std::optional<std::pair<std::int64_t, std::int64_t>> need;  // offset, length

 private:
  const TWindows& w_;
  std::int64_t pos_ = 0;
};

TWindows gFile;
std::string gResult;
// Conversions the page is writing, by the id given to the page: it writes
// several files at once, and the module analyses others meanwhile.
std::map<int, core::TOutcome> gPending;
int gLastId = 0;

// The analysis over the windows: the info object, or what to read first.
std::optional<core::TOutcome> Analysed(const char* name, bool anyCase) {
  TWindowStream stream(gFile);
  core::TOutcome o = core::Analyse(name, anyCase, &stream);
  if (stream.need) {
    gResult = core::Json{{"need", {stream.need->first, stream.need->second}}}.dump();
    return std::nullopt;
  }
  return o;
}

// The writes as numbers for the page: offset, old and new value, each code
// read as a little-endian 32-bit number, as it lies in the file.
core::Json Writes(const TConversionPlan& plan) {
  core::Json w = core::Json::array();
  for (const TFieldWrite& f : plan.Writes) w.push_back({f.Position, f.Old, f.New});
  return w;
}

}  // namespace

extern "C" {

// The catalogue's codec names, in its order, as a JSON array.
EMSCRIPTEN_KEEPALIVE const char* tvx_codecs() {
  core::Json names = core::Json::array();
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id) names.push_back(CodecNames[id]);
  gResult = names.dump();
  return gResult.c_str();
}

// A new file of `size` bytes: the windows of the last one are dropped.
EMSCRIPTEN_KEEPALIVE void tvx_open(double size) { gFile = TWindows{static_cast<std::int64_t>(size), {}}; }

// Room for `length` bytes the page copies in, read at `offset`.
EMSCRIPTEN_KEEPALIVE std::uint8_t* tvx_window(double offset, int length) {
  auto& piece = gFile.pieces[static_cast<std::int64_t>(offset)];
  piece.assign(static_cast<std::size_t>(std::max(length, 0)), 0);
  return piece.data();
}

// JSON text: {"need": [offset, length]} when the windows do not yet hold what
// the analysis reads, else the object `tovacrex-cli info --json` prints.
EMSCRIPTEN_KEEPALIVE const char* tvx_analyse(const char* name, int anyCase) {
  if (std::optional<core::TOutcome> o = Analysed(name, anyCase != 0)) gResult = core::ToJson(*o).dump();
  return gResult.c_str();
}

// The conversion to codec `target` (1 to 13): {"need": ...}, or {"result":
// the object `convert --json` prints} with, when the page is to write,
// "id" and "writes": [[offset, old, new]...]. hasOriginal: the file held the
// pair originalHandler, originalCompression before the conversions this page made.
EMSCRIPTEN_KEEPALIVE const char* tvx_convert(const char* name, int target, int anyCase, int dryRun, int hasOriginal,
                                             double originalHandler, double originalCompression) {
  std::optional<core::TOutcome> o = Analysed(name, anyCase != 0);
  if (!o) return gResult.c_str();
  const TFourCCPair original{static_cast<FourCC>(originalHandler), static_cast<FourCC>(originalCompression)};
  core::TOutcome planned =
      core::Plan(std::move(*o), static_cast<TCodecId>(target), dryRun != 0, hasOriginal ? &original : nullptr);
  core::Json answer{{"result", core::ToJson(planned)}};
  if (planned.plan && !dryRun) {
    answer["id"] = ++gLastId;
    answer["writes"] = Writes(*planned.plan);
    gPending[gLastId] = std::move(planned);
  }
  gResult = answer.dump();
  return gResult.c_str();
}

// After the page wrote conversion `id`'s writes (ok) or could not: the
// result, once the file as it now reads is analysed ({"need": ...} until then).
EMSCRIPTEN_KEEPALIVE const char* tvx_written(int id, int ok) {
  auto pending = gPending.find(id);
  if (pending == gPending.end()) return "{}";
  core::TOutcome& o = pending->second;
  if (!ok) {
    o.state.FileStatus = fsCannotWrite;
    o.error = core::StatusText(fsCannotWrite);
    o.plan.reset();
  } else {
    std::optional<core::TOutcome> check = Analysed(o.file.c_str(), o.state.AnyCase);
    if (!check) return gResult.c_str();
    core::ReadBack(o, check->state, "converted");
  }
  gResult = core::Json{{"result", core::ToJson(o)}}.dump();
  gPending.erase(pending);
  return gResult.c_str();
}

}  // extern "C"
