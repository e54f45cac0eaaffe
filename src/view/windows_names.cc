#include "view/windows_names.h"

#include <vector>

#include "platform/system.h"

namespace view {
namespace {

constexpr size_t kFormLength = 5;  // "?" and four hexadecimal digits

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the form at `at`, or -1 when none stands there.
long formAt(const std::string& text, size_t at) {
  if (text[at] != '?' || at + kFormLength > text.size()) return -1;
  long unit = 0;
  for (size_t i = 1; i < kFormLength; ++i) {
    int digit = hexDigit(text[at + i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

void appendCodePoint(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A run of forms: pairs of surrogates join into one character; a surrogate
// without its other half is left as its form.
void appendUnits(const std::vector<uint16_t>& units, const std::string& text, size_t from,
                 std::string& out) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint16_t unit = units[i];
    bool high = unit >= 0xD800 && unit < 0xDC00;
    bool low = unit >= 0xDC00 && unit < 0xE000;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      appendCodePoint(0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u), out);
      ++i;
    } else if (high || low) {
      out.append(text, from + i * kFormLength, kFormLength);
    } else {
      appendCodePoint(unit, out);
    }
  }
}

void appendDecoded(const std::string& bytes, unsigned codePage, std::string& out) {
  std::string decoded;
  if (platform::codePageToUtf8(bytes, codePage, decoded)) {
    out += decoded;
  } else {
    out += bytes;
  }
}

}  // namespace

std::string decodeWindowsName(const std::string& logged, unsigned codePage) {
  bool plain = true;
  for (char c : logged) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == '?') plain = false;
  }
  if (plain) return logged;
  std::string out;
  size_t at = 0;
  while (at < logged.size()) {
    size_t formsFrom = at;
    std::vector<uint16_t> units;
    for (long unit; at < logged.size() && (unit = formAt(logged, at)) >= 0; at += kFormLength) {
      units.push_back(static_cast<uint16_t>(unit));
    }
    appendUnits(units, logged, formsFrom, out);
    size_t runFrom = at;
    while (at < logged.size() && formAt(logged, at) < 0) ++at;
    if (at > runFrom) appendDecoded(logged.substr(runFrom, at - runFrom), codePage, out);
  }
  return out;
}

}  // namespace view
