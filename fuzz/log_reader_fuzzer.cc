// The log reader on arbitrary bytes, under every combination of text rules,
// block size and repositioning: the pieces must be what a line read of at
// most 998 characters from a text-mode stream gives, each at its offset on
// disk, but for a last piece without its line break, which is held back as
// cut short; any of them must read back the same at its offset later.
//
// Input: one byte of options, one byte that orders the look-ups, then the
// file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compare/log_reader.h"
#include "fuzz_files.h"

namespace {

struct Piece {
  uint64_t offset;
  std::string text;
};

// The pieces of `bytes` read the slow way: a character at a time, as fgets
// on a stream with those rules would.
std::vector<Piece> modelPieces(const std::string& bytes, platform::TextReadRules rules) {
  size_t end = bytes.size();
  if (rules.ctrlZEndsFile) end = std::min(end, bytes.find('\x1A'));
  std::vector<Piece> pieces;
  for (size_t at = 0; at < end;) {
    Piece piece{at, {}};
    while (at < end && piece.text.size() < kMaxPieceLength) {
      if (rules.crLfReadsAsLf && bytes[at] == '\r' && at + 1 < end && bytes[at + 1] == '\n') {
        piece.text += '\n';
        at += 2;
        break;
      }
      char c = bytes[at++];
      piece.text += c;
      if (c == '\n') break;
    }
    pieces.push_back(piece);
  }
  return pieces;
}

void expectPiece(const Piece& expected, const LinePiece& got, const char* how) {
  if (got.offset == expected.offset && got.length == expected.text.size() &&
      std::memcmp(got.text, expected.text.data(), got.length) == 0 && got.text[got.length] == 0) {
    return;
  }
  std::fprintf(stderr, "%s: expected %zu characters at %llu, got %zu at %llu\n", how,
               expected.text.size(), static_cast<unsigned long long>(expected.offset), got.length,
               static_cast<unsigned long long>(got.offset));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t options = data[0];
  uint8_t order = data[1];
  std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  platform::TextReadRules rules{(options & 1) != 0, (options & 2) != 0};
  bool repositions = (options & 4) != 0;
  size_t blockSize = size_t{4096} << ((options >> 3) & 3);  // 4 KiB to 32 KiB

  std::vector<Piece> expected = modelPieces(bytes, rules);
  FILE* stream = openBytes("log", bytes.data(), bytes.size());
  LogReader reader(stream, rules, blockSize, repositions);
  LinePiece piece;
  bool cut = !expected.empty() && expected.back().text.back() != '\n';
  for (size_t i = 0; i + (cut ? 1 : 0) < expected.size(); ++i) {
    const Piece& want = expected[i];
    if (!reader.next(piece)) {
      std::fprintf(stderr, "the data ended before the piece at %llu\n",
                   static_cast<unsigned long long>(want.offset));
      std::abort();
    }
    expectPiece(want, piece, "next()");
  }
  if (reader.next(piece) || reader.next(piece)) {
    std::fprintf(stderr, "a piece after the end of the data, at %llu\n",
                 static_cast<unsigned long long>(piece.offset));
    std::abort();
  }
  if (cut != (reader.cutLine() != nullptr)) {
    std::fprintf(stderr,
                 cut ? "the cut last piece was not held back\n" : "a whole end held back\n");
    std::abort();
  }
  if (cut) expectPiece(expected.back(), *reader.cutLine(), "cutLine()");

  if (repositions) {
    // Look-ups in an order of the input's choosing, as the comparison's
    // search makes them: forward runs, steps back, repeats.
    std::vector<size_t> lookups(expected.size());
    for (size_t i = 0; i < lookups.size(); ++i) lookups[i] = i;
    std::minstd_rand random(order);
    if (order & 1) std::shuffle(lookups.begin(), lookups.end(), random);
    for (size_t i : lookups) {
      if (!reader.readAt(expected[i].offset, piece)) {
        std::fprintf(stderr, "readAt(%llu) found nothing\n",
                     static_cast<unsigned long long>(expected[i].offset));
        std::abort();
      }
      expectPiece(expected[i], piece, "readAt()");
    }
    uint64_t past = bytes.size() + 1 + order;
    if (reader.readAt(past, piece)) {
      std::fprintf(stderr, "readAt(%llu), past the end, found a piece\n",
                   static_cast<unsigned long long>(past));
      std::abort();
    }
  }
  std::fclose(stream);
  return 0;
}
