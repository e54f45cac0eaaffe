// An in-memory directory search for tests of the walk: a tree of named
// entries that a test builds, changes in the middle of a walk, and asks how
// often each directory was listed. Paths use the platform's separator.
#ifndef DIRLOG_TESTS_FAKE_DIRECTORY_SEARCH_H_
#define DIRLOG_TESTS_FAKE_DIRECTORY_SEARCH_H_

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/directory_search.h"

class FakeDirectorySearch : public platform::DirectorySearch {
 public:
  // Installs itself as the search in use; the destructor restores the system's.
  FakeDirectorySearch();
  ~FakeDirectorySearch() override;

  // Adds an entry, and every missing directory on its way. `attributes` are
  // the entry's as a listing reports them.
  void addFile(const std::string& path, uint32_t attributes = platform::kAttributeArchive);
  void addDirectory(const std::string& path);
  // Removes an entry and everything below it.
  void remove(const std::string& path);
  // Moves an entry and everything below it to a new path.
  void rename(const std::string& from, const std::string& to);
  // A directory that exists but cannot be listed.
  void makeUnreadable(const std::string& path) { unreadable_.insert(path); }

  // How listings order entries: by name (compareNames), or in storage order,
  // the order in which they were added or moved in, as FAT lists them; a
  // storage-order listing says it has no known order.
  enum class Order { kByName, kStorage };
  void listIn(Order order) { order_ = order; }

  // Called at the start of every listing with the directory's path and how
  // many listings of it there have been, this one included; it may change
  // the tree. The listing shows the tree as it is after the call.
  std::function<void(const std::string& directory, int listing)> onListing;

  int listingsOf(const std::string& directory) const;

  std::unique_ptr<platform::Search> findFirst(const std::string& pattern,
                                              platform::FindData& entry) override;
  // "No such file or directory", or "Permission denied" for an unreadable
  // directory, after a failed findFirst.
  std::string lastFailure() const override { return lastFailure_; }
  bool deleteFile(const std::string& path) override;
  int compareNames(const char* a, const char* b) const override;

  // Joins path components with the platform's separator.
  static std::string join(std::initializer_list<std::string> parts);

 private:
  friend class FakeListing;
  bool exists(const std::string& path) const { return entries_.count(path) != 0; }

  std::map<std::string, uint32_t> entries_;  // path -> attributes
  std::map<std::string, uint64_t> stored_;   // path -> when it was stored
  uint64_t nextStore_ = 0;
  Order order_ = Order::kByName;
  std::set<std::string> unreadable_;
  std::map<std::string, int> listings_;
  std::string lastFailure_;
};

#endif  // DIRLOG_TESTS_FAKE_DIRECTORY_SEARCH_H_
