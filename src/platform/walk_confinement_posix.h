// The walk's way down from its start folder, held open. The start folder is
// opened once, links and all; each directory below it is opened from its
// parent, held open, by its one name and without following a link, so that
// no link can ever be on the way. A directory entered is the very directory
// whose entry was completed (its metadata is read from the descriptor
// opened), and a directory listed again on the way back up is the very
// directory listed before, held open meanwhile, wherever it now is. Nothing
// of this rests on inode numbers, which some file systems (overlay over
// layers on different file systems, FUSE, CIFS) change whenever a
// directory's inode leaves their cache.
//
// One descriptor is held per level, at most about 128 for a path of 255
// characters. Where the process may open no more, the levels nearest the
// start are let go and opened again when the walk climbs back to them; such
// a directory must then still be the one held before (same device, and the
// same inode number or, where the number moved, the same change time).
#ifndef DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_
#define DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/entry_metadata_posix.h"

namespace platform {

// A directory held open; closed when the last holder lets it go.
class HeldDirectory {
 public:
  explicit HeldDirectory(int fd) : fd_(fd) {}
  ~HeldDirectory();
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  int fd() const { return fd_; }
  // Makes the next read of the directory start from its first entry, where
  // it was read before. False, with errno set, when it cannot.
  bool readFromStart();

 private:
  int fd_;
  bool read_ = false;
};

class WalkConfinement {
 public:
  WalkConfinement() = default;
  ~WalkConfinement() { start(std::string()); }
  WalkConfinement(const WalkConfinement&) = delete;
  WalkConfinement& operator=(const WalkConfinement&) = delete;

  // Starts a walk of `folder`, ending the one before and letting go of all
  // it held; an empty text only ends it.
  void start(const std::string& folder);

  // Whether `directory` is the start folder or lies below it.
  bool covers(const std::string& directory) const {
    return !start_.empty() && leadsTo(start_, start_.size(), directory);
  }

  // The start folder, held since start(); nullptr where it could not be
  // opened.
  std::shared_ptr<HeldDirectory> startDirectory() const {
    return levels_.empty() ? nullptr : levels_.front().held;
  }

  // The directory `directory` (which covers() accepts) for listing: a level
  // of the way down, or one opened below the deepest level that leads to
  // it. The levels that do not lead to it are let go. nullptr, with errno
  // set, when it cannot be opened.
  std::shared_ptr<HeldDirectory> open(const std::string& directory);

  // Reads the metadata of the directory `name` of the directory `parent`, a
  // level of the way down, from the very directory: it is opened without
  // following a link, and a listing of it (next, before another directory
  // is examined) lists that one. Where it cannot be opened it is described
  // by its name, and that listing fails for the same reason. False when
  // nothing of that name is left.
  bool examineDirectory(const std::shared_ptr<HeldDirectory>& parent, const char* name,
                        Metadata& meta);

 private:
  // What tells a directory opened again from the one held before, taken
  // when it is let go.
  struct Identity {
    dev_t device;
    ino_t inode;
    Timestamp changed;
  };
  // A directory on the way down, by the length of its path in listed_.
  // `held` is empty while the level is let go for want of descriptors.
  struct Level {
    size_t length;
    std::shared_ptr<HeldDirectory> held;
    Identity identity;
  };
  // The directory examined last: the one opened for it, or why it could not
  // be opened.
  struct Examined {
    std::shared_ptr<HeldDirectory> parent;
    std::string name;
    std::shared_ptr<HeldDirectory> opened;
    int error = 0;
  };

  // Whether the first `length` characters of `path` name `directory` or a
  // directory above it.
  static bool leadsTo(const std::string& path, size_t length, const std::string& directory) {
    return length <= directory.size() && directory.compare(0, length, path, 0, length) == 0 &&
           (length == directory.size() || directory[length] == '/');
  }

  // Opens the directory `name` below the directory open on `at` without
  // following a link, letting levels go while the process is out of
  // descriptors. -1, with errno set, when it cannot.
  int openChild(int at, const char* name);
  // Lets the level nearest the start that may go go; false when none may.
  bool letOneGo();
  // Opens again level `index`, let go before; false, with errno set, when
  // it cannot be opened or is no longer the directory it was.
  bool holdAgain(size_t index);
  // Adds the directory `name` below the deepest level as a level.
  bool descendTo(const std::string& name);

  std::string start_;
  int startError_ = 0;
  std::string listed_;         // the deepest directory of levels_
  std::vector<Level> levels_;  // from the start folder down
  Examined examined_;
};

}  // namespace platform

#endif  // DIRLOG_PLATFORM_WALK_CONFINEMENT_POSIX_H_
