// Scans of trees built to break a scan: every byte a name may hold, names
// and paths at the length limits, nesting as deep as a record allows, link
// loops, FIFOs and sockets, entries the scan may not read, and a tree that
// changes while the walk is inside it. Each runs with the read-ahead forced
// on and forced off: it only warms caches, so the program writes the same.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxRecordedPath = 255;

// A directory's names in byte order, "." and ".." left out, read without
// marking the directory accessed. Empty when it cannot be read.
std::vector<std::string> sortedNames(const fs::path& directory) {
  std::vector<std::string> names;
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOATIME);
  if (fd < 0) fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return names;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    return names;
  }
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  // std::string orders its characters as unsigned bytes, as strcmp does.
  std::sort(names.begin(), names.end());
  return names;
}

// What a scan of a real tree must write, worked out by a recursive walk of
// its own: pre-order, names in byte order, links never followed, a path of
// more than 255 characters named in a message and neither recorded nor
// entered.
struct ExpectedScan {
  std::string log;
  std::string out;
  int files = 0;
  int directories = 0;

  void walk(const std::string& text, const fs::path& directory) {
    for (const std::string& name : sortedNames(directory)) {
      std::string path = text + "/" + name;
      if (path.size() > kMaxRecordedPath) {
        out += "Error: path too long, not recorded: " + asWritten(path) + "\n";
        continue;
      }
      log += expectedRecordLine(path, directory / name);
      if (fs::is_directory(fs::symlink_status(directory / name))) {
        ++directories;
        walk(path, directory / name);
      } else {
        ++files;
      }
    }
  }
  std::string logWithTotals() const {
    return log + "FILEs - " + std::to_string(files) + ", DIRECTORIEs - " +
           std::to_string(directories) + "\n";
  }
};

std::string bytesFrom(int first, int last) {
  std::string text;
  for (int byte = first; byte <= last; ++byte) {
    if (byte != '/') text += static_cast<char>(byte);
  }
  return text;
}

std::string progress(int before, int after) {
  std::string out;
  for (int i = 1; i <= before; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  for (int i = 1; i <= after; ++i) out += "PASSES - " + std::to_string(i) + "\n";
  return out;
}

class HostileTreeTest : public testing::TestWithParam<bool> {
 protected:
  // The read-ahead as the test's parameter asks.
  RunOptions withReadAhead(RunOptions options = {}) const {
    options.environment.push_back(std::string("DIRLOG_READ_AHEAD=") + (GetParam() ? "on" : "off"));
    return options;
  }
  fs::path tree() const { return work_.path() / "w"; }
  std::string logText(int number) const {
    return readFile(logs_.path() / ("dirlog" + std::to_string(number) + ".txt"));
  }
  RunResult run(const std::vector<std::string>& arguments, RunOptions options = {}) {
    return runDirlog(arguments, logs_.str(), withReadAhead(options));
  }
  void file(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    writeFile(path, content);
  }
  // A directory (and those above it) whose path is exactly `length`
  // characters, made of names of at most 200.
  fs::path directoryOfLength(const fs::path& under, size_t length) {
    fs::path path = under;
    while (path.string().size() + 1 < length) {
      size_t room = length - path.string().size() - 1;
      // Leave no remainder of one or two characters for a last name that
      // could not hold a separator and a character.
      size_t take = room > 200 ? std::min<size_t>(200, room - 2) : room;
      path /= std::string(take, 'p');
    }
    fs::create_directories(path);
    EXPECT_EQ(path.string().size(), length);
    return path;
  }

  ScopedTempDir work_;
  ScopedTempDir logs_;
};

// One tree that holds every byte value from 1 to 255 but '/' in its names,
// names that look like log fields, link loops, a FIFO and a socket: the scan
// writes what the reference walk says, byte for byte, and a second scan of
// the unchanged tree compares empty.
TEST_P(HostileTreeTest, EveryByteValueInNamesScansAndComparesCleanly) {
  const std::string control = "c" + bytesFrom(1, 31) + "\x7f";
  const std::string printable = bytesFrom(32, 126);
  const std::string high = bytesFrom(128, 255);
  ASSERT_EQ(control.size() - 1 + printable.size() + high.size(), 254u);

  file(tree() / control / printable, "printable");
  file(tree() / high / "f", "high");
  file(tree() / "-DIRECTORY,forged,x,,16,0,0,0,0,0,0,0,0,0,0");
  file(tree() / "x\n-DIRECTORY,forged\r");
  file(tree() / ",0,0,0,0,0,0,0,0,0,0,0" / ",1,1,1");
  file(tree() / "*" / "?");
  file(tree() / "-");
  file(tree() / " ");
  file(tree() / "...");
  file(tree() / ".hidden");
  fs::create_symlink("self", tree() / "self");
  fs::create_symlink("loopB", tree() / "loopA");
  fs::create_symlink("loopA", tree() / "loopB");
  fs::create_directory_symlink(".", tree() / "here");
  fs::create_directory_symlink("..", tree() / "up");
  fs::create_directory_symlink(tree(), tree() / "root");
  ASSERT_EQ(mkfifo((tree() / "fifo").c_str(), 0644), 0);
  ASSERT_TRUE(makeSocketFile(tree() / "sock"));

  RunResult first = run({"/L" + tree().string()});
  ASSERT_FALSE(first.timedOut) << "the scan hung";
  EXPECT_EQ(first.exitStatus, 0);
  ExpectedScan expected;
  expected.walk(tree().string(), tree());
  EXPECT_EQ(first.out, expected.out);
  std::string log = logText(1);
  EXPECT_EQ(log, expected.logWithTotals());

  // One well-formed line per entry, each naming its entry as written.
  std::vector<std::string> lines = splitLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.size(), static_cast<size_t>(expected.files + expected.directories + 1));
  std::set<std::string> named;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string pathAndName;
    EXPECT_TRUE(isWellFormedRecordLine(lines[i], &pathAndName)) << lines[i];
    named.insert(pathAndName);
  }
  const std::string w = tree().string();
  for (const std::string& relative :
       {control + "/" + printable, high + "/f", std::string("x\n-DIRECTORY,forged\r"),
        std::string(",0,0,0,0,0,0,0,0,0,0,0/,1,1,1")}) {
    std::string name = fs::path(relative).filename().string();
    EXPECT_EQ(named.count(asWritten(w + "/" + relative) + "," + asWritten(name)), 1u) << relative;
  }
  EXPECT_EQ(named.size(), lines.size() - 1) << "two entries were written alike";

  RunResult second = run({"/L" + tree().string(), "/compare"});
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_EQ(logText(2), log) << "a scan changed what it records";
  int records = expected.files + expected.directories;
  EXPECT_EQ(second.out, expected.out + progress(records, records));
  EXPECT_EQ(readFile(logs_.path() / "report.txt"), "");
}

// Paths of 253 to 256 characters, names of 255 bytes, and a chain of
// one-letter directories down to a last path of exactly 255 characters.
TEST_P(HostileTreeTest, PathsAtTheLengthLimitAreRecordedAndOnlyThoseBeyondAreNamed) {
  std::vector<std::string> recorded;
  std::vector<std::string> refused;
  for (size_t length : {253, 254, 255, 256}) {
    fs::path base = tree() / ("len" + std::to_string(length));
    fs::path asFile = directoryOfLength(base / "f", length);
    fs::remove(asFile);
    file(asFile);
    fs::path asDirectory = directoryOfLength(base / "d", length);
    file(asDirectory / "x");  // a path two characters longer
    (length <= 255 ? recorded : refused).push_back(asFile.string());
    (length <= 255 ? recorded : refused).push_back(asDirectory.string());
    if (length <= 253) {
      recorded.push_back((asDirectory / "x").string());
    } else if (length <= 255) {
      refused.push_back((asDirectory / "x").string());
    }
  }
  std::string longName(255, 'n');
  file(tree() / "names" / longName);
  file(tree() / "names" / std::string(255, 'o') / "never-seen");
  refused.push_back((tree() / "names" / longName).string());
  refused.push_back((tree() / "names" / std::string(255, 'o')).string());

  fs::path deep = tree() / "deep";
  while (deep.string().size() + 2 <= 253) deep /= "a";
  fs::create_directories(deep);
  fs::path deepest = deep / std::string(255 - deep.string().size() - 1, 'z');
  file(deepest);
  file(deep / "zzz" / "too-far");
  recorded.push_back(deepest.string());

  RunResult result = run({"/L" + tree().string()});
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  ExpectedScan expected;
  expected.walk(tree().string(), tree());
  EXPECT_EQ(result.out, expected.out);
  EXPECT_EQ(logText(1), expected.logWithTotals());

  // The reference walk agrees with the program; these say it is right.
  std::vector<std::string> paths = recordPaths(logText(1));
  std::set<std::string> logged(paths.begin(), paths.end());
  for (const std::string& path : recorded) {
    EXPECT_EQ(logged.count(path), 1u) << path.size() << " characters: " << path;
  }
  for (const std::string& path : refused) {
    EXPECT_EQ(logged.count(path), 0u) << path.size() << " characters: " << path;
    EXPECT_NE(result.out.find("Error: path too long, not recorded: " + path + "\n"),
              std::string::npos)
        << path.size() << " characters: " << path;
  }
  for (const std::string& path : paths) EXPECT_LE(path.size(), kMaxRecordedPath);
  EXPECT_EQ(result.out.find("never-seen"), std::string::npos) << "a refused directory was entered";
  EXPECT_EQ(result.out.find("too-far"), std::string::npos) << "a refused directory was entered";
}

// The start folder itself at the limit: every entry of a folder of 254 or
// 255 characters is too long to record; one of 256 is refused outright.
TEST_P(HostileTreeTest, StartFoldersAtTheLengthLimit) {
  for (size_t length : {253, 254, 255, 256}) {
    SCOPED_TRACE(length);
    fs::remove_all(logs_.path() / "dirlog1.txt");
    fs::path folder = directoryOfLength(tree() / std::to_string(length), length);
    file(folder / "x");
    std::string child = (folder / "x").string();
    RunResult result = run({"/L" + folder.string()});
    if (length == 253) {
      EXPECT_EQ(result.exitStatus, 0);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(recordPaths(logText(1)), std::vector<std::string>{child});
    } else if (length <= 255) {
      EXPECT_EQ(result.exitStatus, 0);
      EXPECT_EQ(result.out, "Error: path too long, not recorded: " + child + "\n");
      EXPECT_EQ(logText(1), "FILEs - 0, DIRECTORIEs - 0\n");
    } else {
      EXPECT_EQ(result.exitStatus, 1);
      EXPECT_EQ(result.out, "Error: the given folder is too long\n");
      EXPECT_FALSE(fs::exists(logs_.path() / "dirlog1.txt"));
    }
  }
}

TEST_P(HostileTreeTest, AStartFolderThatIsALinkLoopIsNotFound) {
  fs::create_directories(tree());
  fs::create_symlink("self", tree() / "self");
  fs::create_symlink("loopB", tree() / "loopA");
  fs::create_symlink("loopA", tree() / "loopB");
  for (const char* name : {"self", "loopA"}) {
    RunResult result = run({"/L" + (tree() / name).string()});
    EXPECT_EQ(result.exitStatus, 1) << name;
    EXPECT_EQ(result.out, "Error: the given folder cannot be found\n") << name;
  }
  EXPECT_TRUE(fs::is_empty(logs_.path()));
}

// Entries the scan may not read. Run as root the program would read them
// all, so it runs as the user nobody then; permissions count for it.
TEST_P(HostileTreeTest, EntriesThatCannotBeReadAreRecordedAsFarAsTheyCanBeSeen) {
  file(tree() / "a");
  file(tree() / "locked" / "inside");       // no permissions at all
  file(tree() / "listonly" / "inside");     // r--: names, but no look-up
  file(tree() / "searchonly" / "inside");   // --x: look-up, but no names
  file(tree() / "secret", "never opened");  // no permissions: only looked up
  file(tree() / "z");
  fs::permissions(tree() / "locked", fs::perms::none);
  fs::permissions(tree() / "listonly",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(tree() / "searchonly",
                  fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(tree() / "secret", fs::perms::none);
  // Folders the program must reach as nobody.
  for (const fs::path& open : {work_.path(), tree()}) {
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  fs::permissions(logs_.path(), fs::perms::all);

  RunOptions unprivileged;
  unprivileged.unprivileged = true;
  fs::path errors = work_.path() / "stderr";
  unprivileged.errorFd = open(errors.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  RunResult result = run({"/L" + tree().string()}, unprivileged);
  close(unprivileged.errorFd);
  unprivileged.errorFd = -1;
  if (result.exitStatus == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody here";
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  const std::string w = tree().string();
  // Those that cannot be listed are named with the reason on standard error.
  EXPECT_EQ(readFile(errors), "dirlog: cannot list " + w + "/locked: Permission denied\n" +
                                  "dirlog: cannot list " + w + "/searchonly: Permission denied\n");
  // A directory that cannot be listed, or whose entries cannot be looked
  // up, gets its own line and nothing below it; its siblings follow.
  EXPECT_EQ(recordPaths(logText(1)),
            (std::vector<std::string>{w + "/a", w + "/listonly", w + "/locked", w + "/searchonly",
                                      w + "/secret", w + "/z"}));
  EXPECT_EQ(splitLines(logText(1)).back(), "FILEs - 3, DIRECTORIEs - 3");

  // A start folder that cannot be listed is an empty one.
  fs::remove(logs_.path() / "dirlog1.txt");
  RunResult locked = run({"/L" + (tree() / "locked").string()}, unprivileged);
  EXPECT_EQ(locked.exitStatus, 1);
  EXPECT_EQ(locked.out, "Error: Nothing is that folder\n");
  EXPECT_EQ(logText(1), "");

  if (access((tree() / "locked").c_str(), R_OK) == 0) {
    // Root reads through every permission: the same tree, all of it.
    fs::remove(logs_.path() / "dirlog1.txt");
    ASSERT_EQ(run({"/L" + w}).exitStatus, 0);
    EXPECT_EQ(recordPaths(logText(1)),
              (std::vector<std::string>{w + "/a", w + "/listonly", w + "/listonly/inside",
                                        w + "/locked", w + "/locked/inside", w + "/searchonly",
                                        w + "/searchonly/inside", w + "/secret", w + "/z"}));
  }
}

// A directory exchanged over and over, while scans run, for a link to a
// folder outside the tree or for another directory of the tree: whatever
// moment an exchange hits, going down into the directory or climbing back
// into it, a link is never entered, and no directory's entries are
// recorded as another's.
TEST_P(HostileTreeTest, ADirectorySwappedForALinkOrADirectoryIsNeverMixedIn) {
  for (bool partnerIsALink : {true, false}) {
    SCOPED_TRACE(partnerIsALink ? "a link" : "a directory");
    fs::remove_all(work_.path() / "outside");
    fs::remove_all(tree());
    // The partner's names sort around the directory's own, so that a walk
    // climbing back into the partner would find its place among them.
    fs::path partner = partnerIsALink ? work_.path() / "outside" : tree() / "e";
    for (const char* name : {"a/hidden", "b-hidden", "z-hidden/deeper"}) file(partner / name);
    for (const char* name : {"a/own", "a/own2", "m-own"}) file(tree() / "d" / name);
    if (partnerIsALink) fs::create_directory_symlink(partner, tree() / "e");
    ExchangeLoop swapping(tree() / "d", tree() / "e");
    if (!swapping.running()) GTEST_SKIP() << "the file system cannot exchange entries";

    // A scan that follows links or lists whatever now bears a path mixes
    // them within some tens of scans here. At least ten run however slow the
    // machine is; more while time allows.
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(1.5 * timeoutScale());
    int scans = 0;
    for (; scans < 150 && (scans < 10 || std::chrono::steady_clock::now() < deadline); ++scans) {
      fs::remove(logs_.path() / "dirlog1.txt");
      RunResult result = run({"/L" + tree().string()});
      ASSERT_EQ(result.exitStatus, 0) << result.out;
      std::string under[2];  // the paths below d and below e
      for (const std::string& path : recordPaths(logText(1))) {
        ASSERT_FALSE(partnerIsALink && path.find("hidden") != std::string::npos) << path;
        for (int i = 0; i < 2; ++i) {
          if (path.rfind((tree() / (i == 0 ? "d/" : "e/")).string(), 0) == 0) under[i] += path;
        }
      }
      for (const std::string& paths : under) {
        ASSERT_FALSE(paths.find("own") != std::string::npos &&
                     paths.find("hidden") != std::string::npos)
            << "scan " << scans << ": " << paths;
      }
    }
  }
}

// Directory identities that do not hold, and few descriptors. Overlay file
// systems over layers on different file systems, FUSE and CIFS give a
// directory a new inode number whenever its inode leaves their cache, and a
// process may be allowed few open files. Neither may cost an entry: with a
// new inode number at every look-up, and with fewer descriptors than the
// tree has levels, the scan writes what the reference walk says.
TEST_P(HostileTreeTest, NewInodeNumbersAtEveryLookUpAndFewDescriptorsCostNoEntry) {
  fs::path level = tree();
  for (int depth = 0; depth < 50; ++depth) {
    file(level / "e" / "g");
    file(level / "f");
    level /= "d";
  }
  file(level / "last");
  ExpectedScan expected;
  expected.walk(tree().string(), tree());
  const char* asan = std::getenv("ASAN_OPTIONS");
  struct Case {
    const char* what;
    bool unstable;
    uint64_t fileLimit;
  };
  for (const Case& c : {Case{"new inode numbers", true, 0}, Case{"ten descriptors", false, 10},
                        Case{"both", true, 10}}) {
    SCOPED_TRACE(c.what);
    // A tool the runs go through keeps descriptors of its own.
    if (c.fileLimit != 0 && hasWrapper()) continue;
    fs::remove(logs_.path() / "dirlog1.txt");
    RunOptions options;
    options.openFileLimit = c.fileLimit;
    if (c.unstable) {
      // Loaded before a sanitizer's runtime, which would refuse to start.
      options.environment = {
          std::string("LD_PRELOAD=") + DIRLOG_UNSTABLE_INODES,
          std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
    }
    RunResult result = run({"/L" + tree().string()}, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, expected.out);
    EXPECT_EQ(logText(1), expected.logWithTotals());
  }
}

// An overlay whose lower layer lies on the test's file system and whose
// upper layer is a tmpfs gives a directory a new inode number each time the
// kernel drops it from its cache. Scanned twice while the caches are
// dropped over and over, the untouched tree is recorded whole.
TEST_P(HostileTreeTest, AnOverlayScannedWhileCachesAreDroppedIsRecordedWhole) {
  if (access("/proc/sys/vm/drop_caches", W_OK) != 0) GTEST_SKIP() << "needs root";
  fs::path lower = work_.path() / "lower", upper = work_.path() / "upper";
  fs::path merged = work_.path() / "merged";
  for (int a = 0; a < 12 * 12 * 14; ++a) {
    fs::create_directories(lower / std::to_string(a / 168) / std::to_string(a / 14 % 12) /
                           std::to_string(a % 14));
  }
  fs::create_directories(merged);
  fs::create_directories(upper);
  if (mount("tmpfs", upper.c_str(), "tmpfs", 0, nullptr) != 0) GTEST_SKIP() << "no tmpfs here";
  fs::create_directories(upper / "u");
  fs::create_directories(upper / "w");
  std::string layers = "lowerdir=" + lower.string() + ",upperdir=" + (upper / "u").string() +
                       ",workdir=" + (upper / "w").string();
  bool overlaid = mount("overlay", merged.c_str(), "overlay", 0, layers.c_str()) == 0;
  ExpectedScan expected;
  RunResult results[2];
  if (overlaid) {  // nothing may stop the test before the unmounting
    expected.walk(merged.string(), merged);
    pid_t dropping = fork();
    while (dropping == 0) {
      int fd = open("/proc/sys/vm/drop_caches", O_WRONLY);
      if (fd < 0 || write(fd, "2", 1) != 1) _exit(1);
      close(fd);
    }
    for (RunResult& result : results) result = run({"/L" + merged.string()});
    kill(dropping, SIGKILL);
    waitpid(dropping, nullptr, 0);
    umount2(merged.c_str(), MNT_DETACH);
  }
  umount2(upper.c_str(), MNT_DETACH);
  if (!overlaid) GTEST_SKIP() << "no overlay file system here";
  EXPECT_EQ(expected.directories, 12 + 12 * 12 + 12 * 12 * 14);
  for (int scan = 1; scan <= 2; ++scan) {
    EXPECT_EQ(results[scan - 1].exitStatus, 0);
    EXPECT_EQ(results[scan - 1].out, "");
    EXPECT_EQ(recordPaths(logText(scan)), recordPaths(expected.log)) << "scan " << scan;
  }
}

// Names that differ only in control characters are written alike, so the
// comparison cannot tell them apart: each one of an unchanged tree is
// reported as modified against every other one it collides with.
TEST_P(HostileTreeTest, NamesDifferingOnlyInControlCharactersCollideInTheReport) {
  file(tree() / "a\x01", "1");
  file(tree() / "a\x02", "22");
  file(tree() / "a?", "333");
  file(tree() / "b", "unique");
  ASSERT_EQ(run({"/L" + tree().string()}).exitStatus, 0);
  const std::string collided = tree().string() + "/a?";
  EXPECT_EQ(recordPaths(logText(1)),
            (std::vector<std::string>{collided, collided, collided, tree().string() + "/b"}));

  RunResult result = run({"/L" + tree().string(), "/compare"});
  EXPECT_EQ(result.exitStatus, 0);
  std::vector<std::string> report = splitLines(readFile(logs_.path() / "report.txt"));
  // Three entries, each against the two others of different size.
  ASSERT_EQ(report.size(), 6u);
  for (const std::string& line : report) {
    EXPECT_EQ(line.rfind("MODIFIED: ,---FILE---, PATH-" + collided + ", NAME-a?, ", 0), 0u) << line;
  }
}

// A tree changed while the walk is inside one of its directories, on a real
// file system. The log is a FIFO with a one-page buffer, so the program
// cannot write more than a page ahead of what the test has read: once the
// test has read the line of the directory's first entry, the walk has
// listed it and stands inside it until the test reads on.
class ChangeDuringWalkTest : public HostileTreeTest {
 protected:
  static constexpr int kInside = 200;  // entries of d1: far more than a page of lines

  void buildTree() {
    file(tree() / "a.txt");
    for (int i = 0; i < kInside; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03d", i);
      file(tree() / "d1" / name);
    }
    file(tree() / "d2" / "y.txt");
    file(tree() / "z.txt");
  }

  // Runs a scan whose log is a FIFO, applies `change` once the walk is
  // inside d1, and gives all the log lines.
  std::vector<std::string> scanChangingInside(const std::function<void()>& change) {
    // The FIFO counts as the one log there is, so the scan writes log 2: it.
    fs::path fifo = logs_.path() / "dirlog2.txt";
    EXPECT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Opened for reading and writing, the FIFO exists as a pipe before the
    // program opens it, so its buffer can be cut down first.
    int reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    EXPECT_GE(reader, 0);
    // A page: some thirty lines of d1's entries.
    int buffered = fcntl(reader, F_SETPIPE_SZ, 4096);
    EXPECT_GT(buffered, 0);
    EXPECT_LE(buffered, 8192) << "a pipe buffer this large lets the walk leave d1 early";
    DirlogRun scan({"/L" + tree().string()}, logs_.str(), withReadAhead());

    std::string inside = tree().string() + "/d1/f000,";
    std::string text;
    bool changed = false;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(30 * timeoutScale());
    // Read until the totals line is whole.
    auto totalsRead = [&] {
      size_t totals = text.find("\nFILEs - ");
      return totals != std::string::npos && text.find('\n', totals + 1) != std::string::npos;
    };
    while (!totalsRead() && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{reader, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) {
        // Nothing to read: stop if the program has ended (it stays waitable).
        siginfo_t ended{};
        if (waitid(P_PID, static_cast<id_t>(scan.pid()), &ended, WEXITED | WNOHANG | WNOWAIT) !=
                0 ||
            ended.si_pid != 0) {
          break;
        }
        continue;
      }
      char buffer[512];
      ssize_t got = read(reader, buffer, sizeof buffer);
      if (got > 0) text.append(buffer, static_cast<size_t>(got));
      if (!changed && text.find(inside) != std::string::npos) {
        // Nothing more can be written until the test reads on.
        EXPECT_LT(std::count(text.begin(), text.end(), '\n'), kInside / 2);
        change();
        changed = true;
      }
    }
    close(reader);
    RunResult result = scan.wait();
    EXPECT_TRUE(changed);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    return splitLines(text);
  }

  std::string at(const std::string& relative) const { return (tree() / relative).string(); }
};

TEST_P(ChangeDuringWalkTest, TheParentsLaterEntriesSurviveAndTheTotalsCountWhatWasWritten) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> change;
    // Paths after d1's subtree, and how many of d1's entries (all, or some).
    std::vector<std::string> after;
    bool allOfD1;
  };
  const std::vector<Case> cases = {
      {"d1 deleted",
       [](const fs::path& w) { fs::remove_all(w / "d1"); },
       {"d2", "d2/y.txt", "z.txt"},
       false},
      {"d1 renamed to a name listed before it",
       [](const fs::path& w) { fs::rename(w / "d1", w / "b0"); },
       {"d2", "d2/y.txt", "z.txt"},
       true},
      {"d1 renamed to a name listed after it",
       [](const fs::path& w) { fs::rename(w / "d1", w / "y1"); },
       {"d2", "d2/y.txt", "y1", "y1/*", "z.txt"},
       true},
      {"files created before and after d1",
       [](const fs::path& w) {
         writeFile(w / "b.txt", "passed over");
         writeFile(w / "m.txt", "recorded");
       },
       {"d2", "d2/y.txt", "m.txt", "z.txt"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tree());
    for (const auto& entry : fs::directory_iterator(logs_.path())) fs::remove(entry.path());
    buildTree();
    std::vector<std::string> lines = scanChangingInside([&] { c.change(tree()); });
    ASSERT_GE(lines.size(), 3u);

    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i + 1 < lines.size()) {
        EXPECT_TRUE(isWellFormedRecordLine(lines[i])) << lines[i];
      }
      text += lines[i] + "\n";
    }
    std::vector<std::string> paths = recordPaths(text);

    // a.txt, d1, then d1's entries in listing order from the first: all of
    // them, or, when d1 is deleted, those still there when the walk came to
    // them (the deletion runs beside the walk, which goes on writing as long
    // as the FIFO has room, and removes entries in the file system's order).
    ASSERT_GE(paths.size(), 3u);
    EXPECT_EQ(paths[0], at("a.txt"));
    EXPECT_EQ(paths[1], at("d1"));
    size_t next = 2;
    std::vector<std::string> inside;
    while (next < paths.size() && paths[next].rfind(at("d1") + "/", 0) == 0) {
      inside.push_back(paths[next++].substr(at("d1").size() + 1));
    }
    std::vector<std::string> all;
    for (int i = 0; i < kInside; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03d", i);
      all.push_back(name);
    }
    if (c.allOfD1) {
      EXPECT_EQ(inside, all);
    } else {
      ASSERT_FALSE(inside.empty());
      EXPECT_EQ(inside[0], "f000");
      EXPECT_LT(inside.size(), all.size());
      EXPECT_TRUE(std::includes(all.begin(), all.end(), inside.begin(), inside.end()))
          << "d1's entries out of order or twice";
      EXPECT_TRUE(std::adjacent_find(inside.begin(), inside.end()) == inside.end());
    }
    std::vector<std::string> expectedAfter;
    for (const std::string& relative : c.after) {
      if (relative == "y1/*") {
        for (const std::string& name : all) expectedAfter.push_back(at("y1") + "/" + name);
      } else {
        expectedAfter.push_back(at(relative));
      }
    }
    EXPECT_EQ(
        std::vector<std::string>(paths.begin() + static_cast<std::ptrdiff_t>(next), paths.end()),
        expectedAfter);
    int directories = 0;
    for (const std::string& line : lines) directories += line.rfind("-DIRECTORY,", 0) == 0;
    EXPECT_EQ(lines.back(), "FILEs - " + std::to_string(paths.size() - directories) +
                                ", DIRECTORIEs - " + std::to_string(directories));
  }
}

// Threads and directories the read-ahead holds are let go however a scan
// ends: after a complete scan, and at a fatal error right after the walk
// started (an empty start folder).
TEST_P(HostileTreeTest, NoThreadOrDirectoryIsLeftAtExit) {
  if (hasWrapper()) GTEST_SKIP() << "a tool the runs go through has threads of its own";
  file(tree() / "full" / "a" / "b" / "c");
  fs::create_directories(tree() / "empty");
  const char* asan = std::getenv("ASAN_OPTIONS");
  fs::path report = work_.path() / "at-exit";
  for (const char* folder : {"full", "empty"}) {
    SCOPED_TRACE(folder);
    fs::remove(report);
    RunOptions options;
    options.environment = {
        std::string("LD_PRELOAD=") + DIRLOG_EXIT_CHECK, "DIRLOG_EXIT_CHECK=" + report.string(),
        std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
    RunResult result = run({"/L" + (tree() / folder).string()}, options);
    EXPECT_EQ(result.exitStatus, std::string(folder) == "full" ? 0 : 1) << result.out;
    EXPECT_EQ(readFile(report), "threads 1 directories 0");
  }
}

INSTANTIATE_TEST_SUITE_P(ReadAhead, HostileTreeTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "On" : "Off";
                         });
INSTANTIATE_TEST_SUITE_P(ReadAhead, ChangeDuringWalkTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "On" : "Off";
                         });

}  // namespace
