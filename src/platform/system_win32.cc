#include <io.h>
#include <sys/stat.h>
#include <time.h>
#include <windows.h>

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

}  // namespace platform
