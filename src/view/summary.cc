#include "view/summary.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace view {

Bytes bytesOf(const Change& change) {
  Bytes bytes;
  uint64_t before = change.before ? change.before->size : 0;
  uint64_t after = change.after ? change.after->size : 0;
  if (after > before) bytes.added = after - before;
  if (before > after) bytes.removed = before - after;
  return bytes;
}

uint64_t Rollup::total() const {
  return std::accumulate(counts.begin(), counts.end(), uint64_t{0});
}

std::vector<std::string> foldersAbove(const std::string& path, char separator, int depth) {
  std::vector<std::string> folders{""};
  // A path outside the start folder keeps its leading separator: that
  // separator does not end a folder, or the start folder would count the
  // change twice.
  size_t at = path.empty() || path[0] != separator ? 0 : 1;
  for (int level = 1; level <= depth; ++level) {
    at = path.find(separator, at);
    if (at == std::string::npos) break;
    folders.push_back(path.substr(0, at));
    ++at;
  }
  return folders;
}

Summary summarize(const std::vector<Change>& shown, const Comparison& comparison, int depth) {
  Summary summary;
  summary.before.facts = comparison.before;
  summary.after.facts = comparison.after;
  summary.separator = comparison.system == LogSystem::kPosix ? '/' : '\\';
  summary.pathsBelow = comparison.pathsBelow;
  summary.startsDiffer = comparison.startsDiffer;
  summary.codePage = comparison.codePage;
  summary.accessOnlyHidden = comparison.accessOnly;
  summary.unreadCount = comparison.unreadCount;
  summary.unread = comparison.unread;
  summary.shown = shown.size();

  std::unordered_map<std::string, Rollup> rollups;
  for (const Change& change : shown) {
    size_t kind = static_cast<size_t>(change.kind);
    ++summary.counts[kind];
    Bytes bytes = bytesOf(change);
    summary.bytes.added += bytes.added;
    summary.bytes.removed += bytes.removed;
    const Entry& entry = change.after ? *change.after : *change.before;
    std::vector<std::string> folders = foldersAbove(entry.path, summary.separator, depth);
    for (size_t level = 0; level < folders.size(); ++level) {
      Rollup& rollup = rollups[folders[level]];
      rollup.folder = folders[level];
      rollup.depth = static_cast<int>(level);
      ++rollup.counts[kind];
      rollup.bytes.added += bytes.added;
      rollup.bytes.removed += bytes.removed;
    }
  }
  for (auto& [folder, rollup] : rollups) summary.rollups.push_back(std::move(rollup));
  std::sort(summary.rollups.begin(), summary.rollups.end(), [](const Rollup& a, const Rollup& b) {
    uint64_t aBytes = a.bytes.added + a.bytes.removed;
    uint64_t bBytes = b.bytes.added + b.bytes.removed;
    if (aBytes != bBytes) return aBytes > bBytes;
    if (a.total() != b.total()) return a.total() > b.total();
    return a.folder < b.folder;
  });
  return summary;
}

}  // namespace view
