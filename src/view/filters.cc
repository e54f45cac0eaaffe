#include "view/filters.h"

#include <algorithm>
#include <unordered_set>

#include "view/formatting.h"

namespace view {
namespace {

constexpr uint32_t kSlash = '/';

}  // namespace

// The pattern becomes a row of parts, each a state of a matcher that keeps
// the set of states it may be in: every character of the text moves each
// state at most one part on (or keeps it where a star loops), so a text is
// matched in one pass over it, whatever the stars.
Glob::Glob(std::string_view pattern) {
  for (size_t at = 0; at < pattern.size();) {
    if (pattern[at] == '*') {
      size_t stars = 1;
      while (at + stars < pattern.size() && pattern[at + stars] == '*') ++stars;
      at += stars;
      if (stars == 1) {
        parts_.push_back({Step::kStar});
      } else if (at < pattern.size() && pattern[at] == '/') {
        ++at;
        parts_.push_back({Step::kFolders});
        parts_.push_back({Step::kFolderBody});
      } else {
        parts_.push_back({Step::kAnything});
      }
      continue;
    }
    if (pattern[at] == '?') {
      parts_.push_back({Step::kAnyChar});
      ++at;
      continue;
    }
    if (pattern[at] == '[') {
      // The class runs to the first "]" after its first character.
      size_t from = at + 1;
      bool negated = from < pattern.size() && (pattern[from] == '!' || pattern[from] == '^');
      if (negated) ++from;
      size_t close = pattern.find(']', from + 1);
      if (from < pattern.size() && close != std::string_view::npos) {
        Part part{Step::kClass, negated};
        part.first = static_cast<uint32_t>(ranges_.size());
        for (size_t in = from; in < close;) {
          Utf8Char low = utf8CharAt(pattern, in);
          in += low.length;
          Range range{low.value, low.value};
          if (in + 1 < close && pattern[in] == '-') {
            Utf8Char high = utf8CharAt(pattern, in + 1);
            range.high = high.value;
            in += 1 + high.length;
          }
          ranges_.push_back(range);
        }
        part.count = static_cast<uint32_t>(ranges_.size()) - part.first;
        parts_.push_back(part);
        at = close + 1;
        continue;
      }
    }
    if (pattern[at] == '\\' && at + 1 < pattern.size()) ++at;
    Utf8Char literal = utf8CharAt(pattern, at);
    Part part{Step::kChar};
    part.character = literal.value;
    parts_.push_back(part);
    at += literal.length;
  }
}

bool Glob::inClass(const Part& part, uint32_t character) const {
  bool found = false;
  for (uint32_t i = part.first; i < part.first + part.count; ++i) {
    if (character >= ranges_[i].low && character <= ranges_[i].high) found = true;
  }
  return found != part.negated;
}

// The states reached without taking a character: past a star, into and
// past "**/". Those edges only lead forward, so one pass takes them all.
void Glob::addClosure(std::vector<uint8_t>& states) const {
  for (size_t state = 0; state < parts_.size(); ++state) {
    if (!states[state]) continue;
    switch (parts_[state].step) {
      case Step::kStar:
      case Step::kAnything:
        states[state + 1] = 1;
        break;
      case Step::kFolders:
        states[state + 1] = 1;
        states[state + 2] = 1;
        break;
      default:
        break;
    }
  }
}

bool Glob::matches(std::string_view text) const {
  std::vector<uint8_t> states(parts_.size() + 1, 0);
  std::vector<uint8_t> next(parts_.size() + 1, 0);
  states[0] = 1;
  addClosure(states);
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = utf8CharAt(text, at);
    at += c.length;
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    for (size_t state = 0; state < parts_.size(); ++state) {
      if (!states[state]) continue;
      const Part& part = parts_[state];
      size_t to = state + 1;
      bool moves = false;
      switch (part.step) {
        case Step::kChar:
          moves = c.value == part.character;
          break;
        case Step::kAnyChar:
          moves = c.value != kSlash;
          break;
        case Step::kClass:
          moves = c.value != kSlash && inClass(part, c.value);
          break;
        case Step::kStar:
          moves = c.value != kSlash;
          to = state;
          break;
        case Step::kAnything:
          moves = true;
          to = state;
          break;
        case Step::kFolders:
          break;
        case Step::kFolderBody:
          next[state] = 1;
          moves = c.value == kSlash;
          any = true;
          break;
      }
      if (moves) {
        next[to] = 1;
        any = true;
      }
    }
    if (!any) return false;
    addClosure(next);
    states.swap(next);
  }
  return states[parts_.size()] != 0;
}

bool globMatch(const std::string& pattern, const std::string& text) {
  return Glob(pattern).matches(text);
}

namespace {

// The pattern as matched: a leading "/" only anchors, trailing ones only
// say "a folder".
std::string_view core(std::string_view text) {
  if (text.starts_with('/')) text.remove_prefix(1);
  while (text.ends_with('/')) text.remove_suffix(1);
  return text;
}

}  // namespace

PathPattern::PathPattern(const std::string& text)
    : glob_(core(text)),
      anchored_(text.starts_with('/') || core(text).find('/') != std::string_view::npos),
      folderOnly_(text.size() > 1 && text.ends_with('/')) {}

bool PathPattern::selects(std::string_view path, bool directory) const {
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    bool last = end == std::string_view::npos;
    // Every name but the last is a folder's.
    if (!folderOnly_ || !last || directory) {
      std::string_view piece = anchored_ ? path.substr(0, end) : path.substr(start, end - start);
      if (glob_.matches(piece)) return true;
    }
    if (last) return false;
    start = end + 1;
  }
}

std::optional<unsigned> parseKinds(const std::string& list) {
  unsigned kinds = 0;
  size_t start = 0;
  for (;;) {
    size_t end = list.find(',', start);
    std::string name = list.substr(start, end == std::string::npos ? end : end - start);
    bool known = false;
    for (Kind kind : {Kind::kCreated, Kind::kDeleted, Kind::kModified, Kind::kMoved, Kind::kType}) {
      if (name == kindName(kind)) {
        kinds |= 1u << static_cast<unsigned>(kind);
        known = true;
      }
    }
    if (!known) return std::nullopt;
    if (end == std::string::npos) return kinds;
    start = end + 1;
  }
}

bool pathSelected(const Filters& filters, const std::string& path, bool directory) {
  for (const PathPattern& pattern : filters.exclude) {
    if (pattern.selects(path, directory)) return false;
  }
  if (filters.include.empty()) return true;
  return std::any_of(filters.include.begin(), filters.include.end(),
                     [&](const PathPattern& pattern) { return pattern.selects(path, directory); });
}

bool entrySelected(const Filters& filters, const Entry& entry, char separator) {
  bool directory = entry.type == EntryType::kDirectory;
  if (separator != '\\') return pathSelected(filters, entry.path, directory);
  std::string slashed = entry.path;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return pathSelected(filters, slashed, directory);
}

bool changeSelected(const Filters& filters, const Change& change, char separator) {
  if (!filters.showsKind(change.kind)) return false;
  if (!filters.filtersPaths()) return true;
  for (const auto* entry : {&change.before, &change.after}) {
    if (entry->has_value() && entrySelected(filters, **entry, separator)) return true;
  }
  return false;
}

std::vector<Change> selectChanges(std::vector<Change> changes, const Filters& filters,
                                  char separator) {
  std::vector<bool> shown(changes.size(), false);
  std::unordered_set<uint64_t> shownMoves;
  for (size_t i = 0; i < changes.size(); ++i) {
    if (changes[i].foldedInto || !changeSelected(filters, changes[i], separator)) continue;
    shown[i] = true;
    if (changes[i].kind == Kind::kMoved) shownMoves.insert(changes[i].order);
  }
  for (size_t i = 0; i < changes.size(); ++i) {
    const std::optional<uint64_t>& standIn = changes[i].foldedInto;
    if (standIn && filters.filtersPaths() && !shownMoves.contains(*standIn)) {
      shown[i] = changeSelected(filters, changes[i], separator);
    }
  }
  size_t kept = 0;
  for (size_t i = 0; i < changes.size(); ++i) {
    if (!shown[i]) continue;
    if (kept != i) changes[kept] = std::move(changes[i]);
    ++kept;
  }
  changes.resize(kept);
  return changes;
}

}  // namespace view
