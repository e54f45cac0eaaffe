// Reading a directory whole into a listing on Windows, and the state that
// tells whether a kept listing may stand for a new read of its directory.
#ifndef DIRLOG_PLATFORM_LISTING_WIN32_H_
#define DIRLOG_PLATFORM_LISTING_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/listing.h"

namespace platform {

// An open handle on a directory, through any link or junction that leads to
// it, that asks for nothing but its attributes; invalid when it cannot be
// opened. `directory` is a true path: the "\\?\" prefix, no separator at
// the end. Closed when destroyed.
class DirectoryHandle {
 public:
  explicit DirectoryHandle(const std::wstring& directory);
  ~DirectoryHandle();
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A directory's entries as one read found them: "." and ".." left out, every
// other entry in the order the system listed it, with all that the
// wide-character find data tells of it.
class Win32Listing {
 public:
  DirectoryState state{};
  bool trusted = false;  // see isSettled

  size_t count() const { return entries_.size(); }
  const wchar_t* nameAt(size_t index) const { return names_.data() + entries_[index].nameStart; }
  // The find data of entry `index`, as the system gave it.
  void fill(size_t index, WIN32_FIND_DATAW& found) const;
  // The first entry from `from` on whose name is exactly `name`; count()
  // when there is none.
  size_t find(size_t from, const wchar_t* name) const;
  size_t bytes() const;

  // Adds the next entry the system listed ("." and ".." are left out), and,
  // once every entry is in, makes the index by name.
  void add(const WIN32_FIND_DATAW& found);
  void finish();

 private:
  // The find data without its fixed-size name: the members before the
  // name (attributes, times, size, reserved words) as they lie in it, and
  // the short name; the name itself is kept in names_.
  struct Entry {
    unsigned char members[offsetof(WIN32_FIND_DATAW, cFileName)];
    wchar_t shortName[sizeof(WIN32_FIND_DATAW::cAlternateFileName) / sizeof(wchar_t)];
    uint32_t nameStart;  // in names_
  };
  std::vector<Entry> entries_;    // in listing order
  std::wstring names_;            // each name followed by a NUL
  std::vector<uint32_t> byName_;  // entries' indexes by name, then by index
};

// The directory at `path` (a true path) as the system shows it now, asked by
// the path without opening the directory: its change, last-write and
// creation times, device and inode left 0. Empty when it cannot be asked.
std::optional<DirectoryState> directoryStateOf(const std::wstring& path);

// The system's clock, as it stamps files.
Stamp systemTime();

// Reads the directory at `path` (a true path) whole, unless its listing
// would hold more than `budget` bytes. nullptr when it cannot be listed, with
// the system's error in `error` (ERROR_SUCCESS when it is only too big). A
// directory without any entry, not even "." and ".." (the root of an empty
// volume), gives an empty listing.
std::shared_ptr<Win32Listing> readListing(const std::wstring& path, size_t budget, DWORD& error);

// How many listings have been read whole from their directories, since the
// program started. For tests.
size_t directoryReads();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LISTING_WIN32_H_
