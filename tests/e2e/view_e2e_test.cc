// dirlog-view end to end: two scans of a real tree by the built dirlog,
// changes of every kind between them, and the built dirlog-view reading the
// logs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

TEST(ViewE2eTest, ShowsEveryKindOfChangeOnARealTree) {
  ScopedTempDir work;
  fs::path tree = work.path() / "app";
  std::string logs = (work.path() / "logs").string();
  fs::create_directories(logs);
  fs::create_directories(tree / "old" / "deep");
  writeFile(tree / "grow.txt", "abc");
  writeFile(tree / "gone.txt", "gone");
  writeFile(tree / "flip", "file for now");
  writeFile(tree / "old" / "deep" / "a.txt", "moved along with its folder");
  writeFile(tree / "mode.sh", "echo");
  ASSERT_EQ(runDirlog({"/L" + tree.string()}, logs).exitStatus, 0);

  writeFile(tree / "grow.txt", "abc and more");
  fs::remove(tree / "gone.txt");
  fs::remove(tree / "flip");
  fs::create_directory(tree / "flip");
  fs::rename(tree / "old", tree / "new");
  fs::permissions(tree / "mode.sh", fs::perms::owner_exec, fs::perm_options::add);
  writeFile(tree / "born.txt", "new");
  ASSERT_EQ(runDirlog({"/L" + tree.string()}, logs).exitStatus, 0);

  RunResult json = runDirlogView({"--json"}, logs);
  EXPECT_EQ(json.exitStatus, 1);
  std::map<std::string, nlohmann::json> byPath;
  nlohmann::json summary;
  for (const std::string& line : splitLines(json.out)) {
    nlohmann::json object = nlohmann::json::parse(line);
    if (object.contains("summary")) {
      summary = object["summary"];
    } else {
      byPath[object["path"]] = object;
    }
  }
  EXPECT_EQ(byPath["grow.txt"]["kind"], "modified");
  EXPECT_EQ(byPath["grow.txt"]["size"], nlohmann::json({{"old", 3}, {"new", 12}, {"diff", 9}}));
  EXPECT_EQ(byPath["gone.txt"]["kind"], "deleted");
  EXPECT_EQ(byPath["flip"]["kind"], "type");
  EXPECT_EQ(byPath["new"]["kind"], "moved");
  EXPECT_EQ(byPath["new"]["old_path"], "old");
  EXPECT_FALSE(byPath.contains("new/deep/a.txt")) << "folded into the folder's move";
  EXPECT_EQ(byPath["mode.sh"]["verdict"], "metadata");
  EXPECT_EQ(byPath["mode.sh"]["mode"]["new"], "-rwxr--r--");
  EXPECT_EQ(byPath["born.txt"]["kind"], "created");
  EXPECT_EQ(summary["before"]["start"], tree.string());
  EXPECT_EQ(summary["unread_lines"], 0);

  // Text into a pipe: aligned, without colour.
  RunResult text = runDirlogView({"--only", "moved,deleted"}, logs);
  EXPECT_EQ(text.exitStatus, 1);
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.out.rfind("deleted   gone.txt    content\n", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\nmoved     old -> new  place\n            directory\n"),
            std::string::npos)
      << text.out;

  RunResult missing = runDirlogView({"--logs", "1", "7"}, logs);
  EXPECT_EQ(missing.exitStatus, 2);
}

// Every entry below `folder` with its bytes (a folder's as "/").
std::map<std::string, std::string> contentsOf(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).string();
    contents[name] = entry.is_directory() ? "/" : readFile(entry.path());
  }
  return contents;
}

struct LiveRun {
  RunResult run;
  std::string err;
};

// dirlog-view with its standard error kept, and its temporary files made in
// `temporary`.
LiveRun runLive(const std::vector<std::string>& arguments, const std::string& logs,
                const fs::path& temporary, bool unprivileged = false) {
  fs::path errFile = temporary.parent_path() / "err.txt";
  int errorFd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  RunOptions options;
  options.program = DIRLOG_VIEW_BINARY;
  options.errorFd = errorFd;
  options.unprivileged = unprivileged;
  setenv("TMPDIR", temporary.c_str(), 1);
  LiveRun live{runDirlog(arguments, logs, options), ""};
  unsetenv("TMPDIR");
  close(errorFd);
  live.err = readFile(errFile);
  return live;
}

// --live compares the newest log with the tree as it is now, in every output,
// and leaves the log folder and the folder for temporary files as they were;
// a walk that cannot record everything shows no comparison.
TEST(ViewE2eTest, LiveComparesTheTreeAsItIsNowAndLeavesTheLogsAlone) {
  ScopedTempDir work;
  fs::path tree = work.path() / "app";
  fs::path temporary = work.path() / "tmp";
  std::string logs = (work.path() / "logs").string();
  fs::create_directories(logs);
  fs::create_directories(temporary);
  fs::create_directories(tree / "sub");
  writeFile(tree / "grow.txt", "abc");
  writeFile(tree / "gone.txt", "gone");
  ASSERT_EQ(runDirlog({"/L" + tree.string()}, logs).exitStatus, 0);
  ASSERT_EQ(runDirlog({"/L" + tree.string()}, logs).exitStatus, 0);
  // Walked as /L walks it: the unchanged tree shows no change.
  EXPECT_EQ(runLive({"--live"}, logs, temporary).run.exitStatus, 0);

  writeFile(tree / "grow.txt", "abc and more");
  fs::remove(tree / "gone.txt");
  writeFile(tree / "born.txt", "new");
  std::map<std::string, std::string> before = contentsOf(logs);
  std::string page = (work.path() / "page.html").string();
  std::string elsewhere = tree.string() + "/../app";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::vector<std::string> shown;  // in standard output, or error for 2, in this order
  };
  const std::vector<Case> cases = {
      {{"--live"},
       1,
       {"deleted   gone.txt", "created   born.txt", "after     live walk: 3 records"}},
      {{"--json", "--live", tree.string(), "--logs", "1"}, 1, {R"("live":true,"log":null)"}},
      {{"--html", page, "--live"}, 1, {}},
      {{"--live", elsewhere, "--relative", "--only", "created"}, 1, {"created   born.txt"}},
      {{"--live", elsewhere}, 2, {"is not the start folder of", "--relative"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    LiveRun live = runLive(c.arguments, logs, temporary);
    EXPECT_EQ(live.run.exitStatus, c.status) << live.err;
    EXPECT_EQ(c.status == 2 ? live.run.out : live.err, "");
    size_t at = 0;
    for (const std::string& text : c.shown) {
      at = (c.status == 2 ? live.err : live.run.out).find(text, at);
      EXPECT_NE(at, std::string::npos) << text << " in\n" << live.run.out << live.err;
    }
  }
  EXPECT_NE(readFile(page).find("born.txt"), std::string::npos);

  fs::path deep = tree / "b";
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  LiveRun failed = runLive({"--live"}, logs, temporary);
  EXPECT_EQ(failed.run.exitStatus, 2);
  EXPECT_EQ(failed.run.out, "");
  EXPECT_NE(failed.err.find("dirlog-view: path too long, not recorded: " + tree.string()),
            std::string::npos);
  EXPECT_NE(failed.err.find("could not record 1 entry (named above), so no comparison is shown"),
            std::string::npos)
      << failed.err;

  // A folder it cannot list, as a user whom permissions stop.
  fs::remove_all(tree / "b");
  fs::create_directory(tree / "locked");
  fs::permissions(tree / "locked", fs::perms::none);
  for (const fs::path& open : {work.path(), tree, fs::path(logs), temporary}) {
    fs::permissions(open, fs::perms::all);
  }
  LiveRun locked = runLive({"--live"}, logs, temporary, /*unprivileged=*/true);
  fs::permissions(tree / "locked", fs::perms::all);
  if (locked.run.exitStatus != kCannotDropPrivileges) {
    EXPECT_EQ(locked.run.exitStatus, 2);
    EXPECT_EQ(locked.run.out, "");
    EXPECT_EQ(locked.err.rfind("dirlog-view: cannot list " + tree.string() + "/locked", 0), 0u)
        << locked.err;
  }

  EXPECT_EQ(contentsOf(logs), before);
  EXPECT_TRUE(fs::is_empty(temporary));
}

}  // namespace
