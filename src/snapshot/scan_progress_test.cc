#include "snapshot/scan_progress.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ScanProgressTest, LineIsSafeForATerminalAndCutToItsWidthBetweenCharacters) {
  struct Case {
    uint64_t milliseconds;
    std::string folder;
    int columns;
    std::string line;
  };
  const std::string head = "12 entries, 3 folders, 0:04 in ";  // 31 bytes
  const Case cases[] = {
      {4999, "/plain/path", 80, head + "/plain/path"},
      {4000, "/a\x1b[2J\tb\x7f", 80, head + "/a?[2J?b?"},
      // C1 controls, stray and malformed bytes each become one '?'; a
      // well-formed sequence is kept whole.
      {4000,
       "/\xc2\x9b"
       "1m\x9b\xff\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80",
       80, head + "/??1m??\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80"},
      {4000, "/\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80", 80, head + "/??????????"},
      // One column is kept free; a sequence that does not fit is left out.
      {4000, "/abc", 36, head + "/abc"},
      {4000, "/abcd", 36, head + "/abc"},
      {4000, "/\xc3\xa9\xc3\xa9", 35, head + "/\xc3\xa9"},
      {4000, "/\xe6\xbc\xa2", 35, head + "/"},
      {4000, "/x", 11, "12 entries"},
      {4000, "/x", 0, ""},
      {59999, "/", 80, "12 entries, 3 folders, 0:59 in /"},
      {3599999, "/", 80, "12 entries, 3 folders, 59:59 in /"},
      {3600000 * 25 + 61000, "/", 80, "12 entries, 3 folders, 25:01:01 in /"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(composeStatusLine(12, 3, c.milliseconds, c.folder, c.columns), c.line)
        << "folder " << testing::PrintToString(c.folder) << ", " << c.columns << " columns";
  }
}

}  // namespace
