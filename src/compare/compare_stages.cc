#include "compare/compare_stages.h"

#include <new>
#include <string>

#include "cli/errors.h"
#include "compare/compare_snapshots.h"
#include "platform/system.h"
#include "snapshot/snapshot_log.h"

namespace {

int stage = 0;
FILE* beforeLog = nullptr;
FILE* afterLog = nullptr;

FILE*& roleStream(int which) { return which == 1 ? beforeLog : afterLog; }

void closeRole(int which) {
  FILE*& stream = roleStream(which);
  // Nothing was written to a log read here, so a failed close loses nothing.
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

// Binary mode: the comparison applies the platform's text rules itself, so
// that it knows where each line stands in the file.
// Some systems open a directory for reading; it holds no log all the same,
// and is refused as a missing log is.
FILE* openForReading(const std::string& name) {
  std::string unused;
  return platform::openLogFile(name, unused);
}

void openBeforeLog() {
  if (openCompareLog(1) == 0) reportError("coud not open log file #1 before", 1);
}

void openAfterLog() {
  if (openCompareLog(2) == 0) reportError("coud not open log file #2 after", 1);
}

}  // namespace

void setCompareStage(int value) { stage = value; }
int compareStage() { return stage; }

int openCompareLog(int which) {
  // Counted afresh: a scan between two openings adds a log.
  int count = countSnapshotLogs();
  int number = count;
  if (which == 1) {
    if (count == 1) reportError("only one log file", 1);
    // With no log at all this is -1, a name the program never writes.
    number = count - 1;
  }
  closeRole(which);
  roleStream(which) = openForReading(snapshotLogName(number));
  return roleStream(which) != nullptr ? 1 : 0;
}

void advanceCompareStage() {
  ++stage;
  if (stage == 1) {
    openBeforeLog();
  } else if (stage == 2) {
    openAfterLog();
  } else if (stage == 3) {
    openBeforeLog();
    openAfterLog();
    stage = 2;
  }
}

void compareIfReady() {
  if (stage != 2) return;
  try {
    compareSnapshotStreams(beforeLog, afterLog);
  } catch (const std::bad_alloc&) {
    // Its memory is given back by now, enough to say so; a report cut short
    // must not pass for one that found no change.
    reportError("the comparison ran out of memory", 1);
  }
  closeRole(1);
  closeRole(2);
}

FILE* compareLogStream(int which) { return roleStream(which); }
