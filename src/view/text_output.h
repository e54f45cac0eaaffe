// The text output: one block per change, aligned, then the summary; with
// colour when asked for.
#ifndef DIRLOG_VIEW_TEXT_OUTPUT_H_
#define DIRLOG_VIEW_TEXT_OUTPUT_H_

#include <cstdio>
#include <string>
#include <vector>

#include "view/change.h"
#include "view/json_output.h"
#include "view/summary.h"

namespace view {

enum class Colour { kOff, kOn };

// `text` safe to print on a terminal: control characters (C0 and DEL) and
// bytes that are not valid UTF-8 as \xNN, C1 controls and the characters
// that turn the writing direction as \uNNNN, and a backslash as "\\", so
// that no text passes for an escape, unless `separator` is the backslash
// (a Windows log's path, whose names never hold one).
std::string printable(const std::string& text, char separator = '/');

// "7 -> 18 bytes (+11 B)", or with the units of both sizes when either is
// 1 KiB or more.
std::string sizeChangeText(uint64_t before, uint64_t after);

// Whether text is coloured: `when` is "always", "never" or "auto", which
// colours a terminal unless `noColor` (NO_COLOR) is set and not empty or
// `term` (TERM) is "dumb". The two may be null.
Colour pickColour(const std::string& when, bool terminal, const char* noColor, const char* term);

// "1 record", "2 records": a count and the noun that fits it.
std::string counted(uint64_t count, const char* one, const char* many);

// An entry's type, and its size unless it is a directory: "file, 4 B".
std::string typeAndSize(const Entry& entry);

// A created or deleted entry in one line: its type, size, mode and owner
// (attributes on Windows logs) and write time.
std::string entryText(const Entry& entry, const Presentation& presentation);

// The lines of one change, each ended by "\n"; `pathWidth` is the width of
// the path column.
std::string changeText(const Change& change, const Presentation& presentation, size_t pathWidth,
                       Colour colour);

std::string summaryText(const Summary& summary, const Presentation& presentation, int depth,
                        Colour colour);

// The path column's width for `changes`: the widest path shown (in
// terminal columns), at most 48.
size_t pathColumnWidth(const std::vector<Change>& changes, char separator);

void writeText(std::FILE* out, const std::vector<Change>& changes, const Summary& summary,
               const Presentation& presentation, int depth, Colour colour);

}  // namespace view

#endif  // DIRLOG_VIEW_TEXT_OUTPUT_H_
