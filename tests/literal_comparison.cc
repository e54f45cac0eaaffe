#include "literal_comparison.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/errors.h"
#include "platform/directory_search.h"

namespace {

void copyCut(char* to, size_t capacity, const char* from) {
  std::strncpy(to, from, capacity - 1);
  to[capacity - 1] = '\0';
}

int32_t signedField(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

uint32_t unsignedField(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value < 0) return 0;
  if (value > static_cast<long long>(UINT32_MAX)) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

// Field k's text into its place in the record.
void storeField(int k, const char* text, EntryRecord& record) {
  switch (k) {
    case 2:
      copyCut(record.path, sizeof record.path, text);
      break;
    case 3:
      copyCut(record.name, sizeof record.name, text);
      break;
    case 4:
      copyCut(record.shortName, sizeof record.shortName, text);
      break;
    case 5:
      record.attributes = signedField(text);
      break;
    case 6:
      record.sizeHigh = unsignedField(text);
      break;
    case 7:
      record.sizeLow = unsignedField(text);
      break;
    case 8:
      record.reserved0 = unsignedField(text);
      break;
    case 9:
      record.reserved1 = unsignedField(text);
      break;
    case 10:
      record.creationHigh = unsignedField(text);
      break;
    case 11:
      record.creationLow = unsignedField(text);
      break;
    case 12:
      record.lastAccessHigh = unsignedField(text);
      break;
    case 13:
      record.lastAccessLow = unsignedField(text);
      break;
    case 14:
      record.lastWriteHigh = unsignedField(text);
      break;
    case 15:
      record.lastWriteLow = unsignedField(text);
      break;
    default:
      break;
  }
}

bool digitsOnly(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The line cut at every comma; the commas themselves are dropped, the last
// piece keeps whatever ends the line.
std::vector<std::string> allFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// A field text as the field buffer holds it.
std::string buffered(std::string text) {
  if (text.size() > 255) text.resize(255);
  return text;
}

bool recoverLiterally(const char* line, EntryRecord& record) {
  std::vector<std::string> fields = allFields(line);
  size_t n = fields.size();
  if (n <= 15) return false;
  for (size_t i = n - 11; i + 1 < n; ++i) {
    std::string number = fields[i];
    if (i == n - 11 && !number.empty() && number[0] == '-') number.erase(0, 1);
    if (!digitsOnly(number)) return false;
  }
  std::string last = fields[n - 1];
  if (last.size() >= 2 && last.compare(last.size() - 2, 2, "\r\n") == 0) {
    last.resize(last.size() - 2);
  } else if (!last.empty() && last.back() == '\n') {
    last.pop_back();
  }
  if (!digitsOnly(last)) return false;

  std::string middle = fields[1];
  for (size_t i = 2; i < n - 12; ++i) middle += "," + fields[i];
  int splits = 0;
  std::string path;
  std::string name;
  for (const char* separator : {"/", "\\"}) {
    for (size_t comma = middle.find(','); comma != std::string::npos;
         comma = middle.find(',', comma + 1)) {
      std::string before = middle.substr(0, comma);
      std::string after = middle.substr(comma + 1);
      std::string ending = separator + after;
      if (before.size() >= ending.size() &&
          before.compare(before.size() - ending.size(), ending.size(), ending) == 0) {
        ++splits;
        path = before;
        name = after;
      }
    }
    if (splits != 0) break;
  }
  if (splits != 1) return false;

  storeField(2, buffered(path).c_str(), record);
  storeField(3, buffered(name).c_str(), record);
  for (int k = 4; k <= 15; ++k) {
    std::string text = fields[n - 16 + k];
    if (k == 15 && !text.empty()) text.pop_back();
    storeField(k, buffered(text).c_str(), record);
  }
  return true;
}

void writeLiteralReportLine(FILE* report, const char* label, const EntryRecord& r) {
  if (r.attributes & 0x10) {
    std::fprintf(report,
                 "%s,-DIRECTORY, PATH-%s, NAME-%s, MSDOS-%s, ATTRIB-%u, FILE_SIZE_HIGH-%u, "
                 "FILE_SIZE_LOW-%u, RESERVED0-%u, RESERVED1-%u, CREATION_TIME_HIGH-%u, "
                 "CREATION_TIME_LOW-%u, LAST_ACCESS_TIME_HIGH%u, LAST_ACCESS_TIME_LOW-%u, "
                 "LAST_WRITE_TIME_HIGH-%u, LAST_WRITE_TIME_LOW-%u\n",
                 label, r.path, r.name, r.shortName, static_cast<unsigned>(r.attributes),
                 r.sizeHigh, r.sizeLow, r.reserved0, r.reserved1, r.creationHigh, r.creationLow,
                 r.lastAccessHigh, r.lastAccessLow, r.lastWriteHigh, r.lastWriteLow);
  } else {
    std::fprintf(report,
                 "%s,---FILE---, PATH-%s, NAME-%s, MSDOS-%s, ATTRIB-%u, FILE_SIZE_HIGH-%u, "
                 "FILE_SIZE_LOW-%u, RESERVED0-%u, RESERVED1-%u, CREATION_TIME_HIGH-%u, "
                 "CREATION_TIME_LOW-%u, LAST_ACCESS_TIME_HIGH%u, LAST_ACCESS_TIME_LOW-%u, "
                 "LAST_WRITE_TIME_HIGH-%u, LAST_WRITE_TIME_LOW-%u\n",
                 label, r.path, r.name, r.shortName, static_cast<unsigned>(r.attributes),
                 r.sizeHigh, r.sizeLow, r.reserved0, r.reserved1, r.creationHigh, r.creationLow,
                 r.lastAccessHigh, r.lastAccessLow, r.lastWriteHigh, r.lastWriteLow);
  }
  std::fflush(report);
}

int literalFieldComparison(const EntryRecord& a, const EntryRecord& b) {
  if (std::strcmp(a.path, b.path) != 0) return -1;
  if (a.attributes != b.attributes) return 1;
  if (a.reserved0 != b.reserved0) return 1;
  if (a.reserved1 != b.reserved1) return 1;
  if (a.creationHigh != b.creationHigh) return 1;
  if (a.creationLow != b.creationLow) return 1;
  if (a.lastAccessHigh != b.lastAccessHigh) return 1;
  if (a.lastAccessLow != b.lastAccessLow) return 1;
  if (a.lastWriteHigh != b.lastWriteHigh) return 1;
  if (a.lastWriteLow != b.lastWriteLow) return 1;
  if (a.sizeHigh != b.sizeHigh) return 1;
  if (a.sizeLow != b.sizeLow) return 1;
  return 0;
}

// A line read of at most 998 characters that refuses the last piece of
// the stream when no line break ends it (the stream's last byte is not
// one); `cutRecord` is set when that piece began as a record line.
bool readWholeLine(char* line, FILE* stream, bool& cutRecord) {
  if (std::fgets(line, 999, stream) == nullptr) return false;
  if (std::strchr(line, '\n') != nullptr) return true;
  int next = std::fgetc(stream);
  if (next != EOF) {
    std::ungetc(next, stream);
    return true;
  }
  // A NUL byte hides the line break from strchr: the piece was whole when
  // the stream's last byte is one.
  if (std::fseek(stream, -1, SEEK_END) == 0 && std::fgetc(stream) == '\n') return true;
  cutRecord = line[0] == '-';
  return false;
}

}  // namespace

void literalParseRecordLine(const char* line, EntryRecord& record) {
  if (recoverLiterally(line, record)) return;
  size_t length = std::strlen(line);
  char field[256];
  for (int k = 1; k <= 15; ++k) {
    size_t copied = 0;
    int counter = 1;
    for (size_t i = 0; i < length; ++i) {
      if (counter == k && copied < sizeof field) field[copied++] = line[i];
      if (line[i] == ',') ++counter;
    }
    if (copied > 0) {
      field[copied - 1] = '\0';
    } else {
      field[0] = '\0';
    }
    storeField(k, field, record);
  }
}

void literalCompareSnapshots(FILE* before, FILE* after) {
  static char lineA[1000];
  static char lineB[1000];
  EntryRecord a;
  EntryRecord b;
  FILE* report = std::fopen((platform::logFolder() + "report.txt").c_str(), "w");
  if (report == nullptr) reportError("Cannot open report file", 1);

  int progress = 0;
  bool cutRecord = false;
  bool ignored = false;
  while (readWholeLine(lineA, before, cutRecord)) {
    if (lineA[0] != '-') continue;
    literalParseRecordLine(lineA, a);
    ++progress;
    std::printf("PASSES - %i\n", progress);
    int matches = 0;
    while (readWholeLine(lineB, after, ignored)) {
      if (lineB[0] != '-') continue;
      literalParseRecordLine(lineB, b);
      if (std::strcmp(a.path, b.path) != 0) continue;
      ++matches;
      int difference = literalFieldComparison(a, b);
      if (difference == -1) reportError("Problems in comparison", 1);
      if (difference == 1) writeLiteralReportLine(report, "MODIFIED: ", a);
    }
    if (matches == 0) writeLiteralReportLine(report, "DELETED : ", a);
    if (std::fseek(after, 0, SEEK_SET) != 0) reportError("canot set pos\n", 1);
  }
  if (cutRecord) reportError("log file #1 before ends in a cut line, not compared", 0);

  progress = 0;
  cutRecord = false;
  if (std::fseek(before, 0, SEEK_SET) != 0) reportError("canot set pos\n", 1);
  if (std::fseek(after, 0, SEEK_SET) != 0) reportError("canot set pos\n", 1);
  while (readWholeLine(lineA, after, cutRecord)) {
    if (lineA[0] != '-') continue;
    literalParseRecordLine(lineA, a);
    ++progress;
    std::printf("PASSES - %i\n", progress);
    int matches = 0;
    while (readWholeLine(lineB, before, ignored)) {
      if (lineB[0] != '-') continue;
      literalParseRecordLine(lineB, b);
      if (std::strcmp(a.path, b.path) == 0) ++matches;
    }
    if (matches == 0) writeLiteralReportLine(report, "CREATED : ", a);
    if (std::fseek(before, 0, SEEK_SET) != 0) reportError("canot set pos\n", 1);
  }
  if (cutRecord) reportError("log file #2 after ends in a cut line, not compared", 0);
  std::fclose(report);
}

std::string textModeView(const std::string& bytes) {
  std::string view;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\x1A') break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    view += bytes[i];
  }
  return view;
}

bool sameRecord(const EntryRecord& a, const EntryRecord& b) {
  return std::strcmp(a.path, b.path) == 0 && std::strcmp(a.name, b.name) == 0 &&
         std::strcmp(a.shortName, b.shortName) == 0 && a.attributes == b.attributes &&
         a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow && a.reserved0 == b.reserved0 &&
         a.reserved1 == b.reserved1 && a.creationLow == b.creationLow &&
         a.creationHigh == b.creationHigh && a.lastAccessLow == b.lastAccessLow &&
         a.lastAccessHigh == b.lastAccessHigh && a.lastWriteLow == b.lastWriteLow &&
         a.lastWriteHigh == b.lastWriteHigh;
}

std::string describeRecord(const EntryRecord& r) {
  std::string text = "[" + std::string(r.path) + "][" + r.name + "][" + r.shortName + "]";
  for (long long value :
       {static_cast<long long>(r.attributes), static_cast<long long>(r.sizeHigh),
        static_cast<long long>(r.sizeLow), static_cast<long long>(r.reserved0),
        static_cast<long long>(r.reserved1), static_cast<long long>(r.creationHigh),
        static_cast<long long>(r.creationLow), static_cast<long long>(r.lastAccessHigh),
        static_cast<long long>(r.lastAccessLow), static_cast<long long>(r.lastWriteHigh),
        static_cast<long long>(r.lastWriteLow)}) {
    text += " " + std::to_string(value);
  }
  return text;
}
