// The directory search that the walk and the log naming rely on, and the few
// facts about the platform that the rest of the program may ask for.
//
// The entry type has the member names of the Win32 find data so that the
// code above this layer reads the same on every platform. One file
// implements this header per platform (directory_search_posix.cc,
// directory_search_win32.cc); CMake builds exactly one of them. Tests put an
// in-memory search in place of the system's through useDirectorySearch().
#ifndef DIRLOG_PLATFORM_DIRECTORY_SEARCH_H_
#define DIRLOG_PLATFORM_DIRECTORY_SEARCH_H_

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace platform {

struct FileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// The room for a name and its terminator: on Windows 259 UTF-16 code units
// (as many as the system's find data holds), each written in at most five
// characters (see logged_name_win32.h), so that no name is ever cut.
constexpr size_t kNameCapacity = 259 * 5 + 1;

// One directory entry as the search reports it. The members have the widths
// of the ANSI find data, but for the name's.
struct FindData {
  uint32_t dwFileAttributes;
  FileTime ftCreationTime;
  FileTime ftLastAccessTime;
  FileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char cFileName[kNameCapacity];
  char cAlternateFileName[14];
};

constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// One open search: a listing of a directory, or the probe of one name.
// Destroying it releases the search (FindClose).
class Search {
 public:
  virtual ~Search() = default;

  // Moves to the next entry and copies it into `entry`. Returns false when
  // there is none; a failure of any kind counts as the end.
  virtual bool next(FindData& entry) = 0;

  // A listing fills only cFileName and the directory bit of dwFileAttributes
  // when it moves, so that passing over entries costs nothing per entry.
  // complete() fills every other member for the entry the search stands on.
  // Returns false when the entry can no longer be examined (it vanished);
  // `entry` is then left as it was.
  virtual bool complete(FindData& entry) = 0;

  // Passes over entries, from the one the search stands on (included; it is
  // in `entry`, as next() left it), up to the first named `name`, and copies
  // that one into `entry` as next() does.
  // Returns false, with the search run out, when no such entry follows. The
  // result is that of calling next() until the name matches; a listing that
  // knows its order gets there without visiting each entry.
  virtual bool skipTo(const char* name, FindData& entry);

  // Passes over entries, from the one the search stands on (included), up to
  // the first whose name comes after `name` in the listing order
  // (DirectorySearch::compareNames), and copies that one into `entry`.
  // Returns false, with the search run out, when no such entry follows.
  virtual bool skipPast(const char* name, FindData& entry);

  // Where the listing yields its names in no known order (storage order, as
  // FAT and many network shares list), how many entries came before the one
  // it stands on, "." and ".." not counted; a place can then be found again
  // only by that count. Empty where the listing follows compareNames, so
  // that skipPast finds the place.
  virtual std::optional<size_t> unorderedPosition() const { return std::nullopt; }
};

class DirectorySearch {
 public:
  virtual ~DirectorySearch() = default;

  // Starts a search and copies its first entry into `entry`; nullptr when the
  // search fails. A pattern that ends in the separator followed by "*" lists
  // that directory: "." and ".." first, then every other entry once, in the
  // same order on every listing of an unchanged directory. Any other pattern
  // probes the one entry it names, completed; it fails for an empty text, a
  // root, and a text ending in the separator.
  //
  // A name may reach the caller as a text that other names share (on
  // Windows, the ANSI code page form of a UTF-16 name), so a listing never
  // reads the path of its pattern afresh where it can tell which directory
  // is meant; the search keeps the true paths of the way down:
  //  - going down: "<d>" separator "<name>" separator "*", where <d> is the
  //    path of the last listing and <name> the name of the entry on which
  //    that listing stands (or stood when released), lists that very entry;
  //  - coming back: the path of a directory on the way down lists that same
  //    directory, and until the next descent, skipTo and skipPast take the
  //    name of the directory last climbed out of as that directory's true
  //    name;
  //  - any other pattern, and the first after startWalk(), starts a new way
  //    down from its path as the system reads it.
  virtual std::unique_ptr<Search> findFirst(const std::string& pattern, FindData& entry) = 0;

  // Why the last findFirst() failed, in the system's own words ("Permission
  // denied"); empty after a success, or where no reason is known.
  virtual std::string lastFailure() const { return std::string(); }

  // Starts a walk of the tree below `folder`, the text that the walk's
  // patterns begin with. Until the next call, a listing of a directory below
  // it reaches that directory from the folder as it was found now, never
  // through a link on the way (a link swapped in for a directory while the
  // walk goes on is never entered), and never lists another directory than
  // the one that the last completed entry of that path, or the last listing
  // of it, showed: it lists that very directory where the search can hold
  // it, and fails where it cannot and finds another in its place. The folder
  // itself may be reached through links. An empty text ends the walk and
  // lets go of all it held.
  virtual void startWalk(const std::string& folder);

  // Removes a file (or a link) of that name, never a directory. Returns
  // whether something was removed.
  virtual bool deleteFile(const std::string& path) = 0;

  // The order in which listings yield names: negative, zero or positive as
  // `a` comes before, is, or comes after `b`. The walk uses it to find its
  // place again in a listing that lost the directory it had left.
  virtual int compareNames(const char* a, const char* b) const = 0;
};

// The search in use: the system's, unless a test installed another.
DirectorySearch& directorySearch();

// A search that reaches every directory by its path text.
inline void DirectorySearch::startWalk(const std::string&) {}

// Passing over one entry at a time: right for any listing, whatever its order.
inline bool Search::skipTo(const char* name, FindData& entry) {
  while (std::strcmp(entry.cFileName, name) != 0) {
    if (!next(entry)) return false;
  }
  return true;
}

inline bool Search::skipPast(const char* name, FindData& entry) {
  while (directorySearch().compareNames(entry.cFileName, name) <= 0) {
    if (!next(entry)) return false;
  }
  return true;
}

// Installs `search` (not owned) as the search in use; nullptr restores the
// system's. For tests.
void useDirectorySearch(DirectorySearch* search);

// The platform's path separator.
char separator();

// The characters that make a search pattern stand for every name that it
// matches rather than for one entry: empty where names may hold any of them.
inline const char* wildcardCharacters() {
#ifdef _WIN32
  return "*?";
#else
  return "";
#endif
}

// The folder that holds the snapshot logs and the report, ending in the
// separator, or empty for the working directory. Read afresh at every call.
std::string logFolder();

// Makes logFolder() give `folder` (copied, the separator added when it does
// not end in one) in place of the platform's own; nullptr gives the
// platform's back. For tests.
void useLogFolder(const std::string* folder);

// How a file opened for reading in text mode differs from its bytes on
// disk: whether a CR LF pair reads as one LF, and whether a 0x1A byte ends
// the file. Readers that take a file's bytes themselves apply these rules so
// that they see what a text-mode stream would.
struct TextReadRules {
  bool crLfReadsAsLf;
  bool ctrlZEndsFile;
};
TextReadRules textReadRules();

// Moves `stream` to the byte `offset` from its start, past the 2 GiB that a
// long offset holds on some systems. Returns false where the stream cannot
// be moved (a pipe, say) or the offset is out of its range.
bool seekFile(std::FILE* stream, uint64_t offset);

}  // namespace platform

#endif  // DIRLOG_PLATFORM_DIRECTORY_SEARCH_H_
