// Which changes the user asked to see: --include, --exclude and --only.
#ifndef DIRLOG_VIEW_FILTERS_H_
#define DIRLOG_VIEW_FILTERS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "view/change.h"

namespace view {

// A shell-style pattern, made ready once and matched in time linear in the
// text (no backtracking): "*" any run of characters within a folder name,
// "?" one character but "/", "[abc]", "[a-z]" and "[!a-z]" (or "[^a-z]") one
// character of (or not of) a set, never "/", "**" any run of characters
// across folders, "**/" no folder or any number of whole ones ("a/**/b" also
// matches "a/b"), and "\" taking the next character literally. A character
// is one of UTF-8; a byte that belongs to no UTF-8 sequence is one character
// of its own. A "[" without its "]" stands for itself. The whole text must
// match.
class Glob {
 public:
  explicit Glob(std::string_view pattern);
  bool matches(std::string_view text) const;

 private:
  enum class Step : uint8_t {
    kChar,        // the character `character`
    kAnyChar,     // "?"
    kClass,       // "[...]": ranges [first, first + count) of ranges_
    kStar,        // "*"
    kAnything,    // "**"
    kFolders,     // "**/": enters kFolderBody or skips it
    kFolderBody,  // what "**/" takes: any run ending in "/"
  };
  struct Part {
    Step step;
    bool negated = false;
    uint32_t character = 0;
    uint32_t first = 0;
    uint32_t count = 0;
  };
  struct Range {
    uint32_t low;
    uint32_t high;
  };

  void addClosure(std::vector<uint8_t>& states) const;
  bool inClass(const Part& part, uint32_t character) const;

  std::vector<Part> parts_;
  std::vector<Range> ranges_;
};

// Whether `pattern` matches the whole of `text` (see Glob).
bool globMatch(const std::string& pattern, const std::string& text);

// One --include or --exclude pattern as the paths below the start folder
// are held against it ('/' between their names, whatever the log's
// separator). A pattern with a "/" at its start or inside it is anchored:
// matched against the path from the start folder on ("/build" is the
// top-level build only). One without is matched against every name along
// the path. A "/" at its end says it names a folder. Either way a folder
// that matches stands for everything below it.
class PathPattern {
 public:
  // Implicit, so that a list of texts makes a list of patterns.
  PathPattern(const std::string& text);  // NOLINT(google-explicit-constructor)
  PathPattern(const char* text) : PathPattern(std::string(text)) {}  // NOLINT

  // Whether the pattern matches `path` or a folder above it; `directory`
  // tells whether `path` itself is a folder.
  bool selects(std::string_view path, bool directory) const;

 private:
  Glob glob_;
  bool anchored_ = false;
  bool folderOnly_ = false;
};

struct Filters {
  std::vector<PathPattern> include;
  std::vector<PathPattern> exclude;
  unsigned kinds = ~0u;  // bit (1 << Kind) for each kind shown

  bool filtersPaths() const { return !include.empty() || !exclude.empty(); }
  bool showsKind(Kind kind) const { return (kinds & (1u << static_cast<unsigned>(kind))) != 0; }
};

// The kinds of a comma-separated list ("created,moved"), or nothing when a
// name is not one of created, deleted, modified, moved, type.
std::optional<unsigned> parseKinds(const std::string& list);

// Whether a path below the start folder ('/' between its names) passes the
// include and exclude patterns: no exclude pattern selects it, and, when
// include patterns are given, one of them does.
bool pathSelected(const Filters& filters, const std::string& path, bool directory = false);

// Whether `entry`'s path passes the patterns; `separator` is the log's.
bool entrySelected(const Filters& filters, const Entry& entry, char separator);

// Whether `change` is shown: its kind is among those asked for, and its
// path (for a move, its old or its new path) passes the patterns.
bool changeSelected(const Filters& filters, const Change& change, char separator);

// The changes shown, in their order: those selected, a folded move only
// when the patterns pick it out while the line that stands for it is not
// shown (so a filter that matches something inside a moved folder shows it
// on its own line).
std::vector<Change> selectChanges(std::vector<Change> changes, const Filters& filters,
                                  char separator);

}  // namespace view

#endif  // DIRLOG_VIEW_FILTERS_H_
