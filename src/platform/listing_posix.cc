// Directories read with getdents64 where the system has it, else through a
// DIR stream.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // getdents64
#endif

#include "platform/listing_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/entry_metadata_posix.h"

namespace platform {
namespace {

size_t directoryReadCount = 0;  // see directoryReads()

Stamp toStamp(const Timestamp& time) { return Stamp{time.seconds, time.nanoseconds}; }

Stamp now() {
  struct timespec time;
#ifdef CLOCK_REALTIME_COARSE
  // The clock the kernel stamps files with; a finer clock can run ahead of
  // the stamps of changes made after it was read.
  ::clock_gettime(CLOCK_REALTIME_COARSE, &time);
#else
  ::clock_gettime(CLOCK_REALTIME, &time);
#endif
  return Stamp{static_cast<int64_t>(time.tv_sec), static_cast<int64_t>(time.tv_nsec)};
}

ListedType listedTypeOf(uint32_t mode) {
  if (S_ISDIR(mode)) return kListedDirectory;
  if (S_ISREG(mode)) return kListedFile;
  if (S_ISLNK(mode)) return kListedLink;
  return kListedOther;
}

// Calls visit(name, d_type) for every entry of the directory open on `fd`,
// "." and ".." included. False when the directory cannot be read to its end.
template <typename Visit>
bool forEachEntry(int fd, Visit visit) {
#ifdef DIRLOG_HAVE_GETDENTS64
  // Straight from the kernel: a DIR stream would cost five more system calls
  // per directory (dup, fstat, two fcntl, close), about as many as the rest
  // of a listing.
  alignas(struct dirent64) char buffer[32768];
  for (;;) {
    ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t at = 0; at < got;) {
      auto* found = reinterpret_cast<struct dirent64*>(buffer + at);
      visit(found->d_name, found->d_type);
      at += found->d_reclen;
    }
  }
#else
  // A duplicate descriptor for the DIR stream, which closes what it is
  // given; `fd` stays open for the search.
  int readFd = ::dup(fd);
  if (readFd < 0) return false;
  DIR* directory = ::fdopendir(readFd);
  if (directory == nullptr) {
    ::close(readFd);
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* found = ::readdir(directory);
    if (found == nullptr) break;
    visit(found->d_name, found->d_type);
  }
  int error = errno;
  ::closedir(directory);
  errno = error;
  return error == 0;
#endif
}

}  // namespace

DirectoryState directoryStateOf(const struct stat& status) {
  return DirectoryState{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
                        toStamp(changeTime(status)), toStamp(modificationTime(status)),
                        Stamp{0, 0}};
}

std::shared_ptr<Listing> readListing(int fd, const struct stat& status) {
  ++directoryReadCount;
  Stamp readStart = now();
  ListingBuilder builder;
  bool readToEnd = forEachEntry(fd, [&](const char* name, unsigned char directoryType) {
    size_t length = std::strlen(name);
    if (length > kMaxListedNameLength) return;  // cannot be named in a find data entry
    ListedType type;
    switch (directoryType) {
      case DT_DIR:
        type = kListedDirectory;
        break;
      case DT_REG:
        type = kListedFile;
        break;
      case DT_LNK:
        type = kListedLink;
        break;
      case DT_UNKNOWN: {
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return;
        // Some file systems leave the type to a look-up.
        struct stat entryStatus;
        if (::fstatat(fd, name, &entryStatus, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone
        type = listedTypeOf(static_cast<uint32_t>(entryStatus.st_mode));
        break;
      }
      default:
        type = kListedOther;
        break;
    }
    builder.add(name, length, type);
  });
  if (!readToEnd) return nullptr;
  return builder.finish(directoryStateOf(status), readStart);
}

size_t directoryReads() { return directoryReadCount; }

}  // namespace platform
