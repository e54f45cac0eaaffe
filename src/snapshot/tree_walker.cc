#include "snapshot/tree_walker.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "platform/directory_search.h"
#include "snapshot/scan_progress.h"
#include "snapshot/snapshot_log.h"

namespace {

// The walker's state: the directory being listed, its one open listing, the
// entry the listing stands on, and the name of the directory last left.
std::string currentPath;
std::unique_ptr<platform::Search> activeListing;
platform::FindData currentEntry;
int hasEntry = 0;
std::string savedName;

// One directory below the start folder on the way down to currentPath.
// Where its name begins is kept, not looked for: a name in a double-byte
// code page may end in a byte equal to the separator. The count of entries
// before it in its parent's listing is kept only where that listing has no
// known order, to find the place again if the directory vanishes.
struct Level {
  size_t nameStart;
  std::optional<size_t> position;
};
std::vector<Level> levels;            // outermost first; one per separator added
std::optional<size_t> savedPosition;  // that of the directory last left
bool listingFailed = false;           // the last openListing() found no directory to list

bool isDirectory(const platform::FindData& entry) {
  return (entry.dwFileAttributes & platform::kAttributeDirectory) != 0;
}

// Starts a listing of currentPath and moves it past "." and "..", which are
// discarded unexamined. 1 when it then stands on an entry.
int openListing() {
  hasEntry = 0;
  activeListing.reset();
  std::string pattern = currentPath;
  pattern += platform::separator();
  pattern += '*';
  std::unique_ptr<platform::Search> search =
      platform::directorySearch().findFirst(pattern, currentEntry);
  listingFailed = !search;
  if (!search) return 0;
  if (!search->next(currentEntry) || !search->next(currentEntry)) return 0;
  activeListing = std::move(search);
  hasEntry = 1;
  return 1;
}

// "cannot list <folder>: <reason>" to the walk notice, or as "dirlog: ..."
// on standard error, beside the status line, so that a folder recorded with
// nothing below it for want of a listing is never taken for an empty one.
// The folder is shown as the log writes it: a control character as '?'.
void nameUnlistableFolder() {
  std::string message = "cannot list ";
  for (char c : currentPath) {
    unsigned char byte = static_cast<unsigned char>(c);
    message += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  std::string reason = platform::directorySearch().lastFailure();
  if (!reason.empty()) message += ": " + reason;
  if (!sendWalkNotice(message)) writeBesideStatusLine("dirlog: " + message + "\n");
}

// openListing() within the walk: a folder that cannot be listed is named.
void listCurrentFolder() {
  openListing();
  if (listingFailed) nameUnlistableFolder();
}

void nextEntry() { hasEntry = activeListing && activeListing->next(currentEntry) ? 1 : 0; }

void descend() {
  levels.push_back(Level{currentPath.size() + 1, activeListing->unorderedPosition()});
  currentPath += platform::separator();
  currentPath += currentEntry.cFileName;
}

// Moves the listing on to the entry named `name`; 0 in hasEntry when the
// listing runs out first.
bool passOverTo(const char* name) {
  hasEntry = activeListing->skipTo(name, currentEntry) ? 1 : 0;
  return hasEntry == 1;
}

// Moves the listing, which has lost the directory just left, on to the entry
// that took its place: the first after its name in the listing order, or,
// where the order is not known, the one at the directory's old position.
// 0 in hasEntry when there is none.
bool passOverPast(const char* name) {
  if (!savedPosition) {
    hasEntry = activeListing->skipPast(name, currentEntry) ? 1 : 0;
    return hasEntry == 1;
  }
  for (size_t passed = 0; passed < *savedPosition && hasEntry == 1; ++passed) nextEntry();
  return hasEntry == 1;
}

// Saves the last component in savedName, with its position, and cuts it off.
void ascend() {
  Level left = levels.back();
  levels.pop_back();
  savedName.assign(currentPath, left.nameStart);
  savedPosition = left.position;
  currentPath.resize(left.nameStart - 1);
}

bool isAtStart() { return levels.empty(); }

// Records the entry the listing stands on and goes down into it if it is a
// directory, or moves on. Its metadata is read only now: entries passed over
// on a second listing never cost a look-up.
void recordEntry() {
  if (!activeListing->complete(currentEntry)) {
    nextEntry();  // gone since it was listed: nothing true to record
    return;
  }
  int recorded = writeEntryLine(currentPath.c_str(), currentEntry);
  if (recorded == 1) noteScanEntry(currentPath, currentEntry);
  if (recorded == 1 && isDirectory(currentEntry)) {
    descend();
    listCurrentFolder();  // unreadable or empty: hasEntry stays 0 and the walk climbs
  } else {
    nextEntry();
  }
}

// Entered with the start folder's listing on its first recorded entry.
void walkTree() {
  levels.clear();
  int returning = 0;
  // Set while the parent is listed once more because the directory just left
  // was no longer in it: the place is then found by the listing order, or by
  // the directory's old position where the order is not known.
  int resumingByPosition = 0;
  for (;;) {
    if (hasEntry == 0) {
      if (returning == 1 && resumingByPosition == 0 && !listingFailed) {
        // The parent's listing ran out without the directory just left: it
        // was deleted or moved away while the walk was inside it. Its
        // parent's later entries must not be lost with it.
        listCurrentFolder();
        resumingByPosition = 1;
        continue;
      }
      if (isAtStart()) return;
      ascend();
      listCurrentFolder();  // the parent again, from its start; named when it cannot be
      returning = 1;
      resumingByPosition = 0;
      continue;
    }
    if (returning == 1) {
      if (resumingByPosition == 0) {
        // Pass over the entries up to the directory just left, and that one
        // too: its line was written and its subtree walked on the way down.
        if (passOverTo(savedName.c_str())) {
          returning = 0;
          nextEntry();
        }
        continue;
      }
      if (!passOverPast(savedName.c_str())) continue;
      returning = 0;
      resumingByPosition = 0;
    }
    recordEntry();
  }
}

// A search pattern names one entry unless it asks for a listing (the
// separator and "*" at its end) or, where names cannot hold them, holds a
// wildcard character that could match others.
bool namesOneEntry(const char* path) {
  size_t length = std::strlen(path);
  if (length >= 2 && path[length - 1] == '*' && path[length - 2] == platform::separator()) {
    return false;
  }
  return std::strpbrk(path, platform::wildcardCharacters()) == nullptr;
}

// Walks the tree below `folder`, a directory, into the log being written,
// its totals line last. False, with nothing written, when the folder's first
// listing fails or yields nothing.
bool walkFolder(const char* folder) {
  startScanProgress();
  currentPath = folder;
  platform::directorySearch().startWalk(currentPath);
  bool listed = openListing() == 1;
  if (listed) walkTree();
  endScanProgress();
  if (listed) writeTotalsLine();
  activeListing.reset();
  platform::directorySearch().startWalk(std::string());
  return listed;
}

}  // namespace

int isDirectoryPath(const char* path) {
  if (!namesOneEntry(path)) return 0;
  platform::FindData entry;
  std::unique_ptr<platform::Search> search = platform::directorySearch().findFirst(path, entry);
  return search && isDirectory(entry) ? 1 : 0;
}

void scanFolder(const char* folder, size_t length) {
  if (length > kMaxFolderLength) reportError("the given folder is too long", 1);
  if (isDirectoryPath(folder) == 0) reportError("the given folder cannot be found", 1);
  openNewSnapshotLog();
  if (!walkFolder(folder)) reportError("Nothing is that folder", 1);
  if (closeSnapshotLog() == 0) reportError("cannot close log file\n", 1);
}

WalkEnd walkFolderInto(const std::string& folder, std::FILE* log) {
  if (folder.size() > kMaxFolderLength) return WalkEnd::kFolderTooLong;
  if (isDirectoryPath(folder.c_str()) == 0) return WalkEnd::kFolderNotFound;
  startUnnumberedLog(log);
  bool listed = walkFolder(folder.c_str());
  bool written = endUnnumberedLog();
  if (!listed) return WalkEnd::kNothingThere;
  return written ? WalkEnd::kComplete : WalkEnd::kWriteFailed;
}
