#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CodecCatalogue.h"

namespace {

std::vector<int> Offered(TCodecId id) {
  auto s = OfferedTargets(id);
  return std::vector<int>(s.begin(), s.end());
}

struct Row {
  TCodecId id;
  const char* name;
  const char* handler;
  const char* compression;
  TCodecGroup group;
  std::vector<int> offered;
};

// The whole table as it must be, written out independently of the code.
const Row kTable[] = {
    {1, "Microsoft MPEG4 V1", "mpg4", "MPG4", TCodecGroup::V1, {4}},
    {2, "Microsoft MPEG4 V2", "mp42", "MP42", TCodecGroup::V2, {5, 9}},
    {3, "Microsoft MPEG4 V3", "mp43", "MP43", TCodecGroup::V3, {6, 7, 8}},
    {4, "DivX V1", "div1", "DIV1", TCodecGroup::V1, {1}},
    {5, "DivX V2", "div2", "DIV2", TCodecGroup::V2, {2, 9}},
    {6, "DivX V3 Low", "div3", "DIV3", TCodecGroup::V3, {3, 8, 7}},
    {7, "DivX V3 Fast", "div4", "DIV3", TCodecGroup::V3, {3, 8, 6}},
    {8, "Angel Potion V1", "ap41", "AP41", TCodecGroup::V3, {3, 6, 7}},
    {9, "Angel Potion V2", "ap42", "AP42", TCodecGroup::V2, {2, 5}},
    {10, "XviD", "xvid", "XVID", TCodecGroup::XviD, {11, 12, 13}},
    {11, "DivX 4", "divx", "DIVX", TCodecGroup::XviD, {12, 10, 13}},
    {12, "DivX 5", "divx", "DX50", TCodecGroup::XviD, {11, 10, 13}},
    {13, "3ivx", "3iv2", "3IV2", TCodecGroup::XviD, {11, 12, 10}},
};

FourCC F(const std::string& s) { return FourCCFromBytes(reinterpret_cast<const std::uint8_t*>(s.data())); }

TEST(Catalogue, EveryRowAsStated) {
  EXPECT_STREQ(CodecNames[0], "");
  for (const Row& r : kTable) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(CodecNames[r.id], r.name);
    EXPECT_EQ(TargetFourCCs(r.id).Handler, F(r.handler));
    EXPECT_EQ(TargetFourCCs(r.id).Compression, F(r.compression));
    EXPECT_EQ(CodecGroup(r.id), r.group);
    EXPECT_EQ(Offered(r.id), r.offered);
  }
  EXPECT_TRUE(Offered(0).empty());
  EXPECT_TRUE(Offered(kUnknownCodec).empty());
}

TEST(Catalogue, FourCCsAreLittleEndianWithFirstCharLowest) {
  EXPECT_EQ(MakeFourCC("RIFF"), 0x46464952u);
  EXPECT_EQ(MakeFourCC("LIST"), 0x5453494Cu);
  EXPECT_EQ(MakeFourCC("AVI "), 0x20495641u);
}

TEST(Catalogue, EveryWrittenPairIsRecognisedAsItsOwnCodec) {
  for (TCodecId id = 1; id <= 13; ++id) {
    SCOPED_TRACE(CodecNames[id]);
    auto p = TargetFourCCs(id);
    EXPECT_EQ(DetectCodec(p.Handler, p.Compression), id);
  }
}

TEST(Catalogue, OfferedTargetsStayInTheGroupAndNeverOfferTheCodecItself) {
  for (TCodecId id = 1; id <= 13; ++id) {
    SCOPED_TRACE(CodecNames[id]);
    for (TCodecId t : OfferedTargets(id)) {
      EXPECT_NE(t, id);
      EXPECT_EQ(CodecGroup(t), CodecGroup(id));
    }
  }
}

TEST(Catalogue, RecognitionIsExactAndCaseSensitive) {
  struct Case {
    const char* handler;
    const char* compression;
    int expected;
  } cases[] = {
      {"divx", "XVID", 14}, {"divx", "DX50", 12}, {"divx", "DIVX", 11}, {"divx", "dx50", 14},
      {"DX50", "anything", 12}, {"DX50", "DIVX", 12}, {"XVID", "XVID", 10}, {"xvid", "\0\0\0\0", 10},
      {"DIVX", "DX50", 11}, {"DIV3", "DIV3", 14}, {"MP43", "MP43", 14}, {"3IV2", "3IV2", 14},
      {"Div3", "DIV3", 14}, {"div3", "XXXX", 6}, {"div4", "DIV4", 7}, {"ap41", "????", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.handler) + "/" + c.compression);
    std::string comp(c.compression, 4);
    EXPECT_EQ(DetectCodec(F(c.handler), F(comp)), c.expected);
  }
  EXPECT_EQ(DetectCodec(0, 0), 14);
  EXPECT_EQ(DetectCodec(0, F("DX50")), 14);
}

TEST(Catalogue, EntryTextCarriesTheMarkOnlyForTheOriginalCodec) {
  const std::string mark = "(original format)";
  EXPECT_EQ(TargetEntryText<std::string>(6, 6, mark), "DivX V3 Low (original format)");
  EXPECT_EQ(TargetEntryText<std::string>(6, 3, mark), "DivX V3 Low");
  EXPECT_EQ(TargetEntryText<std::wstring>(6, 6, L"(оригинальный формат)"), L"DivX V3 Low (оригинальный формат)");

  // Opened as DivX V3 Low, converted to Microsoft MPEG4 V3.
  std::vector<std::string> entries;
  for (TCodecId t : OfferedTargets(3)) entries.push_back(TargetEntryText<std::string>(t, 6, mark));
  EXPECT_EQ(entries, (std::vector<std::string>{"DivX V3 Low (original format)", "DivX V3 Fast", "Angel Potion V1"}));
}

TEST(Catalogue, CodecFromTextIsExact) {
  const std::string mark = "(original format)";
  struct Case {
    std::string text;
    std::optional<TCodecId> expected;
  } cases[] = {
      {"DivX 5", 12},
      {"DivX 5 (original format)", 12},
      {"divx 5", std::nullopt},
      {"DIVX 5", std::nullopt},
      {"DivX 5  (original format)", std::nullopt},
      {"DivX 5(original format)", std::nullopt},
      {"DivX 5 (оригинальный формат)", std::nullopt},
      {"DivX 5 ", std::nullopt},
      {"", 0},
      {" (original format)", 0},
      {"3ivx", 13},
      {"Microsoft MPEG4 V1", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CodecFromText(c.text, mark), c.expected);
  }
  EXPECT_EQ(CodecFromText<std::wstring>(L"DivX 5 (оригинальный формат)", L"(оригинальный формат)"), 12);
  // Every entry text maps back to its codec, marked or not.
  for (TCodecId id = 1; id <= 13; ++id) {
    EXPECT_EQ(CodecFromText(TargetEntryText<std::string>(id, id, mark), mark), id);
    EXPECT_EQ(CodecFromText(TargetEntryText<std::string>(id, 0, mark), mark), id);
  }
}

}  // namespace
