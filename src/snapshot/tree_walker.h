// The folder scan behind "/L" and the walk it runs.
//
// The walk is depth-first and keeps no listing open but one: its memory of
// the way down is the current directory path and, per level of it, where the
// level's name begins and (only where the parent's listing has no known
// order) how many entries came before it, so memory stays bounded by the
// path's length. It climbs back out of a directory by cutting the last
// component off the path, listing the parent again from its start and
// passing over entries up to the one it left.
#ifndef DIRLOG_SNAPSHOT_TREE_WALKER_H_
#define DIRLOG_SNAPSHOT_TREE_WALKER_H_

#include <cstddef>
#include <cstdio>
#include <string>

// The longest folder text a scan accepts, in characters.
constexpr size_t kMaxFolderLength = 255;

// Scans `folder` (the text behind "/L", `length` characters, which may be
// more than the caller could hold) into a new snapshot log: checks the
// folder, opens the log, walks the tree writing one line per entry, writes
// the totals line and closes the log. Returns after a complete scan; every
// failure ends the process with its message:
//   "the given folder is too long"      the text has more than 255 characters
//   "the given folder cannot be found"  not a directory; no log is created
//   "Nothing is that folder"            empty or unreadable; the new log stays, empty
//   "cannot close log file\n"           the log could not be written completely
void scanFolder(const char* folder, size_t length);

// How a walk into a log of no number ended.
enum class WalkEnd {
  kComplete,        // every entry that could be recorded was, and the totals line
  kFolderTooLong,   // the text has more than kMaxFolderLength characters
  kFolderNotFound,  // not a directory
  kNothingThere,    // empty or unreadable: nothing was written
  kWriteFailed,     // a line could not be written whole
};

// The walk of scanFolder() into `log` in place of a numbered log (see
// startUnnumberedLog()): the same checks of the folder, the same lines,
// records and totals, and the same status line on a terminal. Touches no
// numbered log and reports nothing itself of how it ended; the messages of
// entries it could not record go where useWalkNotice() says.
WalkEnd walkFolderInto(const std::string& folder, std::FILE* log);

// 1 when the search finds the one entry `path` names and it is a directory
// (or a link to one), 0 otherwise. A text that the search would take as a
// listing or a wildcard pattern names no one entry: it gives 0 without a
// search.
int isDirectoryPath(const char* path);

#endif  // DIRLOG_SNAPSHOT_TREE_WALKER_H_
