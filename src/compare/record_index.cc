#include "compare/record_index.h"

#include <cstring>

#include "compare/record_parser.h"

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

void RecordIndex::build(LogReader& reader) {
  // The hashes are needed in full only until the lines are put in their
  // buckets; the entries keep the low half, the bucket stands for the top.
  std::vector<uint64_t> hashes;
  EntryRecord record;
  LinePiece piece;
  while (reader.next(piece)) {
    if (piece.text[0] != '-') continue;
    parseRecordLine(piece.text, record);
    hashes.push_back(hashText(record.path, std::strlen(record.path)));
    offsets_.push_back(piece.offset);
  }

  // About one line per bucket, so a lookup looks at a line or two.
  unsigned bits = 1;
  while (bits < 32 && (size_t{1} << bits) < hashes.size()) ++bits;
  shift_ = 64 - bits;
  size_t buckets = size_t{1} << bits;
  bucketStarts_.assign(buckets + 1, 0);
  for (uint64_t hash : hashes) ++bucketStarts_[(hash >> shift_) + 1];
  for (size_t b = 0; b < buckets; ++b) bucketStarts_[b + 1] += bucketStarts_[b];
  // Placing the lines in log order keeps each bucket in log order.
  entries_.resize(hashes.size());
  std::vector<uint32_t> next(bucketStarts_.begin(), bucketStarts_.end() - 1);
  for (size_t ordinal = 0; ordinal < hashes.size(); ++ordinal) {
    uint64_t hash = hashes[ordinal];
    entries_[next[hash >> shift_]++] = {static_cast<uint32_t>(hash),
                                        static_cast<uint32_t>(ordinal)};
  }
  matched_.assign(hashes.size(), false);
}
