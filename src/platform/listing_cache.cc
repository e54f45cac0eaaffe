#include "platform/listing_cache.h"

#include <algorithm>
#include <utility>

namespace platform {

std::shared_ptr<const Listing> ListingCache::find(const std::string& path,
                                                  const DirectoryState& state) {
  std::erase_if(slots_, [&](const Slot& slot) {
    if (isAncestorOrSelf(slot.path, path)) return false;
    bytes_ -= slot.listing->entries.size();
    return true;
  });
  auto slot = std::find_if(slots_.begin(), slots_.end(),
                           [&](const Slot& kept) { return kept.path == path; });
  if (slot == slots_.end()) return nullptr;
  if (slot->listing->state == state) return slot->listing;
  bytes_ -= slot->listing->entries.size();
  slots_.erase(slot);
  return nullptr;
}

void ListingCache::keep(const std::string& path, std::shared_ptr<const Listing> listing) {
  // A listing read while its directory's stamps were fresh can never be
  // told apart from a later state of the directory: not worth keeping.
  if (!listing->trusted || listing->entries.size() > kByteBudget) return;
  std::erase_if(slots_, [&](const Slot& slot) {
    if (slot.path != path) return false;
    bytes_ -= slot.listing->entries.size();
    return true;
  });
  // The deepest directories come back soonest: drop the oldest first.
  while (!slots_.empty() && bytes_ + listing->entries.size() > kByteBudget) {
    bytes_ -= slots_.front().listing->entries.size();
    slots_.erase(slots_.begin());
  }
  bytes_ += listing->entries.size();
  slots_.push_back(Slot{path, std::move(listing)});
}

bool ListingCache::isAncestorOrSelf(const std::string& directory, const std::string& path) const {
  if (directory.empty() || path.size() < directory.size() ||
      path.compare(0, directory.size(), directory) != 0) {
    return false;
  }
  return path.size() == directory.size() || path[directory.size()] == separator_ ||
         directory.back() == separator_;
}

}  // namespace platform
