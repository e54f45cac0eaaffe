// Reading a record line of a snapshot log back into an EntryRecord: the
// reading side of the line format that snapshot/snapshot_log.h writes.
#ifndef DIRLOG_COMPARE_RECORD_PARSER_H_
#define DIRLOG_COMPARE_RECORD_PARSER_H_

#include <cstddef>

#include "snapshot/entry_record.h"

// Fills every field of `record` from `line`, a zero-terminated line as read
// from a log (its "\n" included when the line is complete). Never fails.
//
// Fields are numbered from 1. Field k is every character after the line's
// (k-1)th comma up to and including its kth comma; field 1 starts the line,
// and a field with no comma behind it runs to the end of the line. A field's
// text is the field less its last character (the comma, or the line break of
// the last field), cut to its first 255 characters; a field the line does not
// reach has empty text. Every comma separates: there is no quoting.
//
//   1 tag (dropped)   2 path   3 name   4 shortName   5 attributes
//   6 sizeHigh   7 sizeLow   8 reserved0   9 reserved1
//   10 creationHigh   11 creationLow   12 lastAccessHigh   13 lastAccessLow
//   14 lastWriteHigh   15 lastWriteLow
//
// Texts longer than their record field are cut to fit it (255, 254 and 13
// characters). Numbers: leading white space is skipped, then an optional
// "+" or "-", then the decimal digits up to the first non-digit; no digit
// reads as 0. Every numeric field takes the value nearest to the one written
// that its range holds: field 5 is clamped to -2147483648..2147483647, fields
// 6 to 15 to 0..4294967295, so "-5" there reads as 0 and 4294967296 as
// 4294967295.
//
// A comma inside a path or name is written unchanged and gives the line more
// than fifteen fields. Such a line is read as written when its last eleven
// fields are numbers as the writer writes them (decimal digits only, the
// first of them possibly starting with "-", the last possibly followed by the
// line break "\n" or "\r\n") and exactly one comma of the text between the
// tag and the short name (the field before those eleven) splits that text
// into a part that ends with the log's separator followed by the part after
// the comma: the first part is then the path, the second the name, and the
// eleven numbers fields 5 to 15. Any other line is read field by field. The
// separator is the one the line itself shows, whichever system wrote it:
// "/" when some comma splits the text with it, else the backslash (a Windows name
// never holds "/", and a POSIX path has "/" in front of its name).
void parseRecordLine(const char* line, EntryRecord& record);

// Copies into `path` (kMaxPathLength + 1 bytes) the path that parseRecordLine
// reads from `line`, and returns its length; reads nothing else.
size_t parseRecordPath(const char* line, char* path);

// Where that path stands in `line` itself, for a line of `length` characters
// (no terminating zero needed; the last character may be the CR of a CR LF
// line end in place of its "\n"): the path is the `pathLength` bytes at
// `path`. Answers only for a line without a zero byte and with fewer than
// fifteen commas, which is most; returns false for any other, whose path
// parseRecordPath() finds.
bool findRecordPath(const char* line, size_t length, const char*& path, size_t& pathLength);

#endif  // DIRLOG_COMPARE_RECORD_PARSER_H_
