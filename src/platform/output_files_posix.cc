#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/directory_search.h"
#include "platform/output_files.h"

namespace platform {
namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen() creates

// What is written in the log folder: a regular file with no other name (a
// second name may lie anywhere on the file system), or a FIFO, whose reader
// takes the lines. Never a link, a directory or a device.
bool writableKind(const struct stat& status) {
  return (S_ISREG(status.st_mode) && status.st_nlink <= 1) || S_ISFIFO(status.st_mode);
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `path` still names `opened`: a purge may have removed it, and
// another scan put a new log there, since it was opened.
bool stillNamed(const std::string& path, const struct stat& opened) {
  struct stat named;
  return ::lstat(path.c_str(), &named) == 0 && sameFile(named, opened);
}

// Opens the existing entry `path` for writing when it is of a kind that is
// written: looked at before the opening, so that no device is ever opened,
// and found again behind the descriptor after it.
LogOpening openExisting(const std::string& path, int& fd, struct stat& status) {
  struct stat named;
  if (::lstat(path.c_str(), &named) != 0) {
    return errno == ENOENT ? LogOpening::kChanged : LogOpening::kRefused;
  }
  if (!writableKind(named)) return LogOpening::kRefused;
  fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? LogOpening::kChanged : LogOpening::kRefused;
  if (::fstat(fd, &status) == 0 && sameFile(named, status)) return LogOpening::kOpened;
  ::close(fd);
  return LogOpening::kChanged;
}

// The lock that marks a log as being written, held until the descriptor
// is closed. A file system that keeps no locks cannot tell, and does not
// stop the scan.
bool lockedElsewhere(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; }

bool emptied(int fd, const struct stat& status) {
  return !S_ISREG(status.st_mode) || ::ftruncate(fd, 0) == 0;
}

std::FILE* streamOf(int fd, bool unbuffered) {
  std::FILE* stream = ::fdopen(fd, "w");
  if (stream == nullptr) {
    ::close(fd);
    return nullptr;
  }
  if (unbuffered) std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

LogOpening closed(int fd, LogOpening result) {
  ::close(fd);
  return result;
}

LogOpening openLog(const std::string& path, int& fd) {
  struct stat status;
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
  bool created = fd >= 0;
  if (created) {
    if (::fstat(fd, &status) != 0) return closed(fd, LogOpening::kRefused);
  } else {
    if (errno != EEXIST) return LogOpening::kRefused;
    LogOpening opening = openExisting(path, fd, status);
    if (opening != LogOpening::kOpened) return opening;
  }
  // Another scan that created this name an instant ago may not hold it
  // yet: whoever locks it first writes it, and the other counts again.
  if (lockedElsewhere(fd)) return closed(fd, LogOpening::kInUse);
  if (!stillNamed(path, status)) return closed(fd, LogOpening::kChanged);
  if (!created && !emptied(fd, status)) return closed(fd, LogOpening::kRefused);
  return LogOpening::kOpened;
}

// A file of no name where the system makes one (Linux), else a new name
// made exclusively and removed at once.
int openNamelessFile(const std::string& folder) {
#ifdef O_TMPFILE
  int nameless = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (nameless >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
    return nameless;
  }
#endif
  std::string name = folder + "/dirlog-view-XXXXXX";
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

}  // namespace

std::FILE* openLogForWriting(const std::string& path, LogOpening& result) {
  int fd = -1;
  result = openLog(path, fd);
  if (result != LogOpening::kOpened) return nullptr;
  std::FILE* stream = streamOf(fd, true);
  if (stream == nullptr) result = LogOpening::kRefused;
  return stream;
}

std::FILE* openReportForWriting(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
  struct stat status;
  if (fd < 0) {
    if (errno != EEXIST || openExisting(path, fd, status) != LogOpening::kOpened) return nullptr;
    // Emptied only once it is known to be a file of the folder's own.
    if (!writableKind(status) || !emptied(fd, status)) {
      ::close(fd);
      return nullptr;
    }
  }
  return streamOf(fd, false);
}

bool deleteLog(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  // A link goes as it is; so does a file that cannot be opened to tell.
  int fd = S_ISREG(status.st_mode)
               ? ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
               : -1;
  if (fd < 0) return ::unlink(path.c_str()) == 0;
  // Locked while the name goes, so that no scan starts writing it
  // meanwhile, and still the file that was locked.
  struct stat opened;
  bool removable = ::fstat(fd, &opened) == 0 && !lockedElsewhere(fd) && stillNamed(path, opened);
  bool removed = removable && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

bool cutFileBack(std::FILE* stream, uint64_t size) {
  return ::ftruncate(fileno(stream), static_cast<off_t>(size)) == 0 &&
         ::lseek(fileno(stream), static_cast<off_t>(size), SEEK_SET) >= 0;
}

std::FILE* openTemporaryLog(std::string& reason) {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = variable != nullptr && variable[0] != '\0' ? variable : "/tmp";
  int fd = openNamelessFile(folder);
  if (fd < 0) {
    reason = folder + ": " + std::strerror(errno);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "w+");
  if (stream == nullptr) {
    reason = folder + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return stream;
}

bool readTemporaryLogFromStart(std::FILE* log) { return seekFile(log, 0); }

size_t lineBreakBytes() { return 1; }

}  // namespace platform
