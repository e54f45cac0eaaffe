#include "view/formatting.h"

#include <algorithm>
#include <cstdio>

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

size_t sequenceLength(const std::string& text, size_t at) {
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
