// What the main dialog shows in each of its visible states, the language
// setting's rules, the open-file filter and the command-line argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/DialogState.h"

namespace {

TUiStrings English() {
  TUiStrings s;
  s[usNotFound] = L"File no found";
  s[usCannotOpen] = L"Can't open file";
  s[usCannotWrite] = L"Can't write to file";
  s[usNotAvi] = L"File isn't AVI-file";
  s[usUnknownCodec] = L"Unknown codec";
  s[usNo] = L"No";
  s[usUnknown] = L"Unknown";
  s[usOriginalMark] = L"(original format)";
  s[usVideoFiles] = L"Video files";
  s[usAllFiles] = L"All files";
  s[usCannotCreateStream] = L"Can't create stream";
  s[usCannotCreateReader] = L"Can't create Avi Reader";
  return s;
}

TUiStrings Russian() {
  TUiStrings s;
  s[usNotFound] = L"Файл не найден";
  s[usCannotWrite] = L"Файл не доступен для записи";
  s[usNo] = L"Нет";
  s[usUnknown] = L"Неизвестно";
  s[usOriginalMark] = L"(оригинальный формат)";
  s[usVideoFiles] = L"Видео файлы";
  s[usAllFiles] = L"Все файлы";
  return s;
}

TAppState State(std::uint8_t status, TCodecId current, TCodecId original) {
  TAppState s;
  s.FileStatus = status;
  s.CurrentCodec = current;
  s.OriginalCodec = original;
  return s;
}

using Entries = std::vector<std::wstring>;

TEST(DialogView, NoFileShowsBracketedLowerCaseWordsAndNothingToChoose) {
  // Whatever the driver state says, no file means the no-file state.
  const TDialogView en = DescribeDialog(L"", State(0, 6, 6), English());
  EXPECT_EQ(en.FileText, L"[no]");
  EXPECT_EQ(en.CodecText, L"[unknown]");
  EXPECT_TRUE(en.Entries.empty());
  EXPECT_FALSE(en.ListEnabled);
  EXPECT_FALSE(en.SaveEnabled);

  // Only A..Z are lower-cased: the Russian words keep their capitals.
  const TDialogView ru = DescribeDialog(L"", State(0, 0, 0), Russian());
  EXPECT_EQ(ru.FileText, L"[Нет]");
  EXPECT_EQ(ru.CodecText, L"[Неизвестно]");
  EXPECT_EQ(BracketedLower(L"AbZ@[Ё]"), L"[abz@[Ё]]");
}

TEST(DialogView, FailuresAndUnknownCodecShowTheirStatusText) {
  struct Row {
    std::uint8_t status;
    TCodecId codec;
    const wchar_t* text;
  };
  const Row rows[] = {
      {0, 14, L"Unknown codec"},       {1, 6, L"File no found"},         {2, 14, L"Can't open file"},
      {3, 6, L"Can't write to file"},  {4, 14, L"File isn't AVI-file"},  {5, 14, L"Can't create stream"},
      {6, 14, L"Can't create Avi Reader"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(int(row.status));
    const TDialogView v = DescribeDialog(L"C:\\films\\a.avi", State(row.status, row.codec, 6), English());
    EXPECT_EQ(v.FileText, L"C:\\films\\a.avi");
    EXPECT_EQ(v.CodecText, row.text);
    EXPECT_TRUE(v.Entries.empty());
    EXPECT_FALSE(v.ListEnabled);
    EXPECT_FALSE(v.SaveEnabled);
  }
  EXPECT_EQ(DescribeDialog(L"a.avi", State(3, 6, 6), Russian()).CodecText, L"Файл не доступен для записи");
}

TEST(DialogView, SingleTargetCodecsOfferTheirTargetWithTheListDisabled) {
  const TDialogView v1 = DescribeDialog(L"a.avi", State(0, 1, 1), English());
  EXPECT_EQ(v1.CodecText, L"Microsoft MPEG4 V1");
  EXPECT_EQ(v1.Entries, Entries{L"DivX V1"});
  EXPECT_FALSE(v1.ListEnabled);
  EXPECT_TRUE(v1.SaveEnabled);

  // Converted from V1: the way back carries the mark.
  const TDialogView v4 = DescribeDialog(L"a.avi", State(0, 4, 1), English());
  EXPECT_EQ(v4.CodecText, L"DivX V1");
  EXPECT_EQ(v4.Entries, Entries{L"Microsoft MPEG4 V1 (original format)"});
  EXPECT_FALSE(v4.ListEnabled);
  EXPECT_TRUE(v4.SaveEnabled);
}

TEST(DialogView, OtherCodecsOfferTheirGroupInTableOrderWithTheOriginalMarked) {
  const TDialogView fresh = DescribeDialog(L"a.avi", State(0, 6, 6), English());
  EXPECT_EQ(fresh.CodecText, L"DivX V3 Low");
  EXPECT_EQ(fresh.Entries, (Entries{L"Microsoft MPEG4 V3", L"Angel Potion V1", L"DivX V3 Fast"}));
  EXPECT_TRUE(fresh.ListEnabled);
  EXPECT_TRUE(fresh.SaveEnabled);

  // Opened as DivX V3 Low, converted to Microsoft MPEG4 V3.
  const TDialogView converted = DescribeDialog(L"a.avi", State(0, 3, 6), English());
  EXPECT_EQ(converted.CodecText, L"Microsoft MPEG4 V3");
  EXPECT_EQ(converted.Entries, (Entries{L"DivX V3 Low (original format)", L"DivX V3 Fast", L"Angel Potion V1"}));

  const TDialogView ru = DescribeDialog(L"a.avi", State(0, 3, 6), Russian());
  EXPECT_EQ(ru.Entries, (Entries{L"DivX V3 Low (оригинальный формат)", L"DivX V3 Fast", L"Angel Potion V1"}));
  // The marked entry maps back to the codec it names.
  EXPECT_EQ(CodecFromText(ru.Entries[0], Russian()[usOriginalMark]), TCodecId{6});
}

TEST(LanguageSetting, OnlyOneMeansRussian) {
  EXPECT_EQ(NormalizeLanguage(0), kEnglish);
  EXPECT_EQ(NormalizeLanguage(1), kRussian);
  EXPECT_EQ(NormalizeLanguage(2), kEnglish);
  EXPECT_EQ(NormalizeLanguage(0x00000101), kEnglish);
  EXPECT_EQ(NormalizeLanguage(0xFFFFFFFF), kEnglish);

  EXPECT_EQ(StringResourceId(kEnglish, 1), 10001u);
  EXPECT_EQ(StringResourceId(kEnglish, 16), 10016u);
  EXPECT_EQ(StringResourceId(kRussian, 1), 11001u);
  EXPECT_EQ(StringResourceId(kRussian, 16), 11016u);
  EXPECT_EQ(DialogTemplateName(kEnglish), L"Main0");
  EXPECT_EQ(DialogTemplateName(kRussian), L"Main1");
  EXPECT_NE(std::string(WebPageAddress(kEnglish)), WebPageAddress(kRussian));
}

TEST(OpenFileFilter, TwoEntriesInTheStartLanguage) {
  using namespace std::string_literals;
  EXPECT_EQ(OpenFileFilter(English()), L"Video files (*.avi)\0*.AVI\0All files\0*.*\0\0"s);
  EXPECT_EQ(OpenFileFilter(Russian()), L"Видео файлы (*.avi)\0*.AVI\0Все файлы\0*.*\0\0"s);
}

TEST(CommandLine, FirstArgumentAfterTheProgramPath) {
  struct Row {
    const char* line;
    const char* first;
  };
  const Row rows[] = {
      {"tovacrex.exe", ""},
      {"tovacrex.exe   ", ""},
      {"tovacrex.exe film.avi", "film.avi"},
      {"tovacrex.exe film.avi second.avi", "film.avi"},
      {"\"C:\\Program Files\\tovacrex.exe\" \"C:\\My Films\\a b.avi\" x", "C:\\My Films\\a b.avi"},
      {"tovacrex.exe C:\\My\" \"Films\\a.avi", "C:\\My Films\\a.avi"},
      {"tovacrex.exe\t\x01 film.avi", "film.avi"},  // every code 1..32 separates
      {"tovacrex.exe \"\" film.avi", "film.avi"},   // an empty quoted pair is skipped
      {"tovacrex.exe \"open quote.avi", "open quote.avi"},
      {"tovacrex.exe \xCF\xF0.avi", "\xCF\xF0.avi"},  // ANSI bytes above 127 are text
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(FirstArgument(row.line), row.first);
  }
}

}  // namespace
