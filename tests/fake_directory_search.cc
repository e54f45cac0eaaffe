#include "fake_directory_search.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void fill(platform::FindData& entry, const std::string& name, uint32_t attributes) {
  std::memset(&entry, 0, sizeof entry);
  std::strncpy(entry.cFileName, name.c_str(), sizeof entry.cFileName - 1);
  entry.dwFileAttributes = attributes;
  entry.nFileSizeLow = static_cast<uint32_t>(name.size());
  entry.ftLastWriteTime.dwLowDateTime = 7;
}

std::string parentOf(const std::string& path) {
  size_t cut = path.rfind(platform::separator());
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string lastComponent(const std::string& path) {
  size_t cut = path.rfind(platform::separator());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

// A listing shows the directory as it was when it started, as a snapshot;
// complete() looks the entry up again, as the real search does.
class FakeListing : public platform::Search {
 public:
  FakeListing(const FakeDirectorySearch& owner, std::string directory,
              std::vector<std::pair<std::string, uint32_t>> entries)
      : owner_(owner),
        directory_(std::move(directory)),
        entries_(std::move(entries)),
        ordered_(owner.order_ == FakeDirectorySearch::Order::kByName) {}

  bool next(platform::FindData& entry) override {
    if (position_ + 1 >= entries_.size()) return false;
    ++position_;
    fill(entry, entries_[position_].first, entries_[position_].second);
    return true;
  }

  bool complete(platform::FindData& entry) override {
    const std::string& name = entries_[position_].first;
    if (name == "." || name == "..") return true;
    auto found = owner_.entries_.find(directory_ + platform::separator() + name);
    if (found == owner_.entries_.end()) return false;
    fill(entry, name, found->second);
    return true;
  }

  std::optional<size_t> unorderedPosition() const override {
    if (ordered_ || position_ < 2) return std::nullopt;
    return position_ - 2;
  }

 private:
  const FakeDirectorySearch& owner_;
  std::string directory_;
  std::vector<std::pair<std::string, uint32_t>> entries_;
  bool ordered_;
  size_t position_ = 0;
};

FakeDirectorySearch::FakeDirectorySearch() { platform::useDirectorySearch(this); }

FakeDirectorySearch::~FakeDirectorySearch() { platform::useDirectorySearch(nullptr); }

void FakeDirectorySearch::addFile(const std::string& path, uint32_t attributes) {
  std::string parent = parentOf(path);
  if (!parent.empty() && !exists(parent)) addDirectory(parent);
  entries_[path] = attributes;
  stored_.try_emplace(path, nextStore_++);
}

void FakeDirectorySearch::addDirectory(const std::string& path) {
  addFile(path, platform::kAttributeDirectory);
}

void FakeDirectorySearch::remove(const std::string& path) {
  std::string below = path + platform::separator();
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->first == path || it->first.compare(0, below.size(), below) == 0) {
      stored_.erase(it->first);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

void FakeDirectorySearch::rename(const std::string& from, const std::string& to) {
  std::string below = from + platform::separator();
  std::map<std::string, uint32_t> moved;
  for (const auto& [path, attributes] : entries_) {
    if (path == from) {
      moved[to] = attributes;
    } else if (path.compare(0, below.size(), below) == 0) {
      moved[to + path.substr(from.size())] = attributes;
    }
  }
  remove(from);
  for (const auto& [path, attributes] : moved) {
    entries_[path] = attributes;
    stored_[path] = nextStore_++;  // moved in: stored after what is there
  }
}

int FakeDirectorySearch::listingsOf(const std::string& directory) const {
  auto found = listings_.find(directory);
  return found == listings_.end() ? 0 : found->second;
}

std::unique_ptr<platform::Search> FakeDirectorySearch::findFirst(const std::string& pattern,
                                                                 platform::FindData& entry) {
  lastFailure_ = "No such file or directory";
  std::string listSuffix = std::string(1, platform::separator()) + "*";
  bool isListing =
      pattern.size() > listSuffix.size() &&
      pattern.compare(pattern.size() - listSuffix.size(), listSuffix.size(), listSuffix) == 0;
  if (!isListing) {
    auto found = entries_.find(pattern);
    if (found == entries_.end()) return nullptr;
    lastFailure_.clear();
    fill(entry, lastComponent(pattern), found->second);
    return std::make_unique<FakeListing>(
        *this, parentOf(pattern),
        std::vector<std::pair<std::string, uint32_t>>{{lastComponent(pattern), found->second}});
  }
  std::string directory = pattern.substr(0, pattern.size() - listSuffix.size());
  int listing = ++listings_[directory];
  if (onListing) onListing(directory, listing);
  auto found = entries_.find(directory);
  if (found == entries_.end() || !(found->second & platform::kAttributeDirectory)) return nullptr;
  if (unreadable_.count(directory)) {
    lastFailure_ = "Permission denied";
    return nullptr;
  }
  lastFailure_.clear();
  std::vector<std::pair<std::string, uint32_t>> children = {{".", platform::kAttributeDirectory},
                                                            {"..", platform::kAttributeDirectory}};
  std::string below = directory + platform::separator();
  for (const auto& [path, attributes] : entries_) {
    if (path.compare(0, below.size(), below) == 0 &&
        path.find(platform::separator(), below.size()) == std::string::npos) {
      children.emplace_back(path.substr(below.size()), attributes);
    }
  }
  if (order_ == Order::kStorage) {
    std::stable_sort(children.begin() + 2, children.end(), [&](const auto& a, const auto& b) {
      return stored_.at(below + a.first) < stored_.at(below + b.first);
    });
  }
  fill(entry, children[0].first, children[0].second);
  return std::make_unique<FakeListing>(*this, directory, std::move(children));
}

bool FakeDirectorySearch::deleteFile(const std::string&) { return false; }

int FakeDirectorySearch::compareNames(const char* a, const char* b) const {
  return std::strcmp(a, b);
}

std::string FakeDirectorySearch::join(std::initializer_list<std::string> parts) {
  std::string path;
  for (const std::string& part : parts) {
    if (!path.empty()) path += platform::separator();
    path += part;
  }
  return path;
}
