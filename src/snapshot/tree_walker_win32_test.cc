// The walk over the Windows directory search on real folders (under Wine in
// the cross build's tests).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_search.h"
#include "platform/listing_win32.h"
#include "snapshot/tree_walker.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// The system's search, with a hook that runs before each of its listings.
class HookedSearch : public platform::DirectorySearch {
 public:
  HookedSearch() : system_(platform::directorySearch()) { platform::useDirectorySearch(this); }
  ~HookedSearch() override { platform::useDirectorySearch(nullptr); }

  std::function<void(const std::string& pattern)> beforeListing;

  std::unique_ptr<platform::Search> findFirst(const std::string& pattern,
                                              platform::FindData& entry) override {
    if (beforeListing && pattern.back() == '*') beforeListing(pattern);
    return system_.findFirst(pattern, entry);
  }
  std::string lastFailure() const override { return system_.lastFailure(); }
  void startWalk(const std::string& folder) override { system_.startWalk(folder); }
  bool deleteFile(const std::string& path) override { return system_.deleteFile(path); }
  int compareNames(const char* a, const char* b) const override {
    return system_.compareNames(a, b);
  }

 private:
  platform::DirectorySearch& system_;
};

// Gives the directory `to` the write time of `from` (std::filesystem cannot
// open a directory to set its times).
void copyWriteTime(const fs::path& from, const fs::path& to) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(from.c_str(), GetFileExInfoStandard, &data));
  HANDLE directory = CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(directory, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(directory, nullptr, nullptr, &data.ftLastWriteTime));
  CloseHandle(directory);
}

// The walk climbs back into d after each subfolder. Its listing is read
// whole once and kept while d is unchanged; a change made while the walk is
// inside d\b\x shows when it comes back: entries made after b are
// recorded (those before it passed over, as the walk always passes them),
// with b gone the walk goes on after it, and a d put in d's place is read.
TEST(Win32WalkTest, AKeptListingStandsInUntilItsDirectoryChanges) {
  const struct {
    const char* what;
    std::function<void(const fs::path& d)> change;
    std::vector<std::string> names;  // each record's name field
  } cases[] = {
      {"entries made",
       [](const fs::path& d) {
         writeFile(d / "a0.txt", "x");
         writeFile(d / "bb.txt", "x");
       },
       {"a1", "a2", "a3", "a4", "b", "x", "bb.txt", "c.txt"}},
      {"the folder left removed",
       [](const fs::path& d) { fs::remove_all(d / "b"); },
       {"a1", "a2", "a3", "a4", "b", "x", "c.txt"}},
      // Its state is asked by its path: the one now there is another,
      // though it shows the same write time.
      {"the folder replaced by one made before the walk",
       [](const fs::path& d) {
         fs::rename(d, d.string() + " old");
         fs::rename(d.string() + " new", d);
         copyWriteTime(d.string() + " old", d);
       },
       {"a1", "a2", "a3", "a4", "b", "x", "c.txt", "z.txt"}},
  };
  ScopedTempDir trees;
  for (const auto& c : cases) {
    for (std::string tree : {std::string(c.what), std::string(c.what) + " new"}) {
      for (const char* name : {"a1", "a2", "a3", "a4", "b/x"}) {
        fs::create_directories(trees.path() / tree / name);
      }
      writeFile(trees.path() / tree / "c.txt", "x");
    }
    writeFile(trees.path() / (std::string(c.what) + " new") / "z.txt", "x");
  }
  // Past the coarsest step of directory times, so that listings are kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir logs;
    ScopedLogRoot root(logs.str());
    fs::path d = trees.path() / c.what;
    HookedSearch search;
    search.beforeListing = [&](const std::string& pattern) {
      if (pattern == (d / "b" / "x").string() + "\\*") c.change(d);
    };
    size_t reads = platform::directoryReads();
    std::string folder = d.string();
    scanFolder(folder.c_str(), folder.size());
    std::vector<std::string> names;
    for (const std::string& line : splitLines(readTextFile(logs.path() / "dirlog1.txt"))) {
      size_t name = line.find(',', line.find(',') + 1) + 1;
      if (line[0] == '-') names.push_back(line.substr(name, line.find(',', name) - name));
    }
    EXPECT_EQ(names, c.names);
    // d after a1 and after the change (twice where b is gone: the walk
    // lists it again to go on after b), b after x; d after a2 to a4 is
    // the kept listing.
    EXPECT_EQ(platform::directoryReads() - reads, 3u);
  }
}

}  // namespace
