#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

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

std::FILE* openTemporaryLog(std::string& reason) {
  wchar_t folder[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    reason = "no folder for temporary files";
    return nullptr;
  }
  DWORD error = ERROR_FILE_EXISTS;
  // A name some other file took is tried again with the next number.
  for (ULONGLONG tries = 0; tries < 16 && error == ERROR_FILE_EXISTS; ++tries) {
    std::wstring name = std::wstring(folder, length) + L"dirlog-view-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64() + tries) + L".tmp";
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_TEXT);
      if (fd < 0) {
        CloseHandle(file);
        break;
      }
      std::FILE* stream = _fdopen(fd, "w+t");
      if (stream == nullptr) {
        _close(fd);
        break;
      }
      return stream;
    }
    error = GetLastError();
  }
  reason = "no temporary file could be created (system error " + std::to_string(error) + ")";
  return nullptr;
}

bool readTemporaryLogFromStart(std::FILE* log) {
  return std::fflush(log) == 0 && _setmode(_fileno(log), _O_BINARY) != -1 &&
         _fseeki64(log, 0, SEEK_SET) == 0;
}

size_t lineBreakBytes() { return 2; }

}  // namespace platform
