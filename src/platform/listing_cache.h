// The listings a walk may ask for again. After leaving a subdirectory the
// walk lists the directory again, so from any directory it only ever comes
// back to the directories on its way down: the cache keeps just the listings
// of the last listed path and of its ancestors, within a byte budget, and
// drops the rest as soon as a listing moves elsewhere. No system header:
// each platform's directory search keeps one, of its own kind of listing.
#ifndef DIRLOG_PLATFORM_LISTING_CACHE_H_
#define DIRLOG_PLATFORM_LISTING_CACHE_H_

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/listing.h"

namespace platform {

// Whether `directory` is `path` or lies above it, by their texts, whose
// components `separator` joins.
bool isAncestorOrSelf(const std::string& directory, const std::string& path, char separator);

// `KeptListing` is a platform's listing: its `state` (DirectoryState) when it
// was read, whether it is `trusted` to stand for a later read (isSettled),
// and `bytes()`, the memory it holds.
template <typename KeptListing>
class ListingCache {
 public:
  // `separator` joins a path's components.
  explicit ListingCache(char separator) : separator_(separator) {}

  // The kept listing of `path`, if it may stand for a fresh read of the
  // directory now in the state `state`: the same directory, its stamps
  // unmoved. nullptr otherwise. Listings of paths that are neither `path`
  // nor above it are dropped.
  std::shared_ptr<const KeptListing> find(const std::string& path, const DirectoryState& state);

  // Keeps `listing` as the listing of `path`, in place of any other, when it
  // is trusted and fits the budget; the oldest listings make room for it.
  void keep(const std::string& path, std::shared_ptr<const KeptListing> listing);

  // What the listings kept hold at most, in bytes.
  static constexpr size_t kByteBudget = size_t{64} << 20;

 private:
  struct Slot {
    std::string path;
    std::shared_ptr<const KeptListing> listing;
  };

  char separator_;
  std::vector<Slot> slots_;  // oldest first; as many as the path has levels
  size_t bytes_ = 0;
};

template <typename KeptListing>
std::shared_ptr<const KeptListing> ListingCache<KeptListing>::find(const std::string& path,
                                                                   const DirectoryState& state) {
  std::erase_if(slots_, [&](const Slot& slot) {
    if (isAncestorOrSelf(slot.path, path, separator_)) return false;
    bytes_ -= slot.listing->bytes();
    return true;
  });
  auto slot = std::find_if(slots_.begin(), slots_.end(),
                           [&](const Slot& kept) { return kept.path == path; });
  if (slot == slots_.end()) return nullptr;
  if (slot->listing->state == state) return slot->listing;
  bytes_ -= slot->listing->bytes();
  slots_.erase(slot);
  return nullptr;
}

template <typename KeptListing>
void ListingCache<KeptListing>::keep(const std::string& path,
                                     std::shared_ptr<const KeptListing> listing) {
  // A listing read while its directory's stamps were fresh can never be
  // told apart from a later state of the directory: not worth keeping.
  if (!listing->trusted || listing->bytes() > kByteBudget) return;
  std::erase_if(slots_, [&](const Slot& slot) {
    if (slot.path != path) return false;
    bytes_ -= slot.listing->bytes();
    return true;
  });
  // The deepest directories come back soonest: drop the oldest first.
  while (!slots_.empty() && bytes_ + listing->bytes() > kByteBudget) {
    bytes_ -= slots_.front().listing->bytes();
    slots_.erase(slots_.begin());
  }
  bytes_ += listing->bytes();
  slots_.push_back(Slot{path, std::move(listing)});
}

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LISTING_CACHE_H_
