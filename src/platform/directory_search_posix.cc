// The directory search on POSIX systems: listings in byte order of the
// names, "." and ".." first, entries described as the Win32 find data
// describes them, and a small memory of recent listings so that the walk's
// repeated listings of the same directories stay cheap.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // statx, O_NOATIME
#endif

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>
#ifdef DIRLOG_HAVE_OPENAT2
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif
#ifdef DIRLOG_HAVE_FSTATFS
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory_search.h"
#include "platform/directory_search_posix.h"

namespace platform {
namespace {

// ---------------------------------------------------------------------------
// Entry metadata

struct Timestamp {
  int64_t seconds;
  uint32_t nanoseconds;
};

// What complete() needs of an entry, from statx or from fstatat.
struct Metadata {
  dev_t device;
  ino_t inode;
  uint32_t mode;
  uint32_t uid;
  uint64_t size;
  Timestamp access;
  Timestamp write;
  bool hasBirth;
  Timestamp birth;
};

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks
// The last second whose ticks still fit in 64 bits, whatever its nanoseconds.
constexpr int64_t kLastCountableSecond =
    static_cast<int64_t>(UINT64_MAX / kTicksPerSecond) - kSecondsFrom1601To1970 - 1;

FileTime toFileTime(const Timestamp& time) {
  uint64_t ticks;
  if (time.seconds < -kSecondsFrom1601To1970) {
    ticks = 0;  // before 1601 there is nothing to count
  } else if (time.seconds > kLastCountableSecond) {
    ticks = UINT64_MAX;
  } else {
    uint64_t since1601 = static_cast<uint64_t>(time.seconds + kSecondsFrom1601To1970);
    ticks = since1601 * kTicksPerSecond + std::min<uint32_t>(time.nanoseconds, 999999999) / 100;
  }
  return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

Timestamp fromTimespec(const struct timespec& time) {
  return Timestamp{static_cast<int64_t>(time.tv_sec), static_cast<uint32_t>(time.tv_nsec)};
}

#ifdef __APPLE__
#define DIRLOG_ST_ATIM st_atimespec
#define DIRLOG_ST_MTIM st_mtimespec
#define DIRLOG_ST_CTIM st_ctimespec
#else
#define DIRLOG_ST_ATIM st_atim
#define DIRLOG_ST_MTIM st_mtim
#define DIRLOG_ST_CTIM st_ctim
#endif

bool examineWithFstatat(int directoryFd, const char* name, Metadata& meta) {
  struct stat status;
  if (::fstatat(directoryFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  meta.device = status.st_dev;
  meta.inode = status.st_ino;
  meta.mode = static_cast<uint32_t>(status.st_mode);
  meta.uid = static_cast<uint32_t>(status.st_uid);
  meta.size = static_cast<uint64_t>(status.st_size);
  meta.access = fromTimespec(status.DIRLOG_ST_ATIM);
  meta.write = fromTimespec(status.DIRLOG_ST_MTIM);
  meta.hasBirth = false;
  meta.birth = Timestamp{0, 0};
  return true;
}

// Reads the metadata of `name` relative to `directoryFd` (AT_FDCWD for a
// path) without following a link, with the birth time where the file system
// keeps one. Reading metadata never changes an access time.
bool examine(int directoryFd, const char* name, Metadata& meta) {
#ifdef DIRLOG_HAVE_STATX
  // A kernel older than statx, or a sandbox that filters it, gets fstatat.
  static bool statxAvailable = true;
  if (statxAvailable) {
    struct statx status;
    if (::statx(directoryFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                STATX_BASIC_STATS | STATX_BTIME, &status) == 0) {
      meta.device = makedev(status.stx_dev_major, status.stx_dev_minor);
      meta.inode = status.stx_ino;
      meta.mode = status.stx_mode;
      meta.uid = status.stx_uid;
      meta.size = status.stx_size;
      meta.access = Timestamp{status.stx_atime.tv_sec, status.stx_atime.tv_nsec};
      meta.write = Timestamp{status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec};
      meta.hasBirth = (status.stx_mask & STATX_BTIME) != 0;
      meta.birth = meta.hasBirth ? Timestamp{status.stx_btime.tv_sec, status.stx_btime.tv_nsec}
                                 : Timestamp{0, 0};
      return true;
    }
    if (errno == ENOSYS) {
      statxAvailable = false;
    } else if (errno != EPERM) {
      return false;
    }
  }
#endif
  return examineWithFstatat(directoryFd, name, meta);
}

// ---------------------------------------------------------------------------
// Attributes

// One type bit per entry. Only real directories carry the directory bit, so
// the walk never follows a link; anything that is neither a file, a
// directory nor a link is marked as a system entry and never opened.
uint32_t typeAttribute(uint32_t mode) {
  if (S_ISDIR(mode)) return kAttributeDirectory;
  if (S_ISREG(mode)) return kAttributeArchive;
  if (S_ISLNK(mode)) return kAttributeReparsePoint;
  return kAttributeSystem;
}

uint32_t attributesOf(const Metadata& meta, const char* name) {
  uint32_t attributes = typeAttribute(meta.mode);
  if ((meta.mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  if (name[0] == '.') attributes |= kAttributeHidden;
  return attributes;
}

void copyName(FindData& entry, const char* name, size_t length) {
  length = std::min(length, sizeof entry.cFileName - 1);
  std::memcpy(entry.cFileName, name, length);
  entry.cFileName[length] = '\0';
}

// Fills every member but the name.
void describe(const Metadata& meta, uint32_t attributes, FindData& entry) {
  entry.dwFileAttributes = attributes;
  entry.ftCreationTime = meta.hasBirth ? toFileTime(meta.birth) : FileTime{0, 0};
  entry.ftLastAccessTime = toFileTime(meta.access);
  entry.ftLastWriteTime = toFileTime(meta.write);
  // Windows reports no size for a directory; a link keeps its own size even
  // where a probe shows it as the directory it leads to.
  uint64_t size = S_ISDIR(meta.mode) ? 0 : meta.size;
  entry.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  entry.nFileSizeLow = static_cast<uint32_t>(size);
  entry.dwReserved0 = meta.mode;
  entry.dwReserved1 = meta.uid;
  entry.cAlternateFileName[0] = '\0';
}

// ---------------------------------------------------------------------------
// Listings

// The type bits a listing keeps per entry, one byte each.
enum TypeCode : unsigned char { kTypeDirectory, kTypeFile, kTypeLink, kTypeOther };
constexpr uint32_t kTypeAttributes[] = {kAttributeDirectory, kAttributeArchive,
                                        kAttributeReparsePoint, kAttributeSystem};

TypeCode typeCodeOf(uint32_t mode) {
  if (S_ISDIR(mode)) return kTypeDirectory;
  if (S_ISREG(mode)) return kTypeFile;
  if (S_ISLNK(mode)) return kTypeLink;
  return kTypeOther;
}

// A directory's entries as one read found them, "." and ".." left out,
// sorted by name and never changed afterwards. `entries` packs every entry
// in listing order as its type code, its name's length, the name and a NUL.
// The directory's identity and stamps, taken when it was opened for the read,
// tell whether the listing may stand for a later read.
struct Listing {
  dev_t device;
  ino_t inode;
  struct timespec changed;
  struct timespec modified;
  bool trusted;  // the stamps were old enough at the read; see isSettled()
  std::string entries;
  // Where each entry begins in `entries`, in listing order, so that the walk
  // can find its place again by a binary search instead of entry by entry.
  std::vector<uint32_t> starts;
};

constexpr size_t kEntryHeader = 2;      // type code, name length
constexpr size_t kMaxNameLength = 255;  // what the length byte can hold; NAME_MAX on Linux

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

struct timespec now() {
  struct timespec time;
#ifdef CLOCK_REALTIME_COARSE
  // The clock the kernel stamps files with; a finer clock can run ahead of
  // the stamps of changes made after it was read.
  ::clock_gettime(CLOCK_REALTIME_COARSE, &time);
#else
  ::clock_gettime(CLOCK_REALTIME, &time);
#endif
  return time;
}

// How far apart two changes of a directory may be and still carry the same
// stamp: the file system's timestamp granularity, bounded from the stamp
// itself. Linux file systems keep stamps in steps of a power of ten from 1 ns
// to 1 s, or in steps of 2 s (FAT); a stamp is cut down to its step, so the
// step divides its nanoseconds. Whole seconds therefore mean steps of up to
// 2 s; otherwise the largest power of ten that divides the nanoseconds bounds
// the step. The floor covers steps that are no power of ten (a FUSE file
// system may declare any) up to a tenth of a second.
int64_t stampStepBound(const struct timespec& stamp) {
  constexpr int64_t kCoarsestStep = 2000000000;
  constexpr int64_t kFloor = 100000000;
  if (stamp.tv_nsec == 0) return kCoarsestStep;
  int64_t step = 1;
  for (long rest = stamp.tv_nsec; rest % 10 == 0; rest /= 10) step *= 10;
  return std::max(step, kFloor);
}

// Whether a change made after `readStart` must leave the directory with
// stamps other than `listing`'s: true when the read began more than one step
// after both stamps, so that no change it missed can carry them.
bool isSettled(const Listing& listing, const struct timespec& readStart) {
  int64_t step = stampStepBound(listing.changed);
  auto isOlder = [&](const struct timespec& stamp) {
    // Stamps can be set far into the past or the future: no arithmetic on
    // them until they are known to be near the clock.
    if (stamp.tv_sec < readStart.tv_sec - 3) return true;
    if (stamp.tv_sec > readStart.tv_sec) return false;
    int64_t ageNs = (static_cast<int64_t>(readStart.tv_sec) - stamp.tv_sec) * 1000000000 +
                    (readStart.tv_nsec - stamp.tv_nsec);
    return ageNs > step;
  };
  return isOlder(listing.changed) && isOlder(listing.modified);
}

// Calls visit(name, d_type) for every entry of the directory open on `fd`,
// "." and ".." included. False when the directory cannot be read to its end.
template <typename Visit>
bool forEachEntry(int fd, Visit visit) {
#ifdef DIRLOG_HAVE_GETDENTS64
  // Straight from the kernel: a DIR stream would cost five more system calls
  // per directory (dup, fstat, two fcntl, close), about as many as the rest
  // of a listing.
  alignas(struct dirent64) char buffer[32768];
  for (;;) {
    ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t at = 0; at < got;) {
      auto* found = reinterpret_cast<struct dirent64*>(buffer + at);
      visit(found->d_name, found->d_type);
      at += found->d_reclen;
    }
  }
#else
  // A duplicate descriptor for the DIR stream, which closes what it is
  // given; `fd` stays open for the search.
  int readFd = ::dup(fd);
  if (readFd < 0) return false;
  DIR* directory = ::fdopendir(readFd);
  if (directory == nullptr) {
    ::close(readFd);
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* found = ::readdir(directory);
    if (found == nullptr) break;
    visit(found->d_name, found->d_type);
  }
  bool failed = errno != 0;
  ::closedir(directory);
  return !failed;
#endif
}

size_t directoryReadCount = 0;  // see directoryReads()

// Reads the directory open on `fd` into a new listing. nullptr when the
// directory cannot be read to its end.
std::shared_ptr<Listing> readListing(int fd, const struct stat& status) {
  ++directoryReadCount;
  auto listing = std::make_shared<Listing>();
  listing->device = status.st_dev;
  listing->inode = status.st_ino;
  listing->changed = status.DIRLOG_ST_CTIM;
  listing->modified = status.DIRLOG_ST_MTIM;
  listing->trusted = isSettled(*listing, now());

  std::string unsorted;
  std::vector<size_t> offsets;
  bool readToEnd = forEachEntry(fd, [&](const char* name, unsigned char directoryType) {
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return;
    size_t length = std::strlen(name);
    if (length > kMaxNameLength) return;  // cannot be named in a find data entry
    TypeCode type;
    switch (directoryType) {
      case DT_DIR:
        type = kTypeDirectory;
        break;
      case DT_REG:
        type = kTypeFile;
        break;
      case DT_LNK:
        type = kTypeLink;
        break;
      case DT_UNKNOWN: {
        // Some file systems leave the type to a look-up.
        struct stat entryStatus;
        if (::fstatat(fd, name, &entryStatus, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone
        type = typeCodeOf(static_cast<uint32_t>(entryStatus.st_mode));
        break;
      }
      default:
        type = kTypeOther;
        break;
    }
    offsets.push_back(unsorted.size());
    unsorted += static_cast<char>(type);
    unsorted += static_cast<char>(length);
    unsorted.append(name, length + 1);
  });
  if (!readToEnd) return nullptr;

  const char* base = unsorted.data();
  std::sort(offsets.begin(), offsets.end(), [base](size_t a, size_t b) {
    return std::strcmp(base + a + kEntryHeader, base + b + kEntryHeader) < 0;
  });
  listing->entries.reserve(unsorted.size());
  const char* previous = nullptr;
  for (size_t offset : offsets) {
    const char* entry = base + offset;
    // A directory changed while it was read may show a name twice.
    if (previous != nullptr && std::strcmp(previous + kEntryHeader, entry + kEntryHeader) == 0) {
      continue;
    }
    listing->starts.push_back(static_cast<uint32_t>(listing->entries.size()));
    listing->entries.append(entry, kEntryHeader + static_cast<unsigned char>(entry[1]) + 1);
    previous = entry;
  }
  return listing;
}

// Whether `directory` is `path` or lies above it, by their texts.
bool isAncestorOrSelf(const std::string& directory, const std::string& path) {
  if (directory.empty() || path.size() < directory.size() ||
      path.compare(0, directory.size(), directory) != 0) {
    return false;
  }
  return path.size() == directory.size() || path[directory.size()] == '/' ||
         directory.back() == '/';
}

// The listings the walk may ask for again. After a directory's subdirectory
// the walk lists the directory again, so from any directory it only ever
// comes back to the directories on its way down: the cache keeps just the
// listings of the last listed path and of its ancestors, within a byte
// budget, and drops the rest as soon as a listing moves elsewhere.
class ListingCache {
 public:
  // The kept listing of `path`, if it may stand for a fresh read of the
  // directory `status` describes; nullptr otherwise.
  std::shared_ptr<const Listing> find(const std::string& path, const struct stat& status) {
    std::erase_if(slots_, [&](const Slot& slot) {
      if (isAncestorOrSelf(slot.path, path)) return false;
      bytes_ -= slot.listing->entries.size();
      return true;
    });
    auto slot = std::find_if(slots_.begin(), slots_.end(),
                             [&](const Slot& kept) { return kept.path == path; });
    if (slot == slots_.end()) return nullptr;
    const Listing& kept = *slot->listing;
    // Any change of the directory's entries moves its change and modification
    // stamps; a directory put in its place under the same name has another
    // identity.
    if (kept.device == status.st_dev && kept.inode == status.st_ino &&
        sameTime(kept.changed, status.DIRLOG_ST_CTIM) &&
        sameTime(kept.modified, status.DIRLOG_ST_MTIM)) {
      return slot->listing;
    }
    bytes_ -= kept.entries.size();
    slots_.erase(slot);
    return nullptr;
  }

  void keep(const std::string& path, std::shared_ptr<const Listing> listing) {
    // A listing read while its directory's stamps were fresh can never be
    // told apart from a later state of the directory: not worth keeping.
    if (!listing->trusted || listing->entries.size() > kByteBudget) return;
    std::erase_if(slots_, [&](const Slot& slot) {
      if (slot.path != path) return false;
      bytes_ -= slot.listing->entries.size();
      return true;
    });
    // The deepest directories come back soonest: drop the oldest first.
    while (!slots_.empty() && bytes_ + listing->entries.size() > kByteBudget) {
      bytes_ -= slots_.front().listing->entries.size();
      slots_.erase(slots_.begin());
    }
    bytes_ += listing->entries.size();
    slots_.push_back(Slot{path, std::move(listing)});
  }

 private:
  static constexpr size_t kByteBudget = size_t{64} << 20;

  struct Slot {
    std::string path;
    std::shared_ptr<const Listing> listing;
  };
  std::vector<Slot> slots_;  // oldest first; as many as the path has levels
  size_t bytes_ = 0;
};

// ---------------------------------------------------------------------------
// File systems

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

// Whether listings of the directories on a device may be kept: asked of the
// file system once per device.
class DirectoryTimesCheck {
 public:
  bool keepsTimes(int fd, dev_t device) {
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

 private:
  struct Device {
    dev_t device;
    bool keepsTimes;
  };
  DirectoryTimesRule rule_ = nullptr;
  std::vector<Device> known_;
};

// ---------------------------------------------------------------------------
// Opening directories

enum class LinkAtEnd { kFollowed, kRefused };

// Opens a directory for listing without marking it read, where the process
// may ask for that (O_NOATIME is refused on what it does not own). `path` is
// relative to the directory open on `at`, or AT_FDCWD.
int openDirectoryAt(int at, const char* path, LinkAtEnd link) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (link == LinkAtEnd::kRefused) flags |= O_NOFOLLOW;
#ifdef O_NOATIME
  int fd = ::openat(at, path, flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
#endif
  return ::openat(at, path, flags);
}

// Opens `path` below the directory open on `at` one component at a time,
// each opened without following a link, so that no component can be one.
int openEachComponent(int at, const char* relative) {
  std::string path = relative;
#ifdef O_PATH
  constexpr int kPassFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
  constexpr int kPassFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif
  int current = at;
  size_t begin = 0;
  for (;;) {
    size_t end = path.find('/', begin);
    std::string component = path.substr(begin, end - begin);
    int next = end == std::string::npos
                   ? openDirectoryAt(current, component.c_str(), LinkAtEnd::kRefused)
                   : ::openat(current, component.c_str(), kPassFlags);
    int error = errno;
    if (current != at) ::close(current);
    errno = error;
    if (next < 0 || end == std::string::npos) return next;
    current = next;
    begin = end + 1;
  }
}

#ifdef DIRLOG_HAVE_OPENAT2
int openWithoutLinks(int at, const char* path, uint64_t flags) {
  struct open_how how {};
  how.flags = flags;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return static_cast<int>(::syscall(SYS_openat2, at, path, &how, sizeof how));
}
#endif

// Opens the directory `path` below the one open on `at` so that no
// component on the way, the last included, can be a link: in one call where
// the kernel has openat2, else component by component.
int openBelow(int at, const char* path) {
#ifdef DIRLOG_HAVE_OPENAT2
  // Kernels before 5.6 lack it; a sandbox may refuse it as not permitted.
  static bool openat2Available = true;
  if (openat2Available) {
    constexpr uint64_t kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    int fd = -1;
#ifdef O_NOATIME
    fd = openWithoutLinks(at, path, kFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = openWithoutLinks(at, path, kFlags);
#else
    fd = openWithoutLinks(at, path, kFlags);
#endif
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    if (errno == ENOSYS) openat2Available = false;
  }
#endif
  return openEachComponent(at, path);
}

// The walk's way down from its start folder. The start folder is opened
// once, links and all; every directory below it is opened from there with no
// link allowed on the way, and must be the directory its path led to before:
// for a directory entered, the one its entry described when completed; for
// one listed again on the way back up, the one listed before. Anything else
// was swapped in while the walk went on: the listing fails and the walk goes
// on as it does past a directory that vanished.
class WalkConfinement {
 public:
  ~WalkConfinement() { start(std::string()); }

  void start(const std::string& folder) {
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

  // Whether `directory` is the start folder or lies below it.
  bool covers(const std::string& directory) const {
    return !start_.empty() && leadsTo(start_, start_.size(), directory);
  }

  // Opens a directory that covers() accepts; -1 when it cannot be opened or
  // a link lies on the way to it.
  int open(const std::string& directory) const {
    if (startFd_ < 0) return -1;
    if (directory.size() == start_.size()) {
      return openDirectoryAt(startFd_, ".", LinkAtEnd::kFollowed);
    }
    return openBelow(startFd_, directory.c_str() + start_.size() + 1);
  }

  // Whether the directory just opened as `directory`, described by
  // `status`, is the one expected there; it is expected there from now on.
  bool confirm(const std::string& directory, const struct stat& status) {
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

  // Notes the directory that a listing of the directory `parent` showed as
  // `name` when its entry was completed: the walk enters it next, if at all.
  void noteDirectory(dev_t parentDevice, ino_t parentInode, const char* name,
                     const Metadata& meta) {
    entered_.parent = Identity{parentDevice, parentInode};
    entered_.name.assign(name);
    entered_.identity = Identity{meta.device, meta.inode};
  }

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
  bool isEntered(const std::string& directory) const {
    if (levels_.empty() || entered_.name.empty()) return false;
    const Level& parent = levels_.back();
    return parent.identity.device == entered_.parent.device &&
           parent.identity.inode == entered_.parent.inode &&
           directory.size() == parent.length + 1 + entered_.name.size() &&
           directory[parent.length] == '/' &&
           directory.compare(parent.length + 1, std::string::npos, entered_.name) == 0;
  }

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

// ---------------------------------------------------------------------------
// Searches

// A listing: "." and "..", then the listing's entries. It holds the
// directory open so that complete() looks entries up relative to the very
// directory that was listed, and holds its listing however the cache moves.
// Within a walk it tells the walk's confinement which directory each
// completed directory entry is.
class ListingSearch final : public Search {
 public:
  ListingSearch(int fd, std::shared_ptr<const Listing> listing, WalkConfinement* confinement)
      : fd_(fd), listing_(std::move(listing)), confinement_(confinement) {}
  ~ListingSearch() override { ::close(fd_); }
  ListingSearch(const ListingSearch&) = delete;
  ListingSearch& operator=(const ListingSearch&) = delete;

  // Fills the first entry, ".".
  void start(FindData& entry) {
    copyName(entry, ".", 1);
    entry.dwFileAttributes = kAttributeDirectory;
  }

  bool next(FindData& entry) override {
    switch (place_) {
      case Place::kSelf:
        place_ = Place::kParent;
        copyName(entry, "..", 2);
        entry.dwFileAttributes = kAttributeDirectory;
        return true;
      case Place::kParent:
        place_ = Place::kEntries;
        index_ = 0;
        break;
      case Place::kEntries:
        ++index_;
        break;
      case Place::kEnd:
        return false;
    }
    return standAt(index_, entry);
  }

  // The listing is sorted, and each name is in it once: the entry sought,
  // if it follows at all, is where a binary search over the rest puts it.
  bool skipTo(const char* name, FindData& entry) override {
    if (place_ != Place::kEntries) return Search::skipTo(name, entry);
    size_t found = firstNotBefore(name);
    if (found < count() && std::strcmp(nameAt(found), name) == 0) return standAt(found, entry);
    return standAt(count(), entry);
  }

  bool skipPast(const char* name, FindData& entry) override {
    if (place_ != Place::kEntries) return Search::skipPast(name, entry);
    size_t found = firstNotBefore(name);
    if (found < count() && std::strcmp(nameAt(found), name) == 0) ++found;
    return standAt(found, entry);
  }

  bool complete(FindData& entry) override {
    const char* name;
    switch (place_) {
      case Place::kSelf:
        name = ".";
        break;
      case Place::kParent:
        name = "..";
        break;
      case Place::kEntries:
        name = nameAt(index_);
        break;
      default:
        return false;
    }
    Metadata meta;
    if (!examine(fd_, name, meta)) return false;
    describe(meta, attributesOf(meta, name), entry);
    copyName(entry, name, std::strlen(name));
    if (confinement_ != nullptr && place_ == Place::kEntries && S_ISDIR(meta.mode)) {
      confinement_->noteDirectory(listing_->device, listing_->inode, name, meta);
    }
    return true;
  }

 private:
  enum class Place { kSelf, kParent, kEntries, kEnd };

  size_t count() const { return listing_->starts.size(); }
  const char* entryAt(size_t index) const {
    return listing_->entries.data() + listing_->starts[index];
  }
  const char* nameAt(size_t index) const { return entryAt(index) + kEntryHeader; }

  // The first entry from the current one on whose name is not before `name`.
  size_t firstNotBefore(const char* name) const {
    auto begin = listing_->starts.begin() + static_cast<std::ptrdiff_t>(index_);
    auto found = std::lower_bound(
        begin, listing_->starts.end(), name, [this](uint32_t start, const char* sought) {
          return std::strcmp(listing_->entries.data() + start + kEntryHeader, sought) < 0;
        });
    return static_cast<size_t>(found - listing_->starts.begin());
  }

  // Makes entry `index` the current one; past the last, the search has run out.
  bool standAt(size_t index, FindData& entry) {
    index_ = index;
    if (index >= count()) {
      place_ = Place::kEnd;
      return false;
    }
    place_ = Place::kEntries;
    const char* at = entryAt(index);
    std::memcpy(entry.cFileName, at + kEntryHeader, static_cast<unsigned char>(at[1]) + 1u);
    entry.dwFileAttributes = kTypeAttributes[static_cast<unsigned char>(at[0])];
    return true;
  }

  int fd_;
  std::shared_ptr<const Listing> listing_;
  WalkConfinement* confinement_;  // nullptr outside a walk
  Place place_ = Place::kSelf;
  size_t index_ = 0;  // of the current entry in listing_->starts
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

  int compareNames(const char* a, const char* b) const override { return std::strcmp(a, b); }

  void startWalk(const std::string& folder) override { confinement_.start(folder); }

 private:
  std::unique_ptr<Search> list(const std::string& directory, FindData& entry) {
    bool confined = confinement_.covers(directory);
    int fd = confined ? confinement_.open(directory)
                      : openDirectoryAt(AT_FDCWD, directory.c_str(), LinkAtEnd::kFollowed);
    if (fd < 0) return nullptr;
    struct stat status;
    if (::fstat(fd, &status) != 0 || (confined && !confinement_.confirm(directory, status))) {
      ::close(fd);
      return nullptr;
    }
    // Where the file system may leave a directory's stamps alone when its
    // entries change, every listing is read afresh.
    bool keepable = timesCheck_.keepsTimes(fd, status.st_dev);
    std::shared_ptr<const Listing> listing = keepable ? cache_.find(directory, status) : nullptr;
    if (!listing) {
      std::shared_ptr<Listing> fresh = readListing(fd, status);
      if (!fresh) {
        ::close(fd);
        return nullptr;
      }
      if (keepable) cache_.keep(directory, fresh);
      listing = std::move(fresh);
    }
    auto search =
        std::make_unique<ListingSearch>(fd, std::move(listing), confined ? &confinement_ : nullptr);
    search->start(entry);
    return search;
  }

  static std::unique_ptr<Search> probe(const std::string& path, FindData& entry) {
    // Covers "" and "/", which name no entry of a parent directory.
    if (path.empty() || path.back() == '/') return nullptr;
    Metadata meta;
    if (!examine(AT_FDCWD, path.c_str(), meta)) return nullptr;
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
    return std::make_unique<ProbeSearch>(found);
  }

  ListingCache cache_;
  DirectoryTimesCheck timesCheck_;
  WalkConfinement confinement_;
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

void useDirectoryTimesRule(DirectoryTimesRule rule) {
  directoryTimesRule = rule != nullptr ? rule : keepsDirectoryTimesByDefault;
}

size_t directoryReads() { return directoryReadCount; }

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
