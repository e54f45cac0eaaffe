// The comparison, end to end: scans of a real tree before and after changes,
// then the compare switches of the built program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

class CompareE2eTest : public testing::Test {
 protected:
  fs::path tree() const { return work_.path() / "w"; }
  std::string at(const char* relative) const { return (tree() / relative).string(); }
  RunResult run(const std::vector<std::string>& arguments) {
    return runDirlog(arguments, logs_.str());
  }
  RunResult scan() { return run({"/L" + tree().string()}); }
  void file(const char* relative, const std::string& content) {
    fs::create_directories((tree() / relative).parent_path());
    writeFile(tree() / relative, content);
  }
  std::string report() const { return readFile(logs_.path() / "report.txt"); }

  // The report as "KIND path" lines, in report order.
  std::vector<std::string> findings() const {
    std::vector<std::string> result;
    for (const std::string& line : splitLines(report())) {
      size_t path = line.find(", PATH-") + 7;
      result.push_back(line.substr(0, 8) + " " + line.substr(path, line.find(", NAME-") - path));
    }
    return result;
  }

  // A tree to scan, then the changes of every kind made to it.
  void plantTree() {
    file("a.txt", "1234");
    file("gone.txt", "x");
    file("mode.txt", "x");
    file("same.txt", "x");
    file("d1/x.txt", "x");
    file("d2/y.txt", "x");
  }
  void changeTree() {
    file("a.txt", "123456");
    fs::remove(tree() / "gone.txt");
    file("new.txt", "x");
    fs::rename(tree() / "d2", tree() / "d3");
    fs::permissions(tree() / "mode.txt", fs::perms::owner_write, fs::perm_options::remove);
  }
  std::vector<std::string> changeFindings() const {
    // Before entries in walk order, then the created ones in walk order.
    return {"MODIFIED " + at("a.txt"),    "DELETED  " + at("d2"),
            "DELETED  " + at("d2/y.txt"), "DELETED  " + at("gone.txt"),
            "MODIFIED " + at("mode.txt"), "CREATED  " + at("d3"),
            "CREATED  " + at("d3/y.txt"), "CREATED  " + at("new.txt")};
  }

  ScopedTempDir work_;
  ScopedTempDir logs_;
};

std::string progress(int before, int after) {
  std::string out;
  for (int i = 1; i <= before; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  for (int i = 1; i <= after; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  return out;
}

TEST_F(CompareE2eTest, ReportsWhatChangedBetweenTwoScans) {
  plantTree();
  ASSERT_EQ(scan().exitStatus, 0);
  changeTree();
  ASSERT_EQ(scan().exitStatus, 0);
  RunResult result = run({"/compare"});
  EXPECT_EQ(result.exitStatus, 0);
  // Eight entries in each log.
  EXPECT_EQ(result.out, progress(8, 8));
  EXPECT_EQ(findings(), changeFindings());
  // A modified entry is shown with the values the first scan recorded.
  std::string firstLine = splitLines(report())[0];
  EXPECT_NE(firstLine.find(", FILE_SIZE_LOW-4,"), std::string::npos) << firstLine;
  EXPECT_EQ(firstLine.rfind("MODIFIED: ,---FILE---, PATH-", 0), 0u) << firstLine;
}

TEST_F(CompareE2eTest, AnEntryWithACommaInItsNameIsReportedOnceAsItself) {
  file("a,b.txt", "1");
  file("x,y/p,q", "1");
  ASSERT_EQ(scan().exitStatus, 0);
  file("a,b.txt", "12");
  file("x,y/p,q", "12");
  ASSERT_EQ(scan().exitStatus, 0);
  ASSERT_EQ(run({"/compare"}).exitStatus, 0);
  EXPECT_EQ(findings(),
            (std::vector<std::string>{"MODIFIED " + at("a,b.txt"), "MODIFIED " + at("x,y/p,q")}));
  EXPECT_NE(report().find(", NAME-a,b.txt, MSDOS-, "), std::string::npos) << report();
}

TEST_F(CompareE2eTest, AScanThenACompareInOneRunCompareTheNewLogWithTheOneBefore) {
  plantTree();
  ASSERT_EQ(scan().exitStatus, 0);
  changeTree();
  RunResult result = run({"/L" + tree().string(), "/compare"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(fs::exists(logs_.path() / "dirlog2.txt"));
  EXPECT_EQ(findings(), changeFindings());
}

TEST_F(CompareE2eTest, AScanThenACompareWithNoLogBeforeFindsOnlyOneLog) {
  plantTree();
  RunResult result = run({"/L" + tree().string(), "/compare"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "Error: only one log file\n");
  EXPECT_FALSE(fs::exists(logs_.path() / "report.txt"));
}

TEST_F(CompareE2eTest, AScanBetweenF1AndF2ComparesLogsTwoScansApart) {
  plantTree();
  ASSERT_EQ(scan().exitStatus, 0);  // log 1
  fs::remove(tree() / "gone.txt");
  ASSERT_EQ(scan().exitStatus, 0);  // log 2
  file("new.txt", "x");
  // /F1 takes log 1 (two logs exist); the scan writes log 3; /F2 takes log 3.
  RunResult result = run({"/F1", "/L" + tree().string(), "/F2"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(fs::exists(logs_.path() / "dirlog3.txt"));
  EXPECT_EQ(findings(),
            (std::vector<std::string>{"DELETED  " + at("gone.txt"), "CREATED  " + at("new.txt")}));
}

TEST_F(CompareE2eTest, MissingLogsEndTheRunWithTheirRolesMessage) {
  plantTree();
  RunResult none = run({"/compare"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_EQ(none.out, "Error: coud not open log file #1 before\n");
  ASSERT_EQ(scan().exitStatus, 0);
  ASSERT_EQ(scan().exitStatus, 0);
  fs::rename(logs_.path() / "dirlog2.txt", logs_.path() / "dirlog3.txt");
  RunResult gap = run({"/F1", "/F2"});
  EXPECT_EQ(gap.exitStatus, 1);
  EXPECT_EQ(gap.out, "Error: coud not open log file #2 after\n");
}

}  // namespace
