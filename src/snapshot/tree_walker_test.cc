#include "snapshot/tree_walker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_directory_search.h"
#include "snapshot/snapshot_log.h"
#include "test_support.h"

namespace {

using Fake = FakeDirectorySearch;

// Runs one scan of `folder` over the fake tree and gives the paths of the
// log's record lines, in order, and its totals line.
class WalkTest : public testing::Test {
 protected:
  WalkTest() : root_(logs_.str()) {}

  std::vector<std::string> scan(const std::string& folder) {
    scanFolder(folder.c_str(), folder.size());
    std::vector<std::string> paths;
    totals_.clear();
    for (const std::string& line : splitLines(readFile(logs_.path() / "dirlog1.txt"))) {
      if (line[0] == '-') {
        size_t start = line.find(',') + 1;
        paths.push_back(line.substr(start, line.find(',', start) - start));
      } else {
        totals_ = line;
      }
    }
    return paths;
  }

  // Files and directories counted by the totals line.
  std::pair<int, int> totals() const {
    int files = 0, directories = 0;
    std::sscanf(totals_.c_str(), "FILEs - %d, DIRECTORIEs - %d", &files, &directories);
    return {files, directories};
  }

  ScopedTempDir logs_;
  ScopedLogRoot root_;
  Fake fake_;
  std::string totals_;
};

std::string w(std::initializer_list<std::string> parts) {
  std::vector<std::string> all = {"c:", "w"};
  all.insert(all.end(), parts);
  std::string path;
  for (const std::string& part : all)
    path += (path.empty() ? "" : std::string(1, platform::separator())) + part;
  return path;
}

void buildWorkedExample(Fake& fake) {
  fake.addFile(w({"a.txt"}));
  fake.addFile(w({"d1", "x.txt"}));
  fake.addDirectory(w({"d2"}));
  fake.addFile(w({"z.txt"}));
}

TEST_F(WalkTest, WorkedExampleInPreOrderListingTheStartThreeTimes) {
  buildWorkedExample(fake_);
  // The counters run on through the whole process, so a scan before this one
  // shows as the base of its totals.
  fake_.addFile(Fake::join({"o", "f"}));
  scan("o");
  auto [filesBefore, directoriesBefore] = totals();
  EXPECT_EQ(scan(w({})), (std::vector<std::string>{w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}),
                                                   w({"d2"}), w({"z.txt"})}));
  EXPECT_EQ(totals(), std::make_pair(filesBefore + 3, directoriesBefore + 2));
  EXPECT_EQ(fake_.listingsOf(w({})), 3);
  EXPECT_EQ(fake_.listingsOf(w({"d1"})), 1);
}

// A folder that cannot be listed gets its line and nothing below it, its
// siblings follow, and it is named once on standard error with the reason,
// as the log writes it: on the way down, and when the walk climbs back into
// it.
TEST_F(WalkTest, EmptyAndUnreadableSubdirectoriesGetALineAndTheirSiblingsFollow) {
  const std::string e = "e\x01";  // written as "e?"
  struct Case {
    std::string unreadable;
    int atListing;  // made unreadable just before its listing of this number
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {w({"b"}),
       1,
       {w({"a"}), w({"b"}), w({"c.txt"}), w({"d"}), w({"d", "e?"}), w({"d", "e?", "x"})}},
      {w({"d", e}),
       1,
       {w({"a"}), w({"b"}), w({"b", "hidden.txt"}), w({"c.txt"}), w({"d"}), w({"d", "e?"})}},
      {w({"d"}),
       2,
       {w({"a"}), w({"b"}), w({"b", "hidden.txt"}), w({"c.txt"}), w({"d"}), w({"d", "e?"}),
        w({"d", "e?", "x"})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unreadable + " at listing " + std::to_string(c.atListing));
    Fake fake;
    fake.addDirectory(w({"a"}));
    fake.addFile(w({"b", "hidden.txt"}));
    fake.addFile(w({"c.txt"}));
    fake.addFile(w({"d", e, "x"}));
    fake.onListing = [&](const std::string& directory, int listing) {
      if (directory == c.unreadable && listing == c.atListing) fake.makeUnreadable(directory);
    };
    testing::internal::CaptureStderr();
    std::vector<std::string> paths = scan(w({}));
    std::string named = testing::internal::GetCapturedStderr();
    EXPECT_EQ(paths, c.expected);
    std::string shown = c.unreadable;
    std::replace(shown.begin(), shown.end(), '\x01', '?');
    EXPECT_EQ(named, "dirlog: cannot list " + shown + ": Permission denied\n");
  }
}

TEST_F(WalkTest, OnlyTheDirectoryBitDecidesWhatIsEntered) {
  fake_.addFile(w({"link"}), platform::kAttributeReparsePoint);
  fake_.addFile(w({"odd"}), platform::kAttributeDirectory | platform::kAttributeReadOnly |
                                platform::kAttributeHidden);
  fake_.addFile(w({"odd", "inside"}));
  EXPECT_EQ(scan(w({})), (std::vector<std::string>{w({"link"}), w({"odd"}), w({"odd", "inside"})}));
}

TEST_F(WalkTest, DeepTreeIsWalkedAndEndsAtAShortStartFolder) {
  std::string path = "w";
  for (int level = 0; level < 20; ++level) path = Fake::join({path, "d" + std::to_string(level)});
  fake_.addFile(Fake::join({path, "leaf"}));
  fake_.addFile(Fake::join({"w", "last"}));
  std::vector<std::string> paths = scan("w");
  ASSERT_EQ(paths.size(), 22u);
  EXPECT_EQ(paths[20], Fake::join({path, "leaf"}));
  EXPECT_EQ(paths[21], Fake::join({"w", "last"}));
}

// Listed in storage order, the example's start yields c.txt, d1, a.txt, d2:
// a.txt is stored after d1 but sorts before it.
void buildStoredExample(Fake& fake) {
  fake.listIn(Fake::Order::kStorage);
  fake.addFile(w({"c.txt"}));
  fake.addFile(w({"d1", "x.txt"}));
  fake.addFile(w({"a.txt"}));
  fake.addDirectory(w({"d2"}));
}

// A directory that disappears while the walk is inside it must not take its
// parent's later entries with it, whether or not the listing is sorted.
TEST_F(WalkTest, DirectoryVanishingWhileInsideItKeepsTheParentsLaterEntries) {
  struct Case {
    const char* what;
    std::function<void(Fake&)> change;
    std::vector<std::string> expected;
    void (*build)(Fake&) = buildWorkedExample;
  };
  const std::vector<Case> cases = {
      {"deleted",
       [](Fake& f) { f.remove(w({"d1"})); },
       {w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"d2"}), w({"z.txt"})}},
      {"moved to a name listed earlier",
       [](Fake& f) { f.rename(w({"d1"}), w({"b0"})); },
       {w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"d2"}), w({"z.txt"})}},
      {"moved to a name listed later",
       [](Fake& f) { f.rename(w({"d1"}), w({"y1"})); },
       {w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"d2"}), w({"y1"}), w({"y1", "x.txt"}),
        w({"z.txt"})}},
      {"deleted, storage order",
       [](Fake& f) { f.remove(w({"d1"})); },
       {w({"c.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"a.txt"}), w({"d2"})},
       buildStoredExample},
      {"moved to a name that sorts earlier, storage order",
       [](Fake& f) { f.rename(w({"d1"}), w({"b0"})); },
       {w({"c.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"a.txt"}), w({"d2"}), w({"b0"}),
        w({"b0", "x.txt"})},
       buildStoredExample},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fake fake;
    c.build(fake);
    // The start's second listing is the one that follows the walk's climb
    // out of d1: change the tree just before it.
    fake.onListing = [&](const std::string& directory, int listing) {
      if (directory == w({}) && listing == 2) c.change(fake);
    };
    EXPECT_EQ(scan(w({})), c.expected);
  }
}

// Two levels up: the walk is inside d1/e1 when d1 goes, so the climb finds
// neither e1 in d1 nor d1 itself, and must find its place again in the start,
// in storage order by d1's position there, not e1's in d1.
TEST_F(WalkTest, AncestorVanishingTwoLevelsUpKeepsTheStartsLaterEntries) {
  for (bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "moved to a later name" : "deleted");
    Fake fake;
    fake.addFile(w({"a.txt"}));
    fake.addFile(w({"d1", "e1", "x.txt"}));
    fake.addFile(w({"d1", "e2.txt"}));
    fake.addFile(w({"z.txt"}));
    fake.onListing = [&](const std::string& directory, int listing) {
      if (directory != w({"d1", "e1"}) || listing != 1) return;
      if (moved) {
        fake.rename(w({"d1"}), w({"y1"}));
      } else {
        fake.remove(w({"d1"}));
      }
    };
    std::vector<std::string> expected = {w({"a.txt"}), w({"d1"}), w({"d1", "e1"})};
    if (moved) {
      // d1/e1 is listed after the change, so nothing below it is recorded;
      // y1 comes after d1 and is walked in full.
      expected.insert(expected.end(),
                      {w({"y1"}), w({"y1", "e1"}), w({"y1", "e1", "x.txt"}), w({"y1", "e2.txt"})});
    }
    expected.push_back(w({"z.txt"}));
    EXPECT_EQ(scan(w({})), expected);
  }
  Fake stored;
  stored.listIn(Fake::Order::kStorage);
  stored.addFile(w({"c.txt"}));
  stored.addFile(w({"d1", "e1", "x.txt"}));
  stored.addFile(w({"a.txt"}));
  stored.onListing = [&](const std::string& directory, int) {
    if (directory == w({"d1", "e1"})) stored.remove(w({"d1"}));
  };
  EXPECT_EQ(scan(w({})),
            (std::vector<std::string>{w({"c.txt"}), w({"d1"}), w({"d1", "e1"}), w({"a.txt"})}));
}

TEST_F(WalkTest, VanishingParentOfTheStartEndsTheWalkCleanly) {
  buildWorkedExample(fake_);
  fake_.onListing = [&](const std::string& directory, int listing) {
    if (directory == w({}) && listing == 2) fake_.remove(w({}));
  };
  EXPECT_EQ(scan(w({})), (std::vector<std::string>{w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"})}));
}

TEST_F(WalkTest, EntryCreatedDuringTheWalkIsRecordedOnlyAfterTheDirectoryLeft) {
  buildWorkedExample(fake_);
  fake_.onListing = [&](const std::string& directory, int listing) {
    if (directory == w({"d1"}) && listing == 1) {
      fake_.addFile(w({"b.txt"}));  // before d1: passed over on the way back
      fake_.addFile(w({"m.txt"}));  // after d1: recorded
    }
  };
  EXPECT_EQ(scan(w({})), (std::vector<std::string>{w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}),
                                                   w({"d2"}), w({"m.txt"}), w({"z.txt"})}));
}

TEST_F(WalkTest, EntryThatVanishesBeforeItIsRecordedIsLeftOut) {
  buildWorkedExample(fake_);
  fake_.onListing = [&](const std::string& directory, int listing) {
    if (directory == w({"d1"}) && listing == 1) fake_.remove(w({"z.txt"}));
  };
  EXPECT_EQ(scan(w({})),
            (std::vector<std::string>{w({"a.txt"}), w({"d1"}), w({"d1", "x.txt"}), w({"d2"})}));
}

// Paths of up to 255 characters are recorded; an entry whose path would be
// longer is named in a message and neither recorded nor entered.
TEST_F(WalkTest, EntriesBeyondThePathLimitAreReportedNotRecorded) {
  std::string start = w({});
  std::string fill255 = std::string(255 - start.size() - 1, 'n');  // start + sep + name = 255
  std::string fits = Fake::join({start, fill255});
  fake_.addDirectory(fits);
  fake_.addFile(Fake::join({fits, "child"}));
  fake_.addFile(Fake::join({start, fill255 + "x"}));
  fake_.addFile(Fake::join({start, "z"}));
  testing::internal::CaptureStdout();
  std::vector<std::string> paths = scan(start);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(paths, (std::vector<std::string>{fits, Fake::join({start, "z"})}));
  EXPECT_EQ(out, "Error: path too long, not recorded: " + Fake::join({fits, "child"}) +
                     "\nError: path too long, not recorded: " + Fake::join({start, fill255 + "x"}) +
                     "\n");
}

TEST_F(WalkTest, FolderErrorsEndTheRun) {
  fake_.addFile(w({"file.txt"}));
  fake_.addDirectory(Fake::join({"empty"}));
  std::string tooLong(256, 'a');
  fake_.addDirectory(tooLong);
  fake_.addFile(Fake::join({tooLong, "f"}));
  struct Case {
    std::string folder;
    std::string message;
    bool leavesLog;
  };
  // A folder text that the search would take as a listing or a pattern
  // names no folder, whatever the search finds for it.
  fake_.addDirectory("wild?card");
  bool wildcardsRefused = std::strchr(platform::wildcardCharacters(), '?') != nullptr;
  const std::vector<Case> cases = {
      {"", "^Error: the given folder cannot be found\n$", false},
      {"missing", "^Error: the given folder cannot be found\n$", false},
      {w({"file.txt"}), "^Error: the given folder cannot be found\n$", false},
      {tooLong, "^Error: the given folder is too long\n$", false},
      {"empty", "^Error: Nothing is that folder\n$", true},
      {Fake::join({"empty", "*"}), "^Error: the given folder cannot be found\n$", false},
      {"wild?card",
       wildcardsRefused ? "^Error: the given folder cannot be found\n$"
                        : "^Error: Nothing is that folder\n$",
       !wildcardsRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    // Where there is no fork, a death test runs in a new process that repeats
    // the test up to it, so the log folder has a name of its own per case
    // that both processes give it, not a random one.
    namespace fs = std::filesystem;
    fs::path logs =
        fs::temp_directory_path() / ("dirlog-walk-error-" + std::to_string(&c - cases.data()));
    fs::remove_all(logs);
    fs::create_directories(logs);
    ScopedLogRoot root(logs.string());
    // The message goes to standard output; a death test reads standard error.
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(2, 1);
          scanFolder(c.folder.c_str(), c.folder.size());
        },
        testing::ExitedWithCode(1), c.message);
    EXPECT_EQ(fs::exists(logs / "dirlog1.txt"), c.leavesLog);
    if (c.leavesLog) {
      EXPECT_EQ(readFile(logs / "dirlog1.txt"), "");
    }
    fs::remove_all(logs);
  }
}

}  // namespace
