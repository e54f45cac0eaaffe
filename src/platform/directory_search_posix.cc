// The directory search on POSIX systems: listings in byte order of the
// names, "." and ".." first, entries described as the Win32 find data
// describes them, and a small memory of recent listings so that the walk's
// repeated listings of the same directories stay cheap.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/directory_search.h"
#include "platform/entry_metadata_posix.h"
#include "platform/file_system_types_posix.h"
#include "platform/listing.h"
#include "platform/listing_cache.h"
#include "platform/listing_posix.h"
#include "platform/open_directory_posix.h"
#include "platform/read_ahead_posix.h"
#include "platform/walk_confinement_posix.h"

namespace platform {
namespace {

// A listing of a directory. It holds the directory open so that complete()
// looks entries up relative to the very directory that was listed, and
// holds its listing however the cache moves. Within a walk the walk's
// confinement examines each entry, so that a directory entered is the one
// described.
class PosixListingSearch final : public ListingSearch {
 public:
  PosixListingSearch(std::shared_ptr<HeldDirectory> directory,
                     std::shared_ptr<const Listing> listing, WalkConfinement* confinement)
      : ListingSearch(std::move(listing)),
        directory_(std::move(directory)),
        confinement_(confinement) {}

  bool complete(FindData& entry) override {
    const char* name = currentName();
    if (name == nullptr) return false;
    Metadata meta;
    bool walking = confinement_ != nullptr && onListedEntry();
    bool examined;
    if (walking && (currentAttributes() & kAttributeDirectory) != 0) {
      examined = confinement_->examineDirectory(directory_, name, meta);
    } else {
      examined = examine(directory_->fd(), name, meta);
      // A directory put in the place of what was listed: entered as found now.
      if (examined && walking && S_ISDIR(meta.mode)) {
        examined = confinement_->examineDirectory(directory_, name, meta);
      }
    }
    if (!examined) return false;
    describe(meta, attributesOf(meta, name), entry);
    copyName(entry, name, std::strlen(name));
    return true;
  }

 private:
  std::shared_ptr<HeldDirectory> directory_;
  WalkConfinement* confinement_;  // nullptr outside a walk
};

// The probe of one name: its single entry, complete from the start.
class ProbeSearch final : public Search {
 public:
  explicit ProbeSearch(const FindData& found) : found_(found) {}
  bool next(FindData&) override { return false; }
  bool complete(FindData& entry) override {
    entry = found_;
    return true;
  }

 private:
  FindData found_;
};

class PosixDirectorySearch final : public DirectorySearch {
 public:
  std::unique_ptr<Search> findFirst(const std::string& pattern, FindData& entry) override {
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "/*") == 0) {
      // "/*" alone lists the root, as "\*" lists the root of the drive.
      std::string directory = pattern.size() == 2 ? "/" : pattern.substr(0, pattern.size() - 2);
      return list(directory, entry);
    }
    return probe(pattern, entry);
  }

  bool deleteFile(const std::string& path) override {
    // unlink() refuses directories on Linux, but POSIX lets a system allow
    // it to a privileged process.
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
    return ::unlink(path.c_str()) == 0;
  }

  std::string lastFailure() const override { return lastFailure_; }

  int compareNames(const char* a, const char* b) const override { return std::strcmp(a, b); }

  // The read-ahead attends each walk from its start folder as held.
  void startWalk(const std::string& folder) override {
    confinement_.start(folder);
    std::shared_ptr<HeldDirectory> start = confinement_.startDirectory();
    if (start) {
      beginReadAhead(start->fd(), folder.size());
    } else {
      endReadAhead();
    }
    folderLength_ = folder.size();
  }

 private:
  std::unique_ptr<Search> list(const std::string& directory, FindData& entry) {
    bool confined = confinement_.covers(directory);
    std::shared_ptr<HeldDirectory> held;
    if (confined) {
      held = confinement_.open(directory);
    } else {
      int fd = openDirectoryAt(AT_FDCWD, directory.c_str(), LinkAtEnd::kFollowed);
      if (fd >= 0) held = std::make_shared<HeldDirectory>(fd);
    }
    struct stat status;
    if (!held || ::fstat(held->fd(), &status) != 0) return failed();
    // Where the file system may leave a directory's stamps alone when its
    // entries change, every listing is read afresh.
    bool keepable = timesCheck_.keepsTimes(held->fd(), status.st_dev);
    std::shared_ptr<const Listing> listing =
        keepable ? cache_.find(directory, directoryStateOf(status)) : nullptr;
    bool read = !listing;
    if (read) {
      std::shared_ptr<Listing> fresh =
          held->readFromStart() ? readListing(held->fd(), status) : nullptr;
      if (!fresh) return failed();
      if (keepable) cache_.keep(directory, fresh);
      listing = std::move(fresh);
    }
    if (confined) {
      std::string_view below(directory);
      walkLists(below.substr(std::min(below.size(), folderLength_ + 1)), read);
    }
    auto search = std::make_unique<PosixListingSearch>(std::move(held), std::move(listing),
                                                       confined ? &confinement_ : nullptr);
    search->start(entry);
    lastFailure_.clear();
    return search;
  }

  // Keeps the reason for lastFailure().
  std::unique_ptr<Search> failed() {
    lastFailure_ = std::strerror(errno);
    return nullptr;
  }

  std::unique_ptr<Search> probe(const std::string& path, FindData& entry) {
    // Covers "" and "/", which name no entry of a parent directory.
    if (path.empty() || path.back() == '/') {
      errno = ENOENT;
      return failed();
    }
    Metadata meta;
    if (!examine(AT_FDCWD, path.c_str(), meta)) return failed();
    size_t slash = path.rfind('/');
    const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    uint32_t attributes = attributesOf(meta, name);
    if (S_ISLNK(meta.mode)) {
      // A folder given as a link to a directory is scanned through the link.
      struct stat target;
      if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
        attributes |= kAttributeDirectory;
      }
    }
    FindData found;
    describe(meta, attributes, found);
    copyName(found, name, std::strlen(name));
    entry = found;
    lastFailure_.clear();
    return std::make_unique<ProbeSearch>(found);
  }

  ListingCache<Listing> cache_{'/'};
  DirectoryTimesCheck timesCheck_;
  WalkConfinement confinement_;
  size_t folderLength_ = 0;  // of the folder of the walk
  std::string lastFailure_;
};

DirectorySearch* installedSearch = nullptr;
bool logFolderInstalled = false;
std::string installedLogFolder;

}  // namespace

DirectorySearch& directorySearch() {
  static PosixDirectorySearch systemSearch;
  return installedSearch != nullptr ? *installedSearch : systemSearch;
}

void useDirectorySearch(DirectorySearch* search) { installedSearch = search; }

char separator() { return '/'; }

std::string logFolder() {
  if (logFolderInstalled) return installedLogFolder;
  const char* root = std::getenv("DIRLOG_ROOT");
  if (root == nullptr || root[0] == '\0') root = std::getenv("HOME");
  std::string folder = root != nullptr ? root : "";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

void useLogFolder(const std::string* folder) {
  logFolderInstalled = folder != nullptr;
  installedLogFolder = folder != nullptr ? *folder : std::string();
  if (!installedLogFolder.empty() && installedLogFolder.back() != '/') installedLogFolder += '/';
}

TextReadRules textReadRules() { return TextReadRules{false, false}; }

bool seekFile(std::FILE* stream, uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

}  // namespace platform
