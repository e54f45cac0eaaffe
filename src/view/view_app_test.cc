// dirlog-view run in process on logs written here: its inputs, the JSON it
// writes, --relative, --history, the lines it cannot read and its exit
// status.
#include "view/view_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "compare_test_support.h"
#include "test_support.h"
#include "view/json_output.h"

namespace view {
namespace {

using nlohmann::json;

struct ViewRun {
  int status;
  std::string out;
  std::string err;
  std::vector<json> lines;  // the output read as JSON Lines, when it is
};

// A record line: a file unless `attributes` has 0x10; the numbers are the
// size, mode, owner and the three times.
std::string record(const std::string& path, uint32_t size, uint32_t write,
                   int32_t attributes = 0x20, uint32_t mode = 0100644, uint32_t access = 9,
                   uint32_t creation = 0) {
  LogEntry entry{path,
                 path.substr(path.find_last_of("/\\") + 1),
                 "",
                 attributes,
                 {0, size, mode, 1000, 0, creation, 0, access, 0, write}};
  return writerLine(entry);
}

class ViewRunTest : public testing::Test {
 protected:
  std::string put(const std::string& name, const std::string& content) {
    writeFile(dir_.path() / name, content);
    return (dir_.path() / name).string();
  }

  ViewRun view(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "dirlog-view");
    std::string outName = (dir_.path() / "out").string();
    std::string errName = (dir_.path() / "err").string();
    std::FILE* out = std::fopen(outName.c_str(), "w+b");
    std::FILE* err = std::fopen(errName.c_str(), "w+b");
    ViewRun run{runView(arguments, out, err), "", "", {}};
    std::fclose(out);
    std::fclose(err);
    run.out = readFile(outName);
    run.err = readFile(errName);
    for (const std::string& line : splitLines(run.out)) {
      json parsed = json::parse(line, nullptr, false);
      if (parsed.is_discarded()) break;
      // A change line, written directly, is the text its object gives.
      if (parsed.contains("kind")) {
        EXPECT_EQ(jsonLine(parsed), line + "\n");
      }
      run.lines.push_back(parsed);
    }
    return run;
  }

  ViewRun json2(const std::string& before, const std::string& after,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {put("before.txt", before), put("after.txt", after),
                                          "--json"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return view(arguments);
  }

  ScopedTempDir dir_;
};

const std::string kRoot = "/r";

TEST_F(ViewRunTest, ReportsEachKindWithOldAndNewValues) {
  std::string before = record("/r/keep", 1, 5) + record("/r/grow", 3, 5) + record("/r/gone", 4, 5) +
                       record("/r/flip", 2, 5) + record("/r/touched", 1, 5, 0x20, 0100644, 9);
  std::string after = record("/r/keep", 1, 5) + record("/r/grow", 11, 6) +
                      record("/r/flip", 0, 5, 0x10, 040755) +
                      record("/r/touched", 1, 5, 0x20, 0100644, 10) + record("/r/new", 7, 5);
  ViewRun run = json2(before, after);
  EXPECT_EQ(run.status, kChangesShown) << run.err;
  ASSERT_EQ(run.lines.size(), 5u) << run.out;
  EXPECT_EQ(run.lines[0]["kind"], "modified");
  EXPECT_EQ(run.lines[0]["path"], "grow");
  EXPECT_EQ(run.lines[0]["changed"], json({"size", "write_time"}));
  EXPECT_EQ(run.lines[0]["size"], json({{"old", 3}, {"new", 11}, {"diff", 8}}));
  EXPECT_EQ(run.lines[0]["verdict"], "content");
  EXPECT_FALSE(run.lines[0].contains("mode"));
  EXPECT_EQ(run.lines[1]["kind"], "deleted");
  EXPECT_EQ(run.lines[1]["size"], json({{"old", 4}, {"diff", -4}}));
  EXPECT_EQ(run.lines[1]["mode"], json({{"old", "-rw-r--r--"}}));
  EXPECT_EQ(run.lines[2]["kind"], "type");
  EXPECT_EQ(run.lines[2]["old_type"], "file");
  EXPECT_EQ(run.lines[2]["type"], "directory");
  EXPECT_EQ(run.lines[3]["kind"], "created");
  EXPECT_EQ(run.lines[3]["owner"]["new"]["uid"], 1000);
  const json& summary = run.lines[4]["summary"];
  EXPECT_EQ(summary["counts"],
            json({{"created", 1}, {"deleted", 1}, {"modified", 1}, {"moved", 0}, {"type", 1}}));
  EXPECT_EQ(summary["bytes"], json({{"added", 15}, {"removed", 6}, {"net", 9}}));
  EXPECT_EQ(summary["access_only_hidden"], 1);
  EXPECT_EQ(summary["before"]["start"], "/r");
  EXPECT_EQ(summary["before"]["records"], 5);
  EXPECT_EQ(summary["separator"], "/");

  ViewRun access = json2(before, after, {"--access", "--only", "modified"});
  ASSERT_EQ(access.lines.size(), 3u) << access.out;
  EXPECT_EQ(access.lines[1]["path"], "touched");
  EXPECT_EQ(access.lines[1]["verdict"], "times");
  EXPECT_EQ(access.lines[1]["access_time"]["old"], "1601-01-01T00:00:00.0000009Z");
  EXPECT_EQ(access.lines[2]["summary"]["access_only_hidden"], 0);

  // A line the after log holds once is taken once, even where the walk
  // through the after log expects it a second time.
  std::string twice = record("/r/a", 1, 1) + record("/r/c", 1, 1) + record("/r/b", 1, 1);
  ViewRun again = json2(twice + record("/r/c", 1, 1),
                        record("/r/a", 1, 1) + record("/r/b", 1, 1) + record("/r/c", 1, 1));
  ASSERT_EQ(again.lines.size(), 2u) << again.out;
  EXPECT_EQ(again.lines[0]["kind"], "deleted");
  EXPECT_EQ(again.lines[0]["path"], "c");
}

TEST_F(ViewRunTest, FindsMovesAndRollsUpFolders) {
  std::string before = record("/r/a", 0, 1, 0x10, 040755) +
                       record("/r/a/one", 5, 2, 0x20, 0100644, 9, 3) +
                       record("/r/a/two", 6, 2, 0x20, 0100644, 9, 3) + record("/r/twin1", 8, 8) +
                       record("/r/twin2", 8, 8);
  std::string after = record("/r/b", 0, 1, 0x10, 040755) +
                      record("/r/b/one", 5, 2, 0x20, 0100644, 9, 3) +
                      record("/r/b/two", 6, 2, 0x20, 0100644, 9, 3) + record("/r/c/twin", 8, 8) +
                      record("/r/c/deep/big", 2048, 8);
  ViewRun run = json2(before, after, {"--depth", "1"});
  ASSERT_EQ(run.lines.size(), 6u) << run.out;
  EXPECT_EQ(run.lines[0]["kind"], "moved");
  EXPECT_EQ(run.lines[0]["old_path"], "a");
  EXPECT_EQ(run.lines[0]["path"], "b");
  // Two equal candidates for one created entry: no move.
  EXPECT_EQ(run.lines[1]["kind"], "deleted");
  EXPECT_EQ(run.lines[2]["kind"], "deleted");
  EXPECT_EQ(run.lines[3]["path"], "c/twin");
  const json& rollups = run.lines[5]["summary"]["rollups"];
  // The moved folder counts in the folders above it, down to depth 1.
  ASSERT_EQ(rollups.size(), 2u);
  EXPECT_EQ(rollups[0]["folder"], "");
  EXPECT_EQ(rollups[0]["moved"], 1);
  EXPECT_EQ(rollups[0]["bytes_removed"], 16);
  EXPECT_EQ(rollups[1]["folder"], "c");
  EXPECT_EQ(rollups[1]["depth"], 1);
  EXPECT_EQ(rollups[1]["created"], 2);
  EXPECT_EQ(rollups[1]["bytes_added"], 2056);
}

TEST_F(ViewRunTest, MatchesBelowEachStartFolderWithRelative) {
  std::string before = record("/v1/app/bin", 0, 1, 0x10, 040755) + record("/v1/app/bin/x", 3, 2);
  std::string after = record("/v2/app/bin", 0, 1, 0x10, 040755) + record("/v2/app/bin/x", 4, 2);
  ViewRun exact = json2(before, after);
  EXPECT_EQ(exact.lines.back()["summary"]["counts"]["modified"], 0);
  ViewRun relative = json2(before, after, {"--relative"});
  ASSERT_EQ(relative.lines.size(), 2u) << relative.out;
  EXPECT_EQ(relative.lines[0]["kind"], "modified");
  EXPECT_EQ(relative.lines[0]["path"], "bin/x");
  EXPECT_EQ(relative.lines[1]["summary"]["after"]["start"], "/v2/app");
}

TEST_F(ViewRunTest, WritesHostileNamesAsValidJsonAndKeepsTheirBytes) {
  std::vector<std::string> names = {"quote\"d", "back\\slash", "tab\tand\x01", "bad\xFF\xFEutf8",
                                    "caf\xC3\xA9"};
  std::string after;
  for (const std::string& name : names) after += record("/r/" + name, 1, 1);
  ViewRun run = json2(record("/r/x", 1, 1), after);
  ASSERT_EQ(run.lines.size(), names.size() + 2) << run.out;
  for (size_t i = 0; i < names.size(); ++i) {
    const json& line = run.lines[i + 1];
    if (line.contains("path_b64")) {
      EXPECT_EQ(line["path"], "bad\xEF\xBF\xBD\xEF\xBF\xBDutf8");
      EXPECT_EQ(line["path_b64"], "YmFk//51dGY4");
    } else {
      EXPECT_EQ(line["path"], names[i]);
    }
  }
}

TEST_F(ViewRunTest, CountsAndNamesTheLinesItCannotRead) {
  std::string before = record("/r/a", 1, 1) + "---FILE---,/r/cut,cut,,32,0\n" +
                       std::string(1500, 'x') + "\n" + "FILEs - 1, DIRECTORIEs - 0\n";
  // The after log ends inside a record line: not read, not created.
  std::string cut = record("/r/b", 1, 1);
  cut.pop_back();
  ViewRun run = json2(before, record("/r/a", 1, 1) + "stray\r\n" + cut);
  EXPECT_EQ(run.status, kNothingChanged);
  const json& summary = run.lines.back()["summary"];
  EXPECT_EQ(summary["unread_lines"], 4);
  EXPECT_EQ(summary["unread"][0],
            json({{"log", "before"}, {"line", 2}, {"text", "---FILE---,/r/cut,cut,,32,0"}}));
  EXPECT_EQ(summary["unread"][1]["line"], 3);
  EXPECT_EQ(summary["unread"][1]["text"].get<std::string>().size(), 200u);
  EXPECT_EQ(summary["unread"][2], json({{"log", "after"}, {"line", 2}, {"text", "stray"}}));
  EXPECT_EQ(summary["unread"][3], json({{"log", "after"}, {"line", 3}, {"text", cut}}));
}

TEST_F(ViewRunTest, NamesOneVersionInVersionHelpAndTheSummary) {
  ViewRun version = view({"--version", "a", "b"});
  EXPECT_EQ(version.status, kNothingChanged);
  std::string log = record("/r/a", 1, 1);
  std::string number = json2(log, log).lines.back()["summary"]["version"];
  EXPECT_EQ(version.out, "dirlog-view " + number + "\n");
  EXPECT_NE(view({"--help"}).out.find("--version"), std::string::npos);
}

TEST_F(ViewRunTest, ExitsLikeDiff) {
  std::string log = record("/r/a", 1, 1);
  EXPECT_EQ(json2(log, log).status, kNothingChanged);
  EXPECT_EQ(json2(log, log + record("/r/b", 1, 1)).status, kChangesShown);
  EXPECT_EQ(json2(log, log + record("/r/b", 1, 1), {"--only", "deleted"}).status, kNothingChanged);

  std::string missing = (dir_.path() / "missing.txt").string();
  ViewRun run = view({put("a.txt", log), missing});
  EXPECT_EQ(run.status, kTrouble);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("dirlog-view: " + missing + ": ", 0), 0u) << run.err;
  EXPECT_EQ(splitLines(run.err).size(), 1u);

  EXPECT_EQ(view({"--only", "renamed", "a", "b"}).status, kTrouble);
  EXPECT_EQ(view({"--color=sometimes"}).status, kTrouble);
  EXPECT_EQ(view({"one-log-only"}).status, kTrouble);
  EXPECT_NE(view({"--logs", "1"}).err.find("--logs N M: two log numbers"), std::string::npos);

  ScopedLogRoot root(dir_.str());
  run = view({});
  EXPECT_EQ(run.status, kTrouble);
  EXPECT_NE(run.err.find("no snapshot log"), std::string::npos) << run.err;
  put("dirlog1.txt", log);
  run = view({});
  EXPECT_NE(run.err.find("only one log file"), std::string::npos) << run.err;
  put("dirlog2.txt", log + record("/r/b", 1, 1));
  run = view({"--color=always"});
  EXPECT_EQ(run.status, kChangesShown);
  EXPECT_NE(run.out.find("\x1b[32mcreated"), std::string::npos) << run.out;
  EXPECT_EQ(view({"--logs", "2", "1", "--color=never"}).out.find("\x1b["), std::string::npos);
}

// One run on two logs, and what it must answer: the exit status, texts that
// standard output (standard error, for trouble) must hold and must not.
struct Answer {
  const char* what;
  std::string before;
  std::string after;
  std::vector<std::string> arguments;
  int status;
  std::vector<std::string> shown;
  std::vector<std::string> notShown = {};
};

TEST_F(ViewRunTest, AnswersTruly) {
  const std::string windowsFile = "c:\\docs\\report, final.docx";
  const Answer answers[] = {
      {"a Windows log's name with a comma, read on any system",
       record(windowsFile, 100, 1, 0x20, 0),
       record(windowsFile, 5000, 1, 0x20, 0),
       {"--json"},
       kChangesShown,
       {"\"path\":\"report, final.docx\"", "\"diff\":4900"}},
      {"an option takes one value; the files stand anywhere",
       record("/r/a.o", 1, 1) + record("/r/b.c", 1, 1),
       record("/r/a.o", 2, 1) + record("/r/b.c", 2, 1),
       {"--exclude", "*.o", "BEFORE", "--only", "modified", "AFTER"},
       kChangesShown,
       {"b.c"},
       {"a.o"}},
      {"a filter finds what a folder's move folds",
       record("/r/conf.d", 0, 5, 0x10, 040755) + record("/r/conf.d/app.conf", 7, 6),
       record("/r/etc", 0, 9, 0x10, 040755) + record("/r/etc/conf.d", 0, 5, 0x10, 040755) +
           record("/r/etc/conf.d/app.conf", 7, 6),
       {"--include", "*.conf"},
       kChangesShown,
       {"conf.d/app.conf -> etc/conf.d/app.conf"}},
      {"the hidden access-time changes follow the filters",
       record("/r/a", 0, 1, 0x10, 040755) + record("/r/a/x", 1, 1) + record("/r/b", 1, 1),
       record("/r/a", 0, 1, 0x10, 040755) + record("/r/a/x", 1, 1, 0x20, 0100644, 10) +
           record("/r/b", 1, 1, 0x20, 0100644, 10),
       {"--json", "--include", "a"},
       kNothingChanged,
       {"\"access_only_hidden\":1"}},
      {"two start folders: one list of whole paths, and a word on --relative",
       record("/v1/app/bin", 0, 1, 0x10, 040755) + record("/v1/app/bin/x", 3, 2),
       record("/v2/app/bin", 0, 1, 0x10, 040755) + record("/v2/app/bin/x", 4, 2),
       {},
       kChangesShown,
       {"v1/app/bin/x -> v2/app/bin/x", "--relative"},
       {"bin -> bin"}},
      {"orders to the terminal in names are shown escaped, and backslashes",
       record("/r/k", 1, 1),
       record("/r/k", 1, 1) +
           record("/r/csi\xC2\x9B"
                  "2J",
                  1, 1) +
           record("/r/rlo\xE2\x80\xAEtxt.exe", 1, 1) + record("/r/a\\xFF", 1, 1),
       {},
       kChangesShown,
       {"csi\\u009B2J", "rlo\\u202Etxt.exe", "a\\\\xFF"},
       {"\xC2\x9B", "\xE2\x80\xAE"}},
      {"and in JSON as \\u escapes",
       record("/r/k", 1, 1),
       record("/r/k", 1, 1) + record("/r/rlo\xE2\x80\xAE", 1, 1),
       {"--json"},
       kChangesShown,
       {"rlo\\u202e"},
       {"\xE2\x80\xAE"}},
      {"columns line up by what a terminal shows",
       record("/r/k", 1, 1),
       record("/r/k", 1, 1) + record("/r/\xE6\x97\xA5\xE6\x9C\xAC.txt", 1, 1) +
           record("/r/abcdefgh", 1, 1) + record("/r/\xE6\x97\xA5\xE6\x9C\xAC/x", 1, 1),
       {"--depth", "1"},
       kChangesShown,
       {"\xE6\x97\xA5\xE6\x9C\xAC.txt  content", "abcdefgh  content",
        "\xE6\x97\xA5\xE6\x9C\xAC" + std::string(36, ' ') + "1"}},
      {"JSON keeps the bytes of folders and start folders that are not UTF-8",
       record("/r\xFF/k", 1, 1),
       record("/r\xFF/k", 1, 1) + record("/r\xFF/x\xFF/a", 1, 1) + record("/r\xFF/x\xFE/b", 1, 1),
       {"--json"},
       kChangesShown,
       {"\"start_b64\":\"L3L/\"", "\"folder_b64\":\"eP8=\"", "\"folder_b64\":\"eP4=\""}},
      {"a pure move has a verdict of its own and gives type and size; one record is one",
       record("/r/a", 5, 7),
       record("/r/b", 5, 7),
       {},
       kChangesShown,
       {"moved     a -> b  place\n            file, 5 B\n", ": 1 record of /r"}},
      {"a file that is no log at all is trouble",
       "root:x:0:0:root:/root:/bin/sh\ndaemon:x:1:1::/:/bin/false\n",
       record("/r/a", 1, 1),
       {},
       kTrouble,
       {"before.txt: not a snapshot log (none of its 2 lines is a record)"}},
      {"a Windows log's names are decoded, characters its code page lacks too",
       record("c:\\t\\k", 1, 1, 0x20, 0),
       record("c:\\t\\k", 1, 1, 0x20, 0) + record("c:\\t\\caf\xE9.txt", 1, 1, 0x20, 0) +
           record("c:\\t\\?65E5?672C.txt", 1, 1, 0x20, 0) +
           record("c:\\t\\?D83D?DE00?D83D", 1, 1, 0x20, 0),
       {"--json"},
       kChangesShown,
       {"\"path\":\"caf\xC3\xA9.txt\"", "\"path\":\"\xE6\x97\xA5\xE6\x9C\xAC.txt\"",
        "\"path\":\"\xF0\x9F\x98\x80?D83D\"", "\"code_page\":1252"}},
      {"in the code page asked for",
       record("c:\\t\\k", 1, 1, 0x20, 0),
       record("c:\\t\\k", 1, 1, 0x20, 0) + record("c:\\t\\caf\xE9.txt", 1, 1, 0x20, 0),
       {"--code-page", "1251"},
       kChangesShown,
       {"caf\xD0\xB9.txt", "decoded from code page 1251"}},
      {"--live: a log without records names no folder to walk",
       "FILEs - 0, DIRECTORIEs - 0\n",
       "",
       {"BEFORE", "--live"},
       kTrouble,
       {"before.txt holds no record", "--live FOLDER"}},
      {"given one, everything there was created",
       "FILEs - 0, DIRECTORIEs - 0\n",
       "",
       {"--live", "DIR", "BEFORE", "--json"},
       kChangesShown,
       {"\"path\":\"before.txt\"", "\"kind\":\"created\"", "\"live\":true"}},
      {"--live takes one log",
       "",
       "",
       {"--live", "DIR", "BEFORE", "AFTER"},
       kTrouble,
       {"--live: one log file"}},
      {"and --logs one number",
       "",
       "",
       {"--logs", "1", "2", "--live"},
       kTrouble,
       {"--live: --logs N names one log"}},
      {"a folder that cannot be walked is trouble",
       "",
       "",
       {"--live", "DIR/none", "BEFORE"},
       kTrouble,
       {"none: the given folder cannot be found"}},
      {"an empty value is trouble", "", "", {"--only", ""}, kTrouble, {"--only: an empty value"}},
      {"an empty value after \"=\" too", "", "", {"--history="}, kTrouble, {"an empty value"}},
  };
  for (const Answer& answer : answers) {
    SCOPED_TRACE(answer.what);
    // The two files go first unless the case places them.
    std::vector<std::string> arguments = answer.arguments;
    std::string before = put("before.txt", answer.before);
    std::string after = put("after.txt", answer.after);
    auto placed = std::find(arguments.begin(), arguments.end(), "BEFORE");
    bool live = std::find(arguments.begin(), arguments.end(), "--live") != arguments.end();
    if (placed == arguments.end() && !live) {
      arguments.insert(arguments.begin(), {before, after});
    }
    // BEFORE and AFTER stand for the two files, DIR for a folder with a copy of BEFORE.
    std::string folder = (dir_.path() / "walked").string();
    for (std::string& argument : arguments) {
      if (argument == "BEFORE") argument = before;
      if (argument == "AFTER") argument = after;
      if (argument.starts_with("DIR")) argument = folder + argument.substr(3);
    }
    std::filesystem::create_directories(folder);
    put("walked/before.txt", answer.before);
    ViewRun run = view(arguments);
    std::filesystem::remove_all(folder);
    const std::string said = answer.status == kTrouble ? run.err : run.out;
    EXPECT_EQ(run.status, answer.status) << run.out << run.err;
    for (const std::string& text : answer.shown) {
      EXPECT_NE(said.find(text), std::string::npos) << text << " in:\n" << said;
    }
    for (const std::string& text : answer.notShown) {
      EXPECT_EQ(said.find(text), std::string::npos) << text << " in:\n" << said;
    }
  }
}

TEST_F(ViewRunTest, TracesOneEntryThroughEveryLog) {
  ScopedLogRoot root(dir_.str());
  put("dirlog1.txt", record("/r/f", 3, 1));
  put("dirlog2.txt", record("/r/f", 3, 1, 0x20, 0100644, 10));
  put("dirlog3.txt", record("/r/f", 9, 2));
  put("dirlog4.txt", record("/r/g", 1, 1));
  put("dirlog5.txt", record("/r/f", 9, 2));
  ViewRun run = view({"--history", "f", "--json"});
  EXPECT_EQ(run.status, kChangesShown);
  ASSERT_EQ(run.lines.size(), 6u) << run.out;
  EXPECT_EQ(run.lines[0]["history"]["entry"]["size"]["new"], 3);
  EXPECT_TRUE(run.lines[0]["history"]["change"].is_null());
  EXPECT_TRUE(run.lines[1]["history"]["change"].is_null());
  EXPECT_EQ(run.lines[2]["history"]["change"]["changed"], json({"size", "write_time"}));
  EXPECT_EQ(run.lines[3]["history"]["change"]["kind"], "deleted");
  EXPECT_FALSE(run.lines[3]["history"]["present"]);
  EXPECT_EQ(run.lines[4]["history"]["change"]["kind"], "created");
  EXPECT_EQ(run.lines[5]["summary"],
            json({{"history", "f"}, {"logs", 5}, {"changes", 3}, {"access_only_hidden", 1}}));
  // The full path names the entry too; text says the same.
  run = view({"--history", "/r/f"});
  EXPECT_NE(run.out.find("size          3 -> 9 bytes (+6 B)"), std::string::npos) << run.out;
  EXPECT_EQ(view({"--history", "nothing-like-it"}).status, kNothingChanged);
}

}  // namespace
}  // namespace view
