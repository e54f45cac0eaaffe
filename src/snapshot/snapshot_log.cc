#include "snapshot/snapshot_log.h"

#include <cstdio>
#include <cstring>

#include "cli/errors.h"
#include "platform/interruptions.h"
#include "snapshot/line_builder.h"

namespace {

FILE* snapshotLog = nullptr;
int32_t fileCount = 0;
int32_t dirCount = 0;
EntryRecord record;

constexpr int kLowestProbedLog = 0;
constexpr int kHighestProbedLog = 9;

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
  // A scan stopped by a signal leaves this line whole on the disk.
  platform::holdInterruptions();
  line.add('\n');
  std::fwrite(line.text(), 1, line.length(), snapshotLog);
  std::fflush(snapshotLog);
  platform::releaseInterruptions();
}

void purgeSnapshotLogs() {
  for (int number = kLowestProbedLog; number <= kHighestProbedLog; ++number) {
    platform::directorySearch().deleteFile(snapshotLogName(number));
  }
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
  int count = countSnapshotLogs();
  if (count >= kMaxSnapshotLogs) {
    purgeSnapshotLogs();
    count = 0;
  }
  if (snapshotLog != nullptr) std::fclose(snapshotLog);
  snapshotLog = std::fopen(snapshotLogName(count + 1).c_str(), "w");
  if (snapshotLog == nullptr) reportError("cannot open log file for writing\n", 1);
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
    reportError(shown, 0);
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
  platform::holdInterruptions();
  std::fprintf(snapshotLog, "FILEs - %i, DIRECTORIEs - %i\n", fileCount, dirCount);
  std::fflush(snapshotLog);
  platform::releaseInterruptions();
}

int closeSnapshotLog() {
  // Every line was flushed on its own, so a failed write shows only in the
  // stream's error flag, not in the close: test both, or a full disk would
  // pass for a complete log.
  bool written = std::ferror(snapshotLog) == 0;
  bool closed = std::fclose(snapshotLog) == 0;
  snapshotLog = nullptr;
  if (!written || !closed) {
    reportError("Log file could not be closed", 0);
    return 0;
  }
  return 1;
}
