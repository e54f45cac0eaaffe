// Where the record lines of a snapshot log stand, found by the path each one
// parses to: the index that lets a comparison look an entry up in the other
// log instead of reading that log whole for every entry.
#ifndef DIRLOG_COMPARE_RECORD_INDEX_H_
#define DIRLOG_COMPARE_RECORD_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "compare/log_reader.h"

// A 64-bit hash of `length` bytes of `text`; equal texts hash equal.
uint64_t hashText(const char* text, size_t length);

class RecordIndex {
 public:
  // Reads `reader` from its current piece to the end of its data and indexes
  // every record line (a piece whose first character is "-"), numbering them
  // from 0 in log order. Holds up to 2^32 - 1 lines, some 20 bytes each.
  void build(LogReader& reader);

  // How many record lines the log holds.
  uint32_t size() const { return static_cast<uint32_t>(offsets_.size()); }

  // The file offset of record line `ordinal`.
  uint64_t offset(uint32_t ordinal) const { return offsets_[ordinal]; }

  // Calls visit(ordinal) for every record line whose path may hash to
  // `pathHash`, in log order. Every line whose path does hash to it is among
  // them; others may be too, so a caller must check each one's path.
  template <typename Visit>
  void forEachCandidate(uint64_t pathHash, Visit visit) const {
    size_t bucket = static_cast<size_t>(pathHash >> shift_);
    uint32_t low = static_cast<uint32_t>(pathHash);
    for (uint32_t i = bucketStarts_[bucket]; i < bucketStarts_[bucket + 1]; ++i) {
      if (entries_[i].hashLow == low) visit(entries_[i].ordinal);
    }
  }

  // Marks that a line of the other log has the same path as record line
  // `ordinal`.
  void markMatched(uint32_t ordinal) { matched_[ordinal] = true; }
  bool matched(uint32_t ordinal) const { return matched_[ordinal]; }

 private:
  struct Entry {
    uint32_t hashLow;
    uint32_t ordinal;
  };

  std::vector<uint64_t> offsets_;
  std::vector<Entry> entries_;  // grouped by bucket, in log order in each
  std::vector<uint32_t> bucketStarts_;
  unsigned shift_ = 63;
  std::vector<bool> matched_;
};

#endif  // DIRLOG_COMPARE_RECORD_INDEX_H_
