// A directory's entries as one read found them, sorted by name, and a search
// that yields them: what a directory search keeps of a listing so that the
// walk's repeated listings of the same directories can be served again
// without reading the directory. No system header: each platform fills a
// listing from its own reads, with identity and stamps as plain integers.
#ifndef DIRLOG_PLATFORM_LISTING_H_
#define DIRLOG_PLATFORM_LISTING_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/directory_search.h"

namespace platform {

// The type a listing keeps per entry, one byte each; a listing reports it as
// the matching attribute bit.
enum ListedType : unsigned char { kListedDirectory, kListedFile, kListedLink, kListedOther };

// A moment as a file system stamps it: seconds since 1970-01-01 UTC (before
// it, negative) and nanoseconds within the second.
struct Stamp {
  int64_t seconds;
  int64_t nanoseconds;
  bool operator==(const Stamp&) const = default;
};

// Which directory a listing was read from, and its stamps when it was opened
// for the read. Any change of a directory's entries moves its change and
// modification stamps. A directory put in its place has another identity
// where the system tells one (device and inode); where the state is read by
// the path alone (Windows: device and inode are 0), it has a later change
// stamp, since creating or moving a directory stamps it and a listing is
// only kept while its stamps are older than its read (isSettled), and it
// has a creation stamp of its own.
struct DirectoryState {
  uint64_t device;
  uint64_t inode;
  Stamp changed;
  Stamp modified;
  Stamp created;  // where the system keeps one (Windows); else zero
  bool operator==(const DirectoryState&) const = default;
};

// The longest name a listing holds, in bytes (NAME_MAX on Linux).
constexpr size_t kMaxListedNameLength = 255;

// A directory's entries, "." and ".." left out, each name once, in
// ascending byte order, never changed once made (see ListingBuilder).
struct Listing {
  static constexpr size_t kEntryHeader = 2;  // type, name length
  // The attribute bit of each ListedType.
  static constexpr uint32_t kTypeAttributes[] = {kAttributeDirectory, kAttributeArchive,
                                                 kAttributeReparsePoint, kAttributeSystem};

  DirectoryState state;
  // The stamps were old enough at the read that no later change can leave
  // them as they are (isSettled): only then may the listing stand for a
  // later read.
  bool trusted = false;
  // Every entry in listing order: its type, its name's length, the name and
  // a NUL.
  std::string entries;
  // Where each entry begins in `entries`, in listing order, so that a place
  // is found again by a binary search instead of entry by entry.
  std::vector<uint32_t> starts;

  size_t count() const { return starts.size(); }
  size_t bytes() const { return entries.size(); }  // what a cache counts
  const char* nameAt(size_t index) const { return entries.data() + starts[index] + kEntryHeader; }
  uint32_t attributesAt(size_t index) const {
    return kTypeAttributes[static_cast<unsigned char>(entries[starts[index]])];
  }
  // The first entry from `from` on whose name does not come before `name`;
  // count() when there is none.
  size_t firstNotBefore(size_t from, const char* name) const;
};

// Collects a directory's entries in the order a read finds them and makes
// the sorted listing of them.
class ListingBuilder {
 public:
  // Adds an entry; "." and "..", and names longer than kMaxListedNameLength
  // (which no find data entry can hold), are left out.
  void add(const char* name, size_t length, ListedType type);

  // The listing of the entries added, sorted, each name once (a directory
  // changed while it was read may show a name twice). `readStart` is when
  // the read began, on the clock that the file system stamps with.
  std::shared_ptr<Listing> finish(const DirectoryState& state, const Stamp& readStart);

 private:
  std::string unsorted_;
  std::vector<size_t> offsets_;
};

// Whether a change made after `readStart` must leave the directory with
// stamps other than `state`'s: true when the read began more than the file
// system's stamp step after both stamps.
bool isSettled(const DirectoryState& state, const Stamp& readStart);

// A search over a listing: ".", "..", then the listing's entries. It fills
// the name and the type bit as it moves; complete() is the platform's, which
// looks the entry up (currentName()).
class ListingSearch : public Search {
 public:
  explicit ListingSearch(std::shared_ptr<const Listing> listing) : listing_(std::move(listing)) {}

  // Fills the first entry, ".".
  void start(FindData& entry);

  bool next(FindData& entry) override;
  // The listing is sorted, and each name is in it once: the entry sought,
  // if it follows at all, is where a binary search over the rest puts it.
  bool skipTo(const char* name, FindData& entry) override;
  bool skipPast(const char* name, FindData& entry) override;

 protected:
  // The name of the entry the search stands on ("." and ".." included);
  // nullptr once it has run out.
  const char* currentName() const;
  // Whether it stands on one of the listing's entries, not "." or "..".
  bool onListedEntry() const { return place_ == Place::kEntries; }
  // The type bit of the listed entry it stands on (onListedEntry()).
  uint32_t currentAttributes() const { return listing_->attributesAt(index_); }
  const Listing& listing() const { return *listing_; }

 private:
  enum class Place { kSelf, kParent, kEntries, kEnd };

  // Makes entry `index` the current one; past the last, the search has run out.
  bool standAt(size_t index, FindData& entry);

  std::shared_ptr<const Listing> listing_;
  Place place_ = Place::kSelf;
  size_t index_ = 0;  // of the current entry in listing_->starts
};

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LISTING_H_
