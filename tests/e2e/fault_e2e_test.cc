// Faults around the program, end to end: a scan killed at random points, a
// disk that takes no more bytes, and logs that are no logs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

std::string progress(int before, int after) {
  std::string out;
  for (int i = 1; i <= before; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  for (int i = 1; i <= after; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  return out;
}

// How many record lines a log holds as the comparison reads it: pieces of
// at most 998 characters, each ended by its line break when one comes in
// time, that begin with '-'; a last piece without its line break is cut
// short and no record.
struct RecordPieces {
  int count = 0;
  bool cut = false;  // a last piece cut short began as a record line
};
RecordPieces recordPieces(const std::string& log) {
  RecordPieces pieces;
  for (size_t at = 0; at < log.size();) {
    size_t lineBreak = log.find('\n', at);
    size_t length = lineBreak == std::string::npos ? log.size() - at : lineBreak - at + 1;
    length = std::min<size_t>(length, 998);
    bool whole = lineBreak != std::string::npos || at + length < log.size();
    if (log[at] == '-' && whole) ++pieces.count;
    if (log[at] == '-' && !whole) pieces.cut = true;
    at += length;
  }
  return pieces;
}

// What a comparison of the two logs prints.
std::string comparisonOut(const std::string& before, const std::string& after) {
  RecordPieces b = recordPieces(before);
  RecordPieces a = recordPieces(after);
  std::string out = progress(b.count, 0);
  if (b.cut) out += "Error: log file #1 before ends in a cut line, not compared\n";
  out += progress(0, a.count);
  if (a.cut) out += "Error: log file #2 after ends in a cut line, not compared\n";
  return out;
}

// Every line of a report complete and of one of its three kinds.
void expectWellFormedReport(const std::string& report) {
  if (report.empty()) return;
  EXPECT_EQ(report.back(), '\n');
  for (const std::string& line : splitLines(report)) {
    bool labelled = line.rfind("MODIFIED: ,", 0) == 0 || line.rfind("DELETED : ,", 0) == 0 ||
                    line.rfind("CREATED : ,", 0) == 0;
    std::string tag = line.substr(11, 17);
    bool tagged = tag == "-DIRECTORY, PATH-" || tag == "---FILE---, PATH-";
    size_t last = line.rfind(", LAST_WRITE_TIME_LOW-");
    bool ended = last != std::string::npos && last + 22 < line.size() &&
                 line.find_first_not_of("0123456789", last + 22) == std::string::npos;
    EXPECT_TRUE(labelled && tagged && ended) << line;
  }
}

class FaultTest : public testing::Test {
 protected:
  fs::path tree() const { return work_.path() / "w"; }
  fs::path log(int number) const {
    return logs_.path() / ("dirlog" + std::to_string(number) + ".txt");
  }
  std::string report() const { return readFile(logs_.path() / "report.txt"); }
  RunResult run(const std::vector<std::string>& arguments) {
    return runDirlog(arguments, logs_.str());
  }
  void clearLogs() {
    for (const auto& entry : fs::directory_iterator(logs_.path())) fs::remove_all(entry.path());
  }

  ScopedTempDir work_;
  ScopedTempDir logs_;
};

// A scan stopped by a signal at a random point: the log it leaves is the
// complete log's beginning, cut after a whole line, and the comparison takes
// it as a log that lacks the rest. SIGKILL is the one exception: Linux copies
// a write into a file a page at a time and gives the rest up between two
// pages when the process is being killed, so a line that straddles a 4 KiB
// boundary of the log may be cut right at that boundary. The signals that a
// program can catch wait for the line to be whole.
TEST_F(FaultTest, AScanStoppedAtARandomPointLeavesOnlyWholeLines) {
  // 10 directories of 5 directories of 60 files: 3060 entries.
  for (int top = 0; top < 10; ++top) {
    for (int sub = 0; sub < 5; ++sub) {
      fs::path directory = tree() / ("t" + std::to_string(top)) / ("s" + std::to_string(sub));
      fs::create_directories(directory);
      for (int f = 0; f < 60; ++f) writeFile(directory / ("f" + std::to_string(f)), "data");
    }
  }
  const std::string folder = "/L" + tree().string();
  ASSERT_EQ(run({folder}).exitStatus, 0);
  const std::string full = readFile(log(1));
  std::vector<size_t> lineEnds;  // offset just past each record line
  for (size_t at = full.find('\n'); at != std::string::npos; at = full.find('\n', at + 1)) {
    lineEnds.push_back(at + 1);
  }
  lineEnds.pop_back();  // the totals line
  const int records = static_cast<int>(lineEnds.size());
  ASSERT_EQ(records, 3060);

  const struct {
    int signal;
    const char* name;
    int runs;
  } cases[] = {{SIGKILL, "SIGKILL", 12}, {SIGTERM, "SIGTERM", 12}, {SIGINT, "SIGINT", 6}};
  for (const auto& c : cases) {
    int stoppedMidScan = 0;
    int cutAtAPage = 0;
    std::vector<int> linesAtStop;
    for (int seed = 1; seed <= c.runs; ++seed) {
      SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
      clearLogs();
      // Stopped once the log holds a chosen number of lines, so that the
      // stops spread over the whole scan whatever the machine's speed.
      std::mt19937 random(static_cast<unsigned>(seed));
      int target = std::uniform_int_distribution<int>(0, records - 1)(random);
      size_t threshold = target == 0 ? 0 : lineEnds[target - 1];
      DirlogRun scan({folder}, logs_.str(), RunOptions{});
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      for (;;) {
        struct stat status;
        if (stat(log(1).c_str(), &status) == 0 &&
            static_cast<size_t>(status.st_size) >= threshold) {
          break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      kill(scan.pid(), c.signal);
      RunResult result = scan.wait();
      std::string cut = readFile(log(1));
      bool finished = result.exitStatus == 0;
      EXPECT_TRUE(finished || result.signal == c.signal);
      EXPECT_EQ(full.compare(0, cut.size(), cut), 0) << "not the complete log's beginning";
      bool whole = cut.empty() || cut.back() == '\n';
      if (!whole) {
        ++cutAtAPage;
        EXPECT_EQ(c.signal, SIGKILL) << "a line cut short by a signal that can wait";
        EXPECT_EQ(cut.size() % 4096, 0u) << "a line cut short away from a page boundary";
        cut.erase(cut.rfind('\n') + 1);
      }
      int written = 0;
      for (const std::string& line : splitLines(cut)) {
        if (line.rfind("FILEs - ", 0) == 0) continue;
        EXPECT_TRUE(isWellFormedRecordLine(line)) << line;
        ++written;
      }
      if (finished) {
        EXPECT_EQ(cut, full);
      }
      // A stop can also come after the last record line.
      if (written < records) ++stoppedMidScan;
      linesAtStop.push_back(written);

      // The whole lines as the before log, the complete log as the after
      // log: only what the stop kept from being written shows, as created.
      writeFile(log(1), cut);
      writeFile(log(2), full);
      RunResult compare = run({"/compare"});
      EXPECT_EQ(compare.exitStatus, 0);
      EXPECT_EQ(compare.out, progress(written, records));
      std::vector<std::string> findings = splitLines(report());
      EXPECT_EQ(findings.size(), static_cast<size_t>(records - written));
      for (const std::string& line : findings) {
        EXPECT_EQ(line.rfind("CREATED : ,", 0), 0u) << line;
      }
    }
    std::sort(linesAtStop.begin(), linesAtStop.end());
    std::string spread;
    for (int lines : linesAtStop) spread += " " + std::to_string(lines);
    std::cout << "[ stops    ] " << c.name << ": " << stoppedMidScan << " of " << c.runs
              << " mid-scan, " << cutAtAPage << " with a line cut at a page boundary;"
              << " record lines kept of " << records << ":" << spread << "\n";
    EXPECT_GE(stoppedMidScan, c.runs / 2)
        << c.name << ": too few stops landed inside the scan to tell anything";
  }
}

// A disk that takes no more bytes (here: no file may grow past a limit)
// never ends in success when something was lost, and a log cut short keeps
// its whole lines only.
TEST_F(FaultTest, AFullDiskNeverPassesForSuccess) {
  fs::create_directories(tree());
  for (const char* name : {"a", "b", "c"}) writeFile(tree() / name, "x");
  // Room for the scan's first line and part of its second.
  ASSERT_EQ(run({"/L" + tree().string()}).exitStatus, 0);
  const std::string whole = readFile(log(1));
  const std::string firstLine = whole.substr(0, whole.find('\n') + 1);
  const std::string n = ",32,0,1,33188,0,0,0,0,0,0,0\n";
  const std::string before = "---FILE---,/w/a,a," + n + "FILEs - 1, DIRECTORIEs - 0\n";
  const std::string after = "---FILE---,/w/b,b," + n + "FILEs - 1, DIRECTORIEs - 0\n";
  struct Case {
    const char* what;
    std::string before;
    std::string after;
    std::vector<std::string> arguments;
    uint64_t room;
    int exitStatus;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"the report, with findings to write",
       before,
       after,
       {"/compare"},
       100,
       1,
       "PASSES - 1\nError: Cannot write report file\n"},
      {"the report, with nothing to write: nothing is lost",
       before,
       before,
       {"/compare"},
       100,
       0,
       progress(1, 1)},
      {"the new log of a scan that a comparison follows",
       before,
       "",
       {"/L" + tree().string(), "/compare"},
       firstLine.size() + 10,
       1,
       "Error: Log file could not be closed\nError: cannot close log file\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearLogs();
    writeFile(log(1), c.before);
    if (!c.after.empty()) writeFile(log(2), c.after);
    RunOptions full;
    full.fileSizeLimit = c.room;
    RunResult result = runDirlog(c.arguments, logs_.str(), full);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.out, c.out);
  }
  // The scan's log: its first line, and nothing of the second.
  EXPECT_EQ(readFile(log(2)), firstLine);
}

// A comparison that runs out of memory (an after log of a million short
// records under a 16 MiB address space) says so and fails; it never aborts
// without a word, leaving an empty report that reads as "no change".
TEST_F(FaultTest, AComparisonOutOfMemoryEndsWithAFatalError) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  if (hasWrapper()) GTEST_SKIP() << "a wrapper needs more address space than the limit";
  RunOptions limited;
  limited.addressSpaceLimit = uint64_t{16} << 20;
  const std::string record = "---FILE---,/w/a,a,,32,0,1,0,0,0,0,0,0,0,0\n";
  writeFile(log(1), record + "FILEs - 1, DIRECTORIEs - 0\n");
  writeFile(log(2), record + "FILEs - 1, DIRECTORIEs - 0\n");
  RunResult room = runDirlog({"/compare"}, logs_.str(), limited);
  ASSERT_EQ(room.exitStatus, 0) << "a small comparison must fit in the limit: " << room.out;

  std::string many;
  for (int i = 0; i < 1000000; ++i)
    many += "---FILE---,/" + std::to_string(i) + ",n,,0,0,0,0,0,0,0,0,0,0,0\n";
  writeFile(log(2), many + "FILEs - 1000000, DIRECTORIEs - 0\n");
  RunResult result = runDirlog({"/compare"}, logs_.str(), limited);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 1);
  const std::string message = "Error: the comparison ran out of memory\n";
  EXPECT_TRUE(result.out.size() >= message.size() &&
              result.out.compare(result.out.size() - message.size(), message.size(), message) == 0)
      << result.out.substr(result.out.size() > 200 ? result.out.size() - 200 : 0);
}

// A log folder that others can write: a report or next log name there that
// is a link, a second name of a file elsewhere or no file at all is the
// usual fatal error, and the file it points at stays as it was.
TEST_F(FaultTest, NoNameInTheLogFolderIsWrittenThrough) {
  fs::create_directories(tree());
  const fs::path outside = work_.path() / "outside.txt";
  const std::string aLog = "---FILE---,/w/a,a,,32,0,1,0,0,0,0,0,0,0,0\n";
  enum Kind { kLink, kDanglingLink, kSecondName };
  // With logs 2 and 3 the count is 2: the scan writes log 3.
  const struct {
    const char* name;
    Kind kind;
  } cases[] = {{"report.txt", kLink},
               {"report.txt", kDanglingLink},
               {"report.txt", kSecondName},
               {"dirlog3.txt", kLink},
               {"dirlog3.txt", kDanglingLink}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " of kind " + std::to_string(c.kind));
    bool report = c.name == std::string("report.txt");
    clearLogs();
    if (report) writeFile(log(1), aLog);
    writeFile(log(2), aLog);
    if (c.kind != kDanglingLink) writeFile(outside, "not the program's\n");
    if (c.kind == kSecondName) {
      fs::create_hard_link(outside, logs_.path() / c.name);
    } else {
      fs::create_symlink(outside, logs_.path() / c.name);
    }
    RunResult result = run({report ? "/compare" : "/L" + tree().string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, report ? "Error: Cannot open report file\n"
                                 : "Error: cannot open log file for writing\n\n");
    EXPECT_EQ(readFile(outside), c.kind == kDanglingLink ? "" : "not the program's\n");
    EXPECT_EQ(fs::exists(outside), c.kind != kDanglingLink);
    fs::remove(outside);
  }
}

// The before log cut to half its size by another program once the
// comparison has begun (its first finding is in the report): the comparison
// ends on what it read, never on a signal.
TEST_F(FaultTest, ALogCutShortDuringAComparisonEndsItWithoutASignal) {
  std::string before;
  for (int i = 0; i < 200000; ++i) {
    before += "---FILE---,/w/" + std::to_string(i) + ",n,,32,0,1,0,0,0,0,0,0,0,0\n";
  }
  writeFile(log(1), before);
  writeFile(log(2), "FILEs - 0, DIRECTORIEs - 0\n");
  DirlogRun compare({"/compare"}, logs_.str(), RunOptions{});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto reportBegun = [&] {
    std::error_code missing;
    uintmax_t size = fs::file_size(logs_.path() / "report.txt", missing);
    return !missing && size > 0;
  };
  while (!reportBegun() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  fs::resize_file(log(1), before.size() / 2);
  RunResult result = compare.wait();
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 0);
  expectWellFormedReport(report());
}

// Random bytes that lean towards what log lines are made of.
std::string junk(unsigned seed, size_t size) {
  static const char kPieces[] = "-,,,\n\n\r\0/0123456789abc-DIRECTORY---FILE---";
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < size) {
    if (random() % 2 == 0) {
      bytes += static_cast<char>(random() % 256);
    } else {
      bytes += kPieces[random() % (sizeof kPieces - 1)];
    }
  }
  return bytes;
}

// Logs that are no logs: the documented message or a report of well-formed
// lines, never a crash or a hang.
TEST_F(FaultTest, LogsThatAreNoLogsGiveAMessageOrAReport) {
  const std::string log3 =
      "---FILE---,/w/a,a,,32,0,1,0,0,0,0,0,0,0,0\n-DIRECTORY,/w/d,d,,16,0,0,0,0,0,0,0,0,0,0\n"
      "---FILE---,/w/d/b,b,,32,0,1,0,0,0,0,0,0,0,0\nFILEs - 2, DIRECTORIEs - 1\n";
  struct Case {
    const char* what;
    std::function<void()> setUp;
    int exitStatus;
    const char* message;  // the whole output when there is one
  };
  const std::vector<Case> cases = {
      {"the before log a directory",
       [&] {
         fs::create_directory(log(1));
         writeFile(log(2), log3);
       },
       1, "Error: coud not open log file #1 before\n"},
      {"the after log a directory",
       [&] {
         writeFile(log(1), log3);
         fs::create_directory(log(2));
       },
       1, "Error: coud not open log file #2 after\n"},
      {"the after log a link to itself",
       [&] {
         writeFile(log(1), log3);
         fs::create_symlink(log(2).filename(), log(2));
       },
       1, "Error: coud not open log file #2 after\n"},
      {"the after log a dangling link",
       [&] {
         writeFile(log(1), log3);
         fs::create_symlink("nowhere", log(2));
       },
       1, "Error: coud not open log file #2 after\n"},
      {"the report a directory",
       [&] {
         writeFile(log(1), log3);
         writeFile(log(2), log3);
         fs::create_directory(logs_.path() / "report.txt");
       },
       1, "Error: Cannot open report file\n"},
      {"both logs empty files",
       [&] {
         writeFile(log(1), "");
         writeFile(log(2), "");
       },
       0, nullptr},
      {"the before log empty",
       [&] {
         writeFile(log(1), "");
         writeFile(log(2), log3);
       },
       0, nullptr},
      {"one line of 2 MiB without a line break",
       [&] {
         writeFile(log(1), std::string(2 << 20, 'x'));
         writeFile(log(2), log3);
       },
       0, nullptr},
      {"one line of 400 KiB whose pieces begin with '-' a third of the time",
       [&] {
         std::string line;
         while (line.size() < (400 << 10)) line += "-,a";
         writeFile(log(1), line);
         writeFile(log(2), line + "\n" + log3);
       },
       0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearLogs();
    c.setUp();
    RunOptions options;
    options.timeoutSeconds = 30;
    RunResult result = runDirlog({"/compare"}, logs_.str(), options);
    ASSERT_FALSE(result.timedOut) << "hung";
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    if (c.message != nullptr) {
      EXPECT_EQ(result.out, c.message);
      continue;
    }
    EXPECT_EQ(result.out, comparisonOut(readFile(log(1)), readFile(log(2))));
    expectWellFormedReport(report());
  }
}

// Seeded junk as both logs, and each junk log compared with itself, which
// can have nothing deleted or created.
TEST_F(FaultTest, BinaryJunkLogsGiveAWellFormedReport) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (bool itself : {false, true}) {
      clearLogs();
      std::string before = junk(seed, 256 << 10);
      writeFile(log(1), before);
      writeFile(log(2), itself ? before : junk(seed + 100, 256 << 10));
      RunOptions options;
      options.timeoutSeconds = 30;
      RunResult result = runDirlog({"/compare"}, logs_.str(), options);
      ASSERT_FALSE(result.timedOut) << "hung";
      EXPECT_EQ(result.exitStatus, 0);
      EXPECT_EQ(result.out, comparisonOut(before, readFile(log(2))));
      std::string findings = report();
      expectWellFormedReport(findings);
      if (itself) {
        EXPECT_EQ(findings.find("DELETED"), std::string::npos);
        EXPECT_EQ(findings.find("CREATED"), std::string::npos);
      }
    }
  }
}

}  // namespace
