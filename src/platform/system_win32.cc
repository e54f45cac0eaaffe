#include <io.h>
#include <sys/stat.h>
#include <time.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/system.h"

namespace platform {
std::FILE* openLogFile(const std::string& path, std::string& reason) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    // The C runtime refuses a directory with "Permission denied"; say what
    // it is instead.
    DWORD attributes = GetFileAttributesA(path.c_str());
    bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    reason = directory ? std::strerror(EISDIR) : std::strerror(errno);
    return nullptr;
  }
  return stream;
}

std::optional<uint64_t> lastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

bool isColorTerminal(std::FILE* stream) {
  if (_isatty(_fileno(stream)) == 0) return false;
  HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int32_t localUtcOffset(int64_t unixSeconds) {
  __time64_t moment = unixSeconds;
  struct tm local;
  struct tm utc;
  if (_localtime64_s(&local, &moment) != 0 || _gmtime64_s(&utc, &moment) != 0) return 0;
  // Both broken-down times read as UTC: their difference is the offset.
  local.tm_isdst = 0;
  utc.tm_isdst = 0;
  return static_cast<int32_t>(_mkgmtime64(&local) - _mkgmtime64(&utc));
}

std::optional<std::string> userName(uint32_t) {
  // A log's owner ids come from a POSIX system; Windows has no name for them.
  return std::nullopt;
}

unsigned ansiCodePage() { return GetACP(); }

namespace {

// The wide characters of `bytes` in `codePage`, false when one does not
// decode.
bool toWide(std::string_view bytes, unsigned codePage, std::wstring& wide) {
  if (bytes.empty()) {
    wide.clear();
    return true;
  }
  int size = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<size_t>(length));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                             length) == length;
}

void appendUtf8(const std::wstring& wide, std::string& utf8) {
  if (wide.empty()) return;
  int size = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  size_t at = utf8.size();
  utf8.resize(at + static_cast<size_t>(length));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data() + at, length, nullptr, nullptr);
}

}  // namespace

bool codePageToUtf8(std::string_view bytes, unsigned codePage, std::string& utf8) {
  CPINFO info;
  if (!IsValidCodePage(codePage) || !GetCPInfo(codePage, &info)) return false;
  utf8.clear();
  std::wstring wide;
  if (toWide(bytes, codePage, wide)) {
    appendUtf8(wide, utf8);
    return true;
  }
  // Character by character: one that does not decode stays as its bytes.
  for (size_t at = 0; at < bytes.size();) {
    size_t length = info.MaxCharSize > 1 && at + 1 < bytes.size() &&
                            IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at]))
                        ? 2
                        : 1;
    if (toWide(bytes.substr(at, length), codePage, wide)) {
      appendUtf8(wide, utf8);
    } else {
      utf8.append(bytes.substr(at, 1));
      length = 1;
    }
    at += length;
  }
  return true;
}

bool writeUtf8(std::FILE* stream, const char* text, size_t length) {
  HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if ((stream != stdout && stream != stderr) || _isatty(_fileno(stream)) == 0 ||
      !GetConsoleMode(console, &mode)) {
    return std::fwrite(text, 1, length, stream) == length;
  }
  // What was written to the stream before goes first.
  std::fflush(stream);
  int size = static_cast<int>(length);
  int wideLength = MultiByteToWideChar(CP_UTF8, 0, text, size, nullptr, 0);
  if (wideLength <= 0) return length == 0;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, size, wide.data(), wideLength);
  // A console takes a limited amount at once; a pair of surrogates stays
  // in one piece.
  constexpr size_t kPiece = 8192;
  for (size_t at = 0; at < wide.size();) {
    size_t count = std::min(kPiece, wide.size() - at);
    if (at + count < wide.size() && wide[at + count - 1] >= 0xD800 &&
        wide[at + count - 1] < 0xDC00) {
      --count;
    }
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(count), &written, nullptr) ||
        written != count) {
      return false;
    }
    at += count;
  }
  return true;
}

}  // namespace platform
