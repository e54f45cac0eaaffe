// The status line on a POSIX terminal: a carriage return, the text, and the
// erase-to-end-of-line sequence that every terminal in use understands.
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "platform/terminal.h"

namespace platform {
namespace {

constexpr int kDefaultColumns = 80;
constexpr char kEraseLine[] = "\r\x1b[K";

volatile sig_atomic_t lineShown = 0;

// Standard error is unbuffered: the line goes out in one write, not a
// stdio call per piece.
void writeError(const char* data, size_t length) {
  int savedErrno = errno;  // for a signal handler's caller
  while (length > 0) {
    ssize_t written = ::write(STDERR_FILENO, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;  // a terminal gone away: the line is only a courtesy
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  errno = savedErrno;
}

}  // namespace

bool errorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int statusColumns() {
  // A process with no controlling terminal (started by a service, or by a
  // test on a pseudo-terminal) gets no process group back: no foreground to
  // be kept out of.
  pid_t foreground = ::tcgetpgrp(STDERR_FILENO);
  if (foreground > 0 && foreground != ::getpgrp()) return 0;
  struct winsize size;
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
  return size.ws_col;
}

uint64_t coarseMilliseconds() {
  struct timespec time;
#ifdef CLOCK_MONOTONIC_COARSE
  // Read from memory the kernel shares with the process: no system call.
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &time);
#else
  ::clock_gettime(CLOCK_MONOTONIC, &time);
#endif
  return static_cast<uint64_t>(time.tv_sec) * 1000 + static_cast<uint64_t>(time.tv_nsec) / 1000000;
}

void showStatusLine(const char* text, size_t length) {
  // The text first, then the erase: a shorter line clears what a longer one
  // left, and the terminal never shows an empty line in between.
  std::string line = "\r";
  line.append(text, length);
  line += kEraseLine + 1;
  // Marked first: a signal that ends the process during the write must
  // still erase what got out.
  lineShown = 1;
  writeError(line.data(), line.size());
}

void eraseStatusLine() {
  if (lineShown == 0) return;
  lineShown = 0;
  writeError(kEraseLine, sizeof kEraseLine - 1);
}

}  // namespace platform
