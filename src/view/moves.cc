#include "view/moves.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
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
  std::vector<size_t> deleted;
  std::vector<size_t> created;
};

// The last name of a path.
std::string_view nameOf(const std::string& path, char separator) {
  size_t cut = path.rfind(separator);
  return cut == std::string::npos ? std::string_view(path) : std::string_view(path).substr(cut + 1);
}

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
      if (isDeleted(i)) groups[keyOf(*changes_[i].before)].deleted.push_back(i);
      if (isCreated(i)) groups[keyOf(*changes_[i].after)].created.push_back(i);
    }
    for (auto& [key, group] : groups) {
      if (group.deleted.empty() || group.created.empty()) continue;
      if (group.deleted.size() > 1 || group.created.size() > 1) pairByName(group);
      if (group.deleted.size() == 1 && group.created.size() == 1) {
        link(group.deleted[0], group.created[0]);
      }
    }
  }

  // Entries of equal values (files written, folders made in the same clock
  // tick) that kept their name pair when that name is theirs alone on both
  // sides; they leave the group, and what is left may pair as one to one.
  void pairByName(Group& group) {
    std::unordered_map<std::string_view, std::pair<int, size_t>> deletedNames;
    std::unordered_map<std::string_view, std::pair<int, size_t>> createdNames;
    for (size_t i : group.deleted) {
      auto& slot = deletedNames[nameOf(changes_[i].before->path, separator_)];
      slot = {slot.first + 1, i};
    }
    for (size_t i : group.created) {
      auto& slot = createdNames[nameOf(changes_[i].after->path, separator_)];
      slot = {slot.first + 1, i};
    }
    std::unordered_set<size_t> taken;
    for (const auto& [name, deleted] : deletedNames) {
      auto created = createdNames.find(name);
      if (deleted.first != 1 || created == createdNames.end() || created->second.first != 1) {
        continue;
      }
      link(deleted.second, created->second.second);
      taken.insert({deleted.second, created->second.second});
    }
    auto isTaken = [&](size_t i) { return taken.contains(i); };
    std::erase_if(group.deleted, isTaken);
    std::erase_if(group.created, isTaken);
  }

  void link(size_t deleted, size_t created) {
    if (changes_[deleted].before->path == changes_[created].after->path) return;
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

  // The line that stands for folded entry `i`: the move of the nearest
  // directory above it that is not folded itself.
  uint64_t standingFor(size_t i, const std::unordered_map<std::string_view, size_t>& moved) const {
    std::string_view path = changes_[i].before->path;
    for (size_t cut = path.rfind(separator_); cut != std::string_view::npos && cut > 0;
         cut = path.rfind(separator_, cut - 1)) {
      auto found = moved.find(path.substr(0, cut));
      if (found != moved.end() && !folded_[found->second]) return changes_[found->second].order;
    }
    return changes_[i].order;
  }

  // Folded entries name the line that stands for them, found by the old
  // paths of the moved directories.
  void nameStandIns() {
    std::unordered_map<std::string_view, size_t> moved;
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (isDeleted(i) && partner_[i] != kNone &&
          changes_[i].before->type == EntryType::kDirectory) {
        moved.emplace(changes_[i].before->path, i);
      }
    }
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (isDeleted(i) && folded_[i] && partner_[i] != kNone)
        changes_[i].foldedInto = standingFor(i, moved);
    }
  }

  std::vector<Change> collect() {
    nameStandIns();
    std::vector<Change> result;
    result.reserve(changes_.size());
    for (size_t i = 0; i < changes_.size(); ++i) {
      if (isCreated(i) && partner_[i] != kNone) continue;  // listed with its deleted side
      if (!isDeleted(i) || partner_[i] == kNone) {
        result.push_back(std::move(changes_[i]));
        continue;
      }
      Change& created = changes_[partner_[i]];
      Change move =
          modification(std::move(*changes_[i].before), std::move(*created.after), system_, access_);
      move.kind = Kind::kMoved;
      if (move.changed == 0) move.verdict = Verdict::kPlace;
      move.order = changes_[i].order;
      move.foldedInto = changes_[i].foldedInto;
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
