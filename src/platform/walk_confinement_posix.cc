#include "platform/walk_confinement_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/open_directory_posix.h"

namespace platform {

HeldDirectory::~HeldDirectory() { ::close(fd_); }

bool HeldDirectory::readFromStart() {
  if (!read_) {
    read_ = true;
    return true;
  }
  return ::lseek(fd_, 0, SEEK_SET) == 0;
}

void WalkConfinement::start(const std::string& folder) {
  levels_.clear();
  examined_ = Examined{};
  start_ = folder;
  listed_ = folder;
  startError_ = 0;
  if (folder.empty()) return;
  int fd = openDirectoryAt(AT_FDCWD, folder.c_str(), LinkAtEnd::kFollowed);
  if (fd < 0) {
    startError_ = errno;
    return;
  }
  levels_.push_back(Level{folder.size(), std::make_shared<HeldDirectory>(fd), Identity{}});
}

std::shared_ptr<HeldDirectory> WalkConfinement::open(const std::string& directory) {
  if (levels_.empty()) {
    errno = startError_ != 0 ? startError_ : ENOENT;
    return nullptr;
  }
  // The levels nest, and the start leads to every directory covered.
  while (levels_.size() > 1 && !leadsTo(listed_, levels_.back().length, directory)) {
    levels_.pop_back();
  }
  listed_.assign(directory);
  while (levels_.back().length < directory.size()) {
    size_t begin = levels_.back().length + 1;
    size_t end = directory.find('/', begin);
    if (end == std::string::npos) end = directory.size();
    if (!descendTo(directory.substr(begin, end - begin))) return nullptr;
  }
  if (!levels_.back().held && !holdAgain(levels_.size() - 1)) return nullptr;
  return levels_.back().held;
}

// The line written for a directory and the entries listed below it come
// from one directory, whatever takes its name meanwhile.
bool WalkConfinement::examineDirectory(const std::shared_ptr<HeldDirectory>& parent,
                                       const char* name, Metadata& meta) {
  examined_.parent = parent;
  examined_.name.assign(name);
  examined_.opened.reset();
  int fd = openChild(parent->fd(), name);
  if (fd >= 0) {
    auto opened = std::make_shared<HeldDirectory>(fd);
    if (examineOpen(fd, meta)) {
      examined_.opened = std::move(opened);
      return true;
    }
  }
  // Unreadable, or no longer a directory (then it is not entered).
  examined_.error = errno;
  return examine(parent->fd(), name, meta);
}

int WalkConfinement::openChild(int at, const char* name) {
  for (;;) {
    int fd = openDirectoryAt(at, name, LinkAtEnd::kRefused);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return fd;
    int error = errno;
    if (!letOneGo()) {
      errno = error;
      return -1;
    }
  }
}

// The start stays (it cannot be found again as it was found), and so does
// any level that a listing or a caller holds too: letting it go would free
// nothing. Those nearest the start are climbed back to last.
bool WalkConfinement::letOneGo() {
  for (size_t index = 1; index < levels_.size(); ++index) {
    Level& level = levels_[index];
    if (!level.held || level.held.use_count() > 1) continue;
    struct stat status;
    if (::fstat(level.held->fd(), &status) != 0) continue;
    level.identity = Identity{status.st_dev, status.st_ino, changeTime(status)};
    level.held.reset();
    return true;
  }
  return false;
}

bool WalkConfinement::holdAgain(size_t index) {
  size_t from = index - 1;
  while (!levels_[from].held) --from;                         // the start is always held
  std::shared_ptr<HeldDirectory> above = levels_[from].held;  // not let go meanwhile
  std::string below =
      listed_.substr(levels_[from].length + 1, levels_[index].length - levels_[from].length - 1);
  int fd;
  for (;;) {
    fd = openBelow(above->fd(), below.c_str());
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) break;
    int error = errno;
    if (!letOneGo()) {
      errno = error;
      return false;
    }
  }
  if (fd < 0) return false;
  auto held = std::make_shared<HeldDirectory>(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0) return false;
  const Identity& was = levels_[index].identity;
  Timestamp changed = changeTime(status);
  bool sameInode = status.st_ino == was.inode;
  bool sameStamp =
      changed.seconds == was.changed.seconds && changed.nanoseconds == was.changed.nanoseconds;
  if (status.st_dev != was.device || (!sameInode && !sameStamp)) {
    errno = ESTALE;  // another directory has taken its place
    return false;
  }
  levels_[index].held = std::move(held);
  return true;
}

bool WalkConfinement::descendTo(const std::string& name) {
  if (!levels_.back().held && !holdAgain(levels_.size() - 1)) return false;
  std::shared_ptr<HeldDirectory> parent = levels_.back().held;
  size_t length = levels_.back().length + 1 + name.size();
  std::shared_ptr<HeldDirectory> held;
  if (examined_.parent == parent && examined_.name == name) {
    held = std::move(examined_.opened);
    int error = examined_.error;
    examined_ = Examined{};
    if (!held) {
      errno = error;
      return false;
    }
  } else {
    int fd = openChild(parent->fd(), name.c_str());
    if (fd < 0) return false;
    held = std::make_shared<HeldDirectory>(fd);
  }
  levels_.push_back(Level{length, std::move(held), Identity{}});
  return true;
}

}  // namespace platform
