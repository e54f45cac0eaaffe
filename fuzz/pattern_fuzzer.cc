// dirlog-view's pattern matcher against a plain recursive matcher that reads
// the pattern as it goes: for any pattern and text (the input up to its
// first zero byte, and what follows) both must agree. The matcher must also
// stay linear in the text: libFuzzer's time limit catches one that
// backtracks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "view/filters.h"
#include "view/formatting.h"

namespace {

std::vector<uint32_t> characters(const std::string& text) {
  std::vector<uint32_t> result;
  for (size_t at = 0; at < text.size();) {
    view::Utf8Char c = view::utf8CharAt(text, at);
    result.push_back(c.value);
    at += c.length;
  }
  return result;
}

// The rules of view::Glob, one character at a time, each (pattern place,
// text place) answered once.
class Reference {
 public:
  Reference(const std::string& pattern, const std::string& text)
      : p_(characters(pattern)),
        t_(characters(text)),
        known_((p_.size() + 1) * (t_.size() + 1), -1) {}

  bool match() { return match(0, 0); }

 private:
  bool match(size_t pi, size_t ti) {
    int8_t& known = known_[pi * (t_.size() + 1) + ti];
    if (known < 0) known = decide(pi, ti) ? 1 : 0;
    return known == 1;
  }

  bool decide(size_t pi, size_t ti) {
    if (pi == p_.size()) return ti == t_.size();
    if (p_[pi] == '*') {
      size_t rest = pi;
      while (rest < p_.size() && p_[rest] == '*') ++rest;
      if (rest - pi == 1) {
        for (size_t s = ti;; ++s) {
          if (match(rest, s)) return true;
          if (s == t_.size() || t_[s] == '/') return false;
        }
      }
      if (rest < p_.size() && p_[rest] == '/') {
        if (match(rest + 1, ti)) return true;
        for (size_t s = ti; s < t_.size(); ++s) {
          if (t_[s] == '/' && match(rest + 1, s + 1)) return true;
        }
        return false;
      }
      for (size_t s = ti; s <= t_.size(); ++s) {
        if (match(rest, s)) return true;
      }
      return false;
    }
    if (ti == t_.size()) return false;
    uint32_t c = t_[ti];
    if (p_[pi] == '?') return c != '/' && match(pi + 1, ti + 1);
    if (p_[pi] == '[') {
      size_t from = pi + 1;
      bool negated = from < p_.size() && (p_[from] == '!' || p_[from] == '^');
      if (negated) ++from;
      size_t close = from + 1;
      while (close < p_.size() && p_[close] != ']') ++close;
      if (from < p_.size() && close < p_.size()) {
        bool found = false;
        for (size_t in = from; in < close;) {
          uint32_t low = p_[in];
          uint32_t high = low;
          if (in + 2 < close && p_[in + 1] == '-') {
            high = p_[in + 2];
            in += 3;
          } else {
            ++in;
          }
          if (c >= low && c <= high) found = true;
        }
        return c != '/' && found != negated && match(close + 1, ti + 1);
      }
    }
    if (p_[pi] == '\\' && pi + 1 < p_.size()) ++pi;
    return p_[pi] == c && match(pi + 1, ti + 1);
  }

  std::vector<uint32_t> p_;
  std::vector<uint32_t> t_;
  std::vector<int8_t> known_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  if (split == std::string::npos) return 0;
  std::string pattern = input.substr(0, split);
  std::string text = input.substr(split + 1);
  bool fast = view::Glob(pattern).matches(text);
  bool reference = Reference(pattern, text).match();
  if (fast != reference) {
    std::fprintf(stderr, "pattern [%s] text [%s]: matcher %d, reference %d\n", pattern.c_str(),
                 text.c_str(), fast, reference);
    std::abort();
  }
  return 0;
}
