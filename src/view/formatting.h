// How the view spells values: times, sizes, modes, attributes, and names
// that are not valid UTF-8.
#ifndef DIRLOG_VIEW_FORMATTING_H_
#define DIRLOG_VIEW_FORMATTING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace view {

enum class TimeZone { kUtc, kLocal };

// A time in 100 ns units since 1601-01-01 UTC as ISO 8601: date, "T", time,
// seven fractional digits only when they are not all zero, then "Z" for UTC
// or the local offset ("+01:00"). `offsetSeconds` is used for kLocal; pass
// localOffsetAt(ticks) for the system's local time.
std::string isoTime(uint64_t ticks, TimeZone zone, int32_t offsetSeconds = 0);

// The system's local offset from UTC at that moment.
int32_t localOffsetAt(uint64_t ticks);

// A byte count in binary units with one decimal: "512 B", "1.5 KiB",
// "3.0 GiB".
std::string humanSize(uint64_t bytes);

// The same for a signed difference, always with its sign: "+8 B", "-1.5 KiB",
// "0 B".
std::string humanDifference(int64_t bytes);

// A POSIX mode as ls spells it: type letter, then three triplets with the
// set-id and sticky bits ("-rw-r--r--", "drwxr-sr-x", "lrwxrwxrwx").
std::string modeString(uint32_t mode);

// The names of the attribute bits that are set, in alphabetical order, then
// each unknown bit as "0x" and its hex value.
std::vector<std::string> attributeNames(int32_t attributes);

// Whether `text` is valid UTF-8 (no overlong forms, no surrogates, nothing
// beyond U+10FFFF).
bool isValidUtf8(const std::string& text);

// The length of the valid UTF-8 sequence at `at` in `text`, or 0 when none
// starts there.
size_t sequenceLength(std::string_view text, size_t at);

// `text` with each byte that does not belong to a valid UTF-8 sequence
// replaced by U+FFFD.
std::string toValidUtf8(const std::string& text);

// One character of a text that may not be valid UTF-8: a valid sequence
// gives its code point, any other byte b the value kStrayByte + b, which no
// code point has.
struct Utf8Char {
  uint32_t value;
  size_t length;  // in bytes, at least 1
};
constexpr uint32_t kStrayByte = 0x110000;

// The character that starts at byte `at` of `text` (at < text.size()).
Utf8Char utf8CharAt(std::string_view text, size_t at);

// The columns a terminal gives `text`: two for each East Asian wide or
// full-width character, none for a combining mark or a zero-width
// character, one for every other character (and every stray byte).
size_t displayWidth(std::string_view text);

// Standard base64 with padding.
std::string base64(const std::string& bytes);

}  // namespace view

#endif  // DIRLOG_VIEW_FORMATTING_H_
