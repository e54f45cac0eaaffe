// Reading a walk's directories and their entries' metadata ahead of the
// walk, several at a time, so that a scan of a tree that is not in the
// system's caches waits on the disk less. It only warms those caches: the
// walk lists and examines everything it records itself, as it would without
// it, and nothing the read-ahead finds reaches the walk.
//
// What it touches:
//  - it opens each directory from its parent, held open, by one name,
//    without following a link, only on its parent's file system, and only
//    where the process may open it without marking it read (O_NOATIME), so
//    that the access times that the walk records stay as they were;
//  - it reads entries' metadata without following a link or mounting
//    anything, and never opens a file;
//  - it goes no deeper than the walk can record.
// It runs in the walk's own order, at most about 16,000 entries ahead of the
// walk, with some 16 MiB of memory at most, and never opens more than a few
// hundred directories at once.
//
// It starts where it can help: once the walk itself has had to wait on the
// disk, with more than one processor, not on a network file system, and
// with room for its descriptors. DIRLOG_READ_AHEAD=on starts it with every
// walk all the same and =off never (for tests). Its threads are joined and
// its descriptors closed when the walk ends, when another starts, and at
// exit, however the process exits; they take no signal.
#ifndef DIRLOG_PLATFORM_READ_AHEAD_POSIX_H_
#define DIRLOG_PLATFORM_READ_AHEAD_POSIX_H_

#include <cstddef>
#include <string_view>

namespace platform {

// Ends any read-ahead and gets ready for a walk of the directory open on
// `startFd` (which the walk holds; the read-ahead opens it anew), whose
// path text is `folderLength` characters long.
void beginReadAhead(int startFd, size_t folderLength);

// The walk lists the directory `below` the start folder (its path after the
// folder text and the separator; empty for the folder itself). `read` when
// the listing was read from the directory rather than kept from before.
void walkLists(std::string_view below, bool read);

// Stops the read-ahead: its threads joined, its descriptors closed.
void endReadAhead();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_READ_AHEAD_POSIX_H_
