// What only a POSIX system can show: logs that are pipes, and a report that
// cannot grow past a file size limit, as on a full disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "compare/compare_snapshots.h"
#include "compare/log_reader.h"
#include "compare_test_support.h"
#include "literal_comparison.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::TextReadRules kBytesAsTheyAre{false, false};

const char* const kFile = "---FILE---";
const std::string kTotals = "FILEs - 1, DIRECTORIEs - 1\n";

std::string line(const char* tag, const std::string& path, const std::string& numbers) {
  std::string name = path.substr(path.rfind('/') + 1);
  return std::string(tag) + "," + path + "," + name + ",," + numbers + "\n";
}

// A log folder of its own for every test, with the logs beside it.
class CompareOnPosixTest : public testing::Test {
 protected:
  fs::path logFile(const char* name) const { return files_.path() / name; }
  fs::path reportFile() const { return root_.path() / "report.txt"; }

  ScopedTempDir root_;
  ScopedTempDir files_;
  ScopedLogRoot logRoot_{root_.str()};
};

// A death test does not see standard output, so the dying side sends it to
// standard error.
void stdoutToStderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

TEST_F(CompareOnPosixTest, AReportThatCannotBeWrittenCompletelyEndsTheRun) {
  const std::string n = "32,0,10,0,0,1,2,3,4,5,6";
  writeFile(logFile("before"), line(kFile, "/w/a", n));
  writeFile(logFile("after"), line(kFile, "/w/b", n));
  auto fillUp = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  EXPECT_EXIT(
      {
        stdoutToStderr();
        fillUp();
        compareSnapshotStreams(std::fopen(logFile("before").string().c_str(), "rb"),
                               std::fopen(logFile("after").string().c_str(), "rb"));
      },
      testing::ExitedWithCode(1), "^PASSES - 1\nError: Cannot write report file\n$");
  // An empty report loses nothing.
  writeFile(logFile("after"), line(kFile, "/w/a", n));
  EXPECT_EXIT(
      {
        stdoutToStderr();
        fillUp();
        compareSnapshotStreams(std::fopen(logFile("before").string().c_str(), "rb"),
                               std::fopen(logFile("after").string().c_str(), "rb"));
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^PASSES - 1\nPASSES - 1\n$");
}

// A stream over `content` that cannot seek.
FILE* pipeOf(const std::string& content, const char* mode) {
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  // Small enough for the pipe to hold it all.
  if (write(ends[1], content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    std::abort();
  }
  close(ends[1]);
  return fdopen(ends[0], mode);
}

FILE* fileOf(const fs::path& path, const std::string& content, const char* mode) {
  writeFile(path, content);
  return std::fopen(path.string().c_str(), mode);
}

// A log that cannot be rewound ends the run where the two-pass comparison
// first rewinds it, with the same findings written before that.
TEST_F(CompareOnPosixTest, ALogThatCannotBeRewoundEndsTheRunWhereTheTwoPassComparisonDoes) {
  const std::string n = "32,0,10,0,0,1,2,3,4,5,6";
  std::string two = line(kFile, "/w/a", n) + line(kFile, "/w/b", n);
  std::string changed = line(kFile, "/w/b", "32,0,11,0,0,1,2,3,4,5,6") + line(kFile, "/w/a", n) +
                        line(kFile, "/w/c", n) + line(kFile, "/w/b", "32,0,12,0,0,1,2,3,4,5,6");
  const struct {
    const char* what;
    std::string before;
    std::string after;
    bool beforeIsPipe;
  } cases[] = {
      {"after log a pipe", changed, two, false},
      {"after log a pipe, first entry changed twice", two, changed, false},
      {"after log a pipe, no entry before", kTotals, changed, false},
      {"before log a pipe", two, changed, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome outcomes[2];
    for (int fastOne = 0; fastOne < 2; ++fastOne) {
      fs::remove(reportFile());
      EXPECT_EXIT(
          {
            std::freopen(logFile("out").string().c_str(), "w", stdout);
            const char* mode = fastOne ? "rb" : "r";
            FILE* before =
                c.beforeIsPipe ? pipeOf(c.before, mode) : fileOf(logFile("before"), c.before, mode);
            FILE* after =
                c.beforeIsPipe ? fileOf(logFile("after"), c.after, mode) : pipeOf(c.after, mode);
            if (fastOne) {
              compareSnapshotStreams(before, after);
            } else {
              literalCompareSnapshots(before, after);
            }
            std::exit(0);
          },
          testing::ExitedWithCode(1), "");
      outcomes[fastOne] = {readFile(logFile("out")), readFile(reportFile())};
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
    EXPECT_NE(outcomes[1].out.find("Error: canot set pos\n\n"), std::string::npos);
  }
}

class LogReaderOnPosixTest : public testing::Test {
 protected:
  std::filesystem::path file(const char* name) const { return folder_.path() / name; }
  ScopedTempDir folder_;
};

// The pieces that line reads with room for 998 characters give from `file`
// holding `content`.
std::vector<std::string> readsOf(const std::filesystem::path& file, const std::string& content) {
  writeFile(file, content);
  std::vector<std::string> pieces;
  FILE* stream = std::fopen(file.string().c_str(), "rb");
  char text[1000];
  while (std::fgets(text, 999, stream) != nullptr) pieces.emplace_back(text);
  std::fclose(stream);
  return pieces;
}

TEST_F(LogReaderOnPosixTest, AReaderThatDoesNotRepositionReadsAPipe) {
  std::mt19937 random(3);
  LogShape shape;
  std::string content = randomLogPair(random, shape).before + std::string(70000, 'z');
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* readEnd = fdopen(ends[0], "rb");
  pid_t writer = fork();
  if (writer == 0) {
    close(ends[0]);
    size_t done = 0;
    while (done < content.size()) {
      ssize_t wrote = write(ends[1], content.data() + done, content.size() - done);
      if (wrote <= 0) _exit(1);
      done += static_cast<size_t>(wrote);
    }
    _exit(0);
  }
  close(ends[1]);
  LogReader reader(readEnd, kBytesAsTheyAre, 4096, false);
  std::vector<std::string> texts;
  LinePiece piece;
  while (reader.next(piece)) texts.emplace_back(piece.text, piece.length);
  // The z's end the data without a line break: held back as cut.
  ASSERT_NE(reader.cutLine(), nullptr);
  texts.emplace_back(reader.cutLine()->text, reader.cutLine()->length);
  std::fclose(readEnd);
  waitpid(writer, nullptr, 0);
  EXPECT_EQ(texts, readsOf(file("view"), content));
}

}  // namespace
