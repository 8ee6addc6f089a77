// tovacrex-cli: every member of its JSON objects for each kind of file and
// command, the file afterwards, and the argument handling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "RiffBuilder.h"
#include "cli/Cli.h"

namespace {

using nlohmann::json;

struct Output { int status; std::string out, err; };

Output Call(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

// A --json run's output, parsed; kept in $TOVACREX_CLI_JSON_DIR for the schema check.
json Parsed(const Output& r) {
  static int count = 0;
  if (const char* dir = std::getenv("TOVACREX_CLI_JSON_DIR"))
    std::ofstream(std::string(dir) + "/" + std::to_string(++count) + ".json") << r.out;
  return json::parse(r.out);
}

json With(json base, const json& more) { return base.update(more), base; }

TEST(cli, JsonMembersForEachKindOfFile) {
  TempDir dir;
  const riff::Image div3 = riff::MakeAvi({.handler = "div3", .compression = "DIV3"}), notAvi{Bytes(20, 'R')};
  const riff::Image odd = riff::MakeAvi({.handler = std::string("x\0\0\0", 4), .compression = "\\ab\x7F"});
  const riff::Image noCompression = riff::MakeAvi({.handler = "xvid", .compression = "XVID", .strfSize = 18});
  const std::int64_t h = div3.DataPos("v.strh") + 4, c = div3.DataPos("v.strf") + 16;  // the same in every image
  const json v3Low = {{"status", 0}, {"message", "DivX V3 Low"}, {"codec_id", 6}, {"codec", "DivX V3 Low"},
                      {"handler", "div3"}, {"compression", "DIV3"}, {"handler_offset", h}, {"compression_offset", c},
                      {"targets", {"Microsoft MPEG4 V3", "Angel Potion V1", "DivX V3 Fast"}}, {"error", nullptr}};
  const json unknown = With(v3Low, {{"message", "Unknown codec"}, {"codec_id", 14}, {"codec", nullptr},
                                    {"handler", "x\\x00\\x00\\x00"}, {"compression", "\\x5Cab\\x7F"}, {"targets", json::array()}});
  const json absent = {{"status", 1}, {"message", "File no found"}, {"codec_id", 0}, {"codec", nullptr}, {"handler", nullptr},
                       {"compression", nullptr}, {"handler_offset", nullptr}, {"compression_offset", nullptr},
                       {"targets", json::array()}, {"error", "File no found"}};
  const json noAvi = With(absent, {{"status", 4}, {"message", "File isn't AVI-file"}, {"error", "File isn't AVI-file"}});
  auto unwritten = [](const char* target, json error) {
    return json{{"target", target}, {"written", false}, {"writes", json::array()}, {"error", error}};
  };
  auto writes = [&](const char* handler, const char* compression) {
    return json::array({{{"offset", h}, {"old", "div3"}, {"new", handler}}, {{"offset", c}, {"old", "DIV3"}, {"new", compression}}});
  };
  const std::string badName = "m\xFF.avi";
  struct Case { std::string name; const riff::Image* file; std::vector<std::string> args; int exit; json expect; } cases[] = {
      {"v3.avi", &div3, {"info"}, 0, v3Low},
      {"v3.avi", &div3, {"convert", "--to", "divx v3 fast"}, 0,
       With(v3Low, {{"message", "DivX V3 Fast"}, {"codec_id", 7}, {"codec", "DivX V3 Fast"},
                    {"targets", {"Microsoft MPEG4 V3", "Angel Potion V1", "DivX V3 Low"}}, {"target", "DivX V3 Fast"},
                    {"written", true}, {"writes", writes("div4", "DIV3")}})},
      {"v3.avi", &div3, {"convert", "--dry-run", "--to", "3"}, 0,
       With(v3Low, {{"target", "Microsoft MPEG4 V3"}, {"written", false}, {"writes", writes("mp43", "MP43")}})},
      {"v3.avi", &div3, {"convert", "--to", "DivX 5"}, 1,
       With(v3Low, unwritten("DivX 5", "DivX 5 is not offered for DivX V3 Low (V3 group; offered: Microsoft MPEG4 V3, "
                                       "Angel Potion V1, DivX V3 Fast)"))},
      {"odd.avi", &odd, {"info"}, 0, unknown},
      {"odd.avi", &odd, {"convert", "--to", "3"}, 1,
       With(unknown, unwritten("Microsoft MPEG4 V3", "Unknown codec (handler \"x\\x00\\x00\\x00\", compression \"\\x5Cab\\x7F\")"))},
      {"xvid.avi", &noCompression, {"convert", "--to", "DivX 4"}, 1,
       With(unwritten("DivX 4", "Can't write to file: the file's codec fields cannot be rewritten safely"),
            {{"status", 3}, {"message", "Can't write to file"}, {"codec_id", 10}, {"codec", "XviD"}, {"handler", "xvid"},
             {"compression", "XV\\x00\\x00"}, {"handler_offset", h}, {"compression_offset", nullptr},
             {"targets", {"DivX 4", "DivX 5", "3ivx"}}})},
      {"gone.avi", nullptr, {"info"}, 1, absent},
      {"gone.avi", nullptr, {"convert", "--to", "XviD"}, 1, With(absent, unwritten("XviD", "File no found"))},
      {badName, nullptr, {"info"}, 1, absent},
      {"riff.avi", &notAvi, {"info"}, 1, noAvi},
      {"riff.avi", &notAvi, {"convert", "--to", "1"}, 1, With(noAvi, unwritten("Microsoft MPEG4 V1", "File isn't AVI-file"))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name + " " + k.args[0] + " " + k.args.back());
    const std::string file = k.name == badName ? badName : dir.File(k.name);  // the bytes as given
    if (k.file) WriteBytes(file, k.file->bytes);
    std::vector<std::string> args = k.args;
    args.insert(args.end(), {"--json", file});
    Output r = Call(args);
    EXPECT_EQ(r.status, k.exit);
    const json all = Parsed(r), &o = all.at(0);
    EXPECT_EQ(all.size(), 1u);
    for (const auto& [member, value] : k.expect.items())
      EXPECT_EQ(o.contains(member) ? o[member] : json("(missing)"), value) << member;
    const std::string replaced = "m\xEF\xBF\xBD.avi";  // U+FFFD for the byte that is not UTF-8
    if (k.name != badName) EXPECT_EQ(o["file"], file);
#ifndef _WIN32
    else EXPECT_EQ(o["file"], replaced);
#else
    else EXPECT_NE(o["file"], replaced);  // decoded from the ANSI code page instead
#endif
    if (!k.file) continue;
    // The record is exact: "new" is at each offset, and "old" put back there restores the file.
    Bytes now = ReadBytes(file);
    for (const json& w : o.value("written", false) ? o["writes"] : json::array()) {
      const auto at = now.begin() + w["offset"].get<std::int64_t>();
      EXPECT_EQ(std::string(at, at + 4), w["new"]);
      const std::string old = w["old"];
      std::copy(old.begin(), old.end(), at);
    }
    EXPECT_EQ(now, k.file->bytes);
  }
  // Several files make one array, in order; the human line spells FourCCs as the JSON does.
  const std::string a = dir.File("odd.avi"), b = dir.File("gone.avi");
  Output r = Call({"info", "--json", a, b});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Parsed(r)[1]["file"], b);
  auto hex = [](std::int64_t v) { std::ostringstream s; s << std::hex << v; return s.str(); };
  EXPECT_EQ(Call({"info", a}).out, a + ": Unknown codec (handler \"x\\x00\\x00\\x00\" at 0x" + hex(h) +
                                       ", compression \"\\x5Cab\\x7F\" at 0x" + hex(c) + ")\n");
}

TEST(cli, ArgumentsHelpAndVersion) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"info"}, {"convert", "x.avi"}, {"convert", "--to", "divx 6", "x.avi"}, {"convert", "--to", "14", "x.avi"},
           {"convert", "--to", "0", "x.avi"}, {"convert", "--to"}, {"info", "--bogus", "x.avi"}, {"codecs", "x.avi"}, {"info", "--dry-run", "x.avi"}}) {
    Output r = Call(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(r.out.empty() && !r.err.empty());
  }
  std::set<std::string> helps;  // one text per command
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"info", "--help"}, {"convert", "--help"}, {"codecs", "--help"}}) {
    Output r = Call(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(helps.insert(r.out).second) << args[0];
  }
  EXPECT_EQ(Call({"--version"}).out, "tovacrex-cli " TOVACREX_PROJECT_VERSION "\n");
  EXPECT_EQ(Parsed(Call({"codecs", "--json"})).size(), 13u);
}

}  // namespace
