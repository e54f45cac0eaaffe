#include "view/filters.h"

#include <algorithm>

namespace view {
namespace {

// One character class at `p` (just past the "["). Sets `matched` and
// returns the position past the "]", or nullptr when the class is not
// closed (the "[" then stands for itself).
const char* matchClass(const char* p, char c, bool& matched) {
  bool negated = *p == '!' || *p == '^';
  if (negated) ++p;
  bool found = false;
  bool first = true;
  for (; *p != '\0' && (first || *p != ']'); ++p, first = false) {
    char low = *p;
    char high = low;
    if (p[1] == '-' && p[2] != '\0' && p[2] != ']') {
      high = p[2];
      p += 2;
    }
    if (c >= low && c <= high) found = true;
  }
  if (*p != ']') return nullptr;
  matched = found != negated;
  return p + 1;
}

bool match(const char* p, const char* t) {
  while (*p != '\0') {
    if (p[0] == '*' && p[1] == '*') {
      const char* rest = p + 2;
      while (*rest == '*') ++rest;
      if (*rest == '/') {
        // "**/": no folder, or any number of whole folders.
        if (match(rest + 1, t)) return true;
        for (const char* s = t; *s != '\0'; ++s) {
          if (*s == '/' && match(rest + 1, s + 1)) return true;
        }
        return false;
      }
      for (const char* s = t;; ++s) {
        if (match(rest, s)) return true;
        if (*s == '\0') return false;
      }
    }
    if (*p == '*') {
      for (const char* s = t;; ++s) {
        if (match(p + 1, s)) return true;
        if (*s == '\0' || *s == '/') return false;
      }
    }
    if (*t == '\0') return false;
    if (*p == '?') {
      if (*t == '/') return false;
      ++p;
      ++t;
      continue;
    }
    if (*p == '[') {
      bool matched = false;
      const char* after = matchClass(p + 1, *t, matched);
      if (after != nullptr) {
        if (!matched || *t == '/') return false;
        p = after;
        ++t;
        continue;
      }
    }
    if (*p == '\\' && p[1] != '\0') ++p;
    if (*p != *t) return false;
    ++p;
    ++t;
  }
  return *t == '\0';
}

// The pattern as matched: a leading "/" only anchors (every pattern with a
// "/" is anchored), a trailing one only says "a folder".
std::string trimmed(const std::string& pattern) {
  size_t begin = pattern.starts_with('/') ? 1 : 0;
  size_t end = pattern.size();
  while (end > begin && pattern[end - 1] == '/') --end;
  return pattern.substr(begin, end - begin);
}

// Whether `pattern` matches `path` or one of the folders above it.
bool matchesPathOrFolder(const std::string& pattern, const std::string& path) {
  std::string used = trimmed(pattern);
  bool byName = used.find('/') == std::string::npos;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    std::string_view piece =
        byName ? std::string_view(path).substr(start, end == std::string::npos ? end : end - start)
               : std::string_view(path).substr(0, end);
    if (match(used.c_str(), std::string(piece).c_str())) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

std::string slashed(const std::string& path, char separator) {
  if (separator != '\\') return path;
  std::string result = path;
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

}  // namespace

bool globMatch(const std::string& pattern, const std::string& text) {
  return match(pattern.c_str(), text.c_str());
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

bool pathSelected(const Filters& filters, const std::string& path) {
  for (const std::string& pattern : filters.exclude) {
    if (matchesPathOrFolder(pattern, path)) return false;
  }
  if (filters.include.empty()) return true;
  return std::any_of(
      filters.include.begin(), filters.include.end(),
      [&](const std::string& pattern) { return matchesPathOrFolder(pattern, path); });
}

bool changeSelected(const Filters& filters, const Change& change, char separator) {
  if ((filters.kinds & (1u << static_cast<unsigned>(change.kind))) == 0) return false;
  if (filters.include.empty() && filters.exclude.empty()) return true;
  for (const auto* entry : {&change.before, &change.after}) {
    if (entry->has_value() && pathSelected(filters, slashed((*entry)->path, separator))) {
      return true;
    }
  }
  return false;
}

}  // namespace view
