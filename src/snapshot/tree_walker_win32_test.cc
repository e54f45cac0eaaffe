// The walk over the Windows directory search on real folders (under Wine in
// the cross build's tests).
#include <gtest/gtest.h>

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

// The walk climbs back into d after each subfolder. Its listing is read
// whole once and kept while d is unchanged; entries made while the walk is
// inside d\b are seen when it comes back, those before b passed over as the
// walk always passes them.
TEST(Win32WalkTest, AKeptListingStandsInUntilItsDirectoryChanges) {
  ScopedTempDir logs;
  ScopedLogRoot root(logs.str());
  ScopedTempDir tree;
  fs::path d = tree.path() / "d";
  for (const char* name : {"a1", "a2", "a3", "a4", "b"}) fs::create_directories(d / name);
  writeFile(d / "c.txt", "x");
  // Past the coarsest step of directory times, so that the listing is kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  HookedSearch search;
  search.beforeListing = [&](const std::string& pattern) {
    if (pattern != (d / "b").string() + "\\*") return;
    writeFile(d / "a0.txt", "x");
    writeFile(d / "bb.txt", "x");
  };
  size_t reads = platform::directoryReads();
  std::string folder = d.string();
  scanFolder(folder.c_str(), folder.size());
  std::vector<std::string> names;  // each record's name field
  for (const std::string& line : splitLines(readTextFile(logs.path() / "dirlog1.txt"))) {
    size_t name = line.find(',', line.find(',') + 1) + 1;
    if (line[0] == '-') names.push_back(line.substr(name, line.find(',', name) - name));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a1", "a2", "a3", "a4", "b", "bb.txt", "c.txt"}));
  // Once after a1, once after the change.
  EXPECT_EQ(platform::directoryReads() - reads, 2u);
}

}  // namespace
