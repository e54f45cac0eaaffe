#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/output_files.h"

namespace platform {
namespace {

// A log being written shares reading, so that a comparison can read it,
// but neither writing nor deletion: another scan cannot open it for
// writing, nor a purge delete it, while it is held.
constexpr DWORD kLogSharing = FILE_SHARE_READ;
// The report is shared as the C runtime's fopen() shares what it opens.
constexpr DWORD kReportSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A name another user may have placed: only a file with no other name is
// written. Opened with FILE_FLAG_OPEN_REPARSE_POINT, a link or junction is
// the handle's own file, and shows as a reparse point.
bool writableKind(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  DWORD notAFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  return (info.dwFileAttributes & notAFile) == 0 && info.nNumberOfLinks <= 1;
}

HANDLE openExisting(const std::string& path, DWORD sharing) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool empty(HANDLE file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// A text-mode stream over the handle, which it then owns.
std::FILE* streamOf(HANDLE file, bool unbuffered) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_TEXT);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wt");
  if (stream == nullptr) {
    _close(fd);
    return nullptr;
  }
  if (unbuffered) std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

LogOpening openLog(const std::string& path, HANDLE& file) {
  file = CreateFileA(path.c_str(), GENERIC_WRITE, kLogSharing, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE) return LogOpening::kOpened;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return LogOpening::kRefused;
  file = openExisting(path, kLogSharing);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return LogOpening::kInUse;
    if (error == ERROR_FILE_NOT_FOUND) return LogOpening::kChanged;
    return LogOpening::kRefused;
  }
  if (writableKind(file) && empty(file)) return LogOpening::kOpened;
  CloseHandle(file);
  return LogOpening::kRefused;
}

}  // namespace

std::FILE* openLogForWriting(const std::string& path, LogOpening& result) {
  HANDLE file;
  result = openLog(path, file);
  if (result != LogOpening::kOpened) return nullptr;
  std::FILE* stream = streamOf(file, true);
  if (stream == nullptr) result = LogOpening::kRefused;
  return stream;
}

std::FILE* openReportForWriting(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, kReportSharing, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // Emptied only once it is known to be a file of the folder's own.
  if (!writableKind(file) || !empty(file)) {
    CloseHandle(file);
    return nullptr;
  }
  return streamOf(file, false);
}

// A log held by a scan shares no deletion, so the system refuses it.
bool deleteLog(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool cutFileBack(std::FILE* stream, uint64_t size) {
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file);
}

size_t lineBreakBytes() { return 2; }

}  // namespace platform
