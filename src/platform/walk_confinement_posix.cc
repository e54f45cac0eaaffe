#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // O_PATH
#endif

#include "platform/walk_confinement_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/open_directory_posix.h"

namespace platform {

void WalkConfinement::start(const std::string& folder) {
  if (startFd_ >= 0) ::close(startFd_);
  startFd_ = -1;
  start_ = folder;
  levels_.clear();
  entered_.name.clear();
  if (folder.empty()) return;
#ifdef O_PATH
  startFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  startFd_ = openDirectoryAt(AT_FDCWD, folder.c_str(), LinkAtEnd::kFollowed);
#endif
}

int WalkConfinement::open(const std::string& directory) const {
  if (startFd_ < 0) return -1;
  if (directory.size() == start_.size()) {
    return openDirectoryAt(startFd_, ".", LinkAtEnd::kFollowed);
  }
  return openBelow(startFd_, directory.c_str() + start_.size() + 1);
}

bool WalkConfinement::confirm(const std::string& directory, const struct stat& status) {
  // The levels on the way down to `directory` stay; they nest, so the
  // deepest that leads to it tells.
  while (!levels_.empty() && !leadsTo(listed_, levels_.back().length, directory)) {
    levels_.pop_back();
  }
  bool listedBefore = !levels_.empty() && levels_.back().length == directory.size();
  const Identity* expected = listedBefore           ? &levels_.back().identity
                             : isEntered(directory) ? &entered_.identity
                                                    : nullptr;
  if (expected != nullptr &&
      (expected->device != status.st_dev || expected->inode != status.st_ino)) {
    return false;
  }
  if (!listedBefore) {
    levels_.push_back(Level{directory.size(), Identity{status.st_dev, status.st_ino}});
    listed_.assign(directory);
  }
  return true;
}

void WalkConfinement::noteDirectory(dev_t parentDevice, ino_t parentInode, const char* name,
                                    const Metadata& meta) {
  entered_.parent = Identity{parentDevice, parentInode};
  entered_.name.assign(name);
  entered_.identity = Identity{meta.device, meta.inode};
}

bool WalkConfinement::isEntered(const std::string& directory) const {
  if (levels_.empty() || entered_.name.empty()) return false;
  const Level& parent = levels_.back();
  return parent.identity.device == entered_.parent.device &&
         parent.identity.inode == entered_.parent.inode &&
         directory.size() == parent.length + 1 + entered_.name.size() &&
         directory[parent.length] == '/' &&
         directory.compare(parent.length + 1, std::string::npos, entered_.name) == 0;
}

}  // namespace platform
