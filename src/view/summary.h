// What a view adds up: counts per kind, bytes, lines not read, and the
// roll-ups per folder.
#ifndef DIRLOG_VIEW_SUMMARY_H_
#define DIRLOG_VIEW_SUMMARY_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "view/change.h"
#include "view/log_comparison.h"

namespace view {

constexpr size_t kKindCount = 5;
using KindCounts = std::array<uint64_t, kKindCount>;  // indexed by Kind

// The bytes a change adds and removes: a created entry adds its size, a
// deleted one removes it, any other adds or removes its size's difference.
struct Bytes {
  uint64_t added = 0;
  uint64_t removed = 0;
  int64_t net() const { return static_cast<int64_t>(added - removed); }
};
Bytes bytesOf(const Change& change);

struct Rollup {
  std::string folder;  // below the start folder; "" is the start folder
  int depth = 0;
  KindCounts counts{};
  Bytes bytes;
  uint64_t total() const;
};

struct LogSummary {
  std::string file;
  LogFacts facts;
  std::optional<uint64_t> taken;  // the log file's last write, 100 ns since 1601
  bool live = false;  // a live walk of the folder `file` (taken: when it began), not a log
};

struct Summary {
  LogSummary before;
  LogSummary after;
  char separator = '/';
  std::optional<std::string> pathsBelow;  // as Comparison has it
  bool startsDiffer = false;
  std::optional<unsigned> codePage;  // as Comparison has it
  KindCounts counts{};
  uint64_t shown = 0;
  Bytes bytes;
  uint64_t accessOnlyHidden = 0;
  uint64_t unreadCount = 0;
  std::vector<UnreadLine> unread;
  std::vector<Rollup> rollups;  // largest first
};

// The folders above `path` down to `depth` levels below the start folder,
// outermost first, the start folder ("") included; never `path` itself.
// Each folder appears once: the leading separator of a path outside the
// start folder ("/srv/x") belongs to its first folder ("/srv").
std::vector<std::string> foldersAbove(const std::string& path, char separator, int depth);

// Adds up `shown`. The roll-ups go `depth` levels below the start folder
// and come largest first: by bytes added and removed, then by count, then
// by name. A move counts in the folders of its new path.
Summary summarize(const std::vector<Change>& shown, const Comparison& comparison, int depth);

}  // namespace view

#endif  // DIRLOG_VIEW_SUMMARY_H_
