#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "platform/logged_name_win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace platform {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kFormLength = 5;  // "?" and four digits

// "?" would read as the start of a form, and a control character could end
// or forge a log line.
bool needsForm(wchar_t unit) { return unit == L'?' || unit < 0x20 || unit == 0x7F; }

void appendForm(std::string& to, wchar_t unit) {
  to += '?';
  for (int shift = 12; shift >= 0; shift -= 4) to += kHexDigits[(unit >> shift) & 0xF];
}

// The code page's bytes for `count` code units at `from`, best fit and the
// default character included: what FindFirstFileA would give.
std::string ansiBytes(const wchar_t* from, int count) {
  int size = WideCharToMultiByte(CP_ACP, 0, from, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, from, count, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// Whether the code page reads `bytes` back as exactly the `count` code units
// at `from`: a best fit or the default character reads back as another.
bool readsBackAs(const std::string& bytes, const wchar_t* from, int count) {
  int size = static_cast<int>(bytes.size());
  int read = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (read != count) return false;
  std::wstring back(static_cast<size_t>(read), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, back.data(), read);
  return std::wmemcmp(back.data(), from, static_cast<size_t>(count)) == 0;
}

bool holdsEvery(const wchar_t* name, int length) {
  for (int i = 0; i < length; ++i) {
    if (needsForm(name[i])) return false;
  }
  return true;
}

// The code units of one character: a surrogate pair, or one unit (a lone
// surrogate too).
int characterLength(const wchar_t* at, const wchar_t* end) {
  return IS_HIGH_SURROGATE(at[0]) && at + 1 < end && IS_LOW_SURROGATE(at[1]) ? 2 : 1;
}

bool isUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The code unit of the form at `at`, or -1 when no form begins there.
long formAt(const char* at) {
  if (at[0] != '?') return -1;
  long unit = 0;
  for (size_t i = 1; i < kFormLength; ++i) {
    if (!isUpperHexDigit(at[i])) return -1;
    unit = unit * 16 + static_cast<long>(std::strchr(kHexDigits, at[i]) - kHexDigits);
  }
  return unit;
}

void appendAnsi(std::wstring& to, const char* from, const char* end) {
  int count = static_cast<int>(end - from);
  if (count == 0) return;
  int size = MultiByteToWideChar(CP_ACP, 0, from, count, nullptr, 0);
  if (size <= 0) return;
  size_t start = to.size();
  to.resize(start + static_cast<size_t>(size));
  MultiByteToWideChar(CP_ACP, 0, from, count, to.data() + start, size);
}

}  // namespace

std::string loggedName(const wchar_t* name) {
  int length = static_cast<int>(std::wcslen(name));
  // Most names the code page holds whole: one conversion and its check.
  std::string whole = ansiBytes(name, length);
  if (holdsEvery(name, length) && readsBackAs(whole, name, length)) return whole;
  std::string written;
  const wchar_t* end = name + length;
  for (const wchar_t* at = name; at < end;) {
    int count = characterLength(at, end);
    std::string bytes = needsForm(at[0]) ? std::string() : ansiBytes(at, count);
    if (!bytes.empty() && readsBackAs(bytes, at, count)) {
      written += bytes;
    } else {
      for (int i = 0; i < count; ++i) appendForm(written, at[i]);
    }
    at += count;
  }
  return written;
}

std::wstring trueName(const char* text) {
  std::wstring name;
  const char* run = text;  // where the bytes not yet converted begin
  const char* at = text;
  while (*at != '\0') {
    long unit = formAt(at);
    if (unit >= 0) {
      appendAnsi(name, run, at);
      name += static_cast<wchar_t>(unit);
      at += kFormLength;
      run = at;
    } else {
      // A trail byte of a double-byte character is never taken for "?".
      at += IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] != '\0' ? 2 : 1;
    }
  }
  appendAnsi(name, run, at);
  return name;
}

}  // namespace platform
