#include "compare/compare_stages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "compare_test_support.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The actions of the compare switches, as the argument loop runs them.
void runSwitch(const std::string& name) {
  if (name == "compare") {
    setCompareStage(2);
    advanceCompareStage();
    advanceCompareStage();
  } else {
    advanceCompareStage();
  }
  compareIfReady();
}

void runSwitches(const std::string& sequence) {
  std::istringstream words(sequence);
  for (std::string word; words >> word;) runSwitch(word);
}

class CompareStagesTest : public testing::Test {
 protected:
  void SetUp() override { setCompareStage(0); }

  fs::path log(int number) const {
    return root_.path() / ("dirlog" + std::to_string(number) + ".txt");
  }
  // Log n holds one entry, /w/log<n>, so the report tells which logs met.
  void addLogs(const std::vector<int>& numbers) {
    for (int n : numbers) {
      writeFile(log(n), "---FILE---,/w/log" + std::to_string(n) +
                            ",x,,32,0,0,0,0,0,0,0,0,0,0\nFILEs - 1, DIRECTORIEs - 0\n");
    }
  }
  std::string report() const { return platformText(readFile(root_.path() / "report.txt")); }
  static std::string reportOf(int before, int after) {
    std::string tail =
        ", NAME-x, MSDOS-, ATTRIB-32, FILE_SIZE_HIGH-0, FILE_SIZE_LOW-0, RESERVED0-0, "
        "RESERVED1-0, CREATION_TIME_HIGH-0, CREATION_TIME_LOW-0, LAST_ACCESS_TIME_HIGH0, "
        "LAST_ACCESS_TIME_LOW-0, LAST_WRITE_TIME_HIGH-0, LAST_WRITE_TIME_LOW-0\n";
    return "DELETED : ,---FILE---, PATH-/w/log" + std::to_string(before) + tail +
           "CREATED : ,---FILE---, PATH-/w/log" + std::to_string(after) + tail;
  }
  std::string capture(const std::string& sequence) {
    StdoutCapture output(files_.path() / "out");
    runSwitches(sequence);
    return platformText(output.finish());
  }
  static int comparisons(const std::string& out) {
    int count = 0;
    for (size_t at = out.find("PASSES - 1\n"); at != std::string::npos;
         at = out.find("PASSES - 1\n", at + 1)) {
      ++count;
    }
    return count / 2;  // once for each log
  }

  ScopedTempDir root_;
  ScopedTempDir files_;
  ScopedLogRoot logRoot_{root_.str()};
};

TEST_F(CompareStagesTest, SwitchesOpenTheTwoNewestLogsAndCompareOnceBothAreOpen) {
  const struct {
    const char* what;
    std::vector<int> logs;
    std::string switches;
    int comparisons;
    int before;
    int after;
  } cases[] = {
      {"F1 then F2", {1, 2}, "F1 F2", 1, 1, 2},
      {"F2 then F1", {1, 2}, "F2 F1", 1, 1, 2},
      {"F1 twice", {1, 2}, "F1 F1", 1, 1, 2},
      {"compare with three logs", {1, 2, 3}, "compare", 1, 2, 3},
      {"F1, F2 and F1 again", {1, 2}, "F1 F2 F1", 2, 1, 2},
      {"compare twice", {1, 2}, "compare compare", 2, 1, 2},
      {"F1 then compare", {1, 2, 3}, "F1 compare", 1, 2, 3},
      {"log 0 counts: logs 0, 2 and 3 compare 2 with 3", {0, 2, 3}, "compare", 1, 2, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_.path());
    fs::create_directory(root_.path());
    addLogs(c.logs);
    setCompareStage(0);
    std::string out = capture(c.switches);
    EXPECT_EQ(comparisons(out), c.comparisons) << out;
    EXPECT_EQ(compareStage(), 2);
    EXPECT_EQ(compareLogStream(1), nullptr);
    EXPECT_EQ(compareLogStream(2), nullptr);
    EXPECT_EQ(report(), reportOf(c.before, c.after));
  }
}

TEST_F(CompareStagesTest, F1AloneOpensTheBeforeLogAndComparesNothing) {
  addLogs({1, 2});
  writeFile(root_.path() / "report.txt", "earlier");
  EXPECT_EQ(capture("F1"), "");
  EXPECT_EQ(compareStage(), 1);
  EXPECT_NE(compareLogStream(1), nullptr);
  EXPECT_EQ(compareLogStream(2), nullptr);
  EXPECT_EQ(report(), "earlier");
}

TEST_F(CompareStagesTest, ALogWrittenBetweenTwoSwitchesIsSeenByTheSecond) {
  addLogs({1, 2, 3});
  capture("F1");  // the before log is log 2
  addLogs({4});   // as a scan would
  capture("F2");  // the after log is now log 4
  EXPECT_EQ(report(), reportOf(2, 4));
}

TEST_F(CompareStagesTest, OpeningTakesTheNamesTheCountGives) {
  // With no log the before log is numbered -1.
  writeFile(root_.path() / "dirlog-1.txt", "");
  EXPECT_EQ(openCompareLog(1), 1);
  // One log: the after log is log 1, whatever number the one log has.
  addLogs({6});
  EXPECT_EQ(openCompareLog(2), 0);
  addLogs({1});
  EXPECT_EQ(openCompareLog(1), 1);  // log 1
  EXPECT_EQ(openCompareLog(2), 0);  // log 2, missing
  // A directory counts as a log but does not open as one; the stream the
  // role held before is released all the same.
  fs::create_directory(log(2));
  EXPECT_EQ(openCompareLog(1), 0);
  EXPECT_EQ(compareLogStream(1), nullptr);
}

void stdoutToStderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

TEST_F(CompareStagesTest, MissingOrUnreadableLogsEndTheRun) {
  const struct {
    const char* what;
    std::vector<int> logs;
    int directoryLog;  // a directory of that log name, -2 for none
    const char* switches;
    const char* message;
  } cases[] = {
      {"no log at all, /compare", {}, -2, "compare", "coud not open log file #1 before"},
      {"no log at all, /F1", {}, -2, "F1", "coud not open log file #1 before"},
      {"no log at all, /F2", {}, -2, "F2", "coud not open log file #1 before"},
      {"one log, whatever its number", {5}, -2, "compare", "only one log file"},
      {"one log, /F2", {1}, -2, "F2", "only one log file"},
      {"logs 2 and 3: log 1 is missing", {2, 3}, -2, "compare", "coud not open log file #1 before"},
      {"logs 1 and 3: log 2 is missing", {1, 3}, -2, "compare", "coud not open log file #2 after"},
      {"logs 0, 1 and 2: log 3 is missing",
       {0, 1, 2},
       -2,
       "compare",
       "coud not open log file #2 after"},
      {"a directory as the before log", {2}, 1, "compare", "coud not open log file #1 before"},
      {"a directory as the after log", {1}, 2, "F1 F2", "coud not open log file #2 after"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_.path());
    fs::create_directory(root_.path());
    addLogs(c.logs);
    if (c.directoryLog != -2) fs::create_directory(log(c.directoryLog));
    setCompareStage(0);
    EXPECT_EXIT(
        {
          stdoutToStderr();
          runSwitches(c.switches);
        },
        testing::ExitedWithCode(1), std::string("Error: ") + c.message + "\r?\n");
  }
}

}  // namespace
