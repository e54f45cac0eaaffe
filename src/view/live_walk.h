// dirlog-view --live: the tree as dirlog /L would record it now, walked by
// the same walker and record writer into a temporary log that stands in for
// the after log. No numbered log is created, changed or purged, and nothing
// in the log folder is touched.
#ifndef DIRLOG_VIEW_LIVE_WALK_H_
#define DIRLOG_VIEW_LIVE_WALK_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace view {

// A walk's temporary log, or why there is none.
struct LiveWalk {
  // Open for reading from its start in binary mode, as logs are read; the
  // caller closes it, which removes it. nullptr when the walk failed.
  std::FILE* log = nullptr;
  uint64_t taken = 0;   // when the walk began, in 100 ns since 1601-01-01 UTC
  std::string trouble;  // without a log: what went wrong, for "dirlog-view: "
};

// Walks `folder` (the text the walk's paths begin with, as "/L" takes it)
// into a temporary log outside the log folder, with the status line on a
// terminal that a scan shows. Each entry the walk cannot record (a path too
// long, a folder it cannot list) is named on `err` as it is met, as
// "dirlog-view: <message>", and fails the walk: a comparison with a tree
// partly walked would look complete. So does a folder that is no
// directory, or empty, or cannot be listed, or a temporary log that cannot
// be written whole.
LiveWalk walkLive(const std::string& folder, std::FILE* err);

}  // namespace view

#endif  // DIRLOG_VIEW_LIVE_WALK_H_
