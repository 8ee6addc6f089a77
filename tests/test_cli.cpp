#include <gtest/gtest.h>

#include <sstream>

#include "TestFiles.h"
#include "cli/Cli.h"

namespace {
Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The built-in sample: "DivX V3 Low", handler "div3" at 0x70 and
// compression "div3" at 0xbc.
constexpr std::int64_t kHandlerAt = 0x70;
constexpr std::int64_t kCompressionAt = 0xbc;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  TempDir dir;
  Bytes sample = ReadBytes(TOVACREX_SOURCE_DIR "/samples/sample.avi");

  void SetUp() override { ASSERT_GT(sample.size(), 1000u); }

  std::string Copy(const std::string& name) {
    std::string path = dir.File(name);
    WriteBytes(path, sample);
    return path;
  }
  static CliRun Call(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
  }
  // Every offset at which the file differs from the sample.
  std::vector<std::int64_t> Changes(const std::string& path) {
    Bytes now = ReadBytes(path);
    EXPECT_EQ(now.size(), sample.size());
    std::vector<std::int64_t> at;
    for (std::size_t i = 0; i < std::min(now.size(), sample.size()); ++i)
      if (now[i] != sample[i]) at.push_back(static_cast<std::int64_t>(i));
    return at;
  }
  std::string At(const std::string& path, std::int64_t pos) {
    Bytes now = ReadBytes(path);
    return std::string(now.begin() + pos, now.begin() + pos + 4);
  }
};

TEST_F(Cli, InfoNamesCodecFieldsAndPositions) {
  std::string f = Copy("a.avi");
  CliRun r = Call({"info", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, f + ": DivX V3 Low (handler \"div3\" at 0x70, compression \"div3\" at 0xbc)\n");
  EXPECT_EQ(r.err, "");

  r = Call({"info", "--json", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"codec_id\": 6, \"codec\": \"DivX V3 Low\", \"group\": \"V3 group\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"handler_pos\": 112"), std::string::npos);
  EXPECT_NE(r.out.find("\"targets\": [\"Microsoft MPEG4 V3\", \"Angel Potion V1\", \"DivX V3 Fast\"]"), std::string::npos);
  EXPECT_TRUE(Changes(f).empty());
}

TEST_F(Cli, FailuresGoToStderrWithTheStatusText) {
  std::string good = Copy("good.avi");
  std::string notAvi = dir.File("text.avi");
  WriteBytes(notAvi, BytesOf("this is not a RIFF file at all"));
  std::string missing = dir.File("missing.avi");
  CliRun r = Call({"info", good, missing, notAvi});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tovacrex-cli: " + missing + ": File no found\ntovacrex-cli: " + notAvi + ": File isn't AVI-file\n");
  EXPECT_EQ(r.out.find(good + ": DivX V3 Low"), 0u);

  r = Call({"info", "--json", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"ok\": false, \"error\": \"File no found\""), std::string::npos) << r.out;
}

TEST_F(Cli, ConvertWritesTheTwoFieldsOnly) {
  std::string f = Copy("c.avi");
  CliRun r = Call({"convert", "--to", "divx v3 fast", f});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, f + ": DivX V3 Low -> DivX V3 Fast\n");
  EXPECT_EQ(At(f, kHandlerAt), "div4");
  EXPECT_EQ(At(f, kCompressionAt), "DIV3");
  for (std::int64_t at : Changes(f))
    EXPECT_TRUE((at >= kHandlerAt && at < kHandlerAt + 4) || (at >= kCompressionAt && at < kCompressionAt + 4)) << at;

  // By number, and back; the catalogue's pair is upper-case "DIV3".
  r = Call({"convert", "--to=6", f});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(At(f, kHandlerAt), "div3");
  EXPECT_EQ(At(f, kCompressionAt), "DIV3");
}

TEST_F(Cli, DryRunShowsTheWritesAndWritesNothing) {
  std::string f = Copy("d.avi");
  CliRun r = Call({"convert", "--to", "Angel Potion V1", "--dry-run", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, f + ": DivX V3 Low -> Angel Potion V1 would write \"ap41\" at 0x70 (was \"div3\"), \"AP41\" at 0xbc (was \"div3\")\n");
  EXPECT_TRUE(Changes(f).empty());
  r = Call({"convert", "--json", "--dry-run", "--to", "3", f});
  EXPECT_NE(r.out.find("\"writes\": [{\"position\": 112, \"old\": \"div3\", \"new\": \"mp43\"}, {\"position\": 188, \"old\": \"div3\", \"new\": \"MP43\"}]"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(Changes(f).empty());
}

TEST_F(Cli, ConvertRefusesTargetsOutsideTheGroup) {
  std::string f = Copy("g.avi");
  CliRun r = Call({"convert", "--to", "DivX 5", f});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tovacrex-cli: " + f + ": DivX 5 is not offered for DivX V3 Low (V3 group; offered: Microsoft MPEG4 V3, Angel Potion V1, DivX V3 Fast)\n");
  EXPECT_TRUE(Changes(f).empty());

  r = Call({"convert", "--to", "divx v3 low", f});  // already there
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, f + ": already DivX V3 Low, left alone\n");
  EXPECT_TRUE(Changes(f).empty());
}

TEST_F(Cli, UnknownCodecIsAnErrorOnlyForConvert) {
  std::string f = Copy("u.avi");
  {
    Bytes b = sample;
    std::copy_n("ABCD", 4, b.begin() + kHandlerAt);
    WriteBytes(f, b);
  }
  CliRun r = Call({"info", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find(f + ": Unknown codec (handler \"ABCD\""), 0u) << r.out;
  r = Call({"convert", "--to", "xvid", f});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Unknown codec"), std::string::npos);
}

TEST_F(Cli, UsageErrors) {
  std::string f = Copy("x.avi");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"info"}, {"convert", f}, {"convert", "--to", "divx 6", f}, {"convert", "--to", "14", f},
           {"convert", "--to", "0", f}, {"convert", "--to"}, {"info", "--bogus", f}, {"codecs", f}, {"info", "--dry-run", f}}) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    CliRun r = Call(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
  }
  EXPECT_TRUE(Changes(f).empty());
  EXPECT_EQ(Call({"--version"}).out, "tovacrex-cli 1.7.0\n");
  EXPECT_EQ(Call({"--help"}).status, 0);
}

TEST_F(Cli, CodecsListsTheCatalogue) {
  CliRun r = Call({"codecs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 13);
  EXPECT_NE(r.out.find(" 7  DivX V3 Fast         div4/DIV3  V3 group    -> Microsoft MPEG4 V3, Angel Potion V1, DivX V3 Low\n"),
            std::string::npos)
      << r.out;
  r = Call({"codecs", "--json"});
  EXPECT_NE(r.out.find("{\"id\": 12, \"name\": \"DivX 5\", \"handler\": \"divx\", \"compression\": \"DX50\", \"group\": \"XviD group\", \"targets\": [\"DivX 4\", \"XviD\", \"3ivx\"]}"),
            std::string::npos)
      << r.out;
}

}  // namespace
