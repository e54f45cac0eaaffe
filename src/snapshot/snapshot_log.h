// The snapshot log: its numbered names, the rule that picks the next number
// and purges old logs, the record line format, and the writer the walk calls
// for every entry. The record line parser (compare/record_parser.h) reads the
// format written here; the two must agree field for field.
#ifndef DIRLOG_SNAPSHOT_SNAPSHOT_LOG_H_
#define DIRLOG_SNAPSHOT_SNAPSHOT_LOG_H_

#include <cstdio>
#include <string>

#include "platform/directory_search.h"
#include "snapshot/entry_record.h"

// Log numbers 0 to 9 are probed and purged; the program only ever creates
// numbers 1 to kMaxSnapshotLogs.
constexpr int kMaxSnapshotLogs = 8;

// The name of snapshot log `number`: the log folder, "dirlog", the number in
// decimal (with a leading "-" when negative), ".txt".
std::string snapshotLogName(int number);

// How many of the ten names for the numbers 0 to 9 exist (a file, a
// directory or a link of that name all count).
int countSnapshotLogs();

// Creates the next snapshot log (one more than the number of logs that
// exist; after the eighth, all ten names are deleted first and the count
// starts again at 1), or empties an existing log of that number. A log
// that another scan is writing is never taken, emptied or purged: the
// number is counted again, and when the count gives that log again, the
// non-fatal "log file is being written by another scan: <name>" comes
// first. Returns only with the log open; ends the process with "cannot
// open log file for writing\n" when it cannot be opened, a name that is a
// link or anything but a regular file included.
void openNewSnapshotLog();

// Writes the lines that follow to `stream` in place of a numbered log:
// a log of no number, for a walk that must leave the numbered logs alone.
// The caller opened `stream` for writing in text mode and keeps it; the
// lines are the same, but they are not flushed one by one. The counters of
// the totals line start again at 0.
void startUnnumberedLog(std::FILE* stream);

// Ends the writing begun by startUnnumberedLog(): flushes the stream and
// leaves it open. False when a write to it failed; what it holds is then
// not to be read.
bool endUnnumberedLog();

// Where the walk's messages about what it could not record go, worded
// without a program name: "path too long, not recorded: <path>" from
// writeEntryLine(), "cannot list <folder>: <reason>" from the walk. Without
// one (nullptr, the start), they go out as dirlog's: the first as a
// non-fatal error line, the second as "dirlog: ..." on standard error.
using WalkNotice = void (*)(const std::string& message);
void useWalkNotice(WalkNotice notice);

// Hands `message` to the walk notice in use. False when none is, for the
// caller to report it in dirlog's own way.
bool sendWalkNotice(const std::string& message);

// Fills the current record from a full path and an entry of the directory
// search. Control characters in the path and name are written as '?'.
void captureEntry(const char* fullPath, const platform::FindData& entry);

// The record that captureEntry filled last.
const EntryRecord& currentRecord();

// Records one entry of the directory `directoryPath`: composes its full
// path, captures it, counts it as a file or a directory, and writes and
// flushes its line. Returns 1 when the line was written, 0 when the full path
// does not fit a record (longer than kMaxPathLength); that entry is then
// reported with "path too long, not recorded: <path>" (see useWalkNotice())
// and must not be entered.
int writeEntryLine(const char* directoryPath, const platform::FindData& entry);

// Writes "FILEs - <files>, DIRECTORIEs - <directories>\n". The counters start
// at 0 with the process and are never reset, so a second scan in one run
// counts on from the first one's totals.
void writeTotalsLine();

// Closes the log. Returns 1, or 0 after reporting "Log file could not be
// closed" (non-fatal) when the close failed or any write to the log failed.
// After a failed write the log keeps only the lines written whole before
// it; nothing more is written to it.
int closeSnapshotLog();

#endif  // DIRLOG_SNAPSHOT_SNAPSHOT_LOG_H_
