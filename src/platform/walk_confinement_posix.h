// The walk's way down from its start folder. The start folder is opened
// once, links and all; every directory below it is opened from there with no
// link allowed on the way, and must be the directory its path led to before:
// for a directory entered, the one its entry described when completed; for
// one listed again on the way back up, the one listed before. Anything else
// was swapped in while the walk went on: the listing fails and the walk goes
// on as it does past a directory that vanished.
#ifndef DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_
#define DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/entry_metadata_posix.h"

namespace platform {

class WalkConfinement {
 public:
  WalkConfinement() = default;
  ~WalkConfinement() { start(std::string()); }
  WalkConfinement(const WalkConfinement&) = delete;
  WalkConfinement& operator=(const WalkConfinement&) = delete;

  // Starts a walk of `folder`, ending the one before; an empty text ends it.
  void start(const std::string& folder);

  // Whether `directory` is the start folder or lies below it.
  bool covers(const std::string& directory) const {
    return !start_.empty() && leadsTo(start_, start_.size(), directory);
  }

  // Opens a directory that covers() accepts; -1 when it cannot be opened or
  // a link lies on the way to it.
  int open(const std::string& directory) const;

  // Whether the directory just opened as `directory`, described by
  // `status`, is the one expected there; it is expected there from now on.
  bool confirm(const std::string& directory, const struct stat& status);

  // Notes the directory that a listing of the directory `parent` showed as
  // `name` when its entry was completed: the walk enters it next, if at all.
  void noteDirectory(dev_t parentDevice, ino_t parentInode, const char* name, const Metadata& meta);

 private:
  struct Identity {
    dev_t device;
    ino_t inode;
  };
  // A directory listed on the way down, by the length of its path in listed_.
  struct Level {
    size_t length;
    Identity identity;
  };

  // Whether the first `length` characters of `path` name `directory` or a
  // directory above it.
  static bool leadsTo(const std::string& path, size_t length, const std::string& directory) {
    return length <= directory.size() && directory.compare(0, length, path, 0, length) == 0 &&
           (length == directory.size() || directory[length] == '/');
  }

  // Whether `directory` is the entry completed last, in the last directory
  // listed on the way down.
  bool isEntered(const std::string& directory) const;

  std::string start_;
  int startFd_ = -1;
  std::string listed_;         // the deepest directory of levels_
  std::vector<Level> levels_;  // from the start folder down
  struct {
    Identity parent;
    std::string name;
    Identity identity;
  } entered_;
};

}  // namespace platform

#endif  // DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_
