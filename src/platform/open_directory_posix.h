// Opening directories for listing on POSIX systems: without marking them
// read where the process may ask for that, and, below a directory already
// open, without following a link on the way.
#ifndef DIRLOG_PLATFORM_OPEN_DIRECTORY_POSIX_H_
#define DIRLOG_PLATFORM_OPEN_DIRECTORY_POSIX_H_

namespace platform {

enum class LinkAtEnd { kFollowed, kRefused };

// Opens the directory `path`, relative to the directory open on `at` (or
// AT_FDCWD), for listing. With LinkAtEnd::kRefused a link as the last
// component fails the open; links before it are followed. -1, with errno
// set, when it cannot be opened.
int openDirectoryAt(int at, const char* path, LinkAtEnd link);

// Opens the directory `path` below the one open on `at` so that no
// component on the way, the last included, can be a link. -1, with errno
// set, when it cannot be opened or a link lies on the way.
int openBelow(int at, const char* path);

}  // namespace platform

#endif  // DIRLOG_PLATFORM_OPEN_DIRECTORY_POSIX_H_
