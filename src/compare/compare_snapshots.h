// The comparison of the before log with the after log, and the change report
// it writes: one line for every entry of the before log that was modified or
// deleted, then one for every entry of the after log that was created.
#ifndef DIRLOG_COMPARE_COMPARE_SNAPSHOTS_H_
#define DIRLOG_COMPARE_COMPARE_SNAPSHOTS_H_

#include <cstddef>
#include <cstdio>

#include "snapshot/entry_record.h"

enum class ChangeKind { MODIFIED = 1, DELETED = 2, CREATED = 3 };

// The comparison's two records: A, the entry looked for (a line of the log
// being walked); B, the candidate (a line of the log being searched).
EntryRecord& recordA();
EntryRecord& recordB();

// 1 when the paths of records A and B are equal byte for byte, 0 otherwise.
int samePath();

// -1 when the paths of records A and B differ; otherwise 1 when any of the
// eleven numeric fields differs, 0 when none does. Names and short names are
// not compared.
int compareRecords();

// Writes one report line for `record` under the label of `kind`, in the
// directory format when its attributes carry 0x10 and the file format
// otherwise, every number unsigned, and flushes it. A report that cannot take
// the line ends the run with "Cannot write report file". Only valid while a
// comparison has the report open.
void writeReportLine(ChangeKind kind, const EntryRecord& record);

// Compares `before` with `after`, two streams opened in binary mode and
// standing at their start, and writes the change report,
// logFolder() + "report.txt", replacing any earlier one; prints
// "PASSES - <n>\n" for every record line of the before log, then again from 1
// for every record line of the after log. The report holds, for each record
// line of the before log in order, one MODIFIED line for every record line of
// the after log with the same path whose numbers differ, or one DELETED line
// when the after log has no line of that path; then, for each record line of
// the after log in order, one CREATED line when the before log has no line of
// its path. A log whose data ends in a line without its line break (a scan
// killed or stopped by a full disk while writing it) holds that line cut
// short: it is no record line, and when it begins as one the non-fatal
// "log file #1 before ends in a cut line, not compared" (#2 after for the
// after log) follows the progress lines of that log. Fatal: "Cannot open
// report file" when the report cannot be created or its name is a link or
// anything but a regular file, "canot set pos\n" when a log cannot be
// rewound (after the findings that come before that rewind), "Cannot write
// report file" when the report cannot be written or closed completely. The
// streams stay open.
void compareSnapshotStreams(FILE* before, FILE* after);

// Sets how many bytes the comparison reads from a log at once; 0 restores the
// default. For tests, which use small blocks to reach block edges.
void useCompareBlockSize(size_t bytes);

#endif  // DIRLOG_COMPARE_COMPARE_SNAPSHOTS_H_
