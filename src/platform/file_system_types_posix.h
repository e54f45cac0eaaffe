// Which file systems keep a directory's times as the listing cache needs
// them: moved with every change of the directory's entries.
#ifndef DIRLOG_PLATFORM_FILE_SYSTEM_TYPES_POSIX_H_
#define DIRLOG_PLATFORM_FILE_SYSTEM_TYPES_POSIX_H_

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace platform {

// Tells by a file system's statfs type whether it moves a directory's change
// and modification stamps with every change of its entries. Listings are
// kept for reuse only on such file systems; elsewhere each is read afresh.
using DirectoryTimesRule = bool (*)(uint64_t fileSystemType);

// Puts `rule` in place of the platform's own (nullptr gives it back); the
// answers the search remembers per device are forgotten. For tests.
void useDirectoryTimesRule(DirectoryTimesRule rule);

// Whether the directory open on `fd` lies on a file system that another
// machine serves (NFS, SMB, Ceph, 9P, FUSE and the like), where reading
// ahead of the walk is left alone.
bool isNetworkFileSystem(int fd);

// Whether listings of the directories on a device may be kept: asked of the
// file system once per device.
class DirectoryTimesCheck {
 public:
  // For the directory open on `fd`, on `device`.
  bool keepsTimes(int fd, dev_t device);

 private:
  struct Device {
    dev_t device;
    bool keepsTimes;
  };
  DirectoryTimesRule rule_ = nullptr;
  std::vector<Device> known_;
};

}  // namespace platform

#endif  // DIRLOG_PLATFORM_FILE_SYSTEM_TYPES_POSIX_H_
