// The file streams, codec detection, the driver with the faults it must survive, and the dialog's decisions.
#include <gtest/gtest.h>

#include <functional>

#include "RiffBuilder.h"
#include "core/Text.h"
#include "platform/OsFile.h"
#include "windows/DialogState.h"
#ifdef _WIN32
#include <windows.h>
#endif
using namespace riff;

namespace {

TEST(Streams, OpenReadWriteSeek) {
  using V = std::vector<std::int64_t>;
  const std::int64_t huge = std::int64_t{5} << 30;  // past 4 GiB
  TempDir dir;
  {  // braces keep the calls in order; a move before the start fails
    TFileStream64 s(dir.File("f"), fmCreate);
    EXPECT_EQ((V{s.Write("abcdef", 6), s.Seek(-2, 2), s.Seek(-5, 1), s.Seek(huge, 0), s.Write("z", 1), s.GetSize()}),
              (V{6, 4, -1, huge, 1, huge + 1}));
  }
  // Read back through a new open: an offset cut to 32 bits would read the hole at 1 GiB.
  TFileStream64 r(dir.File("f"), fmOpenRead);
  char got[4] = {};
  EXPECT_EQ((V{r.Seek(huge - 1, 0), r.Read(got, 4)}), (V{huge - 1, 2}));
  EXPECT_EQ(std::string(got, 2), std::string("\0z", 2));
}

// Random moves, reads, writes and size changes, against the same done to bytes in memory: the stream's block and
// remembered size must never show.
TEST(Streams, AsTheFileItself) {
  TempDir dir;
  std::string model(200000, '\0');
  for (std::size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>(i * 7);
  WriteBytes(dir.File("f"), Bytes(model.begin(), model.end()));
  TFileStream64 s(dir.File("f"), fmOpenReadWrite | fmShareDenyNone);  // read again below while open
  std::uint32_t seed = 1;
  auto rnd = [&](std::int64_t n) { return static_cast<std::int64_t>((seed = seed * 1103515245 + 12345) >> 8) % n; };
  std::int64_t pos = 0;
  const std::int64_t block = TFileStream64::kBlockSize;
  for (int step = 0; step < 3000; ++step) {
    const std::int64_t n = rnd(4) == 0 ? rnd(3 * block) : rnd(64), size = static_cast<std::int64_t>(model.size());
    std::string got(static_cast<std::size_t>(n), '\0'), data(static_cast<std::size_t>(n), char('a' + step % 26));
    const std::int64_t kind = rnd(8), to = kind == 0 ? size - rnd(size + 1) : kind == 1 ? rnd(size + 100) : 0;
    if (kind < 2) {
      ASSERT_EQ(s.Seek(kind == 0 ? to - size : to, kind == 0 ? 2 : 0), pos = to) << step;
    }
    if (kind == 2) {
      ASSERT_EQ(s.Write(data.data(), n), n) << step;
      if (n > 0 && pos + n > size) model.resize(static_cast<std::size_t>(pos + n));
      model.replace(static_cast<std::size_t>(pos), static_cast<std::size_t>(n), data), pos += n;
    }
    if (kind == 3 && rnd(8) == 0) s.SetSize(pos), model.resize(static_cast<std::size_t>(pos));
    if (kind > 3) {
      const std::int64_t want = std::clamp<std::int64_t>(size - pos, 0, n);
      ASSERT_EQ(s.Read(got.data(), n), want) << step;
      ASSERT_EQ(got.substr(0, static_cast<std::size_t>(want)),
                model.substr(static_cast<std::size_t>(std::min(pos, size)), static_cast<std::size_t>(want)))
          << step;
      pos += want;
    }
    ASSERT_EQ(s.GetSize(), static_cast<std::int64_t>(model.size())) << step;
  }
  EXPECT_EQ(ReadBytes(dir.File("f")), Bytes(model.begin(), model.end()));
}

TEST(Catalogue, DetectsInEitherLetterCase) {
  // Handler, compression: the codec recognised, and with any letter case.
  const TCodecId U = kUnknownCodec;
  const std::tuple<const char*, const char*, TCodecId, TCodecId> other[] = {
      {"XVID", "", 10, 10}, {"DIVX", "", 11, 11},   {"DX50", "XVID", 12, 12}, {"DIV3", "", U, 6},
      {"MP43", "", U, 3},   {"Mpg4", "", U, 1},     {"3IV2", "", U, 13},      {"Xvid", "", U, 10},
      {"dx50", "", U, U},   {"DivX", "DX50", U, U}, {"divx", "XVID", U, U},   {"divx", "dx50", U, U}};
  for (auto [h, c, exact, anyCase] : other)
    EXPECT_EQ(std::pair(DetectCodec(FCC(h), FCC(c)), DetectCodec(FCC(h), FCC(c), true)), std::pair(exact, anyCase))
        << h;
}
using Analysis = std::tuple<int, int, std::int64_t, std::int64_t>;  // status, codec, the two fields
Analysis Analyse(const std::string& file, TAppState& s) {
  ProcessFile(s, file, kNoCodec);
  return {s.FileStatus, s.CurrentCodec, s.HandlerFieldPos, s.CompressionFieldPos};
}

TEST(Driver, FieldsCountOnlyInsideTheirRecordsAndTheFile) {
  TempDir dir;
  auto div3 = [](std::size_t strh, std::size_t strf) {
    return MakeAvi({.handler = "div3", .compression = "DIV3", .strhSize = strh, .strfSize = strf});
  };
  const Image sound = div3(56, 40), shortest = div3(8, 20), noHandler = div3(7, 40);
  const std::int64_t h = sound.DataPos("v.strh") + 4, c = sound.DataPos("v.strf") + 16;
  const std::pair<Bytes, Analysis> cases[] = {
      {sound.bytes, {fsOk, 6, h, c}},
      {shortest.bytes, {fsOk, 6, shortest.DataPos("v.strh") + 4, shortest.DataPos("v.strf") + 16}},
      {noHandler.bytes, {fsOk, kUnknownCodec, 0, noHandler.DataPos("v.strf") + 16}},
      {div3(56, 19).bytes, {fsOk, 6, h, 0}},
      {Bytes(sound.bytes.begin(), sound.bytes.begin() + c + 4), {fsOk, 6, h, c}},  // the file ends with the field
      {Bytes(sound.bytes.begin(), sound.bytes.begin() + c + 3), {fsOk, 6, h, 0}},  // one byte short of it
  };
  for (const auto& [bytes, analysis] : cases) {
    TAppState s;
    WriteBytes(dir.File("f.avi"), bytes);
    EXPECT_EQ(Analyse(dir.File("f.avi"), s), analysis) << bytes.size();
  }
  TAppState s{fsOk, 10, 10, 0, 0, 100, 103};  // fields that overlap cannot both be written
  EXPECT_FALSE(PlanConversion(s, 11));
  s.CompressionFieldPos = 104;
  EXPECT_TRUE(PlanConversion(s, 11));
}
// A stream whose n-th write stores only `partial` bytes and reports none, whose seeks fail after the first write, or
// whose flushes fail, as asked.
struct FailingStream : MemoryStream {
  using MemoryStream::MemoryStream;
  bool Flush() override { return !failFlush; }
  std::int64_t Write(const void* p, std::int64_t n) override {
    return ++count == failWrite ? MemoryStream::Write(p, partial) * 0 : MemoryStream::Write(p, n);
  }
  std::int64_t Seek(std::int64_t o, std::uint16_t r) override {
    return failSeeks && count > 0 ? -1 : MemoryStream::Seek(o, r);
  }
  int count = 0, failWrite = 0;
  std::int64_t partial = 0;
  bool failSeeks = false, failFlush = false;
};

TEST(Faults, NothingHalfDone) {
  const Image img = MakeAvi("div3", "DIV3");
  TempDir dir;
  const std::string file = dir.File("f.avi");
  WriteBytes(file, img.bytes);
  TAppState analysed;
  ASSERT_EQ(std::get<1>(Analyse(file, analysed)), 6);
  const auto both = PlanConversion(analysed, 3);  // writes both fields
  ASSERT_TRUE(both);
  // Failing writes: the file is left as it was, or the failure at least reported.
  for (auto [failWrite, partial, failSeeks, failFlush, restored] :
       {std::tuple(1, 4, false, false, true), std::tuple(2, 3, false, false, true),
        std::tuple(0, 0, true, false, false), std::tuple(0, 0, false, true, true)}) {
    FailingStream s(img.bytes);
    s.failWrite = failWrite, s.partial = partial, s.failSeeks = failSeeks, s.failFlush = failFlush;
    EXPECT_FALSE(ApplyPlan(s, *both));
    EXPECT_EQ(s.Data() == img.bytes, restored) << failWrite;
  }
  const Bytes converted = MakeAvi("div4", "DIV3").bytes, compression = MakeAvi("div3", "MP43").bytes;
  struct Case {
    const char* name;
    std::function<void()> between;  // after the analysis, before the write
    int status;
    std::optional<Bytes> after;  // nothing: the file is not there
  } cases[] = {
      {"untouched", [] {}, fsOk, converted},
      {"deleted", [&] { std::filesystem::remove(file); }, fsNotFound, std::nullopt},
      {"another handler", [&] { WriteBytes(file, converted); }, fsCannotWrite, converted},
      {"another compression", [&] { WriteBytes(file, compression); }, fsCannotWrite, compression},
      {"read-only", [&] { os::SetAttributes(file, os::kAttrReadOnly); }, fsOk, converted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(file, img.bytes);
    TAppState s = analysed;
    c.between();
    ProcessFile(s, file, 7);
    EXPECT_EQ(std::pair(s.FileStatus, s.CurrentCodec),
              (std::pair<std::uint8_t, TCodecId>(c.status, c.status == fsOk ? 7 : 6)));
    EXPECT_EQ(c.after ? ReadBytes(file) : Bytes(), c.after.value_or(Bytes()));
    EXPECT_EQ(std::filesystem::exists(file), c.after.has_value());
    EXPECT_EQ(os::GetAttributes(file).value_or(0) & os::kAttrReadOnly, c.name[0] == 'r' ? os::kAttrReadOnly : 0u);
    os::SetAttributes(file, os::kAttrNormal);
  }
#ifdef _WIN32
  // Held by another program that shares no writing, or nothing at all.
  for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{0}}) {
    WriteBytes(file, img.bytes);
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    TAppState s = analysed;
    ProcessFile(s, file, 7);
    EXPECT_EQ(s.FileStatus, share ? fsCannotWrite : fsNotFound) << share;
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(file), img.bytes);
  }
#endif
}

// What the dialog shows for each outcome is what the other front ends print; and the command line's first argument.
TEST(Dialog, StatusTextsAndFirstArgument) {
  auto wide = [](std::string s) { return std::wstring(s.begin(), s.end()); };  // the English texts are ASCII
  TUiStrings words;
  for (int i = 1; i <= kUiStringCount; ++i) words[i] = wide(kEnglishTexts[i]);
  for (std::uint8_t status = fsNotFound; status <= fsScanFailed; ++status) {
    const TDialogView v = DescribeDialog(L"f", {status, 6, 6}, words);
    EXPECT_EQ(std::tie(v.CodecText, v.SaveEnabled, v.Entries),
              std::tuple(wide(core::StatusText(status)), false, std::vector<std::wstring>{}));
  }
  EXPECT_EQ(DescribeDialog(L"f", {fsOk, kUnknownCodec}, words).CodecText, wide(core::CodecLabel(kUnknownCodec)));
  const std::pair<const char*, const char*> lines[] = {{"\"C:\\My Programs\\t.exe\" \"my film.avi\" x", "my film.avi"},
                                                       {"prog \"\" b", "b"},
                                                       {"prog a\"b c\"d e", "ab cd"},
                                                       {"prog\t\x01x", "x"},
                                                       {"prog", ""},
                                                       {"prog \"open", "open"}};
  for (auto [line, first] : lines) EXPECT_EQ(FirstArgument(line), first) << line;
}

}  // namespace
