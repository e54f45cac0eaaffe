#include "snapshot/snapshot_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/errors.h"
#include "platform/interruptions.h"
#include "platform/output_files.h"
#include "snapshot/line_builder.h"

namespace {

FILE* snapshotLog = nullptr;
int32_t fileCount = 0;
int32_t dirCount = 0;
EntryRecord record;
// The log's size on disk up to the end of its last whole line, and whether
// a write to it failed, after which nothing more is written to it.
uint64_t wholeLinesSize = 0;
bool writeFailed = false;
// A numbered log's lines reach the file one by one, so that it is whole up
// to its last line at every moment; a log of no number is read only once
// written, and its lines go in blocks.
bool flushEachLine = true;
WalkNotice walkNotice = nullptr;

constexpr int kLowestProbedLog = 0;
constexpr int kHighestProbedLog = 9;
// Each try finds a log of its own or a reason to count again; scans that
// keep taking the numbers from under each other give up at some point.
constexpr int kOpeningTries = 16;

// One line, ending in its "\n", written and flushed whole or not at all:
// a signal waits until it is whole, and a write that fails (a full disk) is
// cut off again, so that the log keeps whole lines only.
void writeLogLine(const char* text, size_t length) {
  if (writeFailed) return;
  platform::holdInterruptions();
  bool whole = std::fwrite(text, 1, length, snapshotLog) == length &&
               (!flushEachLine || std::fflush(snapshotLog) == 0);
  if (whole) {
    wholeLinesSize += length - 1 + platform::lineBreakBytes();
  } else {
    writeFailed = true;
    if (flushEachLine) platform::cutFileBack(snapshotLog, wholeLinesSize);
  }
  platform::releaseInterruptions();
}

// A control character would end or forge a log line; the walk keeps the real
// name, only what is written shows '?'.
void copySanitized(char* to, const char* from, size_t capacity) {
  size_t i = 0;
  for (; i + 1 < capacity && from[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(from[i]);
    to[i] = (c < 0x20 || c == 0x7F) ? '?' : from[i];
  }
  to[i] = '\0';
}

// The line format: tag, path, name, short name, attributes (signed), then
// size, reserved words and the three times, each time high word first.
void writeRecordLine(const EntryRecord& r, bool isDirectory) {
  LineBuilder line;
  line.add(isDirectory ? "-DIRECTORY" : "---FILE---");
  for (const char* text : {r.path, r.name, r.shortName}) {
    line.add(',');
    line.add(text);
  }
  line.add(',');
  line.addNumber(r.attributes);
  for (uint32_t value :
       {r.sizeHigh, r.sizeLow, r.reserved0, r.reserved1, r.creationHigh, r.creationLow,
        r.lastAccessHigh, r.lastAccessLow, r.lastWriteHigh, r.lastWriteLow}) {
    line.add(',');
    line.addNumber(value);
  }
  line.add('\n');
  writeLogLine(line.text(), line.length());
}

// A log that another scan is writing stays.
void purgeSnapshotLogs() {
  for (int number = kLowestProbedLog; number <= kHighestProbedLog; ++number) {
    platform::deleteLog(snapshotLogName(number));
  }
}

// The number of the next log: one more than the count of existing logs,
// after a purge when eight or more exist.
int nextLogNumber() {
  int count = countSnapshotLogs();
  if (count >= kMaxSnapshotLogs) {
    purgeSnapshotLogs();
    count = 0;
  }
  return count + 1;
}

[[noreturn]] void cannotOpenLog() {
  reportError("cannot open log file for writing\n", 1);
  std::abort();  // not reached: the error above ends the process
}

// Another scan is writing log `number`, which its count gives again.
[[noreturn]] void logInUse(int number) {
  std::string message = "log file is being written by another scan: " + snapshotLogName(number);
  reportError(message.c_str(), 0);
  cannotOpenLog();
}

}  // namespace

std::string snapshotLogName(int number) {
  return platform::logFolder() + "dirlog" + std::to_string(number) + ".txt";
}

int countSnapshotLogs() {
  int count = 0;
  for (int number = kLowestProbedLog; number <= kHighestProbedLog; ++number) {
    platform::FindData entry;
    if (platform::directorySearch().findFirst(snapshotLogName(number), entry)) ++count;
  }
  return count;
}

void openNewSnapshotLog() {
  if (snapshotLog != nullptr) std::fclose(snapshotLog);
  snapshotLog = nullptr;
  wholeLinesSize = 0;
  writeFailed = false;
  flushEachLine = true;
  // Two scans may count the same logs at once. Each takes a number only by
  // holding its log, so the one that comes second finds it held, counts
  // again and takes the next; when the count gives a held number again (a
  // gap below it), it gives up.
  bool held[kHighestProbedLog + 2] = {};
  for (int attempt = 0; attempt < kOpeningTries; ++attempt) {
    int number = nextLogNumber();
    if (held[number]) logInUse(number);
    platform::LogOpening opening;
    snapshotLog = platform::openLogForWriting(snapshotLogName(number), opening);
    if (opening == platform::LogOpening::kOpened) return;
    if (opening == platform::LogOpening::kRefused) cannotOpenLog();
    if (opening == platform::LogOpening::kInUse) held[number] = true;
  }
  cannotOpenLog();
}

void startUnnumberedLog(std::FILE* stream) {
  snapshotLog = stream;
  wholeLinesSize = 0;
  writeFailed = false;
  flushEachLine = false;
  fileCount = 0;
  dirCount = 0;
}

bool endUnnumberedLog() {
  bool written = !writeFailed && std::fflush(snapshotLog) == 0 && std::ferror(snapshotLog) == 0;
  snapshotLog = nullptr;
  return written;
}

void useWalkNotice(WalkNotice notice) { walkNotice = notice; }

bool sendWalkNotice(const std::string& message) {
  if (walkNotice == nullptr) return false;
  walkNotice(message);
  return true;
}

void captureEntry(const char* fullPath, const platform::FindData& entry) {
  copySanitized(record.path, fullPath, sizeof record.path);
  copySanitized(record.name, entry.cFileName, sizeof record.name);
  copySanitized(record.shortName, entry.cAlternateFileName, sizeof record.shortName);
  record.attributes = static_cast<int32_t>(entry.dwFileAttributes);
  record.sizeHigh = entry.nFileSizeHigh;
  record.sizeLow = entry.nFileSizeLow;
  record.reserved0 = entry.dwReserved0;
  record.reserved1 = entry.dwReserved1;
  record.creationLow = entry.ftCreationTime.dwLowDateTime;
  record.creationHigh = entry.ftCreationTime.dwHighDateTime;
  record.lastAccessLow = entry.ftLastAccessTime.dwLowDateTime;
  record.lastAccessHigh = entry.ftLastAccessTime.dwHighDateTime;
  record.lastWriteLow = entry.ftLastWriteTime.dwLowDateTime;
  record.lastWriteHigh = entry.ftLastWriteTime.dwHighDateTime;
}

const EntryRecord& currentRecord() { return record; }

int writeEntryLine(const char* directoryPath, const platform::FindData& entry) {
  std::string fullPath = directoryPath;
  fullPath += platform::separator();
  fullPath += entry.cFileName;
  if (fullPath.size() > static_cast<size_t>(kMaxPathLength)) {
    // Cutting the path would record an entry under a name it does not have.
    std::string message = "path too long, not recorded: " + fullPath;
    char shown[2048];
    copySanitized(shown, message.c_str(), sizeof shown);
    if (!sendWalkNotice(shown)) reportError(shown, 0);
    return 0;
  }
  captureEntry(fullPath.c_str(), entry);
  bool isDirectory = (entry.dwFileAttributes & platform::kAttributeDirectory) != 0;
  if (isDirectory) {
    ++dirCount;
  } else {
    ++fileCount;
  }
  writeRecordLine(record, isDirectory);
  return 1;
}

void writeTotalsLine() {
  char line[64];
  int length =
      std::snprintf(line, sizeof line, "FILEs - %i, DIRECTORIEs - %i\n", fileCount, dirCount);
  writeLogLine(line, static_cast<size_t>(length));
}

int closeSnapshotLog() {
  // Every line was flushed on its own, so a failed write shows only then,
  // not in the close: test both, or a full disk would pass for a complete
  // log.
  bool written = !writeFailed && std::ferror(snapshotLog) == 0;
  bool closed = std::fclose(snapshotLog) == 0;
  snapshotLog = nullptr;
  if (!written || !closed) {
    reportError("Log file could not be closed", 0);
    return 0;
  }
  return 1;
}
