#include "platform/file_system_types_posix.h"

#ifdef DIRLOG_HAVE_FSTATFS
#include <sys/vfs.h>
#endif

namespace platform {
namespace {

// Magic numbers of file systems (statfs f_type) that move a directory's
// change and modification stamps with every change of its entries, as the
// listing cache requires. Network and FUSE file systems are left out: some
// keep no directory times, or let another machine change a directory
// without its stamps moving here.
bool keepsDirectoryTimesByDefault(uint64_t fileSystemType) {
  switch (fileSystemType) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0xCA451A4E:  // bcachefs
    case 0x3153464A:  // jfs
    case 0x52654973:  // reiserfs
    case 0x794C7630:  // overlayfs: its directories' stamps are those of the upper layer
      return true;
    default:
      return false;
  }
}

DirectoryTimesRule directoryTimesRule = keepsDirectoryTimesByDefault;

// 0 where the type cannot be asked for: no known file system has it.
uint64_t fileSystemType(int fd) {
#ifdef DIRLOG_HAVE_FSTATFS
  struct statfs status;
  if (::fstatfs(fd, &status) == 0) return static_cast<uint64_t>(status.f_type);
#else
  (void)fd;
#endif
  return 0;
}

}  // namespace

// FUSE is counted in: sshfs and its kind are served from elsewhere, and a
// FUSE file system cannot say whether it is.
bool isNetworkFileSystem(int fd) {
  switch (fileSystemType(fd)) {
    case 0x6969:      // nfs
    case 0x517B:      // smb
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x564C:      // ncp
    case 0x00C36400:  // ceph
    case 0x01021997:  // 9p
    case 0x6B414653:  // afs
    case 0x73757245:  // coda
    case 0x0BD00BD0:  // lustre
    case 0x65735546:  // fuse
    case 0x013111A8:  // ibrix
      return true;
    default:
      return false;
  }
}

void useDirectoryTimesRule(DirectoryTimesRule rule) {
  directoryTimesRule = rule != nullptr ? rule : keepsDirectoryTimesByDefault;
}

bool DirectoryTimesCheck::keepsTimes(int fd, dev_t device) {
  if (rule_ != directoryTimesRule) {
    rule_ = directoryTimesRule;
    known_.clear();
  }
  for (const Device& known : known_) {
    if (known.device == device) return known.keepsTimes;
  }
  bool keeps = rule_(fileSystemType(fd));
  known_.push_back(Device{device, keeps});
  return keeps;
}

}  // namespace platform
