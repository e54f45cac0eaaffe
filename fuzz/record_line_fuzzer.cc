// The record line parser on arbitrary lines: it must never read or write out
// of bounds, the path-only reading must agree with the full one, and both
// must give what the field-by-field reading of literal_comparison.h gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compare/record_parser.h"
#include "literal_comparison.h"

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& line) {
  std::fprintf(stderr, "%s\nline (%zu bytes): %s\n", what.c_str(), line.size(), line.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A line reaches the parser as a C string: whatever follows a zero byte is
  // not part of it.
  std::string line(reinterpret_cast<const char*>(data), size);
  line.resize(std::strlen(line.c_str()));

  EntryRecord fast;
  std::memset(&fast, 0x5A, sizeof fast);  // every field must be set anew
  parseRecordLine(line.c_str(), fast);
  if (std::strlen(fast.path) > kMaxPathLength || std::strlen(fast.name) > kMaxNameLength ||
      std::strlen(fast.shortName) > kMaxShortNameLength) {
    fail("a text runs past its field", line);
  }

  EntryRecord literal;
  std::memset(&literal, 0, sizeof literal);
  literalParseRecordLine(line.c_str(), literal);
  if (!sameRecord(fast, literal)) {
    fail("parseRecordLine " + describeRecord(fast) + "\nliteral reading " + describeRecord(literal),
         line);
  }

  char path[kMaxPathLength + 1];
  size_t length = parseRecordPath(line.c_str(), path);
  if (std::strcmp(path, fast.path) != 0 || length != std::strlen(fast.path)) {
    fail("parseRecordPath [" + std::string(path) + "] length " + std::to_string(length) +
             ", parseRecordLine [" + fast.path + "]",
         line);
  }
  return 0;
}
