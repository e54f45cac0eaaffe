// The status line of a scan: while a scan runs with standard error on a
// terminal, one line there says how many entries and folders it has recorded,
// how long it has run and which folder it is in, rewritten at most ten times
// a second and erased when the scan ends. With standard error anywhere else
// nothing is written to it.
#ifndef DIRLOG_SNAPSHOT_SCAN_PROGRESS_H_
#define DIRLOG_SNAPSHOT_SCAN_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/directory_search.h"

// Starts the clock and the counts for a scan, and asks once whether standard
// error is a terminal; when it is not, the calls below cost a test of a flag.
void startScanProgress();

// Counts one recorded entry of the folder `folder`, and shows the line when
// the last one was shown a tenth of a second ago or more (the first a tenth
// of a second after the start).
void noteScanEntry(const std::string& folder, const platform::FindData& entry);

// Writes `line` (ending in a line break) to standard error: the status
// line, if one is shown, is taken off first and shown again below it.
void writeBesideStatusLine(const std::string& line);

// Erases the line, if one is shown, and stops the counts.
void endScanProgress();

// The line for those figures, within `columns` columns less one, so that the
// cursor never reaches the last column and wraps: "<entries> entries,
// <folders> folders, <m:ss> in <folder>", hours put before the minutes
// when there are any. The folder is cut by bytes, never inside a UTF-8
// sequence, which is never wider than its bytes. What could steer the
// terminal is written as '?': a control character (as in the log), a C1
// control in UTF-8, and every byte that is not part of well-formed UTF-8.
std::string composeStatusLine(uint64_t entries, uint64_t folders, uint64_t elapsedMilliseconds,
                              const std::string& folder, int columns);

#endif  // DIRLOG_SNAPSHOT_SCAN_PROGRESS_H_
