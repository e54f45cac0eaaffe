// An entry's metadata as the system keeps it, and as the Win32 find data
// describes it: the attributes, sizes and times that a listing's complete()
// and a probe report.
#ifndef DIRLOG_PLATFORM_ENTRY_METADATA_POSIX_H_
#define DIRLOG_PLATFORM_ENTRY_METADATA_POSIX_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/directory_search.h"

namespace platform {

struct Timestamp {
  int64_t seconds;
  uint32_t nanoseconds;
};

// What complete() needs of an entry, from statx or from fstatat.
struct Metadata {
  dev_t device;
  ino_t inode;
  uint32_t mode;
  uint32_t uid;
  uint64_t size;
  Timestamp access;
  Timestamp write;
  bool hasBirth;
  Timestamp birth;
};

// Reads the metadata of `name` relative to `directoryFd` (AT_FDCWD for a
// path) without following a link, with the birth time where the file system
// keeps one. Reading metadata never changes an access time. False, with
// errno set, when the entry cannot be examined.
bool examine(int directoryFd, const char* name, Metadata& meta);

// Reads the metadata of the file or directory open on `fd`, as examine()
// does for a name.
bool examineOpen(int fd, Metadata& meta);

// The attributes of an entry named `name`: one type bit (only real
// directories carry the directory bit, so the walk never follows a link;
// anything that is neither a file, a directory nor a link is a system
// entry, never opened), read-only when the owner may not write, hidden when
// the name begins with '.'. Inline: it is asked for every entry.
inline uint32_t attributesOf(const Metadata& meta, const char* name) {
  uint32_t attributes = S_ISDIR(meta.mode)   ? kAttributeDirectory
                        : S_ISREG(meta.mode) ? kAttributeArchive
                        : S_ISLNK(meta.mode) ? kAttributeReparsePoint
                                             : kAttributeSystem;
  if ((meta.mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  if (name[0] == '.') attributes |= kAttributeHidden;
  return attributes;
}

// A status's change and modification times.
Timestamp changeTime(const struct stat& status);
Timestamp modificationTime(const struct stat& status);

// Fills every member of `entry` but the name, with `attributes`.
void describe(const Metadata& meta, uint32_t attributes, FindData& entry);

// Copies `length` bytes of `name` into entry.cFileName, cut to fit.
inline void copyName(FindData& entry, const char* name, size_t length) {
  length = std::min(length, sizeof entry.cFileName - 1);
  std::memcpy(entry.cFileName, name, length);
  entry.cFileName[length] = '\0';
}

}  // namespace platform

#endif  // DIRLOG_PLATFORM_ENTRY_METADATA_POSIX_H_
