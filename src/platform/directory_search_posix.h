// What the POSIX directory search lets tests see and set beyond the
// platform's common interface.
#ifndef DIRLOG_PLATFORM_DIRECTORY_SEARCH_POSIX_H_
#define DIRLOG_PLATFORM_DIRECTORY_SEARCH_POSIX_H_

#include <cstddef>
#include <cstdint>

namespace platform {

// Tells by a file system's statfs type whether it moves a directory's change
// and modification stamps with every change of its entries. Listings are
// kept for reuse only on such file systems; elsewhere each is read afresh.
using DirectoryTimesRule = bool (*)(uint64_t fileSystemType);

// Puts `rule` in place of the platform's own (nullptr gives it back); the
// answers the search remembers per device are forgotten. For tests.
void useDirectoryTimesRule(DirectoryTimesRule rule);

// How many listings have been read from their directories rather than taken
// from those kept, since the program started. For tests.
size_t directoryReads();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_DIRECTORY_SEARCH_POSIX_H_
