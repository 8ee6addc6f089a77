// The file streams, the codec catalogue, the driver with the faults it must
// survive, and the dialog's decisions.
#include <gtest/gtest.h>

#include <functional>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/DialogState.h"
#include "app/Driver.h"
#include "platform/OsFile.h"
#ifdef _WIN32
#include <windows.h>
#endif

using namespace riff;

namespace {

TEST(Streams, OpenReadWriteSeek) {
  TempDir dir;
  const std::string name = dir.File("f.bin");
  EXPECT_THROW(TFileStream64(name, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream64(dir.File("no/such"), fmCreate), EFCreateError);
  {
    TFileStream64 s(name, fmCreate);
    EXPECT_EQ(s.Write("abcdef", 6), 6);
    EXPECT_EQ(s.Seek(-2, 2), 4);
    EXPECT_EQ(s.Seek(-5, 1), -1);  // before the start: fails, stays
    EXPECT_EQ(s.GetPosition(), 4);
    char b[8] = {};
    EXPECT_EQ(s.Read(b, 8), 2);
    EXPECT_EQ(std::string(b), "ef");
    EXPECT_EQ(s.Seek(std::int64_t{5} << 30, 0), std::int64_t{5} << 30);  // past 4 GiB
    EXPECT_EQ(s.Write("z", 1), 1);
    EXPECT_EQ(s.GetSize(), (std::int64_t{5} << 30) + 1);
    s.SetSize(3);
    EXPECT_EQ(s.GetSize(), 3);
  }
  char b[4] = {};
  EXPECT_EQ(TFileStream64(name, fmOpenWrite).Read(b, 1), 0);  // each mode gives its access only
  EXPECT_EQ(TFileStream64(name, fmOpenRead).Write("x", 1), 0);
  EXPECT_THROW(TFileStream64(name, 0x0003), EFOpenError);
  EXPECT_EQ(ReadBytes(name), Text("abc"));
  ASSERT_TRUE(os::SetAttributes(name, os::kAttrReadOnly));
  EXPECT_EQ(os::GetAttributes(name).value_or(0) & os::kAttrReadOnly, os::kAttrReadOnly);
  EXPECT_TRUE(os::CanOpenForReading(name));
  EXPECT_FALSE(os::CanOpenForReading(dir.File("missing")));
}

TEST(Catalogue, AsTheReadmeStatesIt) {
  const auto rows = ReadmeTable("| # | Codec |");
  ASSERT_EQ(rows.size(), 13u);
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id) {
    const auto& row = rows[id - 1];
    SCOPED_TRACE(row[1]);
    std::string targets;
    for (TCodecId t : OfferedTargets(id)) targets += (targets.empty() ? "" : ", ") + std::string(CodecNames[t]);
    EXPECT_EQ((std::vector<std::string>{std::to_string(id), CodecNames[id], Code(TargetFourCCs(id).Handler),
                                        Code(TargetFourCCs(id).Compression),
                                        std::string(CodecGroupName(CodecGroup(id))).substr(0, row[4].size()), targets}),
              row);
    EXPECT_EQ(DetectCodec(TargetFourCCs(id).Handler, TargetFourCCs(id).Compression), id);
    for (TCodecId t : OfferedTargets(id)) EXPECT_EQ(CodecGroup(t), CodecGroup(id));
  }
  // The handlers by case, and "divx" by its compression.
  EXPECT_EQ(DetectCodec(FCC("XVID"), 0), 10);
  EXPECT_EQ(DetectCodec(FCC("DIVX"), 0), 11);
  EXPECT_EQ(DetectCodec(FCC("DX50"), FCC("XVID")), 12);
  for (const char* other : {"DIV3", "MP43", "Xvid", "dx50", "3IV2", "DivX"}) EXPECT_EQ(DetectCodec(FCC(other), FCC("DX50")), kUnknownCodec) << other;
  EXPECT_EQ(DetectCodec(FCC("divx"), FCC("XVID")), kUnknownCodec);
  EXPECT_EQ(DetectCodec(FCC("divx"), FCC("dx50")), kUnknownCodec);
}

// ---------------------------------------------------------------- driver

struct Analysis {
  int status, codec;
  std::int64_t handler, compression;
  bool operator==(const Analysis&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Analysis& a) {
    return os << "status " << a.status << " codec " << a.codec << " fields " << a.handler << "/" << a.compression;
  }
};
Analysis Analyse(const std::string& file, TAppState& s) {
  ProcessFile(s, file, kNoCodec);
  return {s.FileStatus, s.CurrentCodec, s.HandlerFieldPos, s.CompressionFieldPos};
}

TEST(Driver, FieldsCountOnlyInsideTheirRecordsAndTheFile) {
  TempDir dir;
  auto img = [](std::size_t strh, std::size_t strf) { return MakeAvi({.handler = "div3", .compression = "DIV3", .strhSize = strh, .strfSize = strf}); };
  const Image sound = img(56, 40), shortest = img(8, 20);
  const std::int64_t h = sound.DataPos("v.strh") + 4, c = sound.DataPos("v.strf") + 16;
  const std::int64_t h8 = shortest.DataPos("v.strh") + 4, c8 = shortest.DataPos("v.strf") + 16;
  struct Case {
    const char* name;
    Bytes bytes;
    Analysis found;
  } cases[] = {
      {"sound", sound.bytes, {fsOk, 6, h, c}},
      {"strh 8 bytes, strf 20", shortest.bytes, {fsOk, 6, h8, c8}},
      {"strh 7 bytes", img(7, 40).bytes, {fsOk, kUnknownCodec, 0, img(7, 40).DataPos("v.strf") + 16}},
      {"strf 19 bytes", img(56, 19).bytes, {fsOk, 6, h, 0}},
      {"file ends with the compression", Bytes(sound.bytes.begin(), sound.bytes.begin() + c + 4), {fsOk, 6, h, c}},
      {"file ends one byte short of it", Bytes(sound.bytes.begin(), sound.bytes.begin() + c + 3), {fsOk, 6, h, 0}},
      {"unknown codec", MakeAvi("cvid", "cvid").bytes, {fsOk, kUnknownCodec, h, c}},
      {"not AVI", Text("RIFX, not a RIFF file"), {fsNotAvi, kUnknownCodec, 0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    WriteBytes(dir.File("f.avi"), k.bytes);
    TAppState s;
    EXPECT_EQ(Analyse(dir.File("f.avi"), s), k.found);
  }
  TAppState s;
  EXPECT_EQ(Analyse(dir.File("missing.avi"), s), (Analysis{fsNotFound, 0, 0, 0}));
  s.HandlerFieldPos = 100;  // fields that overlap cannot both be written
  s.CompressionFieldPos = 103;
  s.OriginalCodec = s.CurrentCodec = 10;
  EXPECT_FALSE(PlanConversion(s, 11));
  s.CompressionFieldPos = 104;
  EXPECT_TRUE(PlanConversion(s, 11));
}

TEST(Driver, ConvertsTheTwoFieldsAndBackToTheExactPair) {
  TempDir dir;
  const std::string file = dir.File("f.avi");
  const Image img = MakeAvi("XVID", "DX50");  // a pair no codec writes
  WriteBytes(file, img.bytes);
  auto fields = [&] {
    const Bytes b = ReadBytes(file);
    return Code(FourCCFromBytes(&b[img.DataPos("v.strh") + 4])) + "/" + Code(FourCCFromBytes(&b[img.DataPos("v.strf") + 16]));
  };
  TAppState s;
  ASSERT_EQ(Analyse(file, s).codec, 10);
  for (TCodecId target : {11, 13, 10}) {
    ProcessFile(s, file, target);
    EXPECT_EQ(s.FileStatus, fsOk);
    EXPECT_EQ(s.CurrentCodec, target);
    EXPECT_EQ(fields(), target == 10 ? "XVID/DX50" : Code(TargetFourCCs(target).Handler) + "/" + Code(TargetFourCCs(target).Compression));
  }
  EXPECT_EQ(ReadBytes(file), img.bytes);
  // Without a compression field "divx" would not read as DivX 4 or 5.
  WriteBytes(file, Build({Riff("AVI ", {List("hdrl", {List("strl", {Chunk("strh", StrhData("vids", "xvid"))})})})}).bytes);
  const Bytes before = ReadBytes(file);
  ASSERT_EQ(Analyse(file, s), (Analysis{fsOk, 10, 48, 0}));
  ProcessFile(s, file, 11);
  EXPECT_EQ(s.FileStatus, fsCannotWrite);
  EXPECT_EQ(ReadBytes(file), before);
  ProcessFile(s, file, 13);
  EXPECT_EQ(s.FileStatus, fsOk);
}

// A stream whose n-th write fails, storing `partial` bytes, and whose seeks
// fail after the first write when asked.
struct FailingStream : MemoryStream {
  FailingStream(Bytes b, int failWrite, std::int64_t partial, bool failSeeks)
      : MemoryStream(std::move(b)), failWrite(failWrite), partial(partial), failSeeks(failSeeks) {}
  std::int64_t Write(const void* p, std::int64_t n) override {
    return ++count == failWrite ? MemoryStream::Write(p, partial) * 0 : MemoryStream::Write(p, n);
  }
  std::int64_t Seek(std::int64_t o, std::uint16_t r) override { return failSeeks && count > 0 ? -1 : MemoryStream::Seek(o, r); }
  int count = 0, failWrite;
  std::int64_t partial;
  bool failSeeks;
};

TEST(Faults, NothingHalfDone) {
  const Image img = MakeAvi("div3", "DIV3");
  TempDir dir;
  const std::string file = dir.File("f.avi");
  WriteBytes(file, img.bytes);
  TAppState analysed;
  ASSERT_EQ(Analyse(file, analysed).codec, 6);
  const auto plan = PlanConversion(analysed, 7);
  ASSERT_TRUE(plan);
  struct Write {
    const char* name;
    int failWrite;
    std::int64_t partial;
    bool failSeeks, restored;
  } writes[] = {{"first write fails", 1, 0, false, true},
                {"second write stores 2 bytes", 2, 2, false, true},
                {"seeks fail after the first write", 0, 0, true, false}};
  for (const Write& w : writes) {
    SCOPED_TRACE(w.name);
    FailingStream s(img.bytes, w.failWrite, w.partial, w.failSeeks);
    EXPECT_FALSE(ApplyPlan(s, *plan));
    EXPECT_EQ(s.Data() == img.bytes, w.restored);
  }
  const Bytes other = MakeAvi("mp43", "MP43").bytes;
  Bytes converted = img.bytes;
  Set32(converted, static_cast<std::size_t>(plan->Handler.Position), FCC("div4"));
  struct Case {
    const char* name;
    std::function<void()> between;  // after the analysis, before the write
    int status;
    std::optional<Bytes> after;  // nothing: the file must not exist
  } cases[] = {
      {"untouched", [] {}, fsOk, converted},
      {"deleted", [&] { std::filesystem::remove(file); }, fsNotFound, std::nullopt},
      {"replaced", [&] { WriteBytes(file, other); }, fsCannotWrite, other},
      {"read-only", [&] { os::SetAttributes(file, os::kAttrReadOnly); }, fsOk, converted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(file, img.bytes);
    TAppState s = analysed;
    c.between();
    ProcessFile(s, file, 7);
    EXPECT_EQ(s.FileStatus, c.status);
    EXPECT_EQ(s.CurrentCodec, c.status == fsOk ? 7 : 6);
    if (!c.after) EXPECT_FALSE(std::filesystem::exists(file));
    if (c.after) EXPECT_EQ(ReadBytes(file), *c.after);
    if (std::string(c.name) == "read-only") EXPECT_EQ(os::GetAttributes(file).value_or(0) & os::kAttrReadOnly, os::kAttrReadOnly);
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

// ---------------------------------------------------------------- dialog decisions

TEST(Dialog, WhatItShows) {
  TUiStrings words;
  for (int i = 1; i <= kUiStringCount; ++i) words[i] = L"Word" + std::to_wstring(i);
  words[usOriginalMark] = L"(mark)";
  using E = std::vector<std::wstring>;
  auto name = [](TCodecId id) { return std::wstring(CodecNames[id], CodecNames[id] + std::strlen(CodecNames[id])); };
  struct Case {
    const wchar_t* file;
    TAppState state;
    TDialogView view;
  } cases[] = {
      {L"", {}, {L"", L"[word8]", {}, false, false}},
      {L"f", {fsNotFound}, {L"f", words[usNotFound]}},
      {L"f", {fsCannotOpen, 6}, {L"f", words[usCannotOpen]}},
      {L"f", {fsCannotWrite, 6, 6}, {L"f", words[usCannotWrite]}},
      {L"f", {fsNotAvi}, {L"f", words[usNotAvi]}},
      {L"f", {fsCannotCreateStream}, {L"f", words[usCannotCreateStream]}},
      {L"f", {fsScanFailed}, {L"f", words[usCannotCreateReader]}},
      {L"f", {fsOk, kUnknownCodec, kUnknownCodec}, {L"f", words[usUnknownCodec]}},
      {L"f", {fsOk, 4, 1}, {L"f", name(4), E{name(1) + L" (mark)"}, false, true}},
      {L"f", {fsOk, 6, 6}, {L"f", name(6), E{name(3), name(8), name(7)}, true, true}},
      {L"f", {fsOk, 3, 6}, {L"f", name(3), E{name(6) + L" (mark)", name(7), name(8)}, true, true}},
  };
  cases[0].view.FileText = L"[word7]";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state.FileStatus * 100 + c.state.CurrentCodec);
    const TDialogView v = DescribeDialog(c.file, c.state, words);
    EXPECT_EQ(std::tie(v.FileText, v.CodecText, v.Entries, v.ListEnabled, v.SaveEnabled),
              std::tie(c.view.FileText, c.view.CodecText, c.view.Entries, c.view.ListEnabled, c.view.SaveEnabled));
  }
  EXPECT_EQ(BracketedLower(L"Нет NO"), L"[Нет no]");
  EXPECT_EQ(OpenFileFilter(words), std::wstring(L"Word11 (*.avi)\0*.AVI\0Word12\0*.*\0\0", 33));
  for (std::uint32_t stored : {0u, 2u, 0x101u, 0xFFFFFFFFu}) EXPECT_EQ(NormalizeLanguage(stored), kEnglish);
  EXPECT_EQ(NormalizeLanguage(1), kRussian);
}

TEST(Dialog, FirstArgument) {
  const std::pair<const char*, const char*> cases[] = {
      {"prog a b", "a"},          {"\"C:\\My Programs\\t.exe\" \"my film.avi\" x", "my film.avi"},
      {"prog \"\" b", "b"},       {"prog a\"b c\"d e", "ab cd"},
      {"prog\t\x01x", "x"},       {"prog", ""},
      {"", ""},                   {"prog \"open", "open"},
  };
  for (auto [line, first] : cases) EXPECT_EQ(FirstArgument(line), first) << line;
}

}  // namespace
