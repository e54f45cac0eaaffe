#include "view/formatting.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace view {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (the well-known
// era-based conversion, exact for every 64-bit day count we meet).
CivilDate civilFromDays(int64_t days) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  unsigned day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  unsigned month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  return {yearOfEra + era * 400 + (month <= 2), month, day};
}

// In whole numbers, rounding to the nearest tenth and a tie to the even
// one, as printf("%.1f") rounds the quotient.
std::string oneDecimal(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  int unit = 0;
  while (unit < 6 && (bytes >> (10 * (unit + 1))) != 0) ++unit;
  int shift = 10 * unit;
  uint64_t whole = bytes >> shift;
  uint64_t rest = bytes & ((uint64_t{1} << shift) - 1);
  uint64_t scaled = rest * 10;  // below 10 * 2^60: fits
  uint64_t tenths = scaled >> shift;
  uint64_t left = scaled & ((uint64_t{1} << shift) - 1);
  uint64_t half = uint64_t{1} << (shift - 1);
  if (left > half || (left == half && (tenths & 1) != 0)) ++tenths;
  if (tenths == 10) {
    ++whole;
    tenths = 0;
  }
  return std::to_string(whole) + "." + static_cast<char>('0' + tenths) + " " + kUnits[unit];
}

}  // namespace

size_t sequenceLength(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

std::string isoTime(uint64_t ticks, TimeZone zone, int32_t offsetSeconds) {
  int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  uint32_t fraction = static_cast<uint32_t>(ticks % kTicksPerSecond);
  if (zone == TimeZone::kLocal) seconds += offsetSeconds;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t secondOfDay = seconds - days * 86400;
  CivilDate date = civilFromDays(days);
  // Written digit by digit: a view may hold hundreds of thousands of times.
  char text[48];
  char* at = text;
  auto digits = [&](uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      at[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    at += count;
  };
  // Years from 1601 to 58 000 or so: four digits, five past 9999.
  digits(static_cast<uint64_t>(date.year), date.year > 9999 ? 5 : 4);
  *at++ = '-';
  digits(date.month, 2);
  *at++ = '-';
  digits(date.day, 2);
  *at++ = 'T';
  digits(static_cast<uint64_t>(secondOfDay / 3600), 2);
  *at++ = ':';
  digits(static_cast<uint64_t>(secondOfDay / 60 % 60), 2);
  *at++ = ':';
  digits(static_cast<uint64_t>(secondOfDay % 60), 2);
  if (fraction != 0) {
    *at++ = '.';
    digits(fraction, 7);
  }
  if (zone == TimeZone::kUtc) {
    *at++ = 'Z';
  } else {
    int32_t offset = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
    *at++ = offsetSeconds < 0 ? '-' : '+';
    digits(static_cast<uint64_t>(offset / 3600), 2);
    *at++ = ':';
    digits(static_cast<uint64_t>(offset / 60 % 60), 2);
  }
  return std::string(text, static_cast<size_t>(at - text));
}

int32_t localOffsetAt(uint64_t ticks) {
  int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  return platform::localUtcOffset(seconds);
}

std::string humanSize(uint64_t bytes) { return oneDecimal(bytes); }

std::string humanDifference(int64_t bytes) {
  if (bytes == 0) return "0 B";
  uint64_t magnitude = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  return (bytes < 0 ? "-" : "+") + oneDecimal(magnitude);
}

std::string modeString(uint32_t mode) {
  char type;
  switch (mode & 0170000) {
    case 0140000:
      type = 's';
      break;
    case 0120000:
      type = 'l';
      break;
    case 0100000:
      type = '-';
      break;
    case 0060000:
      type = 'b';
      break;
    case 0040000:
      type = 'd';
      break;
    case 0020000:
      type = 'c';
      break;
    case 0010000:
      type = 'p';
      break;
    default:
      type = '?';
  }
  std::string text(1, type);
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400u >> i)) != 0 ? letters[i] : '-';
  // A set-id or sticky bit shows in the execute place: lower case when
  // execute is set too, upper case when not.
  auto special = [&](uint32_t bit, size_t place, char letter) {
    if ((mode & bit) == 0) return;
    bool execute = text[place] != '-';
    text[place] = execute ? letter : static_cast<char>(letter - 'a' + 'A');
  };
  special(04000, 3, 's');
  special(02000, 6, 's');
  special(01000, 9, 't');
  return text;
}

std::vector<std::string> attributeNames(int32_t attributes) {
  static const std::pair<uint32_t, const char*> kNames[] = {
      {0x1, "read-only"},      {0x2, "hidden"},      {0x4, "system"},       {0x10, "directory"},
      {0x20, "archive"},       {0x40, "device"},     {0x80, "normal"},      {0x100, "temporary"},
      {0x200, "sparse"},       {0x400, "link"},      {0x800, "compressed"}, {0x1000, "offline"},
      {0x2000, "not-indexed"}, {0x4000, "encrypted"}};
  uint32_t bits = static_cast<uint32_t>(attributes);
  std::vector<std::string> names;
  for (const auto& [bit, name] : kNames) {
    if ((bits & bit) != 0) names.push_back(name);
    bits &= ~bit;
  }
  std::sort(names.begin(), names.end());
  for (int i = 0; i < 32; ++i) {
    uint32_t bit = uint32_t{1} << i;
    if ((bits & bit) == 0) continue;
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(bit));
    names.push_back(text);
  }
  return names;
}

bool isValidUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    size_t length = sequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string toValidUtf8(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t length = sequenceLength(text, at);
    if (length == 0) {
      result += "\xEF\xBF\xBD";
      ++at;
    } else {
      result.append(text, at, length);
      at += length;
    }
  }
  return result;
}

Utf8Char utf8CharAt(std::string_view text, size_t at) {
  size_t length = sequenceLength(text, at);
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(text[i])); };
  if (length == 0) return {kStrayByte + byte(at), 1};
  if (length == 1) return {byte(at), 1};
  static const uint32_t kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
  uint32_t value = byte(at) & kLeadMask[length];
  for (size_t i = 1; i < length; ++i) value = (value << 6) | (byte(at + i) & 0x3F);
  return {value, length};
}

namespace {

struct CodeRange {
  uint32_t low;
  uint32_t high;
};

// East Asian Wide and Fullwidth characters, and the emoji shown two wide.
constexpr CodeRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Combining marks, joiners and other characters that take no column.
constexpr CodeRange kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},   {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0x302A, 0x302F},   {0x3099, 0x309A}, {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

template <size_t N>
bool inRanges(const CodeRange (&ranges)[N], uint32_t value) {
  auto after = std::upper_bound(ranges, ranges + N, value,
                                [](uint32_t v, const CodeRange& range) { return v < range.low; });
  return after != ranges && value <= (after - 1)->high;
}

// Whether the eight bytes from `at` on are there and all ASCII.
bool eightAsciiAt(std::string_view text, size_t at) {
  if (text.size() - at < 8) return false;
  uint64_t word;
  std::memcpy(&word, text.data() + at, 8);
  return (word & 0x8080808080808080ull) == 0;
}

}  // namespace

size_t displayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t at = 0; at < text.size();) {
    // Most names are ASCII: a byte, a column, eight looked at together.
    if (eightAsciiAt(text, at)) {
      width += 8;
      at += 8;
      continue;
    }
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++width;
      ++at;
      continue;
    }
    Utf8Char c = utf8CharAt(text, at);
    at += c.length;
    if (c.value < 0x300) {
      ++width;
    } else if (inRanges(kWide, c.value)) {
      width += 2;
    } else if (!inRanges(kZeroWidth, c.value)) {
      ++width;
    }
  }
  return width;
}

std::string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    size_t count = std::min<size_t>(3, bytes.size() - i);
    if (count > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (count > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text += kDigits[(group >> 18) & 63];
    text += kDigits[(group >> 12) & 63];
    text += count > 1 ? kDigits[(group >> 6) & 63] : '=';
    text += count > 2 ? kDigits[group & 63] : '=';
  }
  return text;
}

}  // namespace view
