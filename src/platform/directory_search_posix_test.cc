#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_search.h"
#include "platform/file_system_types_posix.h"
#include "platform/listing_posix.h"

namespace platform {
namespace {

// A new directory under the system's temporary directory, removed with all
// it holds.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dirlog-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void makeFile(const std::string& path, off_t size = 0, mode_t mode = 0644) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ASSERT_EQ(::fchmod(fd, mode), 0);  // whatever the umask
  ::close(fd);
}

void makeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

bool setTimes(const std::string& path, timespec access, timespec write) {
  timespec times[2] = {access, write};
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

uint64_t ticks(FileTime time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

struct Listed {
  std::string name;
  uint32_t attributes;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& listed) {
  return out << listed.name << ":" << std::hex << listed.attributes << std::dec;
}

std::vector<Listed> listDirectory(const std::string& directory) {
  std::vector<Listed> listed;
  FindData entry;
  std::unique_ptr<Search> search = directorySearch().findFirst(directory + "/*", entry);
  if (!search) return listed;
  do listed.push_back({entry.cFileName, entry.dwFileAttributes});
  while (search->next(entry));
  return listed;
}

// What a listing must show, read straight from the directory.
std::vector<Listed> readDirectly(const std::string& directory) {
  std::vector<Listed> listed;
  DIR* dir = ::opendir(directory.c_str());
  while (dirent* found = ::readdir(dir)) {
    std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    struct stat status;
    if (::lstat((directory + "/" + name).c_str(), &status) != 0) continue;
    uint32_t type = S_ISDIR(status.st_mode)   ? kAttributeDirectory
                    : S_ISREG(status.st_mode) ? kAttributeArchive
                    : S_ISLNK(status.st_mode) ? kAttributeReparsePoint
                                              : kAttributeSystem;
    listed.push_back({name, type});
  }
  ::closedir(dir);
  std::sort(listed.begin(), listed.end(),
            [](const Listed& a, const Listed& b) { return a.name < b.name; });
  listed.insert(listed.begin(), {{".", kAttributeDirectory}, {"..", kAttributeDirectory}});
  return listed;
}

TEST(PosixDirectorySearch, ListsDotsFirstThenEveryNameInByteOrder) {
  TempDir dir;
  for (const char* name : {"b", "\xc3\xa9t\xc3\xa9", "a b", "B", "9", "10", ".hidden", "-x", "a"}) {
    makeFile(dir / name);
  }
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("sub", (dir / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);

  const std::vector<Listed> expected = {{".", 0x10},     {"..", 0x10},
                                        {"-x", 0x20},    {".hidden", 0x20},
                                        {"10", 0x20},    {"9", 0x20},
                                        {"B", 0x20},     {"a", 0x20},
                                        {"a b", 0x20},   {"b", 0x20},
                                        {"link", 0x400}, {"pipe", 0x4},
                                        {"sub", 0x10},   {"\xc3\xa9t\xc3\xa9", 0x20}};
  EXPECT_EQ(listDirectory(dir.path()), expected);
  EXPECT_EQ(listDirectory(dir.path()), expected) << "a second listing";
  for (size_t i = 3; i < expected.size(); ++i) {
    EXPECT_LT(
        directorySearch().compareNames(expected[i - 1].name.c_str(), expected[i].name.c_str()), 0)
        << expected[i - 1] << " before " << expected[i];
  }
  EXPECT_EQ(listDirectory(dir / "link"), readDirectly(dir / "sub")) << "through a link";

  ASSERT_EQ(::mkdir((dir / "empty").c_str(), 0755), 0);
  EXPECT_EQ(listDirectory(dir / "empty"), (std::vector<Listed>{{".", 0x10}, {"..", 0x10}}));
}

TEST(PosixDirectorySearch, DescribesEachKindOfEntryLikeWindowsFindData) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    uint32_t listedAttributes;
    uint32_t probedAttributes;
    uint64_t size;
    uint32_t mode;
  };
  const Case cases[] = {
      {"big", [](auto& p) { makeFile(p, 5368709123); }, 0x20, 0x20, 5368709123, 0100644},
      {"readonly", [](auto& p) { makeFile(p, 7, 0444); }, 0x21, 0x21, 7, 0100444},
      {".dotfile", [](auto& p) { makeFile(p, 1, 0600); }, 0x22, 0x22, 1, 0100600},
      {"dir", [](auto& p) { ::mkdir(p.c_str(), 0755); }, 0x10, 0x10, 0, 040755},
      {".lockeddir", [](auto& p) { ::mkdir(p.c_str(), 0555); }, 0x13, 0x13, 0, 040555},
      {"tofile", [](auto& p) { ::symlink("readonly", p.c_str()); }, 0x400, 0x400, 8, 0120777},
      {"todir", [](auto& p) { ::symlink("dir", p.c_str()); }, 0x400, 0x410, 3, 0120777},
      {"dangling", [](auto& p) { ::symlink("nowhere", p.c_str()); }, 0x400, 0x400, 7, 0120777},
      {"pipe", [](auto& p) { ::mkfifo(p.c_str(), 0644); }, 0x4, 0x4, 0, 010644},
      {"socket", [](auto& p) { makeSocket(p); }, 0x4, 0x4, 0, 0140755},
  };
  // Each entry gets times of its own, so that a link cannot pass with its
  // target's times.
  const int64_t kBase = 1000000000;
  for (size_t i = 0; i < std::size(cases); ++i) {
    cases[i].make(dir / cases[i].name);
    ASSERT_TRUE(setTimes(dir / cases[i].name, {kBase - int64_t(i), 0}, {kBase + int64_t(i), 0}));
  }
  auto fileTime = [](int64_t seconds) { return uint64_t(seconds + 11644473600) * 10000000; };

  FindData entry;
  std::unique_ptr<Search> listing = directorySearch().findFirst(dir.path() + "/*", entry);
  ASSERT_TRUE(listing);
  while (listing->next(entry)) {
    const Case* c = std::find_if(std::begin(cases), std::end(cases), [&](const Case& known) {
      return entry.cFileName == std::string(known.name);
    });
    if (c == std::end(cases)) continue;  // ".."
    SCOPED_TRACE(c->name);
    int64_t i = c - cases;
    EXPECT_EQ(entry.dwFileAttributes, c->listedAttributes & ~0x3u) << "before complete()";
    ASSERT_TRUE(listing->complete(entry));
    EXPECT_STREQ(entry.cFileName, c->name);
    EXPECT_EQ(entry.dwFileAttributes, c->listedAttributes);
    EXPECT_EQ((uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow, c->size);
    EXPECT_EQ(entry.dwReserved0, c->mode);
    EXPECT_EQ(entry.dwReserved1, ::geteuid());
    EXPECT_EQ(ticks(entry.ftLastAccessTime), fileTime(kBase - i));
    EXPECT_EQ(ticks(entry.ftLastWriteTime), fileTime(kBase + i));
    EXPECT_STREQ(entry.cAlternateFileName, "");

    FindData probed;
    ASSERT_TRUE(directorySearch().findFirst(dir / c->name, probed));
    EXPECT_EQ(probed.dwFileAttributes, c->probedAttributes);
    probed.dwFileAttributes = entry.dwFileAttributes;
    EXPECT_EQ(std::memcmp(&probed, &entry, offsetof(FindData, cFileName)), 0)
        << "a probe describes the entry as a listing does";
    EXPECT_STREQ(probed.cFileName, c->name);
  }
}

TEST(PosixDirectorySearch, ConvertsTimesToFileTimeWords) {
  TempDir dir;
  struct Case {
    timespec time;
    uint32_t high, low;
  };
  const Case cases[] = {
      {{0, 0}, 0x19db1de, 0xd53e8000},
      {{1000000000, 123456789}, 0x1c138d1, 0x45125687},
      {{-1000000000, 999999999}, 0x17a2aec, 0x6616167f},  // 1938
      {{7258118400, 0}, 0x29f8e12, 0x9ef10000},           // 2200
      {{-11644473599, 100}, 0x0, 0x989681},               // one second into 1601
      {{-12000000000, 0}, 0x0, 0x0},                      // 1589: before anything to count
  };
  int64_t started = std::time(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time.tv_sec);
    std::string path = dir / std::to_string(c.time.tv_sec);
    makeFile(path);
    ASSERT_TRUE(setTimes(path, c.time, c.time));
    struct stat kept;
    ASSERT_EQ(::lstat(path.c_str(), &kept), 0);
    if (kept.st_mtim.tv_sec != c.time.tv_sec || kept.st_mtim.tv_nsec != c.time.tv_nsec) {
      continue;  // the file system cannot hold it
    }

    FindData entry;
    ASSERT_TRUE(directorySearch().findFirst(path, entry));
    EXPECT_EQ(entry.ftLastWriteTime.dwHighDateTime, c.high);
    EXPECT_EQ(entry.ftLastWriteTime.dwLowDateTime, c.low);
    EXPECT_EQ(entry.ftLastAccessTime.dwHighDateTime, c.high);
    EXPECT_EQ(entry.ftLastAccessTime.dwLowDateTime, c.low);
    // Birth is the moment the file was made, where the file system keeps it.
    uint64_t born = ticks(entry.ftCreationTime);
    if (born != 0) {
      EXPECT_GE(born, uint64_t(started - 2 + 11644473600) * 10000000);
      EXPECT_LE(born, uint64_t(std::time(nullptr) + 2 + 11644473600) * 10000000);
    }
  }
}

TEST(PosixDirectorySearch, ProbeAndListingFailWhereNothingCanBeFound) {
  TempDir dir;
  makeFile(dir / "file");
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  for (const std::string& pattern :
       {std::string(), std::string("/"), dir.path() + "/", dir.path() + "//", dir / "missing",
        dir / "missing/file", dir / "file/x", dir / "missing/*", dir / "file/*",
        dir / "dangling/*"}) {
    FindData entry;
    EXPECT_EQ(directorySearch().findFirst(pattern, entry), nullptr) << '"' << pattern << '"';
  }
  if (::geteuid() != 0) {  // root reads any directory
    ASSERT_EQ(::mkdir((dir / "closed").c_str(), 0), 0);
    FindData entry;
    EXPECT_EQ(directorySearch().findFirst(dir / "closed/*", entry), nullptr);
  }
}

TEST(PosixDirectorySearch, DeleteFileRemovesFilesAndLinksNeverDirectories) {
  TempDir dir;
  makeFile(dir / "file");
  ASSERT_EQ(::mkdir((dir / "dir").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("file", (dir / "tofile").c_str()), 0);
  ASSERT_EQ(::symlink("dir", (dir / "todir").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  struct Case {
    const char* name;
    bool removed;
  };
  for (const Case& c : {Case{"tofile", true}, Case{"todir", true}, Case{"dangling", true},
                        Case{"dir", false}, Case{"file", true}, Case{"missing", false}}) {
    EXPECT_EQ(directorySearch().deleteFile(dir / c.name), c.removed) << c.name;
  }
  EXPECT_EQ(listDirectory(dir.path()),
            (std::vector<Listed>{{".", 0x10}, {"..", 0x10}, {"dir", 0x10}}));
}

TEST(PosixDirectorySearch, CompleteFailsForAnEntryThatVanished) {
  TempDir dir;
  makeFile(dir / "a");
  FindData entry;
  std::unique_ptr<Search> search = directorySearch().findFirst(dir.path() + "/*", entry);
  ASSERT_TRUE(search && search->next(entry) && search->next(entry));
  ASSERT_STREQ(entry.cFileName, "a");
  ASSERT_EQ(::unlink((dir / "a").c_str()), 0);
  entry.nFileSizeLow = 12345;
  EXPECT_FALSE(search->complete(entry));
  EXPECT_EQ(entry.nFileSizeLow, 12345u) << "left as it was";
  EXPECT_FALSE(search->next(entry));
}

TEST(PosixDirectorySearch, ListingLeavesAccessTimesAlone) {
  TempDir dir;
  makeFile(dir / "file");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  const std::string paths[] = {dir.path(), dir / "sub", dir / "file"};
  // An access time older than the modification is one that relatime would
  // otherwise bring up to date.
  for (const std::string& path : paths) {
    ASSERT_TRUE(setTimes(path, {1000000000, 0}, {1100000000, 0}));
  }
  for (int round = 0; round < 2; ++round) {
    FindData entry;
    std::unique_ptr<Search> search = directorySearch().findFirst(dir.path() + "/*", entry);
    ASSERT_TRUE(search);
    do ASSERT_TRUE(search->complete(entry));
    while (search->next(entry));
    listDirectory(dir / "sub");
  }
  for (const std::string& path : paths) {
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_atime, 1000000000) << path;
  }
}

// The changes a directory may undergo between two listings.
struct Change {
  const char* what;
  std::function<void(const TempDir&, const std::string&)> apply;
};

void makeEntries(const std::string& directory) {
  ::mkdir(directory.c_str(), 0755);
  for (const char* name : {"a", "c", "e"}) makeFile(directory + "/" + name);
  ::mkdir((directory + "/d").c_str(), 0755);
}

const Change kChanges[] = {
    {"add", [](auto&, auto& d) { makeFile(d + "/b"); }},
    {"remove", [](auto&, auto& d) { ::unlink((d + "/c").c_str()); }},
    {"rename", [](auto&, auto& d) { ::rename((d + "/c").c_str(), (d + "/f").c_str()); }},
    {"file becomes directory",
     [](auto&, auto& d) {
       ::unlink((d + "/e").c_str());
       ::mkdir((d + "/e").c_str(), 0755);
     }},
    {"directory replaced by another of that name",
     [](const TempDir& root, auto& d) {
       std::string other = root / "other";
       makeEntries(other);
       makeFile(other + "/z");
       ::rename(d.c_str(), (root / "old").c_str());
       ::rename(other.c_str(), d.c_str());
     }},
};

TEST(PosixDirectorySearchCache, ChangeRightAfterAListingShowsInTheNext) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    // Repeated, so that some change lands in the same clock tick as the
    // listing before it.
    for (int round = 0; round < 20; ++round) {
      TempDir root;
      std::string d = root / "d";
      makeEntries(d);
      listDirectory(d);
      change.apply(root, d);
      ASSERT_EQ(listDirectory(d), readDirectly(d)) << "round " << round;
    }
  }
}

// Also: a settled directory's listing is kept only where the file system
// is known to move directory stamps.
TEST(PosixDirectorySearchCache, ChangeToASettledDirectoryShowsInTheNextListing) {
  TempDir root;
  for (const Change& change : kChanges) {
    ::mkdir((root / change.what).c_str(), 0755);
    makeEntries(root / change.what + "/d");
  }
  makeEntries(root / "kept");
  // Past the coarsest timestamp step, so that listings are kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    TempDir scratch;
    std::string d = root / change.what + "/d";
    std::vector<Listed> before = readDirectly(d);
    ASSERT_EQ(listDirectory(d), before);
    // The walk holds a listing open while it goes down into an entry.
    FindData entry;
    std::unique_ptr<Search> held = directorySearch().findFirst(d + "/*", entry);
    ASSERT_TRUE(held && held->next(entry) && held->next(entry));
    ASSERT_EQ(listDirectory(d + "/d"), readDirectly(d + "/d"));
    ASSERT_EQ(listDirectory(d), before) << "unchanged";

    change.apply(scratch, d);
    EXPECT_EQ(listDirectory(d), readDirectly(d));
    EXPECT_NE(readDirectly(d), before);
  }

  static int asked;
  for (bool keepsTimes : {false, true}) {
    asked = 0;
    useDirectoryTimesRule(keepsTimes ? +[](uint64_t) { return ++asked, true; }
                                     : +[](uint64_t) { return ++asked, false; });
    size_t reads = directoryReads();
    for (int i = 0; i < 3; ++i) listDirectory(root / "kept");
    EXPECT_EQ(directoryReads() - reads, keepsTimes ? 1u : 3u) << keepsTimes;
    EXPECT_EQ(asked, 1) << "once per device";
  }
  useDirectoryTimesRule(nullptr);
}

TEST(PosixPlatform, LogFolderComesFromTheEnvironment) {
  struct Case {
    const char* root;  // nullptr: unset
    const char* home;
    const char* folder;
  };
  const Case cases[] = {{"/logs", "/home/u", "/logs/"}, {"/logs/", "/home/u", "/logs/"},
                        {"", "/home/u", "/home/u/"},    {nullptr, "/home/u/", "/home/u/"},
                        {nullptr, nullptr, ""},         {"", "", ""}};
  auto saved = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  auto put = [](const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  };
  std::optional<std::string> root = saved("DIRLOG_ROOT"), home = saved("HOME");
  for (const Case& c : cases) {
    put("DIRLOG_ROOT", c.root);
    put("HOME", c.home);
    EXPECT_EQ(logFolder(), c.folder)
        << (c.root ? c.root : "unset") << ", " << (c.home ? c.home : "unset");
  }
  put("DIRLOG_ROOT", root ? root->c_str() : nullptr);
  put("HOME", home ? home->c_str() : nullptr);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// The walk finds its place again with skipTo and skipPast; on a sorted
// listing they jump by a binary search, and must land exactly where passing
// over one entry at a time lands, from wherever the listing stands.
TEST(PosixDirectorySearch, SkipsLandWhereStepByStepPassingLands) {
  TempDir dir;
  const std::vector<std::string> names = {"A", "a", "a b", "ab", "b", "m", "zz", "\xc3\xa9"};
  for (const std::string& name : names) makeFile(dir / name);
  std::vector<std::string> sought = names;
  for (const char* absent : {"0", "aa", "c", "zzz", "\xff"}) sought.push_back(absent);

  for (size_t startAt = 0; startAt < names.size(); ++startAt) {
    for (const std::string& target : sought) {
      for (bool past : {false, true}) {
        SCOPED_TRACE(std::to_string(startAt) + " " + target + (past ? " past" : " to"));
        // Where one step at a time ends: the names stand sorted in `names`.
        size_t expected = startAt;
        while (expected < names.size() &&
               (past ? std::strcmp(names[expected].c_str(), target.c_str()) <= 0
                     : names[expected] != target)) {
          ++expected;
        }
        FindData entry;
        std::unique_ptr<Search> search = directorySearch().findFirst(dir / "*", entry);
        ASSERT_TRUE(search);
        for (size_t step = 0; step < startAt + 2; ++step) ASSERT_TRUE(search->next(entry));
        bool found =
            past ? search->skipPast(target.c_str(), entry) : search->skipTo(target.c_str(), entry);
        ASSERT_EQ(found, expected < names.size());
        if (found) {
          EXPECT_EQ(entry.cFileName, names[expected]);
          // And the listing goes on from there.
          bool more = search->next(entry);
          EXPECT_EQ(more, expected + 1 < names.size());
          if (more) {
            EXPECT_EQ(entry.cFileName, names[expected + 1]);
          }
        } else {
          EXPECT_FALSE(search->next(entry));
        }
      }
    }
  }
}

}  // namespace
}  // namespace platform
