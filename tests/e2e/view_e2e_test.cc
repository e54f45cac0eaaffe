// dirlog-view end to end: two scans of a real tree by the built dirlog,
// changes of every kind between them, and the built dirlog-view reading the
// logs.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
