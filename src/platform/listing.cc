#include "platform/listing.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

constexpr size_t kEntryHeader = Listing::kEntryHeader;
constexpr const uint32_t* kTypeAttributes = Listing::kTypeAttributes;

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void fillDotEntry(FindData& entry, const char* name) {
  std::strcpy(entry.cFileName, name);
  entry.dwFileAttributes = kAttributeDirectory;
}

// How far apart two changes of a directory may be and still carry the same
// stamp: the file system's timestamp granularity, bounded from the stamp
// itself. File systems keep stamps in steps of a power of ten from 1 ns to
// 1 s, or in steps of 2 s (FAT); a stamp is cut down to its step, so the
// step divides its nanoseconds. Whole seconds therefore mean steps of up to
// 2 s; otherwise the largest power of ten that divides the nanoseconds bounds
// the step. The floor covers steps that are no power of ten (a FUSE file
// system may declare any) up to a tenth of a second.
int64_t stampStepBound(const Stamp& stamp) {
  constexpr int64_t kCoarsestStep = 2000000000;
  constexpr int64_t kFloor = 100000000;
  if (stamp.nanoseconds == 0) return kCoarsestStep;
  int64_t step = 1;
  for (int64_t rest = stamp.nanoseconds; rest % 10 == 0; rest /= 10) step *= 10;
  return std::max(step, kFloor);
}

}  // namespace

size_t Listing::firstNotBefore(size_t from, const char* name) const {
  auto found =
      std::lower_bound(starts.begin() + static_cast<std::ptrdiff_t>(from), starts.end(), name,
                       [this](uint32_t start, const char* sought) {
                         return std::strcmp(entries.data() + start + kEntryHeader, sought) < 0;
                       });
  return static_cast<size_t>(found - starts.begin());
}

void ListingBuilder::add(const char* name, size_t length, ListedType type) {
  if (isDotEntry(name) || length > kMaxListedNameLength) return;
  offsets_.push_back(unsorted_.size());
  char header[kEntryHeader] = {static_cast<char>(type), static_cast<char>(length)};
  unsorted_.append(header, kEntryHeader).append(name, length).push_back('\0');
}

std::shared_ptr<Listing> ListingBuilder::finish(const DirectoryState& state,
                                                const Stamp& readStart) {
  auto listing = std::make_shared<Listing>();
  listing->state = state;
  listing->trusted = isSettled(state, readStart);
  const char* base = unsorted_.data();
  std::sort(offsets_.begin(), offsets_.end(), [base](size_t a, size_t b) {
    return std::strcmp(base + a + kEntryHeader, base + b + kEntryHeader) < 0;
  });
  listing->entries.reserve(unsorted_.size());
  const char* previous = nullptr;
  for (size_t offset : offsets_) {
    const char* entry = base + offset;
    if (previous != nullptr && std::strcmp(previous + kEntryHeader, entry + kEntryHeader) == 0) {
      continue;
    }
    listing->starts.push_back(static_cast<uint32_t>(listing->entries.size()));
    listing->entries.append(entry, kEntryHeader + static_cast<unsigned char>(entry[1]) + 1);
    previous = entry;
  }
  return listing;
}

bool isSettled(const DirectoryState& state, const Stamp& readStart) {
  int64_t step = stampStepBound(state.changed);
  auto isOlder = [&](const Stamp& stamp) {
    // Stamps can be set far into the past or the future: no arithmetic on
    // them until they are known to be near the clock.
    if (stamp.seconds < readStart.seconds - 3) return true;
    if (stamp.seconds > readStart.seconds) return false;
    int64_t ageNs = (readStart.seconds - stamp.seconds) * 1000000000 +
                    (readStart.nanoseconds - stamp.nanoseconds);
    return ageNs > step;
  };
  return isOlder(state.changed) && isOlder(state.modified);
}

void ListingSearch::start(FindData& entry) { fillDotEntry(entry, "."); }

bool ListingSearch::next(FindData& entry) {
  switch (place_) {
    case Place::kSelf:
      place_ = Place::kParent;
      fillDotEntry(entry, "..");
      return true;
    case Place::kParent:
      place_ = Place::kEntries;
      index_ = 0;
      break;
    case Place::kEntries:
      ++index_;
      break;
    case Place::kEnd:
      return false;
  }
  return standAt(index_, entry);
}

bool ListingSearch::skipTo(const char* name, FindData& entry) {
  if (place_ != Place::kEntries) return Search::skipTo(name, entry);
  size_t found = listing_->firstNotBefore(index_, name);
  if (found < listing_->count() && std::strcmp(listing_->nameAt(found), name) == 0) {
    return standAt(found, entry);
  }
  return standAt(listing_->count(), entry);
}

bool ListingSearch::skipPast(const char* name, FindData& entry) {
  if (place_ != Place::kEntries) return Search::skipPast(name, entry);
  size_t found = listing_->firstNotBefore(index_, name);
  if (found < listing_->count() && std::strcmp(listing_->nameAt(found), name) == 0) ++found;
  return standAt(found, entry);
}

const char* ListingSearch::currentName() const {
  switch (place_) {
    case Place::kSelf:
      return ".";
    case Place::kParent:
      return "..";
    case Place::kEntries:
      return listing_->nameAt(index_);
    default:
      return nullptr;
  }
}

bool ListingSearch::standAt(size_t index, FindData& entry) {
  index_ = index;
  if (index >= listing_->count()) {
    place_ = Place::kEnd;
    return false;
  }
  place_ = Place::kEntries;
  const char* at = listing_->entries.data() + listing_->starts[index];
  std::memcpy(entry.cFileName, at + kEntryHeader, static_cast<unsigned char>(at[1]) + 1u);
  entry.dwFileAttributes = kTypeAttributes[static_cast<unsigned char>(at[0])];
  return true;
}

}  // namespace platform
