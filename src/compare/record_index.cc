#include "compare/record_index.h"

#include <cstring>
#include <utility>

namespace {

uint64_t rotateLeft(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

}  // namespace

uint64_t hashText(const char* text, size_t length) {
  constexpr uint64_t kOdd1 = 0x9E3779B97F4A7C15ull;
  constexpr uint64_t kOdd2 = 0xC2B2AE3D27D4EB4Full;
  uint64_t hash = (length + 1) * kOdd1;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    hash = rotateLeft(hash ^ (word * kOdd2), 31) * kOdd1;
  }
  uint64_t rest = 0;
  std::memcpy(&rest, text + i, length - i);
  hash = rotateLeft(hash ^ (rest * kOdd2), 29) * kOdd1;
  // Every input bit must reach the top bits, which pick the bucket.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDull;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53ull;
  hash ^= hash >> 33;
  return hash;
}

void RecordIndex::seal() {
  // The full hashes are needed only until the lines have their slots; the
  // table keeps the low half, and the slot stands for the top.
  std::vector<uint64_t> hashes = std::move(hashes_);
  hashes_ = {};
  unsigned bits = 1;
  while (bits < 40 && (size_t{1} << bits) < 2 * hashes.size()) ++bits;
  shift_ = 64 - bits;
  mask_ = (size_t{1} << bits) - 1;
  slots_.assign(size_t{1} << bits, Slot{0, 0});
  flags_.assign(hashes.size(), 0);
  // Placed in log order, the lines of one path lie in log order along the
  // run of slots that a lookup walks. Lines of one path start at one slot,
  // so the later one passes the earlier one on its way to a free slot: that
  // is where the two are marked as sharing.
  constexpr size_t kAhead = 16;
  for (size_t ordinal = 0; ordinal < hashes.size(); ++ordinal) {
    if (ordinal + kAhead < hashes.size()) prefetch(hashes[ordinal + kAhead]);
    uint64_t hash = hashes[ordinal];
    uint32_t low = static_cast<uint32_t>(hash);
    size_t slot = hash >> shift_;
    for (; slots_[slot].ordinalPlusOne != 0; slot = (slot + 1) & mask_) {
      if (slots_[slot].hashLow != low) continue;
      flags_[ordinal] |= kShared;
      flags_[slots_[slot].ordinalPlusOne - 1] |= kShared;
    }
    slots_[slot] = {low, static_cast<uint32_t>(ordinal + 1)};
  }
}
