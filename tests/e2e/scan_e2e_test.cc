// The folder scan, end to end: the built program on real trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

class ScanTest : public testing::Test {
 protected:
  fs::path tree() const { return work_.path() / "w"; }
  std::string logText(int number) const {
    return readFile(logs_.path() / ("dirlog" + std::to_string(number) + ".txt"));
  }
  RunResult run(const std::vector<std::string>& arguments, const fs::path& cwd = {}) {
    return runDirlog(arguments, logs_.str(), cwd);
  }
  void file(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    writeFile(path, content);
  }

  ScopedTempDir work_;
  ScopedTempDir logs_;
};

TEST_F(ScanTest, WorkedExampleIsWrittenByteForByte) {
  file(tree() / "a.txt", "1234");
  file(tree() / "d1" / "x.txt");
  fs::create_directories(tree() / "d2");
  file(tree() / "z.txt", "");
  std::string start = tree().string();
  RunResult result = run({"/L" + start});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  std::string expected;
  for (const char* relative : {"a.txt", "d1", "d1/x.txt", "d2", "z.txt"}) {
    expected += expectedRecordLine(start + "/" + relative, tree() / relative);
  }
  expected += "FILEs - 3, DIRECTORIEs - 2\n";
  EXPECT_EQ(logText(1), expected);
}

TEST_F(ScanTest, EveryKindOfEntryIsRecordedAsItselfAndLinksAreNotFollowed) {
  file(tree() / ".hidden");
  file(tree() / "readonly");
  fs::permissions(tree() / "readonly", fs::perms::owner_write, fs::perm_options::remove);
  file(tree() / "target" / "inside");
  fs::create_symlink("target", tree() / "dirlink");
  fs::create_symlink("nowhere", tree() / "dangling");
  ASSERT_EQ(mkfifo((tree() / "fifo").c_str(), 0644), 0);
  ASSERT_TRUE(makeSocketFile(tree() / "sock"));

  std::string start = tree().string();
  ASSERT_EQ(run({"/L" + start}).exitStatus, 0);
  std::string expected;
  // Listings come in byte order of the name.
  for (const char* relative :
       {".hidden", "dangling", "dirlink", "fifo", "readonly", "sock", "target", "target/inside"}) {
    expected += expectedRecordLine(start + "/" + relative, tree() / relative);
  }
  expected += "FILEs - 7, DIRECTORIEs - 1\n";
  EXPECT_EQ(logText(1), expected);
}

TEST_F(ScanTest, StartFolderGivenAsALinkIsFollowedAndPathsKeepTheTextAsTyped) {
  file(tree() / "a");
  fs::create_directory_symlink(tree(), work_.path() / "link");
  ASSERT_EQ(run({"/L" + (work_.path() / "link").string()}).exitStatus, 0);
  EXPECT_EQ(recordPaths(logText(1)),
            std::vector<std::string>{(work_.path() / "link" / "a").string()});
}

TEST_F(ScanTest, RelativeAndOneCharacterFoldersAreWalkedFromTheWorkingDirectory) {
  file(tree() / "d" / "f");
  file(tree() / "g");
  ASSERT_EQ(run({"/Lw"}, work_.path()).exitStatus, 0);
  EXPECT_EQ(recordPaths(logText(1)), (std::vector<std::string>{"w/d", "w/d/f", "w/g"}));
}

TEST_F(ScanTest, FolderErrorsAreFatalAndLeaveTheDocumentedLogsBehind) {
  file(tree() / "file");
  fs::create_directories(work_.path() / "empty");
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    bool leavesEmptyLog;
  };
  const std::string notFound = "Error: the given folder cannot be found\n";
  const std::vector<Case> cases = {
      {{"/L" + (work_.path() / "missing").string()}, notFound, false},
      {{"/L" + (tree() / "file").string()}, notFound, false},
      {{"/L" + tree().string() + "/"}, notFound, false},
      {{"/L/"}, notFound, false},
      {{"/L" + tree().string() + "/*"}, notFound, false},
      {{"/L/*"}, notFound, false},
      {{"/L"}, notFound, false},
      {{"/L", tree().string()}, notFound, false},
      {{"/L" + std::string(256, 'a')}, "Error: the given folder is too long\n", false},
      {{"/L" + (work_.path() / "empty").string()}, "Error: Nothing is that folder\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    fs::remove(logs_.path() / "dirlog1.txt");
    RunResult result = run(c.arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(fs::exists(logs_.path() / "dirlog1.txt"), c.leavesEmptyLog);
    if (c.leavesEmptyLog) {
      EXPECT_EQ(logText(1), "");
    }
  }
}

TEST_F(ScanTest, ArgumentsActInOrderAndUnknownOnesAreIgnored) {
  file(tree() / "a");
  EXPECT_EQ(run({}).out, "");
  EXPECT_TRUE(fs::is_empty(logs_.path()));
  RunResult result =
      run({"/l" + tree().string(), "/F", "-L", "/L" + tree().string(), "/L" + tree().string()});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  // Two scans, two logs; the counters run on through the run.
  EXPECT_EQ(splitLines(logText(1)).back(), "FILEs - 1, DIRECTORIEs - 0");
  EXPECT_EQ(splitLines(logText(2)).back(), "FILEs - 2, DIRECTORIEs - 0");
  EXPECT_FALSE(fs::exists(logs_.path() / "dirlog3.txt"));
}

TEST_F(ScanTest, NinthScanPurgesTheEightBeforeIt) {
  file(tree() / "a");
  for (int scan = 1; scan <= 9; ++scan) ASSERT_EQ(run({"/L" + tree().string()}).exitStatus, 0);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(logs_.path()))
    left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"dirlog1.txt"});
}

TEST_F(ScanTest, NamesWithControlCharactersStayOnOneLine) {
  file(tree() / "a\nb");
  file(tree() / "c\x1b[31m");
  ASSERT_EQ(run({"/L" + tree().string()}).exitStatus, 0);
  std::vector<std::string> lines = splitLines(logText(1));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(recordPaths(logText(1)),
            (std::vector<std::string>{tree().string() + "/a?b", tree().string() + "/c?[31m"}));
}

TEST_F(ScanTest, EntriesBeyond255CharactersAreNamedAndSkipped) {
  fs::path deep = tree();
  while (deep.string().size() < 240) deep /= "dddddddddd";
  file(deep / std::string(255 - deep.string().size() - 1, 'f'));  // exactly 255
  file(deep / std::string(255 - deep.string().size(), 'g'));      // 256
  file(tree() / "zz");
  RunResult result = run({"/L" + tree().string()});
  EXPECT_EQ(result.exitStatus, 0);
  std::string tooLong = (deep / std::string(255 - deep.string().size(), 'g')).string();
  EXPECT_EQ(result.out, "Error: path too long, not recorded: " + tooLong + "\n");
  std::vector<std::string> paths = recordPaths(logText(1));
  EXPECT_EQ(paths.back(), (tree() / "zz").string());
  EXPECT_EQ(paths[paths.size() - 2].size(), 255u);
}

TEST_F(ScanTest, ScanLeavesAccessTimesAsItFoundThem) {
  file(tree() / "d" / "f");
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001
  for (const char* relative : {"", "d", "d/f"}) {
    ASSERT_EQ(utimensat(AT_FDCWD, (tree() / relative).c_str(), old, 0), 0);
  }
  ASSERT_EQ(run({"/L" + tree().string()}).exitStatus, 0);
  for (const char* relative : {"", "d", "d/f"}) {
    struct stat st;
    ASSERT_EQ(stat((tree() / relative).c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000) << relative;
  }
}

TEST_F(ScanTest, LogThatCannotBeWrittenEndsTheScanWithAFailure) {
  file(tree() / "a");
  // Logs 2 and 3 exist, so the count is 2 and the scan writes log 3, on a
  // disk that takes no more bytes.
  writeFile(logs_.path() / "dirlog2.txt", "");
  writeFile(logs_.path() / "dirlog3.txt", "old");
  RunOptions full;
  full.fileSizeLimit = 1;
  RunResult result = runDirlog({"/L" + tree().string()}, logs_.str(), full);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "Error: Log file could not be closed\nError: cannot close log file\n\n");
  EXPECT_EQ(readFile(logs_.path() / "dirlog3.txt"), "");
}

// Scans `start` with standard error on `errorFd` (the test's copy closed) and
// the log a FIFO read slowly, so that the scan outlasts its first tenth of a
// second however fast the machine; collects the log and what `errorView` gets.
// With `interruptBy`, that signal is sent once a status line shows.
struct SlowScan {
  RunResult result;
  std::string log;
  std::string errors;
  std::chrono::steady_clock::duration elapsed;
};
SlowScan scanSlowly(const std::string& start, const fs::path& logs, int errorFd, int errorView,
                    int interruptBy = 0, bool unprivileged = false) {
  fs::path fifo = logs / "dirlog2.txt";  // the only name there: the next log
  if (!fs::exists(fifo) && mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
  if (unprivileged) fs::permissions(fifo, fs::perms::all);
  RunOptions options;
  options.errorFd = errorFd;
  options.unprivileged = unprivileged;
  SlowScan scan;
  auto began = std::chrono::steady_clock::now();
  DirlogRun run({"/L" + start}, logs.string(), options);
  close(errorFd);
  pollfd ready[] = {{open(fifo.c_str(), O_RDONLY | O_NONBLOCK), POLLIN, 0}, {errorView, POLLIN, 0}};
  char buffer[4096];
  for (bool paused = false; ready[0].fd >= 0 || ready[1].fd >= 0;) {
    if (poll(ready, 2, static_cast<int>(60000 * timeoutScale())) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (ready[i].revents == 0) continue;
      ssize_t got = read(ready[i].fd, buffer, sizeof buffer);
      if (got > 0) (i == 0 ? scan.log : scan.errors).append(buffer, static_cast<size_t>(got));
      if (got == 0 || (got < 0 && errno != EINTR)) ready[i].fd = -1;  // a terminal ends in EIO
    }
    if (interruptBy != 0 && paused) {
      // After one more read the log is read no further until a line shows,
      // so that the scan is still waiting on it when the signal comes.
      ready[0].events = scan.errors.empty() ? 0 : POLLIN;
      if (!scan.errors.empty()) kill(run.pid(), std::exchange(interruptBy, 0));
    }
    if (!paused && !scan.log.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      paused = true;
    }
  }
  scan.result = run.wait();
  scan.elapsed = std::chrono::steady_clock::now() - began;
  return scan;
}

TEST_F(ScanTest, StatusLineShowsOnATerminalOnlyAndIsErasedAtTheEnd) {
  // A folder whose name would steer a terminal, and a log that outgrows a
  // pipe's buffer.
  fs::path folder = tree() / "a\x1b[2J\xc2\x9b\xff\xc3\xa9";
  for (int i = 0; i < 1000; ++i) file(folder / ("file" + std::to_string(i)));
  std::string start = tree().string();

  int errors[2];
  ASSERT_EQ(pipe(errors), 0);
  SlowScan plain = scanSlowly(start, logs_.path(), errors[1], errors[0]);
  close(errors[0]);
  ASSERT_EQ(plain.result.exitStatus, 0);
  EXPECT_EQ(plain.errors, "");

  PseudoTerminal terminal(200);
  SlowScan shown = scanSlowly(start, logs_.path(), terminal.terminal, terminal.screen);
  terminal.terminal = -1;
  EXPECT_EQ(shown.result.exitStatus, 0);
  EXPECT_EQ(shown.result.out, plain.result.out);
  EXPECT_EQ(shown.log, plain.log);
  // "\r<line>\x1b[K" for each line shown, "\r\x1b[K" to erase the last.
  const std::string& screen = shown.errors;
  ASSERT_TRUE(screen.starts_with("\r") && screen.ends_with("\r\x1b[K"))
      << testing::PrintToString(screen);
  std::vector<std::string> lines;
  for (size_t at = 1; at < screen.size() - 4; at = screen.find('\r', at) + 1) {
    std::string piece = screen.substr(at, screen.find('\r', at) - at);
    ASSERT_TRUE(piece.ends_with("\x1b[K")) << testing::PrintToString(piece);
    lines.push_back(piece.substr(0, piece.size() - 3));
  }
  // At most one line a tenth of a second; a coarse clock may count a tenth
  // a few milliseconds early.
  ASSERT_GE(lines.size(), 1u);
  EXPECT_LE(std::chrono::milliseconds(100 * lines.size() - 50), shown.elapsed);
  const std::string& last = lines.back();
  EXPECT_TRUE(
      std::regex_search(last, std::regex("^[0-9]+ entries, 1 folders, [0-9]:[0-9]{2} in ")));
  EXPECT_TRUE(last.ends_with(" in " + start + "/a?[2J???\xc3\xa9")) << last;

  PseudoTerminal again(200);
  SlowScan stopped = scanSlowly(start, logs_.path(), again.terminal, again.screen, SIGTERM);
  again.terminal = -1;
  EXPECT_EQ(stopped.result.signal, SIGTERM);
  EXPECT_TRUE(stopped.errors.ends_with("\x1b[K\r\x1b[K")) << testing::PrintToString(stopped.errors);
}

// A folder that cannot be listed is named on the terminal the status line
// is on: the line makes way for the message and shows again below it.
TEST_F(ScanTest, StatusLineMakesWayForAFolderThatCannotBeListed) {
  for (int i = 0; i < 1000; ++i) file(tree() / ("file" + std::to_string(i)));
  fs::create_directories(tree() / "zz");
  fs::permissions(tree() / "zz", fs::perms::none);
  // Folders the program must reach as nobody, which permissions stop.
  for (const fs::path& open : {work_.path(), tree(), logs_.path()}) {
    fs::permissions(open, fs::perms::all);
  }
  PseudoTerminal terminal(200);
  SlowScan scan = scanSlowly(tree().string(), logs_.path(), terminal.terminal, terminal.screen, 0,
                             /*unprivileged=*/true);
  terminal.terminal = -1;
  if (scan.result.exitStatus == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(scan.result.exitStatus, 0);
  EXPECT_EQ(scan.result.out, "");
  // The line erased, the message (the terminal turns its line break into CR
  // LF), and the line again.
  std::string named =
      "\x1b[K\r\x1b[Kdirlog: cannot list " + tree().string() + "/zz: Permission denied\r\n\r";
  size_t at = scan.errors.find(named);
  ASSERT_NE(at, std::string::npos) << testing::PrintToString(scan.errors);
  EXPECT_EQ(scan.errors.find(" entries, 1 folders, ", at),
            scan.errors.find_first_not_of("0123456789", at + named.size()));
  EXPECT_TRUE(scan.errors.ends_with("\r\x1b[K"));
}

}  // namespace
