// Where the record lines of a snapshot log stand, found by the path each one
// parses to: the index that lets a comparison look an entry up in the other
// log instead of reading that log whole for every entry.
#ifndef DIRLOG_COMPARE_RECORD_INDEX_H_
#define DIRLOG_COMPARE_RECORD_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// A 64-bit hash of `length` bytes of `text`; equal texts hash equal.
uint64_t hashText(const char* text, size_t length);

class RecordIndex {
 public:
  // Adds the record line at file offset `offset` whose path hashes to
  // `pathHash` (hashText()), numbering the lines from 0 in the order they are
  // added, which is log order. Holds up to 2^32 - 2 lines, some 26 bytes
  // each, and 8 more while it is built.
  void add(uint64_t offset, uint64_t pathHash) {
    offsets_.push_back(offset);
    hashes_.push_back(pathHash);
  }

  // Makes the lines added ready to be looked up; call once, after the last
  // add().
  void seal();

  // How many record lines the log holds.
  uint32_t size() const { return static_cast<uint32_t>(offsets_.size()); }

  // The file offset of record line `ordinal`.
  uint64_t offset(uint32_t ordinal) const { return offsets_[ordinal]; }

  // Calls visit(ordinal) for every record line whose path may hash to
  // `pathHash`. Every line whose path does hash to it is among them, in log
  // order; others may be too, so a caller must check each one's path.
  template <typename Visit>
  void forEachCandidate(uint64_t pathHash, Visit visit) const {
    uint32_t low = static_cast<uint32_t>(pathHash);
    for (size_t slot = pathHash >> shift_;; slot = (slot + 1) & mask_) {
      const Slot& entry = slots_[slot];
      if (entry.ordinalPlusOne == 0) return;
      if (entry.hashLow == low) visit(entry.ordinalPlusOne - 1);
    }
  }

  // Asks the memory system for the slots where a lookup of `pathHash`
  // starts, so that a later lookup finds them at hand.
  void prefetch(uint64_t pathHash) const {
#if defined(__GNUC__)
    __builtin_prefetch(&slots_[pathHash >> shift_]);
#else
    (void)pathHash;
#endif
  }

  // Marks that a line of the other log has the same path as record line
  // `ordinal`.
  void markMatched(uint32_t ordinal) { flags_[ordinal] |= kMatched; }
  bool matched(uint32_t ordinal) const { return (flags_[ordinal] & kMatched) != 0; }

  // True when no other record line has the path of line `ordinal`: a line
  // with the same path as that one is then that one alone. (False says
  // nothing: two paths may share part of their hash.)
  bool alone(uint32_t ordinal) const { return (flags_[ordinal] & kShared) == 0; }

  // alone() and not matched(), in one look.
  bool aloneAndFree(uint32_t ordinal) const { return flags_[ordinal] == 0; }

 private:
  // An open-addressed table, at most half full: a lookup starts at the
  // slot that the top bits of the hash name and goes on to the first empty
  // slot. The low bits are kept to pass over most lines of other paths
  // without reading them.
  struct Slot {
    uint32_t hashLow;
    uint32_t ordinalPlusOne;  // 0 for an empty slot
  };

  std::vector<uint64_t> offsets_;
  std::vector<uint64_t> hashes_;  // until seal()
  std::vector<Slot> slots_;
  unsigned shift_ = 63;
  size_t mask_ = 1;
  static constexpr uint8_t kMatched = 1;
  static constexpr uint8_t kShared = 2;
  std::vector<uint8_t> flags_;
};

#endif  // DIRLOG_COMPARE_RECORD_INDEX_H_
