#include "cli/errors.h"

#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"

void reportError(const char* message, int fatal) {
  // Standard output may share the terminal with a scan's status line: the
  // message starts on a clean line, and no line is left behind at exit.
  platform::eraseStatusLine();
  std::printf("Error: %s\n", message);
  if (fatal == 1) {
    // exit(), not _exit(): the streams still open (a log being written, the
    // report) must keep what was written to them.
    std::exit(1);
  }
}
