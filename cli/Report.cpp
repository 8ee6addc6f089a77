// The report of a run: lines, JSON objects, the summary and the progress line.
#include "Report.h"

namespace cli {

std::string InfoLine(const TOutcome& o) {
  const TAppState& s = o.state;
  if (s.Container == ctMatroska) {
    std::string line =
        o.file + ": " + CodecLabel(s.CurrentCodec) + " (Matroska, track " + std::to_string(s.TrackNumber);
    if (!HasCode(s)) return line + ", no compression code)";
    line += ", compression " + Quoted(s.OriginalCompression);
    line += s.CompressionFieldPos ? " at " + Hex(s.CompressionFieldPos) : std::string(", not to be written");
    return line + (s.Crcs.empty() ? "" : ", under " + std::to_string(s.Crcs.size()) + " CRC-32") + ")";
  }
  std::string line = o.file + ": " + CodecLabel(s.CurrentCodec) + " (handler " + Quoted(s.OriginalHandler);
  line += s.HandlerFieldPos ? " at " + Hex(s.HandlerFieldPos) : std::string(", no field");
  line += ", compression " + Quoted(s.OriginalCompression);
  line += s.CompressionFieldPos ? " at " + Hex(s.CompressionFieldPos) : std::string(", no field");
  return line + ")";
}

std::string ConvertLine(const TOutcome& o) {
  const std::string to = CodecLabel(*o.target);
  if (o.action == "unchanged") return o.file + ": already " + to + ", left alone";
  std::string line = o.file + ": " + CodecLabel(o.from) + " -> " + to;
  if (o.action == "undone") line += " (undone)";
  if (o.action == "dry-run") {
    auto one = [](const TFieldWrite& w) {
      return Quoted(w.New) + " at " + Hex(w.Position) + " (was " + Quoted(w.Old) + ")";
    };
    std::string writes;
    for (const TFieldWrite& w : o.plan->Writes) writes += (writes.empty() ? "" : ", ") + one(w);
    line += " would write " + writes;
  }
  return line;
}

void TReport::Fail(const std::string& name, const std::string& error) {
  Note(name, error);
  ok_ = false;
}

void TReport::Note(const std::string& name, const std::string& text) {
  Clear();
  err_ << kProgram << ": " << name << ": " << text << "\n";
}

// The array as one dump of it would print, an element at a time, so that a
// run cut short leaves every finished file's object behind it.
std::string Element(const TOutcome& o) {
  std::string element = Dump(ToJson(o));
  for (std::size_t at = 0; (at = element.find('\n', at)) != std::string::npos; at += 3) element.insert(at + 1, "  ");
  return element;
}

void TReport::Add(const TOutcome& o, const std::string& line, std::size_t kind) {
  Clear();
  if (!o.error.empty())
    Fail(o.file, o.error);
  else if (!json_)
    out_ << line << "\n";
  if (json_) {
    out_ << (files_ ? ",\n  " : "[\n  ") << (o.element.empty() ? Element(o) : o.element);
    if (flushEach_) out_.flush();
  }
  ++counts_.at(kind), ++files_;
}

void TReport::Progress(std::size_t done, std::size_t total, const std::string& file) {
  const Clock::time_point now = Clock::now();
  if (!progress_ || now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(100)) return;
  std::string line = std::to_string(done) + "/" + std::to_string(total) + " files: ";
  line += file.size() + line.size() <= kWidth ? file : "..." + file.substr(file.size() + line.size() + 3 - kWidth);
  Clear();
  err_ << line << std::flush;
  shown_ = line.size(), drawn_ = now;
}

int TReport::Finish(const std::vector<std::string>& kinds, bool interrupted) {
  Clear();
  if (json_) out_ << (files_ ? "\n]\n" : "[]\n") << std::flush;
  if (!json_ && (files_ > 1 || interrupted)) {
    std::string parts;
    for (std::size_t k = 0; k < kinds.size(); ++k)
      if (counts_[k]) parts += (parts.empty() ? "" : ", ") + std::to_string(counts_[k]) + " " + kinds[k];
    if (interrupted) parts += parts.empty() ? "interrupted" : ", interrupted";
    err_ << files_ << " files: " << parts << "\n";
  }
  return interrupted ? 130 : ok_ ? 0 : 1;
}

void TReport::Clear() {
  if (shown_) err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

}  // namespace cli
