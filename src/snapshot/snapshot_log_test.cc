#include "snapshot/snapshot_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "platform/output_files.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

class SnapshotLogTest : public testing::Test {
 protected:
  SnapshotLogTest() : root_(logs_.str()) {}

  fs::path log(int number) const {
    return logs_.path() / ("dirlog" + std::to_string(number) + ".txt");
  }

  std::set<int> existingLogs() const {
    std::set<int> numbers;
    for (int n = 0; n <= 9; ++n) {
      std::error_code error;
      if (fs::symlink_status(log(n), error).type() != fs::file_type::not_found) numbers.insert(n);
    }
    return numbers;
  }

  ScopedTempDir logs_;
  ScopedLogRoot root_;
};

platform::FindData entryNamed(const char* name, uint32_t attributes) {
  platform::FindData entry;
  std::memset(&entry, 0, sizeof entry);
  std::strncpy(entry.cFileName, name, sizeof entry.cFileName - 1);
  entry.dwFileAttributes = attributes;
  return entry;
}

TEST_F(SnapshotLogTest, NamesAreTheLogFolderDirlogNumberTxt) {
  EXPECT_EQ(snapshotLogName(3), (logs_.path() / "dirlog3.txt").string());
  EXPECT_EQ(snapshotLogName(-1), (logs_.path() / "dirlog-1.txt").string());
}

// The new log's number is one more than the count of existing names, gaps or
// not; the ninth scan deletes all ten names and starts again at 1.
TEST_F(SnapshotLogTest, NextNumberAndPurgeFollowTheCountOfExistingLogs) {
  struct Case {
    std::set<int> present;
    int written;
    std::set<int> after;
  };
  const std::vector<Case> cases = {
      {{}, 1, {1}},
      {{1, 2, 3, 4, 5, 6, 7}, 8, {1, 2, 3, 4, 5, 6, 7, 8}},
      {{1, 2, 3, 4, 5, 6, 7, 8}, 1, {1}},
      {{2, 3}, 3, {2, 3}},
      {{0, 9}, 3, {0, 3, 9}},
      {{0, 1, 2, 3, 4, 5, 6, 9}, 1, {1}},
  };
  for (const Case& c : cases) {
    for (int n = 0; n <= 9; ++n) fs::remove(log(n));
    for (int n : c.present) writeFile(log(n), "old " + std::to_string(n) + "\n");
    openNewSnapshotLog();
    writeTotalsLine();
    ASSERT_EQ(closeSnapshotLog(), 1);
    EXPECT_EQ(existingLogs(), c.after);
    EXPECT_EQ(readFile(log(c.written)).rfind("FILEs - ", 0), 0u) << "log " << c.written;
  }
}

TEST_F(SnapshotLogTest, DirectoriesAndDanglingLinksNamedLikeLogsCountButAreNeverDeleted) {
  fs::create_directory(log(4));
  std::error_code noLinks;
  fs::create_symlink(logs_.path() / "nowhere", log(5), noLinks);
  // Where no link can be made, a file in its place keeps the count the same.
  if (noLinks) writeFile(log(5), "");
  EXPECT_EQ(countSnapshotLogs(), 2);
  for (int n : {1, 2, 3, 6, 7, 8}) writeFile(log(n), "");
  openNewSnapshotLog();  // eight exist: purge
  ASSERT_EQ(closeSnapshotLog(), 1);
  EXPECT_EQ(existingLogs(), (std::set<int>{1, 4}));
  EXPECT_TRUE(fs::is_directory(log(4)));
}

// The system's search, with `hook` run once the count has probed the last
// log name: another scan acting between the count and the opening.
class InterleavingSearch : public platform::DirectorySearch {
 public:
  explicit InterleavingSearch(std::function<void()> hook)
      : system_(platform::directorySearch()), hook_(std::move(hook)) {
    platform::useDirectorySearch(this);
  }
  ~InterleavingSearch() override { platform::useDirectorySearch(nullptr); }

  std::unique_ptr<platform::Search> findFirst(const std::string& pattern,
                                              platform::FindData& entry) override {
    std::unique_ptr<platform::Search> search = system_.findFirst(pattern, entry);
    if (hook_ && pattern == snapshotLogName(9)) std::exchange(hook_, nullptr)();
    return search;
  }
  bool deleteFile(const std::string& path) override { return system_.deleteFile(path); }
  int compareNames(const char* a, const char* b) const override {
    return system_.compareNames(a, b);
  }

 private:
  platform::DirectorySearch& system_;
  std::function<void()> hook_;
};

// Another scan holds its log as a scan does, from before this scan counts
// or from between its count and its opening: that log keeps what the other
// scan wrote, and this scan writes a log of its own.
TEST_F(SnapshotLogTest, AnotherScanAtWorkKeepsItsLog) {
  struct Case {
    const char* what;
    std::set<int> present;
    int heldFirst;    // held before the count (0: none)
    int heldBetween;  // held between the count and the opening (0: none)
    int written;
    std::set<int> after;
  };
  const std::vector<Case> cases = {
      {"the counted number taken between", {1, 2}, 0, 3, 4, {1, 2, 3, 4}},
      {"the eighth log still being written at the purge", {1, 2, 3, 4, 5, 6, 7}, 8, 0, 1, {1, 8}},
      {"the first log taken again between the count and the purge",
       {1, 2, 3, 4, 5, 6, 7, 8},
       0,
       1,
       2,
       {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int n = 0; n <= 9; ++n) fs::remove(log(n));
    for (int n : c.present) writeFile(log(n), "old\n");
    FILE* other = nullptr;
    auto holdLog = [&](int number) {
      platform::LogOpening opening;
      other = platform::openLogForWriting(snapshotLogName(number), opening);
      ASSERT_EQ(opening, platform::LogOpening::kOpened);
      std::fputs("other scan\n", other);
    };
    if (c.heldFirst != 0) holdLog(c.heldFirst);
    {
      InterleavingSearch search([&] {
        if (c.heldBetween != 0) holdLog(c.heldBetween);
      });
      openNewSnapshotLog();
    }
    writeTotalsLine();
    ASSERT_EQ(closeSnapshotLog(), 1);
    std::fclose(other);
    EXPECT_EQ(existingLogs(), c.after);
    EXPECT_EQ(readFile(log(c.written)).rfind("FILEs - ", 0), 0u) << "log " << c.written;
    EXPECT_EQ(readTextFile(log(std::max(c.heldFirst, c.heldBetween))), "other scan\n");
  }
}

// With logs 2 and 3 the count gives 3 however often it is taken: when
// another scan writes log 3, this one cannot have a log.
TEST_F(SnapshotLogTest, ALogInUseThatTheCountGivesAgainEndsTheRun) {
  writeFile(log(2), "");
  platform::LogOpening opening;
  FILE* other = platform::openLogForWriting(snapshotLogName(3), opening);
  ASSERT_EQ(opening, platform::LogOpening::kOpened);
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        openNewSnapshotLog();
      },
      testing::ExitedWithCode(1),
      "^Error: log file is being written by another scan: .*dirlog3\\.txt\n"
      "Error: cannot open log file for writing\n\n$");
  std::fclose(other);
}

TEST_F(SnapshotLogTest, UncreatableLogEndsTheRun) {
  ScopedLogRoot missing((logs_.path() / "no" / "such").string() + "/");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        openNewSnapshotLog();
      },
      testing::ExitedWithCode(1), "^Error: cannot open log file for writing\n\n$");
}

std::string writeOne(const std::string& directory, const platform::FindData& entry) {
  openNewSnapshotLog();
  EXPECT_EQ(writeEntryLine(directory.c_str(), entry), 1);
  EXPECT_EQ(closeSnapshotLog(), 1);
  return readTextFile(snapshotLogName(countSnapshotLogs()));
}

TEST_F(SnapshotLogTest, RecordLineHoldsFifteenFieldsWithTimesHighWordFirst) {
  platform::FindData entry = entryNamed("a.txt", 32);
  entry.nFileSizeLow = 1234;
  entry.dwReserved0 = 33188;
  entry.dwReserved1 = 1000;
  entry.ftCreationTime = {1, 2};
  entry.ftLastAccessTime = {3, 4};
  entry.ftLastWriteTime = {4294967295u, 2147483648u};
  std::string sep(1, platform::separator());
  EXPECT_EQ(writeOne("c:" + sep + "work", entry),
            "---FILE---,c:" + sep + "work" + sep +
                "a.txt,a.txt,,32,0,1234,33188,1000,2,1,4,3,2147483648,4294967295\n");
}

TEST_F(SnapshotLogTest, TagFollowsTheDirectoryBitAndAttributesAreSigned) {
  struct Case {
    uint32_t attributes;
    const char* start;
  };
  for (Case c : {Case{0x10, "-DIRECTORY,d/n,n,,16,"}, Case{0x411, "-DIRECTORY,d/n,n,,1041,"},
                 Case{0x400, "---FILE---,d/n,n,,1024,"},
                 Case{0x80000020u, "---FILE---,d/n,n,,-2147483616,"}}) {
    std::string line = writeOne("d", entryNamed("n", c.attributes));
    std::string expected = c.start;
    std::replace(expected.begin(), expected.end(), '/', platform::separator());
    EXPECT_EQ(line.substr(0, expected.size()), expected);
  }
}

// A control character would break or forge a line; bytes from 0x80 up are
// names in UTF-8 and stay; commas stay as they are.
TEST_F(SnapshotLogTest, ControlCharactersAreWrittenAsQuestionMarks) {
  platform::FindData entry = entryNamed("a\nb\x01\x7f,\xc3\xa9", 32);
  std::strcpy(entry.cAlternateFileName, "S\tN");
  std::string line = writeOne("d\r", entry);
  std::string sep(1, platform::separator());
  EXPECT_EQ(line.substr(0, line.find(",32,")),
            "---FILE---,d?" + sep + "a?b??,\xc3\xa9,a?b??,\xc3\xa9,S?N");
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

TEST_F(SnapshotLogTest, PathLongerThan255IsRefusedWithAMessage) {
  std::string directory(250, 'd');
  openNewSnapshotLog();
  testing::internal::CaptureStdout();
  EXPECT_EQ(writeEntryLine(directory.c_str(), entryNamed("1234", 32)), 1);   // 255
  EXPECT_EQ(writeEntryLine(directory.c_str(), entryNamed("12345", 32)), 0);  // 256
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(closeSnapshotLog(), 1);
  std::string sep(1, platform::separator());
  EXPECT_EQ(out, "Error: path too long, not recorded: " + directory + sep + "12345\n");
  EXPECT_EQ(splitLines(readFile(snapshotLogName(countSnapshotLogs()))).size(), 1u);
}

// A disk that fills up in the middle of a line (a file size limit here):
// the close fails, and the log keeps the lines written whole before.
TEST_F(SnapshotLogTest, AFailedWriteLeavesWholeLinesAndFailsTheClose) {
#ifdef _WIN32
  GTEST_SKIP() << "no file size limit here";
#else
  auto fillUpAt = [](rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        fillUpAt(100);  // a line and a half
        openNewSnapshotLog();
        for (const char* name : {"first-entry", "second-entry", "third-entry"}) {
          writeEntryLine("/a/folder/of/some/length", entryNamed(name, 32));
        }
        writeTotalsLine();
        std::exit(closeSnapshotLog() == 0 ? 0 : 3);
      },
      testing::ExitedWithCode(0), "^Error: Log file could not be closed\n$");
  std::vector<std::string> lines = splitLines(readFile(log(1)));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(readFile(log(1)), lines[0] + "\n");
  EXPECT_EQ(lines[0].rfind("---FILE---,/a/folder/of/some/length/first-entry,", 0), 0u);
#endif
}

}  // namespace
