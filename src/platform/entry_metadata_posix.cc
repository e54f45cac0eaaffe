// Entry metadata on POSIX systems, turned into what Windows reports.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // statx
#endif

#include "platform/entry_metadata_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks
// The last second whose ticks still fit in 64 bits, whatever its nanoseconds.
constexpr int64_t kLastCountableSecond =
    static_cast<int64_t>(UINT64_MAX / kTicksPerSecond) - kSecondsFrom1601To1970 - 1;

FileTime toFileTime(const Timestamp& time) {
  uint64_t ticks;
  if (time.seconds < -kSecondsFrom1601To1970) {
    ticks = 0;  // before 1601 there is nothing to count
  } else if (time.seconds > kLastCountableSecond) {
    ticks = UINT64_MAX;
  } else {
    uint64_t since1601 = static_cast<uint64_t>(time.seconds + kSecondsFrom1601To1970);
    ticks = since1601 * kTicksPerSecond + std::min<uint32_t>(time.nanoseconds, 999999999) / 100;
  }
  return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

Timestamp fromTimespec(const struct timespec& time) {
  return Timestamp{static_cast<int64_t>(time.tv_sec), static_cast<uint32_t>(time.tv_nsec)};
}

#ifdef __APPLE__
#define DIRLOG_ST_ATIM st_atimespec
#define DIRLOG_ST_MTIM st_mtimespec
#define DIRLOG_ST_CTIM st_ctimespec
#else
#define DIRLOG_ST_ATIM st_atim
#define DIRLOG_ST_MTIM st_mtim
#define DIRLOG_ST_CTIM st_ctim
#endif

void fill(const struct stat& status, Metadata& meta) {
  meta.device = status.st_dev;
  meta.inode = status.st_ino;
  meta.mode = static_cast<uint32_t>(status.st_mode);
  meta.uid = static_cast<uint32_t>(status.st_uid);
  meta.size = static_cast<uint64_t>(status.st_size);
  meta.access = fromTimespec(status.DIRLOG_ST_ATIM);
  meta.write = fromTimespec(status.DIRLOG_ST_MTIM);
  meta.hasBirth = false;
  meta.birth = Timestamp{0, 0};
}

bool examineWithFstatat(int directoryFd, const char* name, bool itself, Metadata& meta) {
  struct stat status;
  int result = itself ? ::fstat(directoryFd, &status)
                      : ::fstatat(directoryFd, name, &status, AT_SYMLINK_NOFOLLOW);
  if (result != 0) return false;
  fill(status, meta);
  return true;
}

// Reads the metadata of `name` relative to `directoryFd`, or, with
// `itself`, of the file open on `directoryFd` (`name` then empty).
bool examineAt(int directoryFd, const char* name, bool itself, Metadata& meta) {
#ifdef DIRLOG_HAVE_STATX
  int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (itself ? AT_EMPTY_PATH : 0);
  // A kernel older than statx, or a sandbox that filters it, gets fstatat.
  // Atomic: the read-ahead's threads examine entries too.
  static std::atomic<bool> statxAvailable{true};
  if (statxAvailable) {
    struct statx status;
    if (::statx(directoryFd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &status) == 0) {
      meta.device = makedev(status.stx_dev_major, status.stx_dev_minor);
      meta.inode = status.stx_ino;
      meta.mode = status.stx_mode;
      meta.uid = status.stx_uid;
      meta.size = status.stx_size;
      meta.access = Timestamp{status.stx_atime.tv_sec, status.stx_atime.tv_nsec};
      meta.write = Timestamp{status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec};
      meta.hasBirth = (status.stx_mask & STATX_BTIME) != 0;
      meta.birth = meta.hasBirth ? Timestamp{status.stx_btime.tv_sec, status.stx_btime.tv_nsec}
                                 : Timestamp{0, 0};
      return true;
    }
    if (errno == ENOSYS) {
      statxAvailable = false;
    } else if (errno != EPERM) {
      return false;
    }
  }
#endif
  return examineWithFstatat(directoryFd, name, itself, meta);
}

}  // namespace

bool examine(int directoryFd, const char* name, Metadata& meta) {
  return examineAt(directoryFd, name, false, meta);
}

bool examineOpen(int fd, Metadata& meta) { return examineAt(fd, "", true, meta); }

Timestamp changeTime(const struct stat& status) { return fromTimespec(status.DIRLOG_ST_CTIM); }

Timestamp modificationTime(const struct stat& status) {
  return fromTimespec(status.DIRLOG_ST_MTIM);
}

void describe(const Metadata& meta, uint32_t attributes, FindData& entry) {
  entry.dwFileAttributes = attributes;
  entry.ftCreationTime = meta.hasBirth ? toFileTime(meta.birth) : FileTime{0, 0};
  entry.ftLastAccessTime = toFileTime(meta.access);
  entry.ftLastWriteTime = toFileTime(meta.write);
  // Windows reports no size for a directory; a link keeps its own size even
  // where a probe shows it as the directory it leads to.
  uint64_t size = S_ISDIR(meta.mode) ? 0 : meta.size;
  entry.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  entry.nFileSizeLow = static_cast<uint32_t>(size);
  entry.dwReserved0 = meta.mode;
  entry.dwReserved1 = meta.uid;
  entry.cAlternateFileName[0] = '\0';
}

}  // namespace platform
