// The folder scan of dirlog.exe under Wine: logs at c:\dirlog<N>.txt, "\"
// in every path, CR LF on disk, entries as the Win32 search reports them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <regex>
#include <set>

#include "test_support.h"
#include "wine_support.h"

namespace fs = std::filesystem;

namespace {

class WineScanTest : public DriveCTest {
 protected:
  static std::set<std::string> logsPresent() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(driveC())) {
      std::string name = entry.path().filename().string();
      if (name.rfind("dirlog", 0) == 0) names.insert(name);
    }
    return names;
  }
  // The paths of a log's record lines, in order.
  static std::vector<std::string> recordPaths(const std::string& logText) {
    std::vector<std::string> paths;
    for (const std::string& line : crLfLines(logText)) {
      if (line.empty() || line[0] != '-') continue;
      size_t start = line.find(',') + 1;
      paths.push_back(line.substr(start, line.find(',', start) - start));
    }
    return paths;
  }
};

TEST_F(WineScanTest, WorkedExampleIsWrittenByteForByteWithCrLf) {
  file("w/a.txt", "1234");
  file("w/d1/x.txt");
  fs::create_directories(driveC() / "w/d2");
  file("w/z.txt", "");
  freezeAccessTimes(driveC() / "w");
  std::string expected;
  for (const char* relative : {"w/a.txt", "w/d1", "w/d1/x.txt", "w/d2", "w/z.txt"}) {
    expected += expectedRecordLine(windowsPath(relative));
  }
  expected += "FILEs - 3, DIRECTORIEs - 2\r\n";

  WineRun run = runDirlog({"/Lc:\\w"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(log(1), expected);
  EXPECT_EQ(logsPresent(), std::set<std::string>{"dirlog1.txt"});
}

// Each entry's line holds what FindFirstFileA gives for it: the 8.3 alias
// that Wine makes up for a long name, attribute bits for hidden (a name that
// begins with ".") and read-only files, sizes and times.
TEST_F(WineScanTest, EntriesAreRecordedAsTheSearchReportsThem) {
  const struct {
    const char* name;
    bool longName;           // not an 8.3 name, so it has an alias
    unsigned attributeBits;  // that must be set
  } cases[] = {
      {"Long File Name.txt", true, 0x20},
      {"a.txt", false, 0x20},
      {"name.jpeg", true, 0x20},
      {"a,b.txt", true, 0x20},
      {".hidden", true, 0x2},
      {"readonly", false, 0x1},
      {"Sub Folder", true, 0x10},
  };
  for (const auto& c : cases) {
    if (c.attributeBits == 0x10) {
      fs::create_directories(driveC() / "w" / c.name);
    } else {
      file(std::string("w/") + c.name, "12345");
    }
  }
  fs::permissions(driveC() / "w/readonly", fs::perms::all, fs::perm_options::remove);
  fs::permissions(driveC() / "w/readonly", fs::perms::owner_read, fs::perm_options::add);
  freezeAccessTimes(driveC() / "w");
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    expected.push_back(expectedRecordLine(windowsPath(std::string("w/") + c.name)));
  }

  ASSERT_EQ(runDirlog({"/Lc:\\w"}).exitStatus, 0);
  std::string text = log(1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_NE(text.find(expected[i]), std::string::npos) << "expected\n" << expected[i] << text;
    // The line's short name and attributes, as the program wrote them.
    std::string line = expected[i];
    std::string afterName = line.substr(line.find(std::string(",") + cases[i].name + ",") +
                                        std::strlen(cases[i].name) + 2);
    std::string shortName = afterName.substr(0, afterName.find(','));
    unsigned attributes = static_cast<unsigned>(std::stol(afterName.substr(shortName.size() + 1)));
    EXPECT_EQ(attributes & cases[i].attributeBits, cases[i].attributeBits);
    if (cases[i].longName) {
      EXPECT_TRUE(std::regex_match(shortName, std::regex("[A-Z0-9_~]{1,8}(\\.[A-Z0-9_~]{1,3})?")))
          << shortName;
    } else {
      EXPECT_EQ(shortName, "");
    }
  }
}

// Wine, as NTFS does, lists a folder in the order of its names' upper-case
// forms, not in byte order.
TEST_F(WineScanTest, EntriesComeInTheListingOrderOfTheSystem) {
  for (const char* name : {"b", "C", "_u", "A1", "a0", "10", "9"}) file(std::string("w/") + name);
  ASSERT_EQ(runDirlog({"/Lc:\\w"}).exitStatus, 0);
  EXPECT_EQ(recordPaths(log(1)),
            (std::vector<std::string>{"c:\\w\\10", "c:\\w\\9", "c:\\w\\a0", "c:\\w\\A1", "c:\\w\\b",
                                      "c:\\w\\C", "c:\\w\\_u"}));
}

// Names that an ANSI path cannot stand for: one the code page cannot hold
// ("?" is a wildcard), two that it maps to one text, a name the system would
// strip of its last dot or space, a double-byte name whose trail byte is
// the separator's. Each entry is recorded once, with its own subtree, and the
// scan ends; a character the code page holds is logged as FindFirstFileA
// gives it, any other as "?" and its code unit.
TEST_F(WineScanTest, EveryNameIsWalkedByItsTrueNameAndLoggedReversibly) {
  const std::string so = "\x83\x5C", hon = "\x96\x7B", nou = "\x94\x5C", hyou = "\x95\x5C",
                    zenkakuZ = "\x82\x9A";
  const std::string nihon = "?65E5?672C", chuugoku = "?4E2D?56FD";
  const struct {
    const char* what;
    std::vector<std::string> files;  // below c:\w, as Linux names them
    std::vector<std::string> paths;  // recorded below c:\w
    bool codePage932;
  } cases[] = {
      {"two names outside the code page",
       {"日本/f", "中国/g"},
       {chuugoku, chuugoku + "\\g", nihon, nihon + "\\f"},
       false},
      {"one name outside the code page",
       {"日本/f", "日本/s/g"},
       {nihon, nihon + "\\f", nihon + "\\s", nihon + "\\s\\g"},
       false},
      {"a name that best fit maps onto another",
       {"a/f", "ａ/g"},
       {"a", "a\\f", "?FF41", "?FF41\\g"},
       false},
      {"a character outside the BMP, a question mark, a control character",
       {"😀x", "a?b", "c\x01"},
       {"a?003Fb", "c?0001", "?D83D?DE00x"},
       false},
      {"names ending in a dot or a space",
       {"foo./in-dot", "foo/in-plain", "bar /in-space"},
       {"bar ", "bar \\in-space", "foo", "foo\\in-plain", "foo.", "foo.\\in-dot"},
       false},
      {"code page 932, trail bytes 0x5C, a name it lacks",
       {"ソ/f", "本", "能/h", "表/g", "ｚ", "한"},
       {so, so + "\\f", hon, nou, nou + "\\h", hyou, hyou + "\\g", "?D55C", zenkakuZ},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cleanDriveC();
    for (const std::string& relative : c.files) file("w/" + relative);
    WineRun run =
        runDirlog({"/Lc:\\w"}, {}, c.codePage932 ? codePage932() : std::vector<std::string>{});
    EXPECT_EQ(run.exitStatus, 0);
    if (run.exitStatus != 0) continue;  // a walk that looped: its log is no use
    std::vector<std::string> expected;
    for (const std::string& path : c.paths) expected.push_back("c:\\w\\" + path);
    EXPECT_EQ(recordPaths(log(1)), expected);
  }
}

// Wine shows a Unix link to a directory as a directory reparse point. Two
// links back up the tree would double the paths at every level; each is
// recorded once and not entered, while a link to a directory off the way
// down is entered.
TEST_F(WineScanTest, LinksBackUpTheTreeAreRecordedAndNotEntered) {
  file("w/d/x");
  file("w/f");
  fs::create_directory_symlink("..", driveC() / "w/d/l1");
  fs::create_directory_symlink("../", driveC() / "w/d/l2");
  fs::create_directory_symlink("d", driveC() / "w/z");
  WineRun run = runDirlog({"/Lc:\\w"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(recordPaths(log(1)),
            (std::vector<std::string>{"c:\\w\\d", "c:\\w\\d\\l1", "c:\\w\\d\\l2", "c:\\w\\d\\x",
                                      "c:\\w\\f", "c:\\w\\z", "c:\\w\\z\\l1", "c:\\w\\z\\l2",
                                      "c:\\w\\z\\x"}));
}

// A folder the system will not list keeps its line, with nothing below it,
// and is named with the system's reason on standard error; standard output
// and the rest of the log are as ever.
TEST_F(WineScanTest, AFolderThatCannotBeListedIsNamedOnStandardError) {
  file("w/locked/secret");
  file("w/z");
  fs::permissions(driveC() / "w/locked", fs::perms::none);
  WineRun run = runDirlogBoundByPermissions({"/Lc:\\w"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(recordPaths(log(1)), (std::vector<std::string>{"c:\\w\\locked", "c:\\w\\z"}));
  EXPECT_TRUE(
      std::regex_search(run.err, std::regex("dirlog: cannot list c:\\\\w\\\\locked: [^\r\n]+\r\n")))
      << run.err;
}

TEST_F(WineScanTest, FolderErrorsAreFatalAndLeaveTheDocumentedLogsBehind) {
  file("w/file");
  fs::create_directories(driveC() / "t/empty");
  const std::string notFound = "Error: the given folder cannot be found\r\n";
  const struct {
    std::vector<std::string> arguments;
    std::string out;
    bool leavesEmptyLog;
  } cases[] = {
      {{"/Lc:\\missing"}, notFound, false},
      {{"/Lc:\\w\\file"}, notFound, false},
      {{"/Lc:\\w\\"}, notFound, false},
      {{"/Lc:\\"}, notFound, false},
      {{"/L"}, notFound, false},
      {{"/L", "c:\\w"}, notFound, false},
      {{"/Lc:\\" + std::string(253, 'a')}, "Error: the given folder is too long\r\n", false},
      {{"/Lc:\\t\\empty"}, "Error: Nothing is that folder\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    fs::remove(driveC() / "dirlog1.txt");
    WineRun run = runDirlog(c.arguments);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(fs::exists(driveC() / "dirlog1.txt"), c.leavesEmptyLog);
    if (c.leavesEmptyLog) {
      EXPECT_EQ(log(1), "");
    }
  }
}

TEST_F(WineScanTest, RelativeAndOneCharacterFoldersAreWalkedFromTheWorkingFolder) {
  file("t/w/d/f");
  file("t/w/g");
  ASSERT_EQ(runDirlog({"/Lw"}, driveC() / "t").exitStatus, 0);
  EXPECT_EQ(recordPaths(log(1)), (std::vector<std::string>{"w\\d", "w\\d\\f", "w\\g"}));
}

TEST_F(WineScanTest, ArgumentsActInOrderAndTotalsRunOnThroughTheRun) {
  file("w/a");
  EXPECT_EQ(runDirlog({}).out, "");
  EXPECT_EQ(logsPresent(), std::set<std::string>{});
  WineRun run = runDirlog({"/lc:\\w", "/F", "-Lc:\\w", "/Lc:\\w", "/Lc:\\w"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(crLfLines(log(1)).back(), "FILEs - 1, DIRECTORIEs - 0");
  EXPECT_EQ(crLfLines(log(2)).back(), "FILEs - 2, DIRECTORIEs - 0");
  EXPECT_EQ(logsPresent(), (std::set<std::string>{"dirlog1.txt", "dirlog2.txt"}));
}

TEST_F(WineScanTest, NinthScanPurgesTheEightBeforeIt) {
  file("w/a");
  for (int scan = 1; scan <= 8; ++scan) ASSERT_EQ(runDirlog({"/Lc:\\w"}).exitStatus, 0);
  EXPECT_EQ(logsPresent().size(), 8u);
  // A log 0 or 9 from elsewhere goes with them; a folder of a log's name
  // counts, but DeleteFileA leaves it.
  file("dirlog9.txt", "other\r\n");
  fs::rename(driveC() / "dirlog3.txt", driveC() / "dirlog0.txt");
  fs::create_directories(driveC() / "dirlog3.txt");
  ASSERT_EQ(runDirlog({"/Lc:\\w"}).exitStatus, 0);
  EXPECT_EQ(logsPresent(), (std::set<std::string>{"dirlog1.txt", "dirlog3.txt"}));
  EXPECT_TRUE(fs::is_directory(driveC() / "dirlog3.txt"));
}

TEST_F(WineScanTest, EntriesBeyond255CharactersAreNamedAndSkipped) {
  std::string deep = "w";
  while (deep.size() < 235) deep += "/dddddddddd";
  std::string deepWindows = windowsPath(deep);
  std::string fits = deep + "/" + std::string(255 - deepWindows.size() - 1, 'f');
  std::string tooLong = deep + "/" + std::string(255 - deepWindows.size(), 'g');
  file(fits);
  file(tooLong);
  file("w/zz");
  // 60 characters, 300 in their written form: named whole, never cut.
  std::string nihon, written;
  for (int i = 0; i < 60; ++i) nihon += "日", written += "?65E5";
  file("w/" + nihon);
  WineRun run = runDirlog({"/Lc:\\w"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Error: path too long, not recorded: " + windowsPath(tooLong) +
                         "\r\nError: path too long, not recorded: c:\\w\\" + written + "\r\n");
  std::vector<std::string> paths = recordPaths(log(1));
  ASSERT_GE(paths.size(), 2u);
  EXPECT_EQ(paths.back(), "c:\\w\\zz");
  EXPECT_EQ(paths[paths.size() - 2], windowsPath(fits));
  EXPECT_EQ(paths[paths.size() - 2].size(), 255u);
}

}  // namespace
