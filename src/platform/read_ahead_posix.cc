// The read-ahead: a few threads that take work from one queue kept in the
// walk's order, front first, and wait while they lead the walk by enough.
// Reading a directory queues the examination of its entries (in inode
// order) and the reading of its subdirectories; the walk's listings tell
// how far it has come, and work it has passed is let go.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // O_NOATIME, getdents64, sched_getaffinity, RUSAGE_THREAD, gettid
#endif

#include "platform/read_ahead_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/entry_metadata_posix.h"
#include "platform/file_system_types_posix.h"

namespace platform {
namespace {

// Enough requests at once for a disk to serve them in parallel; the threads
// wait on the disk, not on the processor.
constexpr int kWorkers = 8;
// How far the read-ahead may lead the walk, in entries read. The walk takes
// some tens of milliseconds for as many from the caches.
constexpr size_t kLeadEntries = 16384;
// The most bytes of work waiting in the queue; work beyond it is let go
// (the walk then reads that part from the disk itself).
constexpr size_t kMaxQueuedBytes = size_t{4} << 20;
// The most bytes of names kept from the read of one directory: a larger
// directory is warmed in part. With the queue and the keys of the
// directories read ahead (at most kLeadEntries of at most 255 bytes), the
// read-ahead's memory stays within about 16 MiB.
constexpr size_t kMaxNamesPerDirectory = size_t{256} << 10;
constexpr size_t kEntriesPerBatch = 256;
constexpr size_t kTaskBytes = 96;  // what a queued task costs beside its texts
// Beside the walk's own (about 128 at most), well within kFewestDescriptors.
constexpr int kMaxOpenDirectories = 256;
constexpr rlim_t kFewestDescriptors = 1024;
// How often an unaided walk looks whether it waits on the disk, in
// directories read.
constexpr int kListingsPerLook = 16;
constexpr size_t kLongestPath = 255;

std::atomic<int> openDirectories{0};

// A directory the read-ahead opened itself; closed with the last work that
// needs it.
struct OpenDirectory {
  OpenDirectory(int descriptor, dev_t onDevice) : fd(descriptor), device(onDevice) {
    ++openDirectories;
  }
  ~OpenDirectory() {
    ::close(fd);
    --openDirectories;
  }
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  int fd;
  dev_t device;
};

// Work in the directory `at`: examine its entries `names` (each ending in a
// NUL), or read its subdirectory `name`, or `at` itself when that is empty.
struct Task {
  std::shared_ptr<OpenDirectory> at;
  std::string name;
  std::string names;
  bool examineNames = false;
};

size_t bytesOf(const std::string& key, const Task& task) {
  return kTaskBytes + key.size() + task.name.size() + task.names.size();
}

// The walk's order of directories by their paths below the start folder: a
// directory before all below it, and all of that before its next sibling;
// siblings in byte order of their names. The separator therefore counts as
// less than any byte a name may hold.
int compareInWalkOrder(std::string_view a, std::string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = a[i] == '/' ? 0 : static_cast<unsigned char>(a[i]);
    unsigned char y = b[i] == '/' ? 0 : static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

struct WalkOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return compareInWalkOrder(a, b) < 0;
  }
};

// Whether the directory `above` is `below` or one of those above it.
bool leadsTo(std::string_view above, std::string_view below) {
  return above.empty() || (below.substr(0, above.size()) == above &&
                           (below.size() == above.size() || below[above.size()] == '/'));
}

// A directory's entries as its read found them: names each ending in a NUL.
struct Found {
  uint64_t inode;
  size_t nameAt;
  bool mayBeDirectory;
};

// Reads the entries of the directory open on `fd` ("." and ".." left out)
// until their names fill kMaxNamesPerDirectory or `stop` is set.
void readEntries(int fd, std::string& names, std::vector<Found>& found,
                 const std::atomic<bool>& stop) {
  auto add = [&](const char* name, uint64_t inode, unsigned char type) {
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return;
    found.push_back(Found{inode, names.size(), type == DT_DIR || type == DT_UNKNOWN});
    names.append(name, std::strlen(name) + 1);
  };
#ifdef DIRLOG_HAVE_GETDENTS64
  alignas(struct dirent64) char buffer[32768];
  while (names.size() < kMaxNamesPerDirectory && !stop) {
    ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      auto* entry = reinterpret_cast<struct dirent64*>(buffer + at);
      add(entry->d_name, entry->d_ino, entry->d_type);
      at += entry->d_reclen;
    }
  }
#else
  int readFd = ::dup(fd);  // the DIR stream closes it
  if (readFd < 0) return;
  DIR* directory = ::fdopendir(readFd);
  if (directory == nullptr) {
    ::close(readFd);
    return;
  }
  while (names.size() < kMaxNamesPerDirectory && !stop) {
    struct dirent* entry = ::readdir(directory);
    if (entry == nullptr) break;
    add(entry->d_name, entry->d_ino, entry->d_type);
  }
  ::closedir(directory);
#endif
}

#ifdef O_NOATIME
// The directory `name` of `parent`, opened without following a link and
// without marking it read, on the parent's file system; nullptr where it
// cannot be opened so. A mount point, whatever is mounted there or would be
// on a look-up, is left to the walk.
std::shared_ptr<OpenDirectory> openSubdirectory(const OpenDirectory& parent, const char* name) {
  if (openDirectories >= kMaxOpenDirectories) return nullptr;
  Metadata meta;
  if (!examine(parent.fd, name, meta) || !S_ISDIR(meta.mode) || meta.device != parent.device) {
    return nullptr;
  }
  int fd = ::openat(parent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOATIME);
  if (fd < 0) return nullptr;
  struct stat status;
  if (::fstat(fd, &status) != 0 || status.st_dev != parent.device) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<OpenDirectory>(fd, status.st_dev);
}
#endif

class Engine {
 public:
  // Starts the threads on the start folder, open on `start`; no directory
  // whose path below it is longer than `longestBelow` is read.
  Engine(std::shared_ptr<OpenDirectory> start, size_t longestBelow);
  // Stops the threads and lets go of all work.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The walk lists the directory `below`.
  void walkReaches(std::string_view below);

 private:
  void work();
  // Waits for work that leads the walk by little enough; false when the
  // read-ahead stops.
  bool takeNext(std::string& key, Task& task);
  // Lets go of the work at the queue's front that the walk has passed.
  void dropPassed();
  bool passed(const std::string& key) const {
    return compareInWalkOrder(key, reached_) < 0 && !leadsTo(key, reached_);
  }
  void readDirectory(const std::string& key, const Task& task);
  void examineEach(const Task& task);
  // Queues `tasks`, found by reading the directory `key` of `entries` entries.
  void enqueue(std::vector<std::pair<std::string, Task>>& tasks, const std::string& key,
               size_t entries);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stopping_{false};
  std::multimap<std::string, Task, WalkOrder> queue_;
  size_t queuedBytes_ = 0;
  // The directories read ahead of the walk, with their entries.
  std::map<std::string, size_t, WalkOrder> ahead_;
  size_t aheadEntries_ = 0;
  std::string reached_;  // the furthest directory the walk has listed
  size_t longestBelow_;
  std::vector<std::thread> workers_;
};

Engine::Engine(std::shared_ptr<OpenDirectory> start, size_t longestBelow)
    : longestBelow_(longestBelow) {
  Task first;
  first.at = std::move(start);
  queuedBytes_ = bytesOf(std::string(), first);
  queue_.emplace(std::string(), std::move(first));
  // The threads take no signal: one that ends the process must reach the
  // walk's thread, which holds it back while it writes a log line.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  for (int i = 0; i < kWorkers; ++i) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads, or none: only the warming is lost
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Engine::~Engine() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void Engine::walkReaches(std::string_view below) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (compareInWalkOrder(below, reached_) <= 0) return;  // climbing back
  reached_.assign(below);
  bool wasFull = aheadEntries_ >= kLeadEntries;
  auto end = ahead_.upper_bound(below);
  for (auto it = ahead_.begin(); it != end; it = ahead_.erase(it)) aheadEntries_ -= it->second;
  if (wasFull && aheadEntries_ < kLeadEntries) wake_.notify_all();
}

// The walk alone decides how long a scan takes, and on few processors the
// threads would take turns with it: they run at the lowest priority and use
// what the walk leaves (they mostly wait on the disk). Linux keeps a nice
// value per thread; elsewhere they keep the process's.
void yieldToTheWalk() {
#ifdef __linux__
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
#endif
}

void Engine::work() {
  std::string key;
  Task task;
  yieldToTheWalk();
  try {
    while (takeNext(key, task)) {
      if (task.examineNames) {
        examineEach(task);
      } else {
        readDirectory(key, task);
      }
      task = Task{};  // closes a directory no other work needs before waiting
    }
  } catch (const std::bad_alloc&) {
    // The thread ends; the walk never needed it.
  }
}

bool Engine::takeNext(std::string& key, Task& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return false;
    dropPassed();
    if (!queue_.empty() && aheadEntries_ < kLeadEntries) break;
    wake_.wait(lock);
  }
  auto first = queue_.begin();
  queuedBytes_ -= bytesOf(first->first, first->second);
  key = first->first;
  task = std::move(first->second);
  queue_.erase(first);
  return true;
}

// Work on a directory above the one the walk has reached stays: the walk
// has yet to come to its later entries.
void Engine::dropPassed() {
  while (!queue_.empty() && passed(queue_.begin()->first)) {
    queuedBytes_ -= bytesOf(queue_.begin()->first, queue_.begin()->second);
    queue_.erase(queue_.begin());
  }
}

void Engine::readDirectory(const std::string& key, const Task& task) {
#ifdef O_NOATIME
  std::shared_ptr<OpenDirectory> directory =
      task.name.empty() ? task.at : openSubdirectory(*task.at, task.name.c_str());
#else
  std::shared_ptr<OpenDirectory> directory;  // never started without it
#endif
  if (!directory) return;
  std::string names;
  std::vector<Found> found;
  readEntries(directory->fd, names, found, stopping_);
  std::vector<std::pair<std::string, Task>> tasks;
  // In inode order: most file systems keep inodes in the order of their
  // numbers, so neighbours come from one read of the disk.
  std::vector<Found> byInode = found;
  std::sort(byInode.begin(), byInode.end(),
            [](const Found& a, const Found& b) { return a.inode < b.inode; });
  for (size_t first = 0; first < byInode.size(); first += kEntriesPerBatch) {
    Task batch;
    batch.at = directory;
    batch.examineNames = true;
    size_t last = std::min(byInode.size(), first + kEntriesPerBatch);
    for (size_t i = first; i < last; ++i) {
      const char* name = names.data() + byInode[i].nameAt;
      batch.names.append(name, std::strlen(name) + 1);
    }
    tasks.emplace_back(key, std::move(batch));
  }
  for (const Found& entry : found) {
    if (!entry.mayBeDirectory) continue;
    const char* name = names.data() + entry.nameAt;
    std::string below = key.empty() ? std::string(name) : key + '/' + name;
    if (below.size() > longestBelow_) continue;  // the walk cannot record it
    Task read;
    read.at = directory;
    read.name = name;
    tasks.emplace_back(std::move(below), std::move(read));
  }
  enqueue(tasks, key, found.size() + 1);
}

void Engine::examineEach(const Task& task) {
  const char* end = task.names.data() + task.names.size();
  for (const char* name = task.names.data(); name < end && !stopping_;
       name += std::strlen(name) + 1) {
    Metadata meta;
    examine(task.at->fd, name, meta);
  }
}

void Engine::enqueue(std::vector<std::pair<std::string, Task>>& tasks, const std::string& key,
                     size_t entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (compareInWalkOrder(key, reached_) > 0) {
    ahead_[key] += entries;
    aheadEntries_ += entries;
  }
  for (auto& [below, task] : tasks) {
    size_t bytes = bytesOf(below, task);
    if (queuedBytes_ + bytes > kMaxQueuedBytes) continue;
    queuedBytes_ += bytes;
    queue_.emplace(std::move(below), std::move(task));
  }
  wake_.notify_all();
}

enum class Mode { kWhereItHelps, kAlways, kNever };

Mode modeAsked() {
  const char* asked = std::getenv("DIRLOG_READ_AHEAD");
  if (asked != nullptr && std::strcmp(asked, "on") == 0) return Mode::kAlways;
  if (asked != nullptr && std::strcmp(asked, "off") == 0) return Mode::kNever;
  return Mode::kWhereItHelps;
}

// Room for the read-ahead's descriptors beside all that the walk may hold,
// so that the walk never runs short of them for its sake.
bool enoughDescriptors() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= kFewestDescriptors;
}

unsigned processors() {
#ifdef CPU_COUNT
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::thread::hardware_concurrency();
}

// How many times this thread has had to read from a disk.
long diskReads() {
  struct rusage usage;
#ifdef RUSAGE_THREAD
  if (::getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
#else
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
#endif
  return usage.ru_inblock;
}

// The walk attended: its start folder, opened anew, until the read-ahead
// starts on it or the walk ends.
std::shared_ptr<OpenDirectory> waitingStart;
size_t waitingLongestBelow = 0;
long diskReadsAtBegin = 0;
int listingsUntilLook = 0;
std::unique_ptr<Engine> engine;
bool stopsAtExit = false;

void startEngine() {
  // exit() ends the process from anywhere, fatal errors included; the
  // threads must be joined first.
  if (!stopsAtExit) stopsAtExit = std::atexit(endReadAhead) == 0;
  if (stopsAtExit) engine = std::make_unique<Engine>(std::move(waitingStart), waitingLongestBelow);
  waitingStart.reset();
}

}  // namespace

void beginReadAhead(int startFd, size_t folderLength) {
  endReadAhead();
#ifdef O_NOATIME
  Mode mode = modeAsked();
  if (mode == Mode::kNever || !enoughDescriptors()) return;
  if (mode == Mode::kWhereItHelps && processors() < 2) return;
  // A description of its own, so that the walk's reading of the directory
  // goes on from where the walk left it. The start folder gets no line, so
  // its access time may change where the process may not keep it.
  int fd = ::openat(startFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::openat(startFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat status;
  if (::fstat(fd, &status) != 0 || (mode == Mode::kWhereItHelps && isNetworkFileSystem(fd))) {
    ::close(fd);
    return;
  }
  waitingStart = std::make_shared<OpenDirectory>(fd, status.st_dev);
  waitingLongestBelow = folderLength + 1 < kLongestPath ? kLongestPath - folderLength - 1 : 0;
  if (mode == Mode::kAlways) {
    startEngine();
    return;
  }
  diskReadsAtBegin = diskReads();
  listingsUntilLook = 0;
#else
  (void)startFd;
  (void)folderLength;
#endif
}

void walkLists(std::string_view below, bool read) {
  if (engine) {
    engine->walkReaches(below);
    return;
  }
  if (!waitingStart || !read || listingsUntilLook-- > 0) return;
  listingsUntilLook = kListingsPerLook - 1;
  // A walk served from the caches gains nothing and would share the
  // processors with the threads.
  if (diskReads() == diskReadsAtBegin) return;
  startEngine();
  if (engine) engine->walkReaches(below);
}

void endReadAhead() {
  engine.reset();
  waitingStart.reset();
}

}  // namespace platform
