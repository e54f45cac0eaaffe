#include "compare/record_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "compare_test_support.h"
#include "literal_comparison.h"
#include "platform/directory_search.h"

namespace {

struct Expected {
  std::string path;
  std::string name;
  std::string shortName;
  int32_t attributes;
  uint32_t numbers[10];  // sizeHigh .. lastWriteLow in line order
};

EntryRecord parsed(const std::string& line) {
  EntryRecord record;
  std::memset(&record, 0x5A, sizeof record);  // every field must be set
  parseRecordLine(line.c_str(), record);
  return record;
}

void expectRecord(const EntryRecord& r, const Expected& e) {
  EXPECT_EQ(r.path, e.path);
  EXPECT_EQ(r.name, e.name);
  EXPECT_EQ(r.shortName, e.shortName);
  EXPECT_EQ(r.attributes, e.attributes);
  const uint32_t got[10] = {r.sizeHigh,      r.sizeLow,     r.reserved0,      r.reserved1,
                            r.creationHigh,  r.creationLow, r.lastAccessHigh, r.lastAccessLow,
                            r.lastWriteHigh, r.lastWriteLow};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], e.numbers[i]) << "number " << i;
}

struct ParseCase {
  const char* what;
  std::string line;
  Expected expected;
};

const std::string kTimes = ",31294999,1468967367,31294999,1468967368,31294999,1468967369";

std::vector<ParseCase> fieldByFieldCases() {
  std::string longPath(300, 'p');
  std::string longName(300, 'n');
  return {
      {"a complete line, every value in its place",
       "---FILE---,/w/a.txt,a.txt,A~1.TXT,32,1,1234,33188,1000" + kTimes + "\n",
       {"/w/a.txt",
        "a.txt",
        "A~1.TXT",
        32,
        {1, 1234, 33188, 1000, 31294999, 1468967367, 31294999, 1468967368, 31294999, 1468967369}}},
      {"an empty short name",
       "-DIRECTORY,/w/d,d,,16,0,0,0,0,1,2,3,4,5,6\n",
       {"/w/d", "d", "", 16, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"time words over the signed range",
       "---FILE---,/w/a,a,,32,0,0,0,0,2147483648,4294967295,0,0,0,0\n",
       {"/w/a", "a", "", 32, {0, 0, 0, 0, 2147483648u, 4294967295u, 0, 0, 0, 0}}},
      {"a last line without its line break loses its last character",
       "---FILE---,/w/a,a,,32,0,0,0,0,0,0,0,0,0,1234",
       {"/w/a", "a", "", 32, {0, 0, 0, 0, 0, 0, 0, 0, 0, 123}}},
      {"trailing characters and leading blanks",
       "---FILE---,/w/a,a,,32abc,12abc,   7,\t9,x,,0,0,0,0,0\n",
       {"/w/a", "a", "", 32, {12, 7, 9, 0, 0, 0, 0, 0, 0, 0}}},
      {"a tag and a path only",
       "-DIRECTORY,/w/only\n",
       {"/w/only", "", "", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"a tag and a path without a line break",
       "-DIRECTORY,/w/only",
       {"/w/onl", "", "", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"an empty line", "", {"", "", "", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"a line ending in a comma",
       "-DIRECTORY,/w/a,",
       {"/w/a", "", "", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"attributes beyond the signed range clamp to its ends",
       "---FILE---,/w/a,a,,2147483648,0,0,0,0,0,0,0,0,0,0\n",
       {"/w/a", "a", "", 2147483647, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"negative attributes, and below the range",
       "---FILE---,/w/a,a,,-2147483649,0,0,0,0,0,0,0,0,0,0\n",
       {"/w/a", "a", "", INT32_MIN, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"signs in the attributes",
       "---FILE---,/w/a,a,, +16,0,0,0,0,0,0,0,0,0,0\n",
       {"/w/a", "a", "", 16, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"unsigned fields clamp: a minus sign to 0, too many digits to the top",
       "---FILE---,/w/a,a,,-16,-5,4294967296,+7,99999999999999999999999,-0,- 3,+,-,0,0\n",
       {"/w/a", "a", "", -16, {0, 4294967295u, 7, 4294967295u, 0, 0, 0, 0, 0, 0}}},
      {"a CR left by a CR LF line end stops the last number",
       "---FILE---,/w/a,a,,32,0,0,0,0,0,0,0,0,0,1234\r\n",
       {"/w/a", "a", "", 32, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1234}}},
      {"texts too long for their record fields are cut to fit",
       "---FILE---," + longPath + "," + longName + ",ABCDEFGHIJKLMNOPQ,32,0,0,0,0,0,0,0,0,0,5\n",
       {std::string(255, 'p'),
        std::string(254, 'n'),
        "ABCDEFGHIJKLM",
        32,
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 5}}},
  };
}

TEST(RecordParserTest, ReadsEachFieldByItsCommas) {
  for (const ParseCase& c : fieldByFieldCases()) {
    SCOPED_TRACE(c.what);
    expectRecord(parsed(c.line), c.expected);
  }
}

TEST(RecordParserTest, TagDoesNotDecideWhatTheEntryIs) {
  std::string tail = ",/w/x,x,,32,0,1,2,3,4,5,6,7,8,9\n";
  EXPECT_TRUE(sameRecord(parsed("-DIRECTORY" + tail), parsed("---FILE---" + tail)));
}

TEST(RecordParserTest, FieldTextIsCutBeforeItIsRead) {
  // 254 blanks and the digits: only the first 255 characters of a field
  // count, so the number is read from its first digit alone.
  std::string blanks(254, ' ');
  EntryRecord r = parsed("---FILE---,/w/a,a,,32," + blanks + "98,0,0,0,0,0,0,0,0,0\n");
  EXPECT_EQ(r.sizeHigh, 9u);
}

// Lines with a comma in a path or name, as the writer writes them.
TEST(RecordParserTest, RecoversPathsAndNamesWithCommas) {
  const struct {
    const char* what;
    std::string line;
    Expected expected;
  } cases[] = {
      {"a comma in the name (and so in the path)",
       "---FILE---,/w/a,b.txt,a,b.txt,,32,0,1234,0,0,1,2,3,4,5,6\n",
       {"/w/a,b.txt", "a,b.txt", "", 32, {0, 1234, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"a comma in a folder of the path only",
       "-DIRECTORY,/w/x,y/d,d,D~1,16,0,0,0,0,1,2,3,4,5,6\n",
       {"/w/x,y/d", "d", "D~1", 16, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"commas in the folder and the name",
       "---FILE---,/w/x,y/p,q,p,q,,32,0,0,0,0,1,2,3,4,5,6\n",
       {"/w/x,y/p,q", "p,q", "", 32, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"a name that is a comma alone",
       "---FILE---,/w/,,,,,32,0,0,0,0,1,2,3,4,5,6\n",
       {"/w/,", ",", "", 32, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"negative attributes",
       "---FILE---,/w/a,b,a,b,,-2147483616,0,0,0,0,1,2,3,4,5,6\n",
       {"/w/a,b", "a,b", "", -2147483616, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"a CR LF line end",
       "---FILE---,/w/a,b,a,b,,32,0,0,0,0,1,2,3,4,5,6\r\n",
       {"/w/a,b", "a,b", "", 32, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"a Windows log's name, read on any system",
       "---FILE---,c:\\d\\report, final.docx,report, final.docx,,32,0,5000,0,0,1,2,3,4,5,6\n",
       {"c:\\d\\report, final.docx",
        "report, final.docx",
        "",
        32,
        {0, 5000, 0, 0, 1, 2, 3, 4, 5, 6}}},
      {"no line break: the last number still loses its last character",
       "---FILE---,/w/a,b,a,b,,32,0,0,0,0,1,2,3,4,5,67",
       {"/w/a,b", "a,b", "", 32, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6}}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    c.expected.path = nativePath(c.expected.path);
    expectRecord(parsed(nativePath(c.line)), c.expected);
  }
}

// Lines of more than fifteen fields that the writer could not have written
// as they stand are read field by field.
TEST(RecordParserTest, ReadsFieldByFieldWhenTheShapeIsNotTheWriters) {
  const struct {
    const char* what;
    std::string line;
  } cases[] = {
      {"a number with a sign that the writer never writes",
       "---FILE---,/w/a,b,a,b,,32,0,+1,0,0,1,2,3,4,5,6\n"},
      {"a minus sign on a number other than the attributes",
       "---FILE---,/w/a,b,a,b,,32,0,-1,0,0,1,2,3,4,5,6\n"},
      {"an empty number", "---FILE---,/w/a,b,a,b,,32,0,,0,0,1,2,3,4,5,6\n"},
      {"a last number followed by something else",
       "---FILE---,/w/a,b,a,b,,32,0,0,0,0,1,2,3,4,5,6 \n"},
      {"no comma splits path and name so", "---FILE---,/w/a,b,c,d,,32,0,0,0,0,1,2,3,4,5,6\n"},
      {"two commas split them so", "---FILE---,/w//a,a,/a,a,,32,0,0,0,0,1,2,3,4,5,6\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EntryRecord literal;
    literalParseRecordLine(c.line.c_str(), literal);
    EntryRecord fast = parsed(c.line);
    EXPECT_TRUE(sameRecord(fast, literal)) << describeRecord(fast) << "\n"
                                           << describeRecord(literal);
    // Field by field, field 2 ends at the line's first comma.
    EXPECT_EQ(std::string(fast.path), c.line.substr(11, c.line.find(',', 11) - 11));
  }
}

std::string randomLine(std::mt19937& random) {
  static const char kChars[] = ",,,,,0123456789--+ \t\r\nab/\\.";
  std::string line;
  int kind = static_cast<int>(random() % 4);
  if (kind == 0) {
    size_t length = random() % 1100;
    for (size_t i = 0; i < length; ++i) line += kChars[random() % (sizeof kChars - 1)];
    return line;
  }
  // The writer's lines, with commas in names, damaged now and then.
  LogEntry entry;
  static const char* const kNames[] = {"a", "a,b", ",", "x,y,z", "b", "a,", ",a"};
  std::string folder = nativePath(random() % 3 == 0 ? "/w/x,y" : "/w");
  entry.name = kNames[random() % 7];
  if (random() % 8 == 0) entry.name = std::string(250 + random() % 20, 'n');
  entry.path = folder + platform::separator() + entry.name;
  entry.shortName = random() % 4 == 0 ? "S~1" : "";
  entry.attributes = static_cast<int32_t>(random());
  for (uint32_t& number : entry.numbers)
    number = random() % 3 == 0 ? 0u : static_cast<uint32_t>(random());
  static const char* const kEnds[] = {"\n", "\r\n", ""};
  line = writerLine(entry, kEnds[random() % 3]);
  if (kind == 2) {
    size_t at = random() % (line.size() + 1);
    switch (random() % 3) {
      case 0:
        line.resize(at);
        break;
      case 1:
        line.insert(at, 1, kChars[random() % (sizeof kChars - 1)]);
        break;
      default:
        if (at < line.size()) line.erase(at, 1);
        break;
    }
  }
  return line;
}

TEST(RecordParserTest, AgreesWithFifteenWalksOnRandomLinesPathAlone) {
  std::mt19937 random(20261207);
  int recovered = 0;
  int foundInPlace = 0;
  for (int i = 0; i < 100000; ++i) {
    std::string line = randomLine(random);
    EntryRecord literal;
    literalParseRecordLine(line.c_str(), literal);
    EntryRecord fast = parsed(line);
    ASSERT_TRUE(sameRecord(fast, literal)) << "line " << i << ": [" << line << "]\n"
                                           << describeRecord(fast) << "\n"
                                           << describeRecord(literal);
    char path[kMaxPathLength + 1];
    ASSERT_EQ(parseRecordPath(line.c_str(), path), std::strlen(literal.path)) << "line " << i;
    ASSERT_STREQ(path, literal.path) << "line " << i;
    // Found in place, where the line's shape allows.
    const char* inPlace;
    size_t inPlaceLength;
    if (findRecordPath(line.data(), line.size(), inPlace, inPlaceLength)) {
      ASSERT_EQ(std::string(inPlace, inPlaceLength), literal.path) << "line " << i;
      ++foundInPlace;
    }
    if (std::strchr(fast.name, ',') != nullptr) ++recovered;
  }
  // The comparison above means little unless commas were recovered often.
  EXPECT_GT(recovered, 5000);
  EXPECT_GT(foundInPlace, 20000);
}

}  // namespace
