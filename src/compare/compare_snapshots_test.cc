#include "compare/compare_snapshots.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compare/log_reader.h"
#include "compare_test_support.h"
#include "literal_comparison.h"
#include "platform/directory_search.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::TextReadRules kBytesAsTheyAre{false, false};
constexpr platform::TextReadRules kTextMode{true, true};
// CR LF read as LF without the 0x1A rule: a log still mapped.
constexpr platform::TextReadRules kCrLfOnly{true, false};

// A log folder of its own for every test, with the logs beside it.
class CompareTest : public testing::Test {
 protected:
  fs::path logFile(const char* name) const { return files_.path() / name; }
  fs::path reportFile() const { return root_.path() / "report.txt"; }

  Outcome fast(const std::string& before, const std::string& after,
               platform::TextReadRules rules = kBytesAsTheyAre, size_t block = 0) {
    writeFile(logFile("before"), before);
    writeFile(logFile("after"), after);
    fs::remove(reportFile());
    useLogReadRules(&rules);
    useCompareBlockSize(block);
    FILE* beforeLog = std::fopen(logFile("before").string().c_str(), "rb");
    FILE* afterLog = std::fopen(logFile("after").string().c_str(), "rb");
    StdoutCapture capture(logFile("out"));
    compareSnapshotStreams(beforeLog, afterLog);
    Outcome outcome{capture.finish(), readFile(reportFile())};
    std::fclose(beforeLog);
    std::fclose(afterLog);
    useLogReadRules(nullptr);
    useCompareBlockSize(0);
    return outcome;
  }

  // The two-pass comparison, given what a text stream delivers.
  Outcome literal(const std::string& before, const std::string& after,
                  platform::TextReadRules rules = kBytesAsTheyAre) {
    writeFile(logFile("before"), rules.crLfReadsAsLf ? textModeView(before) : before);
    writeFile(logFile("after"), rules.crLfReadsAsLf ? textModeView(after) : after);
    fs::remove(reportFile());
    // The files hold what the stream is to deliver already.
    FILE* beforeLog = std::fopen(logFile("before").string().c_str(), "rb");
    FILE* afterLog = std::fopen(logFile("after").string().c_str(), "rb");
    StdoutCapture capture(logFile("out"));
    literalCompareSnapshots(beforeLog, afterLog);
    Outcome outcome{capture.finish(), readFile(reportFile())};
    std::fclose(beforeLog);
    std::fclose(afterLog);
    return outcome;
  }

  ScopedTempDir root_;
  ScopedTempDir files_;
  ScopedLogRoot logRoot_{root_.str()};
};

// Paths are written with '/' and recorded with the platform's separator.
std::string line(const char* tag, const std::string& path, const std::string& numbers,
                 const char* shortName = "") {
  std::string name = path.substr(path.rfind('/') + 1);
  return std::string(tag) + "," + nativePath(path) + "," + name + "," + shortName + "," + numbers +
         "\n";
}
const char* const kFile = "---FILE---";
const char* const kDirectory = "-DIRECTORY";
const std::string kTotals = "FILEs - 1, DIRECTORIEs - 1\n";

// Each report line as its label and path.
std::vector<std::string> findings(const std::string& report) {
  std::vector<std::string> result;
  for (const std::string& text : splitLines(report)) {
    size_t path = text.find(", PATH-") + 7;
    std::string recorded = text.substr(path, text.find(", NAME-") - path);
    std::replace(recorded.begin(), recorded.end(), platform::separator(), '/');
    result.push_back(text.substr(0, 8) + " " + recorded);
  }
  return result;
}

TEST_F(CompareTest, ReportsEachKindOfChange) {
  const std::string n = "32,0,10,0,0,1,2,3,4,5,6";
  const std::string changed = "32,0,11,0,0,1,2,3,4,5,6";
  const std::string accessed = "32,0,10,0,0,1,2,3,5,5,6";
  const std::string dir = "16,0,0,0,0,1,2,3,4,5,6";
  const struct {
    const char* what;
    std::string before;
    std::string after;
    std::vector<std::string> findings;
  } cases[] = {
      {"the same entries and values",
       line(kFile, "/w/a", n) + kTotals,
       line(kFile, "/w/a", n) + kTotals,
       {}},
      {"no record line before: all created",
       kTotals,
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n),
       {"CREATED  /w/a", "CREATED  /w/b"}},
      {"no record line after: all deleted",
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n),
       kTotals,
       {"DELETED  /w/a", "DELETED  /w/b"}},
      {"a change of the last-access time only",
       line(kFile, "/w/a", n),
       line(kFile, "/w/a", accessed),
       {"MODIFIED /w/a"}},
      {"a change of the short name only",
       line(kFile, "/w/a", n, "A~1"),
       line(kFile, "/w/a", n),
       {}},
      {"a rename, and a change of letter case",
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n),
       line(kFile, "/w/c", n) + line(kFile, "/w/B", n),
       {"DELETED  /w/a", "DELETED  /w/b", "CREATED  /w/c", "CREATED  /w/B"}},
      {"a file replaced by a directory",
       line(kFile, "/w/a", n),
       line(kDirectory, "/w/a", dir),
       {"MODIFIED /w/a"}},
      {"a path twice after, both different: two findings",
       line(kFile, "/w/a", n),
       line(kFile, "/w/a", changed) + line(kFile, "/w/a", accessed),
       {"MODIFIED /w/a", "MODIFIED /w/a"}},
      {"a path twice after, one of them equal",
       line(kFile, "/w/a", n),
       line(kFile, "/w/a", n) + line(kFile, "/w/a", changed),
       {"MODIFIED /w/a"}},
      {"a path twice before",
       line(kFile, "/w/a", n) + line(kFile, "/w/a", changed),
       line(kFile, "/w/a", changed),
       {"MODIFIED /w/a"}},
      {"a file with a comma in its name, changed",
       line(kFile, "/w/a,b.txt", n),
       line(kFile, "/w/a,b.txt", changed),
       {"MODIFIED /w/a,b.txt"}},
      {"a record line cut at the end of the before log is none",
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n).substr(0, 30),
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n),
       {"CREATED  /w/b"}},
      {"nor at the end of the after log, its write time cut short",
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n + "7"),
       line(kFile, "/w/a", n) + line(kFile, "/w/b", n + "7").substr(0, 42),
       {"DELETED  /w/b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome outcome = fast(c.before, c.after);
    EXPECT_EQ(findings(platformText(outcome.report)), c.findings);
    EXPECT_EQ(outcome, literal(c.before, c.after));
  }
}

TEST_F(CompareTest, ProgressNumbersTheRecordLinesOfEachLogInTurn) {
  const std::string n = "32,0,10,0,0,1,2,3,4,5,6";
  std::string before = "header\n" + line(kFile, "/w/a", n) + line(kFile, "/w/b", n) + "\n" +
                       line(kFile, "/w/c", n) + kTotals;
  std::string after = line(kFile, "/w/a", n) + kTotals + line(kFile, "/w/c", n);
  EXPECT_EQ(platformText(fast(before, after).out),
            "PASSES - 1\nPASSES - 2\nPASSES - 3\nPASSES - 1\nPASSES - 2\n");
  // A log cut inside a record line says so once its own pass is through.
  EXPECT_EQ(platformText(fast(before + "-DIR", after + "-DIR").out),
            "PASSES - 1\nPASSES - 2\nPASSES - 3\n"
            "Error: log file #1 before ends in a cut line, not compared\n"
            "PASSES - 1\nPASSES - 2\n"
            "Error: log file #2 after ends in a cut line, not compared\n");
}

TEST_F(CompareTest, ReportLinesShowTheBeforeValuesInTheirFormat) {
  std::string before = line(kFile, "/w/a.txt", "32,0,1234,0,0,1,2,3,4,5,6") +
                       // The directory bit decides the format, not the tag.
                       line(kFile, "/w/d", "-2147483632,0,0,7,8,1,2,3,4,5,6", "D~1");
  std::string after = line(kFile, "/w/a.txt", "32,0,1235,0,0,1,2,3,4,5,6");
  EXPECT_EQ(platformText(fast(before, after).report),
            nativePath("MODIFIED: ,---FILE---, PATH-/w/a.txt, NAME-a.txt, MSDOS-, ATTRIB-32, "
                       "FILE_SIZE_HIGH-0, FILE_SIZE_LOW-1234, RESERVED0-0, RESERVED1-0, "
                       "CREATION_TIME_HIGH-1, CREATION_TIME_LOW-2, LAST_ACCESS_TIME_HIGH3, "
                       "LAST_ACCESS_TIME_LOW-4, LAST_WRITE_TIME_HIGH-5, LAST_WRITE_TIME_LOW-6\n"
                       "DELETED : ,-DIRECTORY, PATH-/w/d, NAME-d, MSDOS-D~1, ATTRIB-2147483664, "
                       "FILE_SIZE_HIGH-0, FILE_SIZE_LOW-0, RESERVED0-7, RESERVED1-8, "
                       "CREATION_TIME_HIGH-1, CREATION_TIME_LOW-2, LAST_ACCESS_TIME_HIGH3, "
                       "LAST_ACCESS_TIME_LOW-4, LAST_WRITE_TIME_HIGH-5, LAST_WRITE_TIME_LOW-6\n"));
}

TEST(CompareRecordsTest, EveryNumericFieldCountsAndNoTextOtherThanThePath) {
  const struct {
    const char* what;
    void (*change)(EntryRecord&);
    int result;
  } cases[] = {
      {"nothing", [](EntryRecord&) {}, 0},
      {"path", [](EntryRecord& r) { r.path[0] = 'X'; }, -1},
      {"name", [](EntryRecord& r) { r.name[0] = 'X'; }, 0},
      {"short name", [](EntryRecord& r) { r.shortName[0] = 'X'; }, 0},
      {"attributes", [](EntryRecord& r) { r.attributes ^= 1; }, 1},
      {"sizeHigh", [](EntryRecord& r) { r.sizeHigh ^= 1; }, 1},
      {"sizeLow", [](EntryRecord& r) { r.sizeLow ^= 1; }, 1},
      {"reserved0", [](EntryRecord& r) { r.reserved0 ^= 1; }, 1},
      {"reserved1", [](EntryRecord& r) { r.reserved1 ^= 1; }, 1},
      {"creationLow", [](EntryRecord& r) { r.creationLow ^= 1; }, 1},
      {"creationHigh", [](EntryRecord& r) { r.creationHigh ^= 1; }, 1},
      {"lastAccessLow", [](EntryRecord& r) { r.lastAccessLow ^= 1; }, 1},
      {"lastAccessHigh", [](EntryRecord& r) { r.lastAccessHigh ^= 1; }, 1},
      {"lastWriteLow", [](EntryRecord& r) { r.lastWriteLow ^= 1; }, 1},
      {"lastWriteHigh", [](EntryRecord& r) { r.lastWriteHigh ^= 1; }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EntryRecord base{};
    std::strcpy(base.path, "/w/a");
    std::strcpy(base.name, "a");
    std::strcpy(base.shortName, "A");
    recordA() = base;
    recordB() = base;
    c.change(recordB());
    EXPECT_EQ(compareRecords(), c.result);
    EXPECT_EQ(samePath(), c.result == -1 ? 0 : 1);
  }
}

// The heart of it: whatever the logs hold, the report and the progress lines
// are those of the two-pass comparison.
TEST_F(CompareTest, AgreesWithTheTwoPassComparisonOnRandomLogs) {
  std::mt19937 random(1207);
  for (int round = 0; round < 160; ++round) {
    LogShape shape;
    shape.crLf = round % 4 >= 2;
    shape.ctrlZ = round % 4 == 3;
    shape.shuffled = round % 5 == 0;
    LogPair logs = randomLogPair(random, shape);
    size_t block = round % 2 == 0 ? 4096 : 0;
    // Logs without a 0x1A byte also go through the CR LF rule alone.
    platform::TextReadRules textRules = round % 4 == 2 ? kCrLfOnly : kTextMode;
    for (platform::TextReadRules rules : {kBytesAsTheyAre, textRules}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", text mode " +
                   std::to_string(rules.crLfReadsAsLf));
      ASSERT_EQ(fast(logs.before, logs.after, rules, block),
                literal(logs.before, logs.after, rules));
    }
  }
}

TEST_F(CompareTest, AgreesWithTheTwoPassComparisonOnLogsLargerThanABlock) {
  std::mt19937 random(99);
  for (bool shuffled : {false, true}) {
    LogShape shape;
    shape.maxEntries = 300;
    shape.shuffled = shuffled;
    LogPair logs = randomLogPair(random, shape);
    ASSERT_GT(logs.after.size(), 3 * 4096u);
    for (platform::TextReadRules rules : {kBytesAsTheyAre, kTextMode}) {
      ASSERT_EQ(fast(logs.before, logs.after, rules, 4096), literal(logs.before, logs.after, rules))
          << "shuffled " << shuffled;
    }
  }
}

TEST_F(CompareTest, EveryTruncationOfALogComparesAsTheTwoPassComparisonDoes) {
  const std::string n = "32,0,10,0,0,1,2,3,4,5,6";
  std::string full = line(kFile, "/w/a", n) + line(kDirectory, "/w/x,y", "16,0,0,0,0,1,2,3,4,5,6") +
                     "-DIRECTORY,/w/x,y/p,q,p,q,,16,0,0,0,0,1,2,3,4,5,6\r\n" + "\n" +
                     line(kFile, "/w/b", "32,0,11,0,0,1,2,3,4,5,6") + "-\x1A\n" + kTotals;
  for (size_t length = 0; length <= full.size(); ++length) {
    std::string cut = full.substr(0, length);
    for (platform::TextReadRules rules : {kBytesAsTheyAre, kTextMode}) {
      SCOPED_TRACE("length " + std::to_string(length));
      ASSERT_EQ(fast(cut, full, rules), literal(cut, full, rules));
      ASSERT_EQ(fast(full, cut, rules), literal(full, cut, rules));
    }
  }
}

// Fatal ends. Messages go to standard output, which a death test does not
// see, so the dying side sends it to standard error.
void stdoutToStderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

TEST_F(CompareTest, AReportThatCannotBeCreatedEndsTheRun) {
  writeFile(logFile("before"), kTotals);
  writeFile(logFile("after"), kTotals);
  ScopedLogRoot missing((files_.path() / "missing").string());
  EXPECT_EXIT(
      {
        stdoutToStderr();
        compareSnapshotStreams(std::fopen(logFile("before").string().c_str(), "rb"),
                               std::fopen(logFile("after").string().c_str(), "rb"));
      },
      testing::ExitedWithCode(1), "^Error: Cannot open report file\r?\n$");
}

}  // namespace
