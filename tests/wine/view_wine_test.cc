// dirlog-view.exe under Wine: two scans of a tree on drive C by dirlog.exe,
// then the view of what changed, as text and as JSON, and of the tree as it
// is now (--live).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"
#include "wine_support.h"

namespace {

class WineViewTest : public DriveCTest {};

TEST_F(WineViewTest, ShowsTheChangesAsTextAndJson) {
  file("t/keep.txt", "kept");
  file("t/grow.txt", "abc");
  file("t/sub/gone.txt", "gone");
  ASSERT_EQ(runDirlog({"/L" + windowsPath("t")}).exitStatus, 0);
  file("t/grow.txt", "abc and more");
  std::filesystem::remove(onDriveC("c:\\t\\sub\\gone.txt"));
  file("t/sub/new.txt", "new");
  ASSERT_EQ(runDirlog({"/L" + windowsPath("t")}).exitStatus, 0);

  WineRun text = runDirlogView({"--only", "modified,deleted,created"});
  EXPECT_EQ(text.exitStatus, 1) << text.out;
  std::vector<std::string> lines = crLfLines(text.out);
  ASSERT_GE(lines.size(), 4u) << text.out;
  EXPECT_EQ(lines[0].substr(0, 18), "modified  grow.txt");
  EXPECT_NE(text.out.find("size          3 -> 12 bytes (+9 B)\r\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("deleted   sub\\gone.txt"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("created   sub\\new.txt"), std::string::npos) << text.out;

  WineRun json = runDirlogView({"--json", "--logs", "1", "2"});
  EXPECT_EQ(json.exitStatus, 1);
  std::vector<nlohmann::json> objects;
  for (const std::string& line : crLfLines(json.out)) {
    objects.push_back(nlohmann::json::parse(line));
  }
  ASSERT_FALSE(objects.empty());
  const nlohmann::json& summary = objects.back()["summary"];
  EXPECT_EQ(summary["separator"], "\\");
  EXPECT_EQ(summary["before"]["start"], "c:\\t");
  EXPECT_EQ(summary["bytes"]["removed"], 4);
  bool deleted = false;
  for (const nlohmann::json& object : objects) {
    if (object.value("path", "") != "sub\\gone.txt") continue;
    deleted = true;
    EXPECT_EQ(object["kind"], "deleted");
    EXPECT_EQ(object["attributes"]["old"], nlohmann::json({"archive"}));
    EXPECT_FALSE(object.contains("mode"));
  }
  EXPECT_TRUE(deleted) << json.out;

  WineRun missing = runDirlogView({"--logs", "1", "5"});
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_EQ(missing.out, "");

  // The tree as it is now against the newest log, which no third log joins.
  file("t/late.txt", "late");
  std::string logs = log(1) + log(2);
  WineRun live = runDirlogView({"--live", "--only", "created"});
  EXPECT_EQ(live.exitStatus, 1) << live.out;
  EXPECT_EQ(live.out.rfind("created   late.txt", 0), 0u) << live.out;
  EXPECT_NE(live.out.find("after     live walk: 5 records of c:\\t, walked "), std::string::npos)
      << live.out;
  EXPECT_EQ(log(1) + log(2), logs);
  EXPECT_FALSE(std::filesystem::exists(onDriveC("c:\\dirlog3.txt")));
}

TEST_F(WineViewTest, ShowsWindowsNamesAsTheyAre) {
  file("t/keep.txt", "kept");
  ASSERT_EQ(runDirlog({"/L" + windowsPath("t")}).exitStatus, 0);
  file("t/caf\xC3\xA9.txt", "new");
  ASSERT_EQ(runDirlog({"/L" + windowsPath("t")}).exitStatus, 0);
  // A name the code page lacks, as a scan writes it.
  std::string after = log(2);
  file("dirlog2.txt",
       after + "---FILE---,c:\\t\\?65E5?672C.txt,?65E5?672C.txt,,32,0,1,0,0,0,0,0,0,0,0\r\n");

  WineRun json = runDirlogView({"--json"});
  EXPECT_EQ(json.exitStatus, 1) << json.out;
  std::vector<std::string> paths;
  nlohmann::json summary;
  for (const std::string& line : crLfLines(json.out)) {
    nlohmann::json object = nlohmann::json::parse(line);
    if (object.contains("summary")) summary = object["summary"];
    if (object.contains("path")) paths.push_back(object["path"]);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"caf\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt"}))
      << json.out;
  EXPECT_TRUE(summary["code_page"].is_number()) << json.out;
  WineRun text = runDirlogView({});
  EXPECT_NE(text.out.find("created   caf\xC3\xA9.txt"), std::string::npos) << text.out;
}

}  // namespace
