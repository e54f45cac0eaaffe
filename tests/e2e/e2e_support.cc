#include "e2e_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> wrapperWords() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("DIRLOG_TEST_WRAPPER");
  if (wrapper == nullptr) return words;
  std::istringstream in(wrapper);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The user nobody on Debian and most other systems.
constexpr uid_t kNobody = 65534;

}  // namespace

bool hasWrapper() { return !wrapperWords().empty(); }

double timeoutScale() {
  if (!hasWrapper()) return 1;
  const char* scale = std::getenv("DIRLOG_TEST_TIMEOUT_SCALE");
  return scale != nullptr && std::atof(scale) > 0 ? std::atof(scale) : 20;
}

DirlogRun::DirlogRun(const std::vector<std::string>& arguments, const std::string& root,
                     const RunOptions& options)
    : timeoutSeconds_(options.timeoutSeconds * timeoutScale()) {
  // Everything the child needs is made before the fork.
  std::vector<std::string> words = wrapperWords();
  words.push_back(options.program.empty() ? DIRLOG_BINARY : options.program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // Run as nobody, the program may lie below a folder closed to others (a
  // checkout in /root): root opens it here, and the child starts it from that.
  int program = -1;
  if (options.unprivileged && geteuid() == 0 && !hasWrapper()) {
    program = open(argv[0], O_RDONLY | O_CLOEXEC);
  }

  int output[2];
  if (pipe(output) != 0) throw std::runtime_error("pipe");
  child_ = fork();
  if (child_ < 0) throw std::runtime_error("fork");
  if (child_ == 0) {
    dup2(output[1], 1);
    close(output[0]);
    close(output[1]);
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    if (options.errorFd >= 0) dup2(options.errorFd, 2);
    setenv("DIRLOG_ROOT", root.c_str(), 1);
    for (const std::string& variable : options.environment) putenv(strdup(variable.c_str()));
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
      _exit(127);
    }
    if (options.unprivileged && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
        _exit(kCannotDropPrivileges);
      }
    }
    if (options.addressSpaceLimit != 0) {
      rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    if (options.fileSizeLimit != 0) {
      // A write past the limit then fails as on a full disk.
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    if (options.openFileLimit != 0) {
      rlimit limit{options.openFileLimit, options.openFileLimit};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(127);
    }
    if (program >= 0) fexecve(program, argv.data(), environ);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (program >= 0) close(program);
  close(output[1]);
  output_ = output[0];
}

DirlogRun::~DirlogRun() {
  if (!waited_ && child_ > 0) {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (output_ >= 0) close(output_);
}

RunResult DirlogRun::wait() {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds_);
  RunResult result;
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      // Still running, or holding its output open: a hang.
      result.timedOut = true;
      kill(child_, SIGKILL);
      break;
    }
    pollfd ready{output_, POLLIN, 0};
    int polled = poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (polled < 0 && errno != EINTR) throw std::runtime_error("poll");
    if (polled <= 0) continue;
    ssize_t got = read(output_, buffer, sizeof buffer);
    if (got > 0) {
      result.out.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;  // the program and all it started have let go of its output
    }
  }
  close(output_);
  output_ = -1;
  int status = 0;
  waitpid(child_, &status, 0);
  waited_ = true;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const RunOptions& options) {
  DirlogRun run(arguments, root, options);
  return run.wait();
}

RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const fs::path& workingDirectory) {
  RunOptions options;
  options.workingDirectory = workingDirectory;
  return runDirlog(arguments, root, options);
}

RunResult runDirlogView(const std::vector<std::string>& arguments, const std::string& root) {
  RunOptions options;
  options.program = DIRLOG_VIEW_BINARY;
  return runDirlog(arguments, root, options);
}

std::string asWritten(const std::string& text) {
  std::string written = text;
  for (char& c : written) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return written;
}

namespace {

// 100 ns units since 1601-01-01 UTC, as "high,low".
std::string fileTime(const struct statx_timestamp& t, bool present) {
  if (!present) return "0,0";
  int64_t units = (static_cast<int64_t>(t.tv_sec) + 11644473600LL) * 10000000LL + t.tv_nsec / 100;
  if (units < 0) units = 0;
  uint64_t u = static_cast<uint64_t>(units);
  return std::to_string(u >> 32) + "," + std::to_string(u & 0xFFFFFFFFu);
}

}  // namespace

std::string expectedRecordLine(const std::string& writtenPath, const fs::path& entry) {
  struct statx st;
  if (statx(AT_FDCWD, entry.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) !=
      0) {
    throw std::runtime_error("statx " + entry.string());
  }
  uint32_t attributes;
  if (S_ISDIR(st.stx_mode)) {
    attributes = 0x10;
  } else if (S_ISREG(st.stx_mode)) {
    attributes = 0x20;
  } else if (S_ISLNK(st.stx_mode)) {
    attributes = 0x400;
  } else {
    attributes = 0x4;
  }
  if (!(st.stx_mode & S_IWUSR)) attributes |= 0x1;
  std::string name = asWritten(entry.filename().string());
  if (name[0] == '.') attributes |= 0x2;
  uint64_t size = S_ISDIR(st.stx_mode) ? 0 : st.stx_size;
  std::string line = S_ISDIR(st.stx_mode) ? "-DIRECTORY," : "---FILE---,";
  line += asWritten(writtenPath) + "," + name + ",," + std::to_string(attributes) + ",";
  line += std::to_string(size >> 32) + "," + std::to_string(size & 0xFFFFFFFFu) + ",";
  line += std::to_string(st.stx_mode) + "," + std::to_string(st.stx_uid) + ",";
  line += fileTime(st.stx_btime, (st.stx_mask & STATX_BTIME) != 0) + ",";
  line += fileTime(st.stx_atime, true) + "," + fileTime(st.stx_mtime, true) + "\n";
  return line;
}

std::vector<std::string> recordPaths(const std::string& log) {
  std::vector<std::string> paths;
  for (const std::string& line : splitLines(log)) {
    if (line.empty() || line[0] != '-') continue;
    size_t start = line.find(',') + 1;
    paths.push_back(line.substr(start, line.find(',', start) - start));
  }
  return paths;
}

PseudoTerminal::PseudoTerminal(unsigned short columns) {
  screen = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (screen < 0 || grantpt(screen) != 0 || unlockpt(screen) != 0) {
    throw std::runtime_error("posix_openpt");
  }
  terminal = open(ptsname(screen), O_RDWR | O_NOCTTY | O_CLOEXEC);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  if (terminal < 0 || ioctl(screen, TIOCSWINSZ, &size) != 0) throw std::runtime_error("pty");
}

PseudoTerminal::~PseudoTerminal() {
  if (terminal >= 0) close(terminal);
  if (screen >= 0) close(screen);
}

bool makeSocketFile(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string text = path.string();
  if (text.size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, text.c_str());
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  if (sock < 0) return false;
  bool bound = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(sock);
  return bound;
}

bool isWellFormedRecordLine(const std::string& line, std::string* pathAndName) {
  std::string tag = line.substr(0, 11);
  if (tag != "---FILE---," && tag != "-DIRECTORY,") return false;
  for (char c : line) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  // From the end: eleven numbers, then the short name, which a POSIX scan
  // always leaves empty.
  size_t end = line.size();
  for (int field = 0; field < 11; ++field) {
    size_t comma = line.rfind(',', end - 1);
    if (comma == std::string::npos || comma < 11) return false;
    std::string number = line.substr(comma + 1, end - comma - 1);
    if (field == 10 && !number.empty() && number[0] == '-') number.erase(0, 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    end = comma;
  }
  if (end < 12 || line[end - 1] != ',') return false;
  if (pathAndName != nullptr) *pathAndName = line.substr(11, end - 1 - 11);
  return true;
}

ExchangeLoop::ExchangeLoop(const fs::path& a, const fs::path& b) {
  // Tried twice first, so that the loop starts from the same state and a
  // file system without the exchange shows at once.
  for (int i = 0; i < 2; ++i) {
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0) return;
  }
  child_ = fork();
  if (child_ < 0) throw std::runtime_error("fork");
  if (child_ == 0) {
    while (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) {
    }
    _exit(1);
  }
}

ExchangeLoop::~ExchangeLoop() {
  if (child_ <= 0) return;
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
}
