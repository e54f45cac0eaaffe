#include "compare/record_parser.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Room of the one field buffer of the line format: a field's text is never
// taken longer than this, whatever record field it goes into.
constexpr size_t kFieldTextLimit = 255;
constexpr int kFieldCount = 15;
// The commas that bound the short name and the eleven numbers, counted from
// the end of a line whose path or name holds a comma.
constexpr int kTailCommas = 12;
constexpr int kNumberCount = 11;

struct Text {
  const char* begin;
  size_t length;
};

// Where the commas of one line stand. Only the first fifteen and the last
// twelve are kept: reading field by field needs no more, and the recovery of
// a comma in a name works from the end of the line.
struct CommaMap {
  const char* line;
  size_t length;
  size_t count;
  size_t first[kFieldCount];
  size_t last[kTailCommas];  // comma i (from 0) at last[i % kTailCommas]

  size_t at(size_t i) const { return i < kFieldCount ? first[i] : last[i % kTailCommas]; }
};

// The line's end, then every comma: sixteen bytes at a time where the
// processor compares that many at once.
void mapCommas(const char* line, CommaMap& map) {
  map.line = line;
  map.length = std::strlen(line);
  map.count = 0;
  auto add = [&map](size_t at) {
    if (map.count < kFieldCount) map.first[map.count] = at;
    map.last[map.count % kTailCommas] = at;
    ++map.count;
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i commas = _mm_set1_epi8(',');
  for (; i + 16 <= map.length; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
         mask != 0; mask &= mask - 1) {
      add(i + static_cast<size_t>(std::countr_zero(mask)));
    }
  }
#endif
  for (; i < map.length; ++i) {
    if (line[i] == ',') add(i);
  }
}

Text cut(Text text) {
  if (text.length > kFieldTextLimit) text.length = kFieldTextLimit;
  return text;
}

// The text of field k (from 1): the field less its last character. A field
// ended by comma k-1 (from 0) loses that comma; the last field of the line
// loses whatever it ends in.
Text fieldText(const CommaMap& map, size_t k) {
  size_t start = 0;
  if (k > 1) {
    if (k - 1 > map.count) return {map.line, 0};
    start = map.at(k - 2) + 1;
  }
  if (k <= map.count) return cut({map.line + start, map.at(k - 1) - start});
  if (start >= map.length) return {map.line, 0};
  return cut({map.line + start, map.length - 1 - start});
}

void copyText(char* to, size_t capacity, Text text) {
  size_t length = text.length < capacity - 1 ? text.length : capacity - 1;
  std::memcpy(to, text.begin, length);
  to[length] = '\0';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The magnitude is held at 2^32 once it gets there: every value from there
// on lies outside both ranges and clamps to the same end.
constexpr uint64_t kMagnitudeCap = uint64_t{1} << 32;

uint64_t readMagnitude(Text text, bool& negative) {
  size_t i = 0;
  while (i < text.length && isSpace(text.begin[i])) ++i;
  negative = false;
  if (i < text.length && (text.begin[i] == '+' || text.begin[i] == '-')) {
    negative = text.begin[i] == '-';
    ++i;
  }
  uint64_t value = 0;
  for (; i < text.length && isDigit(text.begin[i]); ++i) {
    value = value * 10 + static_cast<uint64_t>(text.begin[i] - '0');
    if (value > kMagnitudeCap) value = kMagnitudeCap;
  }
  return value;
}

int32_t readSigned(Text text) {
  bool negative;
  uint64_t magnitude = readMagnitude(text, negative);
  if (negative) {
    if (magnitude >= uint64_t{1} << 31) return INT32_MIN;
    return -static_cast<int32_t>(magnitude);
  }
  if (magnitude > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(magnitude);
}

uint32_t readUnsigned(Text text) {
  bool negative;
  uint64_t magnitude = readMagnitude(text, negative);
  if (negative) return 0;
  if (magnitude > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(magnitude);
}

// `texts` holds fields 2 to 15 in order.
void storeFields(const Text (&texts)[kFieldCount - 1], EntryRecord& record) {
  copyText(record.path, sizeof record.path, texts[0]);
  copyText(record.name, sizeof record.name, texts[1]);
  copyText(record.shortName, sizeof record.shortName, texts[2]);
  record.attributes = readSigned(texts[3]);
  record.sizeHigh = readUnsigned(texts[4]);
  record.sizeLow = readUnsigned(texts[5]);
  record.reserved0 = readUnsigned(texts[6]);
  record.reserved1 = readUnsigned(texts[7]);
  // The line holds each time high word first.
  record.creationHigh = readUnsigned(texts[8]);
  record.creationLow = readUnsigned(texts[9]);
  record.lastAccessHigh = readUnsigned(texts[10]);
  record.lastAccessLow = readUnsigned(texts[11]);
  record.lastWriteHigh = readUnsigned(texts[12]);
  record.lastWriteLow = readUnsigned(texts[13]);
}

bool allDigits(const char* from, size_t length) {
  if (length == 0) return false;
  for (size_t i = 0; i < length; ++i) {
    if (!isDigit(from[i])) return false;
  }
  return true;
}

// The raw characters between comma `before` and comma `after` (indexes from
// 0), or from comma `before` to the end of the line when `after` is the count.
Text between(const CommaMap& map, size_t before, size_t after) {
  size_t start = map.at(before) + 1;
  size_t end = after < map.count ? map.at(after) : map.length;
  return {map.line + start, end - start};
}

// Whether the last eleven fields of a line with a comma in its path or name
// are numbers exactly as the writer writes them.
bool tailIsWritersNumbers(const CommaMap& map) {
  size_t firstNumber = map.count - kNumberCount;  // the comma in front of the attributes
  for (size_t comma = firstNumber; comma + 1 < map.count; ++comma) {
    Text field = between(map, comma, comma + 1);
    if (comma == firstNumber && field.length > 0 && field.begin[0] == '-') {
      ++field.begin;
      --field.length;
    }
    if (!allDigits(field.begin, field.length)) return false;
  }
  Text last = between(map, map.count - 1, map.count);
  if (last.length > 0 && last.begin[last.length - 1] == '\n') {
    --last.length;
    // A log copied from a system with CR LF line ends keeps its CR here.
    if (last.length > 0 && last.begin[last.length - 1] == '\r') --last.length;
  }
  return allDigits(last.begin, last.length);
}

// How many commas between `start` and `end` split the text there so that
// the text before the comma ends with `sep` followed by the text after it;
// `split` is the last of them.
int countSplits(const char* start, const char* end, char sep, const char*& split) {
  int splits = 0;
  for (const char* comma = start; (comma = static_cast<const char*>(
                                       std::memchr(comma, ',', static_cast<size_t>(end - comma))));
       ++comma) {
    size_t nameLength = static_cast<size_t>(end - comma - 1);
    size_t pathLength = static_cast<size_t>(comma - start);
    if (pathLength < nameLength + 1) continue;
    if (comma[-static_cast<ptrdiff_t>(nameLength) - 1] != sep) continue;
    if (std::memcmp(comma - nameLength, comma + 1, nameLength) != 0) continue;
    split = comma;
    ++splits;
  }
  return splits;
}

// The texts of fields 2 to 15 of a line of more than fifteen fields as the
// writer wrote it, when its shape leaves one way to read it so. Returns false
// to have it read field by field.
bool recoveredTexts(const CommaMap& map, Text (&texts)[kFieldCount - 1]) {
  if (map.count < kFieldCount || !tailIsWritersNumbers(map)) return false;
  // Path and name, as written: from behind the tag to the comma in front of
  // the short name.
  size_t shortNameComma = map.count - kTailCommas;
  const char* start = map.line + map.at(0) + 1;
  const char* end = map.line + map.at(shortNameComma);
  // The log's own separator: a POSIX path holds "/" in front of its name,
  // a Windows name stands behind a backslash and never holds "/".
  const char* split = nullptr;
  int splits = 0;
  for (char sep : {'/', '\\'}) {
    splits = countSplits(start, end, sep, split);
    if (splits != 0) break;
  }
  if (splits != 1) return false;

  texts[0] = cut({start, static_cast<size_t>(split - start)});
  texts[1] = cut({split + 1, static_cast<size_t>(end - split - 1)});
  // Short name and numbers keep the reading rule of every field: the text is
  // the field less its last character.
  for (size_t i = 2; i < kFieldCount - 1; ++i) {
    size_t k = map.count - kFieldCount + 3 + i;  // field number counted on the whole line
    texts[i] = fieldText(map, k);
  }
  return true;
}

void lineTexts(const char* line, Text (&texts)[kFieldCount - 1]) {
  CommaMap map;
  mapCommas(line, map);
  if (map.count >= kFieldCount && recoveredTexts(map, texts)) return;
  for (size_t k = 2; k <= kFieldCount; ++k) texts[k - 2] = fieldText(map, k);
}

// Eight bytes at a time: a byte of the word that equals a comma becomes a
// zero byte, and those are counted without carries crossing bytes.
size_t countCommas(const char* text, size_t length) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kLow7 = kOnes * 0x7F;
  constexpr uint64_t kHigh = kOnes * 0x80;
  constexpr uint64_t kCommas = kOnes * ',';
  auto zeroBytes = [](uint64_t word) {
    uint64_t nonZero = ((word & kLow7) + kLow7) | word;
    // One bit per comma at the bottom of its byte; the product adds the
    // bytes up into the top one.
    return static_cast<size_t>((((~nonZero & kHigh) >> 7) * kOnes) >> 56);
  };
  size_t count = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    count += zeroBytes(word ^ kCommas);
  }
  uint64_t rest = 0;  // zero bytes: never commas
  std::memcpy(&rest, text + i, length - i);
  return count + zeroBytes(rest ^ kCommas);
}

}  // namespace

void parseRecordLine(const char* line, EntryRecord& record) {
  Text texts[kFieldCount - 1];
  lineTexts(line, texts);
  storeFields(texts, record);
}

size_t parseRecordPath(const char* line, char* path) {
  // Most lines hold fewer than fifteen fields' worth of commas; for them the
  // path is simply field 2, and counting commas is cheaper than placing them.
  size_t length = std::strlen(line);
  size_t commas = countCommas(line, length);
  Text text{line, 0};
  if (commas >= kFieldCount) {
    CommaMap map;
    mapCommas(line, map);
    Text texts[kFieldCount - 1];
    text = recoveredTexts(map, texts) ? texts[0] : fieldText(map, 2);
  } else if (commas > 0) {
    const char* start = static_cast<const char*>(std::memchr(line, ',', length)) + 1;
    const char* end =
        commas > 1 ? static_cast<const char*>(std::memchr(start, ',', length - (start - line)))
                   : line + length - 1;
    if (end > start) text = cut({start, static_cast<size_t>(end - start)});
  }
  copyText(path, kMaxPathLength + 1, text);
  return text.length < kMaxPathLength ? text.length : kMaxPathLength;
}

namespace {

// What findRecordPath() needs to know of a line: how many commas it holds,
// where the first two stand, whether it holds a zero byte.
struct LineShape {
  size_t commas = 0;
  size_t first = 0;
  size_t second = 0;
  bool zero = false;

  void addComma(size_t at) {
    if (commas == 0) first = at;
    if (commas == 1) second = at;
    ++commas;
  }
};

void shapeByBytes(const char* line, size_t from, size_t length, LineShape& shape) {
  for (size_t i = from; i < length; ++i) {
    if (line[i] == ',') shape.addComma(i);
    if (line[i] == '\0') shape.zero = true;
  }
}

// Sixteen bytes at a time where the processor compares that many at once:
// the first two commas are placed one by one, the rest only counted, byte
// lane by byte lane (a piece has fewer than 255 blocks, so no lane
// overflows).
void shapeOf(const char* line, size_t length, LineShape& shape) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i commas = _mm_set1_epi8(',');
  const __m128i zeros = _mm_setzero_si128();
  __m128i counts = _mm_setzero_si128();
  __m128i zeroSeen = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
    __m128i isComma = _mm_cmpeq_epi8(bytes, commas);
    zeroSeen = _mm_or_si128(zeroSeen, _mm_cmpeq_epi8(bytes, zeros));
    if (shape.commas < 2) {
      for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(isComma));
           mask != 0 && shape.commas < 2; mask &= mask - 1) {
        shape.addComma(i + static_cast<size_t>(std::countr_zero(mask)));
      }
      // The commas placed are counted already; the rest of the block's go
      // to the lanes.
      if (shape.commas == 2) {
        unsigned placedTo = static_cast<unsigned>(shape.second - i);
        __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        __m128i after = _mm_cmpgt_epi8(lane, _mm_set1_epi8(static_cast<char>(placedTo)));
        counts = _mm_sub_epi8(counts, _mm_and_si128(isComma, after));
      }
      continue;
    }
    counts = _mm_sub_epi8(counts, isComma);
  }
  // The last few bytes: the sixteen that end the line, less those seen. The
  // lanes count only commas behind the first two, so these come in their
  // order whatever the lanes hold.
  if (i < length && length >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + length - 16));
    zeroSeen = _mm_or_si128(zeroSeen, _mm_cmpeq_epi8(bytes, zeros));
    unsigned unseen = (0xFFFFu << (16 - (length - i))) & 0xFFFFu;
    for (unsigned mask =
             static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas))) & unseen;
         mask != 0; mask &= mask - 1) {
      shape.addComma(length - 16 + static_cast<size_t>(std::countr_zero(mask)));
    }
    i = length;
  }
  // Adds the sixteen lanes up in two halves.
  __m128i sums = _mm_sad_epu8(counts, zeros);
  shape.commas += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
                  static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  if (_mm_movemask_epi8(zeroSeen) != 0) shape.zero = true;
#endif
  shapeByBytes(line, i, length, shape);
}

}  // namespace

bool findRecordPath(const char* line, size_t length, const char*& path, size_t& pathLength) {
  LineShape shape;
  shapeOf(line, length, shape);
  if (shape.zero || shape.commas >= kFieldCount) return false;
  // As parseRecordPath reads it: field 2, whose text is cut to its first 255
  // characters; with one comma the field runs to the line's last character,
  // which it drops.
  path = line;
  pathLength = 0;
  if (shape.commas == 0) return true;
  size_t start = shape.first + 1;
  size_t end = shape.commas > 1 ? shape.second : length - 1;
  if (end <= start) return true;
  path = line + start;
  pathLength = std::min(end - start, std::min(kFieldTextLimit, size_t{kMaxPathLength}));
  return true;
}
