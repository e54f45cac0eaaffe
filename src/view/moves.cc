#include "view/moves.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace view {
namespace {

constexpr size_t kNone = SIZE_MAX;

struct Key {
  EntryType type;
  uint64_t size;
  uint64_t write;
  uint64_t creation;
  bool operator==(const Key&) const = default;
};

struct KeyHash {
  size_t operator()(const Key& key) const {
    uint64_t hash = static_cast<uint64_t>(key.type) * 0x9E3779B97F4A7C15ull;
    for (uint64_t value : {key.size, key.write, key.creation}) {
      hash = (hash ^ value) * 0xC2B2AE3D27D4EB4Full;
      hash ^= hash >> 29;
    }
    return static_cast<size_t>(hash);
  }
};

Key keyOf(const Entry& entry) { return {entry.type, entry.size, entry.write, entry.creation}; }

struct Group {
  size_t deleted = kNone;
  size_t created = kNone;
  bool ambiguous = false;
};

class MoveFinder {
 public:
  MoveFinder(std::vector<Change>& changes, char separator, LogSystem system, AccessTimes access)
      : changes_(changes),
        separator_(separator),
        system_(system),
        access_(access),
        partner_(changes.size(), kNone),
        folded_(changes.size(), false) {}

  std::vector<Change> run() {
    pairByValues();
    pairBelowMovedDirectories();
    return collect();
  }

 private:
  bool isDeleted(size_t i) const { return changes_[i].kind == Kind::kDeleted; }
  bool isCreated(size_t i) const { return changes_[i].kind == Kind::kCreated; }

  void pairByValues() {
    std::unordered_map<Key, Group, KeyHash> groups;
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (!isDeleted(i) && !isCreated(i)) continue;
      const Entry& entry = isDeleted(i) ? *changes_[i].before : *changes_[i].after;
      Group& group = groups[keyOf(entry)];
      size_t& slot = isDeleted(i) ? group.deleted : group.created;
      if (slot != kNone) group.ambiguous = true;
      slot = i;
    }
    for (const auto& [key, group] : groups) {
      if (group.ambiguous || group.deleted == kNone || group.created == kNone) continue;
      link(group.deleted, group.created);
    }
  }

  void link(size_t deleted, size_t created) {
    for (size_t side : {deleted, created}) {
      if (partner_[side] != kNone) partner_[partner_[side]] = kNone;
    }
    partner_[deleted] = created;
    partner_[created] = deleted;
  }

  // Directory moves, outermost first: the entries below each one pair by
  // their path below it.
  void pairBelowMovedDirectories() {
    std::unordered_map<std::string, size_t> created;
    std::vector<size_t> deleted;
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (isCreated(i)) created.emplace(changes_[i].after->path, i);
      if (isDeleted(i)) deleted.push_back(i);
    }
    std::sort(deleted.begin(), deleted.end(), [&](size_t a, size_t b) {
      return changes_[a].before->path < changes_[b].before->path;
    });
    for (size_t directory : deleted) {
      size_t target = partner_[directory];
      if (target == kNone || changes_[directory].before->type != EntryType::kDirectory) continue;
      std::string oldPrefix = changes_[directory].before->path + separator_;
      std::string newPrefix = changes_[target].after->path + separator_;
      // The deleted entries below the directory stand together in path order.
      auto below = std::lower_bound(
          deleted.begin(), deleted.end(), oldPrefix,
          [&](size_t i, const std::string& prefix) { return changes_[i].before->path < prefix; });
      for (; below != deleted.end(); ++below) {
        size_t inside = *below;
        const Entry& entry = *changes_[inside].before;
        if (entry.path.compare(0, oldPrefix.size(), oldPrefix) != 0) break;
        auto counterpart = created.find(newPrefix + entry.path.substr(oldPrefix.size()));
        if (counterpart == created.end()) continue;
        size_t other = counterpart->second;
        if (changes_[other].after->type != entry.type) continue;
        link(inside, other);
        folded_[inside] = changedFields(entry, *changes_[other].after, system_, access_) == 0;
      }
    }
  }

  std::vector<Change> collect() {
    std::vector<Change> result;
    result.reserve(changes_.size());
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (isCreated(i) && partner_[i] != kNone) continue;  // listed with its deleted side
      if (!isDeleted(i) || partner_[i] == kNone) {
        result.push_back(std::move(changes_[i]));
        continue;
      }
      if (folded_[i]) continue;
      Change& created = changes_[partner_[i]];
      Change move =
          modification(std::move(*changes_[i].before), std::move(*created.after), system_, access_);
      move.kind = Kind::kMoved;
      move.order = changes_[i].order;
      result.push_back(std::move(move));
    }
    std::sort(result.begin(), result.end(),
              [](const Change& a, const Change& b) { return a.order < b.order; });
    return result;
  }

  std::vector<Change>& changes_;
  char separator_;
  LogSystem system_;
  AccessTimes access_;
  std::vector<size_t> partner_;
  std::vector<bool> folded_;
};

}  // namespace

std::vector<Change> findMoves(std::vector<Change> changes, char separator, LogSystem system,
                              AccessTimes access) {
  MoveFinder finder(changes, separator, system, access);
  return finder.run();
}

}  // namespace view
