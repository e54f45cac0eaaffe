// The listings a walk may ask for again. After leaving a subdirectory the
// walk lists the directory again, so from any directory it only ever comes
// back to the directories on its way down: the cache keeps just the listings
// of the last listed path and of its ancestors, within a byte budget, and
// drops the rest as soon as a listing moves elsewhere. No system header:
// each platform's directory search keeps one.
#ifndef DIRLOG_PLATFORM_LISTING_CACHE_H_
#define DIRLOG_PLATFORM_LISTING_CACHE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/listing.h"

namespace platform {

class ListingCache {
 public:
  // `separator` joins a path's components.
  explicit ListingCache(char separator) : separator_(separator) {}

  // The kept listing of `path`, if it may stand for a fresh read of the
  // directory now in the state `state`: the same directory, its stamps
  // unmoved. nullptr otherwise. Listings of paths that are neither `path`
  // nor above it are dropped.
  std::shared_ptr<const Listing> find(const std::string& path, const DirectoryState& state);

  // Keeps `listing` as the listing of `path`, in place of any other, when it
  // is trusted and fits the budget; the oldest listings make room for it.
  void keep(const std::string& path, std::shared_ptr<const Listing> listing);

 private:
  static constexpr size_t kByteBudget = size_t{64} << 20;

  struct Slot {
    std::string path;
    std::shared_ptr<const Listing> listing;
  };

  // Whether `directory` is `path` or lies above it, by their texts.
  bool isAncestorOrSelf(const std::string& directory, const std::string& path) const;

  char separator_;
  std::vector<Slot> slots_;  // oldest first; as many as the path has levels
  size_t bytes_ = 0;
};

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LISTING_CACHE_H_
