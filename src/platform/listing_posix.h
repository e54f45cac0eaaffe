// Reading a directory into a listing on POSIX systems.
#ifndef DIRLOG_PLATFORM_LISTING_POSIX_H_
#define DIRLOG_PLATFORM_LISTING_POSIX_H_

#include <sys/stat.h>

#include <cstddef>
#include <memory>

#include "platform/listing.h"

namespace platform {

// The identity and stamps of the directory `status` describes.
DirectoryState directoryStateOf(const struct stat& status);

// Reads the directory open on `fd`, which `status` describes as it was
// opened, into a new listing. nullptr, with errno set, when the directory
// cannot be read to its end.
std::shared_ptr<Listing> readListing(int fd, const struct stat& status);

// How many listings have been read from their directories rather than taken
// from those kept, since the program started. For tests.
size_t directoryReads();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LISTING_POSIX_H_
