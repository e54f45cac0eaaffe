// Reading two snapshot logs into the list of what changed between them, on
// the pairing that the change report stands on too (compare/log_pairing.h):
// whole record lines only, each before line paired with the first after line
// of its path that no other took. Only changed entries are kept in memory.
#ifndef DIRLOG_VIEW_LOG_COMPARISON_H_
#define DIRLOG_VIEW_LOG_COMPARISON_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "view/change.h"

namespace view {

// How paths of the two logs are matched: exactly, as the comparison does,
// or below each log's own start folder (logs of two different folders).
enum class PathMatching { kExact, kBelowStart };

struct ComparisonOptions {
  PathMatching matching = PathMatching::kExact;
  AccessTimes access = AccessTimes::kHidden;
  size_t blockSize = size_t{1} << 20;
  // Whether a change of the access time alone, of the entry as the after
  // log has it (its path with the log's separator), counts among those
  // left out; all count when empty.
  std::function<bool(const Entry& entry, char separator)> accessOnlyCounts;
  // The code page the names of Windows logs are decoded from.
  unsigned codePage = 1252;
};

// What the view learned about one log.
struct LogFacts {
  std::string start;   // the parent of its first record's path; empty when it has none
  char separator = 0;  // '/' or '\\'; 0 when it has no record
  uint64_t records = 0;
  uint64_t unread = 0;     // lines it could not read
  bool dashLines = false;  // some of them begin with "-", as a record line does
};

// A line that is not a record the view can read: a record line cut short
// or with fewer than fifteen fields, a line longer than a record line can
// be (counted once, whatever its length), or any other text than the totals
// line.
struct UnreadLine {
  enum class Log { kBefore, kAfter } log;
  uint64_t line;     // from 1
  std::string text;  // its first 200 characters, without the line break
};

constexpr size_t kUnreadListed = 20;
constexpr size_t kUnreadTextLength = 200;

struct Comparison {
  LogFacts before;
  LogFacts after;
  LogSystem system = LogSystem::kPosix;
  // Created, deleted, modified and type changes, before moves are found,
  // in listing order.
  std::vector<Change> changes;
  uint64_t accessOnly = 0;  // changes of the access time alone, left out and counted
  // The folder every path of `changes` is shown below: the start folder of
  // both logs or, when the two differ and paths are matched exactly, the
  // deepest folder that holds both (startsDiffer). Nothing when each log's
  // paths are shown below its own start folder (--relative).
  std::optional<std::string> pathsBelow;
  bool startsDiffer = false;
  // Windows logs: the code page their names were decoded from. Paths,
  // start folders and short names are then UTF-8; a POSIX log's stay bytes.
  std::optional<unsigned> codePage;
  uint64_t unreadCount = 0;
  std::vector<UnreadLine> unread;  // the first kUnreadListed of them
};

// Compares two logs opened in binary mode and standing at their start. The
// after log must be able to seek; the before log is read through once.
Comparison compareLogs(std::FILE* before, std::FILE* after, const ComparisonOptions& options);

// The start folder a record path gives: all before its last separator
// ('/' when the path holds one, else '\\').
std::string startFolderOf(const std::string& recordPath);

// The deepest folder that holds both `a` and `b` (two start folders with
// `separator` between their names): "" when they share no folder.
std::string commonFolder(const std::string& a, const std::string& b, char separator);

// `path` below `start` (without the separator between), or `path` itself
// when it does not lie below it.
std::string belowStart(const std::string& path, const std::string& start, char separator);

}  // namespace view

namespace view {

// One entry as a single log records it.
struct FoundEntry {
  Entry entry;
  LogSystem system;
  std::string start;
};

// The first record of `log` (opened in binary mode, at its start) whose
// path is `path`, or whose path below the log's start folder is `path`; in a
// Windows log, the path as decoded from `codePage`.
std::optional<FoundEntry> findEntry(std::FILE* log, const std::string& path, unsigned codePage,
                                    size_t blockSize = size_t{1} << 20);

// The start folder of `log` (opened in binary mode, at its start) that its
// first record gives, in the log's own bytes; nothing when it has no record.
// Reads on only up to that record.
std::optional<std::string> logStartFolder(std::FILE* log, size_t blockSize = size_t{1} << 20);

}  // namespace view

#endif  // DIRLOG_VIEW_LOG_COMPARISON_H_
