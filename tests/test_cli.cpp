// tovacrex-cli: every member of its JSON objects for each kind of file and command, the file afterwards, and the
// argument handling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "RiffBuilder.h"
#include "cli/Cli.h"

namespace {

using nlohmann::json;
const std::string kProgram = "tovacrex-cli";
struct Output {
  int status;
  std::string out, err;
};

// The runs' history goes to a folder of the test's own, not the user's.
#ifndef _WIN32
const TempDir kState;
const bool kStateSet = setenv("XDG_STATE_HOME", kState.File("").c_str(), 1) == 0;
#endif
Output Call(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  return {RunCli(args, out, err), out.str(), err.str()};
}
json Parsed(const Output& r) { return json::parse(r.out); }
std::vector<std::string> Lines(const std::string& text, char end = '\n') {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line, end);) lines.push_back(line);
  return lines;
}
std::vector<std::string> Files(const json& list) {  // each object's "file"
  std::vector<std::string> files;
  for (const json& o : list) files.push_back(o["file"]);
  return files;
}
json With(json base, const json& more) { return base.update(more), base; }
json J(const char* text) { return json::parse(text); }

TEST(cli, JsonMembersForEachKindOfFile) {
  TempDir dir;
  const riff::Image div3 = riff::MakeAvi("div3", "DIV3"), notAvi{Bytes(20, 'R')}, upper = riff::MakeAvi("MP43", "MP43");
  const riff::Image odd = riff::MakeAvi({.handler = std::string("x\0\0\0", 4), .compression = "\\ab\x7F"});
  const riff::Image noCompression = riff::MakeAvi({.handler = "xvid", .compression = "XVID", .strfSize = 18});
  const std::int64_t h = div3.DataPos("v.strh") + 4, c = div3.DataPos("v.strf") + 16;  // the same in every image
  const json v3Low = With(J(R"({"status": 0, "message": "DivX V3 Low", "codec_id": 6, "codec": "DivX V3 Low",
      "handler": "div3", "compression": "DIV3", "error": null,
      "targets": ["Microsoft MPEG4 V3", "Angel Potion V1", "DivX V3 Fast"]})"),
                          {{"handler_offset", h}, {"compression_offset", c}});
  const json unknown = With(v3Low, J(R"({"message": "Unknown codec", "codec_id": 14, "codec": null,
      "handler": "x\\x00\\x00\\x00", "compression": "\\x5Cab\\x7F", "targets": []})"));
  const json absent = J(R"({"status": 1, "message": "File no found", "codec_id": 0, "codec": null, "handler": null,
      "compression": null, "handler_offset": null, "compression_offset": null, "targets": [],
      "error": "File no found"})");
  auto unwritten = [](const char* target, json error) {
    return json{{"target", target}, {"written", false}, {"writes", json::array()}, {"error", error}};
  };
  auto writes = [&](const char* handler, const char* compression, const char* oldH = "div3",
                    const char* oldC = "DIV3") {
    return json::array(
        {{{"offset", h}, {"old", oldH}, {"new", handler}}, {{"offset", c}, {"old", oldC}, {"new", compression}}});
  };
  const std::string badName = "m\xFF.avi";
  // The file, its bytes, the arguments split at "|", the exit status, the members expected.
  const std::tuple<std::string, const riff::Image*, std::string, int, json> cases[] = {
      {"v3.avi", &div3, "convert|--to|divx v3 fast", 0,
       With(With(v3Low, {{"writes", writes("div4", "DIV3")}}),
            J(R"({"message": "DivX V3 Fast", "codec_id": 7, "codec": "DivX V3 Fast", "target": "DivX V3 Fast",
                 "targets": ["Microsoft MPEG4 V3", "Angel Potion V1", "DivX V3 Low"], "written": true})"))},
      {"v3.avi", &div3, "convert|--dry-run|--to|3", 0,
       With(v3Low, {{"target", "Microsoft MPEG4 V3"}, {"written", false}, {"writes", writes("mp43", "MP43")}})},
      {"v3.avi", &div3, "convert|--to|DivX 5", 1,
       With(v3Low, unwritten("DivX 5",
                             "DivX 5 is not offered for DivX V3 Low (V3 group; offered: Microsoft MPEG4 V3, "
                             "Angel Potion V1, DivX V3 Fast)"))},
      {"upper.avi", &upper, "info", 0,
       With(unknown, J(R"j({"handler": "MP43", "compression": "MP43", "any_case": "(missing)"})j"))},
      {"upper.avi", &upper, "convert|--any-case|--to|6", 0,
       With(
           With(v3Low, {{"writes", writes("div3", "DIV3", "MP43", "MP43")}}),
           J(R"({"handler": "MP43", "compression": "MP43", "target": "DivX V3 Low", "any_case": true, "written": true})"))},
      {"odd.avi", &odd, "convert|--to|3", 1,
       With(unknown, unwritten("Microsoft MPEG4 V3",
                               "Unknown codec (handler \"x\\x00\\x00\\x00\", compression \"\\x5Cab\\x7F\")"))},
      {"xvid.avi", &noCompression, "convert|--to|DivX 4", 1,
       With(With(unwritten("DivX 4", "Can't write to file: the file's codec fields cannot be rewritten safely"),
                 {{"handler_offset", h}}),
            J(R"({"status": 3, "message": "Can't write to file", "codec_id": 10, "codec": "XviD", "handler": "xvid",
                 "compression": "XV\\x00\\x00", "compression_offset": null, "targets": ["DivX 4", "DivX 5", "3ivx"]})"))},
      {"gone.avi", nullptr, "info", 1, absent},
      {badName, nullptr, "info", 1, absent},
      {"riff.avi", &notAvi, "info", 1,
       With(absent, J(R"({"status": 4, "message": "File isn't AVI-file", "error": "File isn't AVI-file"})"))},
  };
  for (const auto& [name, image, arguments, exit, expect] : cases) {
    SCOPED_TRACE(name + " " + arguments);
    const std::string file = name == badName ? badName : dir.File(name);  // the bytes as given
    if (image) WriteBytes(file, image->bytes);
    const Output r = Call(Lines(arguments + "|--json|" + file, '|'));
    EXPECT_EQ(r.status, exit);
    const json all = Parsed(r), &o = all.at(0);
    EXPECT_EQ(all.size(), 1u);
    for (const auto& [member, value] : expect.items())
      EXPECT_EQ(o.contains(member) ? o[member] : json("(missing)"), value) << member;
    // U+FFFD for the byte that is not UTF-8; on Windows the name opens no file.
    EXPECT_EQ(o["file"], name == badName ? "m\xEF\xBF\xBD.avi" : file);
    if (!image) continue;
    // The record is exact: "new" is at each offset, and "old" put back there restores the file.
    Bytes now = ReadBytes(file);
    for (const json& w : o.value("written", false) ? o["writes"] : json::array()) {
      const auto at = now.begin() + w["offset"].get<std::int64_t>();
      EXPECT_EQ(std::string(at, at + 4), w["new"]);
      std::ranges::copy(w["old"].get<std::string>(), at);
    }
    EXPECT_EQ(now, image->bytes);
  }
  // The human line spells FourCCs as the JSON does.
  const std::string a = dir.File("odd.avi");
  EXPECT_EQ(Call({"info", a}).out,
            a + ": Unknown codec (handler \"x\\x00\\x00\\x00\" at 0x70, compression \"\\x5Cab\\x7F\" at 0xbc)\n");
#ifdef _WIN32
  // "C:" is drive C's current folder: its files are "C:odd.avi", not "C:\odd.avi".
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(a).parent_path());
  const json first = Parsed(Call({"info", "-r", "--json", "C:"})).at(0);
  std::filesystem::current_path(here);
  EXPECT_EQ(std::pair(first["file"], first["status"]), std::pair(json("C:odd.avi"), json(0)));
#endif
}

// Folders with -r, the summary, and a convert record undone: files edited since and bad records are refused; the rest
// come back byte for byte, also a pair no codec of the catalogue writes ("XVID", "DX50").
TEST(cli, CollectionsAndUndo) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path m = dir.File("m");
  const riff::Image xvid = riff::MakeAvi("XVID", "DX50"), div3 = riff::MakeAvi("div3", "DIV3"),
                    cvid = riff::MakeAvi("cvid", "cvid");
  const std::string clip = dir.File("clip.divx"), d = (m / "sub" / "d.avi").string(), rec = dir.File("rec.json"),
                    bad = dir.File("bad.json");
  struct File {
    fs::path name;
    const riff::Image* image;
    bool restored;
  } files[] = {// in the walk's order
               {m / "B.AVI", &xvid, true},      {m / "a.avi", &xvid, true},
               {m / "c.Avi", &cvid, false},     {m / "locked" / "e.avi", &xvid, true},
               {m / "sub.avi", &xvid, true},    {d, &xvid, false},
               {m / "notes.txt", &xvid, false}, {clip, &div3, false}};
  const auto t0 =
      std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now()) - std::chrono::hours(24 * 365 * 20);
  for (const File& f : files)
    fs::create_directories(f.name.parent_path()), WriteBytes(f.name.string(), f.image->bytes),
        fs::last_write_time(f.name, t0);
  std::error_code ec;
  fs::create_directory_symlink("..", m / "sub" / "loop", ec);  // never followed
  fs::permissions(m / "locked", fs::perms::none);
  std::vector<std::string> walked, failed;
  if (std::ifstream((m / "locked" / "e.avi").string()).good()) {  // as root: cli_unreadable_folder
    if (std::getenv("TOVACREX_REQUIRE_UNREADABLE")) ADD_FAILURE() << "permissions do not stop this user";
    std::puts("SKIPPED the unreadable folder: permissions do not stop this user");
  } else {
    failed.push_back(kProgram + ": " + (m / "locked").string() + ": cannot read the folder: " + std::strerror(EACCES));
  }
  auto inWalk = [&](const File& f) {
    return f.name.extension() != ".txt" && (failed.empty() || f.name.parent_path().filename() != "locked");
  };
  for (const File& f : files)
    if (inWalk(f)) walked.push_back(f.name.string());
  auto last = [](const Output& r) { return Lines(r.err).empty() ? "(none)" : Lines(r.err).back(); };
  auto summary = [&](std::size_t k, const std::string& rest) {
    return std::to_string(walked.size()) + " files: " + std::to_string(walked.size() - k) + rest;
  };
  Output r = Call({"info", "-r", "--json", m.string(), clip});
  EXPECT_EQ(std::pair(r.status, Files(Parsed(r))), std::pair(failed.empty() ? 0 : 1, walked));
  EXPECT_EQ(Lines(r.err), failed);
  EXPECT_EQ(last(Call({"info", "-r", m.string(), clip})), summary(1, " recognised, 1 unknown codec"));
  r = Call({"convert", "-r", "--json", "--preserve-mtime", "--to", "DivX 4", m.string(), clip});
  std::ofstream(rec) << r.out;
  EXPECT_EQ(last(Call({"convert", "-r", "--to", "divx 4", m.string(), clip})), summary(2, " already DivX 4, 2 failed"));
  // A dry run (nothing written, or the undo below would find the old codes), a file edited since, a bad record; then
  // the undo.
  std::ofstream(bad) << "{]";
  WriteBytes(d, cvid.bytes), fs::last_write_time(d, t0);
  EXPECT_EQ(Call({"undo", "--dry-run", rec}).status, 1);
  r = Call({"undo", "--json", "--preserve-mtime", bad, rec});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err).at(0), kProgram + ": " + bad + ": not JSON (line 1, at byte 2), so not a convert record");
  std::vector<std::pair<std::string, bool>> undone, expected;
  for (const json& o : Parsed(r)) undone.emplace_back(o["file"], o["written"]);
  for (const File& f : files)
    if (inWalk(f) && f.image == &xvid) expected.emplace_back(f.name.string(), f.restored);
  std::reverse(expected.begin(), expected.end());  // the newest first
  EXPECT_EQ(undone, expected);
  fs::permissions(m / "locked", fs::perms::owner_all);
  for (const File& f : files) {
    SCOPED_TRACE(f.name.string());
    EXPECT_EQ(ReadBytes(f.name.string()), f.name == d ? cvid.bytes : f.image->bytes);
    EXPECT_EQ(fs::last_write_time(f.name), t0);
  }
}

// Undo from a record cut anywhere, newest first, each field judged on its own: a.avi converted, b.avi torn (its
// compression never written), c.avi never reached.
TEST(cli, UndoFromAnyCut) {
  TempDir dir;
  const riff::Image xvid = riff::MakeAvi({.handler = "xvid",
                                          .compression = "XVID",
                                          .extraStrl = {riff::Chunk("strn", riff::Text("divxDX50")).Label("n")}});
  const std::vector<std::string> f{dir.File("a.avi"), dir.File("b.avi"), dir.File("c.avi")};
  // The record undone is named outside every ANSI code page: Windows reads it by its UTF-16 name.
  const std::string rec = dir.File("run.jsonl"), cut = dir.File("\u8a18\u9332.jsonl");
  const std::size_t c = xvid.DataPos("v.strf") + 16, n = xvid.DataPos("n");
  for (const std::string& name : f) WriteBytes(name, xvid.bytes);
  const Output converted = Call({"convert", "--json", "--record", rec, "--to", "DivX 5", f[0], f[1], f[2]});
  const Bytes written = ReadBytes(rec);
  const std::string lines(written.begin(), written.end()), array = converted.out;
  const Bytes done = ReadBytes(f[0]);
  Bytes torn = done;
  std::copy_n(xvid.bytes.begin() + c, 4, torn.begin() + c);
  const json forged = json::array(
      {{{"file", f[0]},
        {"written", true},
        {"writes",
         {{{"offset", n}, {"old", "xvid"}, {"new", "divx"}}, {{"offset", n + 4}, {"old", "XVID"}, {"new", "DX50"}}}}}});
  const std::size_t second = array.find("\"file\"", array.find("\"file\"") + 1), last = lines.rfind("{\"file\"");
  struct Row {
    std::string name, record;
    int status;
    std::vector<std::string> order;
    bool bRestored;
    std::size_t complete;
  };
  for (const Row& row :
       std::vector<Row>{{"the line record", lines, 0, {f[2], f[1], f[0]}, true, 0},
                        {"a line record cut in its last entry", lines.substr(0, last + 30), 0, {f[1], f[0]}, true, 2},
                        {"an array cut in its second object", array.substr(0, second + 9), 0, {f[0]}, false, 1},
                        {"offsets where the codes are, but no fields", forged.dump(), 1, {f[0]}, false, 0}}) {
    SCOPED_TRACE(row.name);
    WriteBytes(f[0], done), WriteBytes(f[1], torn), WriteBytes(f[2], xvid.bytes);
    WriteBytes(cut, Bytes(row.record.begin(), row.record.end()));
    const Output r = Call({"undo", "--json", cut});
    EXPECT_EQ(std::tuple(r.status, Files(Parsed(r))), std::tuple(row.status, row.order));
    EXPECT_EQ(ReadBytes(f[0]), row.status ? done : xvid.bytes);
    EXPECT_EQ(ReadBytes(f[1]), row.bRestored ? xvid.bytes : torn);
    EXPECT_EQ(ReadBytes(f[2]), xvid.bytes);
    const std::string note = kProgram + ": " + cut + ": the record is cut short: its " + std::to_string(row.complete) +
                             " complete entries are read, the unfinished rest is left\n";
    EXPECT_EQ(!Lines(r.err).empty() && Lines(r.err)[0] + "\n" == note, row.complete > 0);
  }
}

// Many files on several threads: the same output, byte for byte, the same exit status and the same files afterwards as
// one file after the other, with failures between, one file named twice in a batch, and undo entries of one file close
// together.
TEST(cli, ParallelRunsPrintWhatOneByOnePrints) {
  TempDir dir;
  const riff::Image kinds[] = {
      riff::MakeAvi("XVID", "DX50"), riff::MakeAvi("div3", "DIV3"), riff::MakeAvi("cvid", "cvid"), {Bytes(20, 'R')}};
  std::vector<std::string> files, args;
  std::vector<Bytes> before;
  for (int i = 0; i < 150; ++i) {
    files.push_back(dir.File("f" + std::to_string(i) + ".avi"));
    before.push_back(kinds[i % 7 == 3 ? 3 : i % 5 == 1 ? 1 : i % 11 == 2 ? 2 : 0].bytes);
    args.push_back(files.back());
    if (i % 40 == 4) args.push_back(files[i - 4]);
  }
  args.push_back(dir.File("missing.avi"));
  auto run = [&](std::vector<std::string> a, const char* jobs, bool withFiles) {
    a.insert(a.begin() + 1, {"-j", jobs});
    if (withFiles) a.insert(a.end(), args.begin(), args.end());
    return Call(a);
  };
  const std::string rec = dir.File("rec.json"), rec2 = dir.File("rec2.json");
  using Args = std::vector<std::string>;
  for (const Args& cmd : {Args{"info", "--json"},
                          {"convert", "--no-record", "--to", "DivX 5"},
                          {"convert", "--json", "--no-record", "--to", "3ivx"},
                          {"undo", "--json", rec, rec2}}) {
    const bool json = std::find(cmd.begin(), cmd.end(), "--json") != cmd.end();
    SCOPED_TRACE(cmd[0] + (json ? " --json" : ""));
    std::vector<std::tuple<int, std::string, std::string, std::vector<Bytes>>> runs;
    for (const char* jobs : {"1", "4"}) {
      for (std::size_t i = 0; i < files.size(); ++i) WriteBytes(files[i], before[i]);
      if (cmd[0] == "undo") {  // the last files converted again by a second run
        std::ofstream(rec) << run({"convert", "--json", "--no-record", "--to", "DivX 5"}, "1", true).out;
        std::ofstream(rec2)
            << Call({"convert", "--json", "--no-record", "--to", "DivX 4", files[147], files[148], files[149]}).out;
      }
      const Output r = run(cmd, jobs, cmd[0] != "undo");
      runs.emplace_back(r.status, r.out, r.err, std::vector<Bytes>());
      for (const std::string& f : files) std::get<3>(runs.back()).push_back(ReadBytes(f));
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(std::get<0>(runs[0]), cmd[0] == "undo" ? 0 : 1);
    if (json) {  // a file named twice is no failure
      int failed = 0;
      for (const auto& o : json::parse(std::get<1>(runs[0]))) failed += !o["error"].is_null();
      EXPECT_EQ(failed, cmd[0] == "convert" ? 60 : cmd[0] == "undo" ? 0 : 23);
    }
  }
}

#ifndef _WIN32
// Records cut in the middle of a line, as a killed run leaves them: a history run undone with --last (the history says
// so, and the record still reads), and a --record that a later run adds to (its undo puts back both runs' files).
TEST(cli, RecordsCutShortAndAddedTo) {
  TempDir dir;
  const Bytes xvid = riff::MakeAvi("xvid", "XVID").bytes;
  const std::string a = dir.File("a.avi"), b = dir.File("b.avi"), rec = dir.File("r.jsonl");
  // The record cut 30 bytes past the last `from`, its unfinished line then made as long as a long path makes one.
  auto cut = [](const std::string& name, const std::string& from) {
    const Bytes record = ReadBytes(name);
    const std::string text(record.begin(), record.end());
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        << text.substr(0, text.rfind(from) + 30) + std::string(9000, 'x');
  };
  for (const std::string& f : {a, b}) WriteBytes(f, xvid);
  ASSERT_EQ(Call({"convert", "--to", "DivX 5", a, b}).status, 0);
  std::string run;  // the newest
  for (const auto& e : std::filesystem::directory_iterator(kState.File("tovacrex/history")))
    run = std::max(run, e.path().string());
  cut(run, "{\"file\"");
  EXPECT_EQ(Call({"undo", "--last"}).status, 0);
  EXPECT_EQ(std::pair(ReadBytes(a) == xvid, ReadBytes(b) == xvid), std::pair(true, false));
  EXPECT_EQ(Call({"undo", "--last"}).status, 0);  // the record reads: a's entry, already undone
  WriteBytes(b, xvid);
  ASSERT_EQ(Call({"convert", "--record", rec, "--to", "DivX 5", a}).status, 0);
  cut(rec, "{\"run\"");  // its end line
  ASSERT_EQ(Call({"convert", "--record", rec, "--to", "DivX 5", b}).status, 0);
  EXPECT_EQ(Call({"undo", rec}).status, 0);
  EXPECT_EQ(std::pair(ReadBytes(a) == xvid, ReadBytes(b) == xvid), std::pair(true, true));
}
#endif

}  // namespace
