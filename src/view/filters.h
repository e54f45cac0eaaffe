// Which changes the user asked to see: --include, --exclude and --only.
#ifndef DIRLOG_VIEW_FILTERS_H_
#define DIRLOG_VIEW_FILTERS_H_

#include <optional>
#include <string>
#include <vector>

#include "view/change.h"

namespace view {

// Shell-style matching of `text` against `pattern`: "*" any run of
// characters within a folder name, "?" one character but "/", "[abc]",
// "[a-z]" and "[!a-z]" (or "[^a-z]") one character of (or not of) a set,
// "**" any run of characters across folders ("a/**/b" also matches "a/b"),
// and "\" taking the next character literally. The whole text must match.
bool globMatch(const std::string& pattern, const std::string& text);

struct Filters {
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  unsigned kinds = ~0u;  // bit (1 << Kind) for each kind shown
};

// The kinds of a comma-separated list ("created,moved"), or nothing when a
// name is not one of created, deleted, modified, moved, type.
std::optional<unsigned> parseKinds(const std::string& list);

// Whether a path below the start folder ('/' between its names, whatever
// the log's separator) passes the include and exclude patterns. A pattern
// holding a "/" is matched against the whole path, one without against
// each name; either way a folder that matches stands for everything below
// it. A path passes when no exclude pattern matches it or a folder above
// it, and, when include patterns are given, one of them does.
bool pathSelected(const Filters& filters, const std::string& path);

// Whether `change` is shown: its kind is among those asked for, and its
// path (for a move, its old or its new path) passes the patterns. `separator`
// is the log's.
bool changeSelected(const Filters& filters, const Change& change, char separator);

}  // namespace view

#endif  // DIRLOG_VIEW_FILTERS_H_
