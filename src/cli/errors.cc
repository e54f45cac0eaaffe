#include "cli/errors.h"

#include <cstdio>
#include <cstdlib>

void reportError(const char* message, int fatal) {
  std::printf("Error: %s\n", message);
  if (fatal == 1) {
    // exit(), not _exit(): the streams still open (a log being written, the
    // report) must keep what was written to them.
    std::exit(1);
  }
}
