// Running the built program from end-to-end tests, and what a log line for
// a real file must say, worked out here independently of the program.
//
// DIRLOG_TEST_WRAPPER, when set, is a command (words separated by blanks)
// that every run of the program goes through, such as
// "valgrind --error-exitcode=86 --leak-check=full"; time limits then grow by
// DIRLOG_TEST_TIMEOUT_SCALE (20 unless set), since such a tool slows the
// program down.
#ifndef DIRLOG_TESTS_E2E_E2E_SUPPORT_H_
#define DIRLOG_TESTS_E2E_E2E_SUPPORT_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

struct RunResult {
  int exitStatus = -1;    // -1 when the program did not exit normally
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // it ran past its time limit and was killed
  std::string out;        // all it wrote to standard output
};

struct RunOptions {
  // Where the program runs; empty for the test's own working directory.
  std::filesystem::path workingDirectory;
  // Killed (SIGKILL) when still running after this long, before scaling.
  double timeoutSeconds = 60;
  // When the test runs as root, the program runs as the user nobody, for
  // whom permissions count. The folders it must reach have to let it in.
  bool unprivileged = false;
  // The program's address space is limited to this many bytes (RLIMIT_AS);
  // 0 for no limit.
  uint64_t addressSpaceLimit = 0;
  // No file the program writes grows past this many bytes (RLIMIT_FSIZE),
  // as if the disk were full there; 0 for no limit.
  uint64_t fileSizeLimit = 0;
  // The most files the program may hold open (RLIMIT_NOFILE); 0 for the
  // test's own limit.
  uint64_t openFileLimit = 0;
  // Variables ("NAME=value") set in the program's environment.
  std::vector<std::string> environment;
  // The program run: dirlog unless another is named (dirlog-view).
  std::string program;
  // The program's standard error; -1 leaves it the test's own.
  int errorFd = -1;
};

// The exit status of a run that could not give up root as asked.
constexpr int kCannotDropPrivileges = 126;

// A started run of the program, ended by wait().
class DirlogRun {
 public:
  // Starts the program with `arguments` (argument 0 is the program's path),
  // with DIRLOG_ROOT set to `root`. Standard input is empty; standard error
  // is left alone.
  DirlogRun(const std::vector<std::string>& arguments, const std::string& root,
            const RunOptions& options);
  ~DirlogRun();
  DirlogRun(const DirlogRun&) = delete;
  DirlogRun& operator=(const DirlogRun&) = delete;

  pid_t pid() const { return child_; }
  // Collects the output and the end of the run, killing it at its time limit.
  RunResult wait();

 private:
  pid_t child_ = -1;
  int output_ = -1;
  double timeoutSeconds_;
  bool waited_ = false;
};

// Runs the program to its end (see DirlogRun).
RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const std::filesystem::path& workingDirectory = {});
RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const RunOptions& options);

// Runs dirlog-view to its end, as runDirlog runs dirlog.
RunResult runDirlogView(const std::vector<std::string>& arguments, const std::string& root);

// The factor that time limits are multiplied by (1 without a wrapper).
double timeoutScale();

// Whether runs of the program go through a wrapper (DIRLOG_TEST_WRAPPER).
bool hasWrapper();

// A name or path as the program writes it into a log: every control
// character (0x01 to 0x1F and 0x7F) as '?'.
std::string asWritten(const std::string& text);

// The record line (with its "\n") that a scan must write for the real entry
// at `entry`, recorded under the path text `writtenPath` (as written).
std::string expectedRecordLine(const std::string& writtenPath, const std::filesystem::path& entry);

// Whether `line` (without its "\n") is a record line as a scan writes it: a
// tag, the path and the name (commas and all), an empty short name, eleven
// decimal numbers (the first may be negative), and no control character.
// Gives "<path>,<name>" as written when it is.
bool isWellFormedRecordLine(const std::string& line, std::string* pathAndName = nullptr);

// The log's record lines' paths, in order.
std::vector<std::string> recordPaths(const std::string& log);

// A pseudo-terminal of `columns` columns: `terminal` is the side to give the
// program, `screen` the side that reads what it shows there. Each is closed
// with the object unless set to -1.
struct PseudoTerminal {
  explicit PseudoTerminal(unsigned short columns);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  int screen = -1;
  int terminal = -1;
};

// Makes a Unix-domain socket file at `path` (bound, then closed: the file
// stays). Returns false when it cannot, the path being too long included.
bool makeSocketFile(const std::filesystem::path& path);

// A child process that exchanges two entries (renameat2 with
// RENAME_EXCHANGE) over and over, from its start to its destruction.
class ExchangeLoop {
 public:
  ExchangeLoop(const std::filesystem::path& a, const std::filesystem::path& b);
  ~ExchangeLoop();
  ExchangeLoop(const ExchangeLoop&) = delete;
  ExchangeLoop& operator=(const ExchangeLoop&) = delete;

  // False when the file system cannot exchange the two: nothing runs then.
  bool running() const { return child_ > 0; }

 private:
  pid_t child_ = -1;
};

#endif  // DIRLOG_TESTS_E2E_E2E_SUPPORT_H_
