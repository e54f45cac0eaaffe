// Preloaded into the program (LD_PRELOAD) by end-to-end tests: as the
// process exits, after everything the program does at exit, it writes how
// many threads the process still has and how many directories it still
// holds open into the file named by DIRLOG_EXIT_CHECK, as
// "threads <n> directories <n>".
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Entries of the /proc folder `path`, "." and ".." left out, and how many of
// them are descriptors of directories other than the one reading it.
void count(const char* path, int& entries, int& directories) {
  entries = directories = 0;
  DIR* folder = opendir(path);
  if (folder == nullptr) return;
  while (dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    ++entries;
    int fd = std::atoi(entry->d_name);
    struct stat status;
    if (fd != dirfd(folder) && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) ++directories;
  }
  closedir(folder);
}

// Runs after the program's own exit handlers and static destructors.
__attribute__((destructor)) void reportAtExit() {
  const char* report = std::getenv("DIRLOG_EXIT_CHECK");
  if (report == nullptr) return;
  int threads, unused, fds, directories;
  count("/proc/self/task", threads, unused);
  count("/proc/self/fd", fds, directories);
  char line[64];
  int length = std::snprintf(line, sizeof line, "threads %d directories %d", threads, directories);
  int out = open(report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return;
  if (write(out, line, static_cast<size_t>(length)) != length) std::perror("exit check");
  close(out);
}

}  // namespace
