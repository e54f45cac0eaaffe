// Preloaded into the program (LD_PRELOAD) by end-to-end tests: every look-up
// of a directory's status gives a new inode number, as overlay, FUSE and
// CIFS file systems do when a directory's inode leaves their cache (an open
// file's cannot); all else is the system's.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>

namespace {
std::atomic<uint64_t> lookups{0};
uint64_t renumbered(uint64_t inode) { return inode ^ ((++lookups) << 40); }
}  // namespace

extern "C" {

int statx(int at, const char* path, int flags, unsigned int mask, struct statx* status) {
  using Statx = int (*)(int, const char*, int, unsigned int, struct statx*);
  static auto system = reinterpret_cast<Statx>(dlsym(RTLD_NEXT, "statx"));
  int result = system(at, path, flags, mask, status);
  if (result == 0 && S_ISDIR(status->stx_mode)) status->stx_ino = renumbered(status->stx_ino);
  return result;
}

int fstatat(int at, const char* path, struct stat* status, int flags) {
  using Fstatat = int (*)(int, const char*, struct stat*, int);
  static auto system = reinterpret_cast<Fstatat>(dlsym(RTLD_NEXT, "fstatat"));
  int result = system(at, path, status, flags);
  if (result == 0 && S_ISDIR(status->st_mode)) status->st_ino = renumbered(status->st_ino);
  return result;
}

int fstat(int fd, struct stat* status) { return fstatat(fd, "", status, AT_EMPTY_PATH); }
int stat(const char* path, struct stat* status) { return fstatat(AT_FDCWD, path, status, 0); }
int lstat(const char* path, struct stat* status) {
  return fstatat(AT_FDCWD, path, status, AT_SYMLINK_NOFOLLOW);
}

}  // extern "C"
