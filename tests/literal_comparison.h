// The record line parser and the comparison written the slow, obvious way:
// every field found by its own walk over the line, and for every record
// line of one log the whole other log read again through a line read limited
// to 998 characters, which takes a last line that no line break ends for
// the line cut short that it is. Tests hold the program's fast versions
// against these.
#ifndef DIRLOG_TESTS_LITERAL_COMPARISON_H_
#define DIRLOG_TESTS_LITERAL_COMPARISON_H_

#include <cstdio>
#include <string>

#include "snapshot/entry_record.h"

// Fills `record` from `line` by fifteen walks over the line through a field
// buffer of 256 bytes; a line with a comma in its path or name is first
// split into all its fields and read as written when its shape allows.
void literalParseRecordLine(const char* line, EntryRecord& record);

// Compares `before` with `after`, both text streams at their start, in two
// passes, rewinding the searched log for every record line of the walked
// one; writes logFolder() + "report.txt" and the progress lines on standard
// output, and reports errors through reportError.
void literalCompareSnapshots(FILE* before, FILE* after);

// What a stream that reads CR LF as LF and stops at 0x1A gives for `bytes`.
std::string textModeView(const std::string& bytes);

// Whether every field of the two records holds the same value (texts up to
// their terminating zero).
bool sameRecord(const EntryRecord& a, const EntryRecord& b);

// All fields of `record` as one line of text, for failure messages.
std::string describeRecord(const EntryRecord& record);

#endif  // DIRLOG_TESTS_LITERAL_COMPARISON_H_
