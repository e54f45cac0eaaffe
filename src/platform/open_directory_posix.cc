#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // O_NOATIME, O_PATH
#endif

#include "platform/open_directory_posix.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef DIRLOG_HAVE_OPENAT2
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdint>
#include <string>

namespace platform {
namespace {

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

}  // namespace

// O_NOATIME is refused on what the process does not own.
int openDirectoryAt(int at, const char* path, LinkAtEnd link) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (link == LinkAtEnd::kRefused) flags |= O_NOFOLLOW;
#ifdef O_NOATIME
  int fd = ::openat(at, path, flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
#endif
  return ::openat(at, path, flags);
}

// In one call where the kernel has openat2, else component by component.
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

}  // namespace platform
