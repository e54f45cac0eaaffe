// The comparison of dirlog.exe under Wine: the two newest of c:\dirlog<N>.txt
// read in text mode, the change report c:\report.txt written with CR LF.
#include <gtest/gtest.h>

#include <map>

#include "test_support.h"
#include "wine_support.h"

namespace fs = std::filesystem;

namespace {

class WineCompareTest : public DriveCTest {
 protected:
  static void writeLog(int number, const std::string& bytes) {
    writeFile(driveC() / ("dirlog" + std::to_string(number) + ".txt"), bytes);
  }
  static std::string report() { return readFile(driveC() / "report.txt"); }
};

std::string progress(int before, int after) {
  std::string out;
  for (int i = 1; i <= before; ++i) out += "PASSES - " + std::to_string(i) + "\r\n";
  for (int i = 1; i <= after; ++i) out += "PASSES - " + std::to_string(i) + "\r\n";
  return out;
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// The report line, CR LF included, for a record line of a log (without its
// line break) whose path and name hold no comma.
std::string reportLine(const std::string& label, const std::string& recordLine) {
  std::vector<std::string> f = splitFields(recordLine);
  uint32_t attributes = static_cast<uint32_t>(std::stol(f[4]));
  std::string line = label + "," + ((attributes & 0x10) ? "-DIRECTORY" : "---FILE---");
  line += ", PATH-" + f[1] + ", NAME-" + f[2] + ", MSDOS-" + f[3] + ", ATTRIB-" +
          std::to_string(attributes) + ", FILE_SIZE_HIGH-" + f[5] + ", FILE_SIZE_LOW-" + f[6] +
          ", RESERVED0-" + f[7] + ", RESERVED1-" + f[8] + ", CREATION_TIME_HIGH-" + f[9] +
          ", CREATION_TIME_LOW-" + f[10] + ", LAST_ACCESS_TIME_HIGH" + f[11] +
          ", LAST_ACCESS_TIME_LOW-" + f[12] + ", LAST_WRITE_TIME_HIGH-" + f[13] +
          ", LAST_WRITE_TIME_LOW-" + f[14];
  return line + "\r\n";
}

// A log's record lines by path.
std::map<std::string, std::string> recordsByPath(const std::string& logText) {
  std::map<std::string, std::string> records;
  for (const std::string& line : crLfLines(logText)) {
    if (!line.empty() && line[0] == '-') records[splitFields(line)[1]] = line;
  }
  return records;
}

// The manual's own example: logs 1 to 3 are present, so /compare takes
// log 2 as the before log and log 3 as the after log; log 1 plays no part.
TEST_F(WineCompareTest, WithThreeLogsLogTwoIsComparedWithLogThree) {
  writeLog(1, "---FILE---,c:\\old\\x,x,,32,0,1,0,0,1,2,3,4,5,6\r\nFILEs - 1, DIRECTORIEs - 0\r\n");
  writeLog(2,
           "---FILE---,c:\\work\\a.txt,a.txt,,32,0,1234,0,0,1,2,3,4,5,6\r\n"
           "---FILE---,c:\\work\\gone.txt,gone.txt,GONE~1.TXT,32,0,1,0,0,1,2,3,4,5,6\r\n"
           "FILEs - 2, DIRECTORIEs - 0\r\n");
  writeLog(3,
           "---FILE---,c:\\work\\a.txt,a.txt,,32,0,1235,0,0,1,2,3,4,5,6\r\n"
           "-DIRECTORY,c:\\work\\new,new,,16,0,0,0,0,1,2,3,4,5,6\r\n"
           "FILEs - 1, DIRECTORIEs - 1\r\n");
  std::string logsBefore = log(1) + log(2) + log(3);

  WineRun run = runDirlog({"/compare"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, progress(2, 2));
  EXPECT_EQ(report(),
            "MODIFIED: ,---FILE---, PATH-c:\\work\\a.txt, NAME-a.txt, MSDOS-, ATTRIB-32, "
            "FILE_SIZE_HIGH-0, FILE_SIZE_LOW-1234, RESERVED0-0, RESERVED1-0, "
            "CREATION_TIME_HIGH-1, CREATION_TIME_LOW-2, LAST_ACCESS_TIME_HIGH3, "
            "LAST_ACCESS_TIME_LOW-4, LAST_WRITE_TIME_HIGH-5, LAST_WRITE_TIME_LOW-6\r\n"
            "DELETED : ,---FILE---, PATH-c:\\work\\gone.txt, NAME-gone.txt, MSDOS-GONE~1.TXT, "
            "ATTRIB-32, FILE_SIZE_HIGH-0, FILE_SIZE_LOW-1, RESERVED0-0, RESERVED1-0, "
            "CREATION_TIME_HIGH-1, CREATION_TIME_LOW-2, LAST_ACCESS_TIME_HIGH3, "
            "LAST_ACCESS_TIME_LOW-4, LAST_WRITE_TIME_HIGH-5, LAST_WRITE_TIME_LOW-6\r\n"
            "CREATED : ,-DIRECTORY, PATH-c:\\work\\new, NAME-new, MSDOS-, ATTRIB-16, "
            "FILE_SIZE_HIGH-0, FILE_SIZE_LOW-0, RESERVED0-0, RESERVED1-0, "
            "CREATION_TIME_HIGH-1, CREATION_TIME_LOW-2, LAST_ACCESS_TIME_HIGH3, "
            "LAST_ACCESS_TIME_LOW-4, LAST_WRITE_TIME_HIGH-5, LAST_WRITE_TIME_LOW-6\r\n");
  EXPECT_EQ(log(1) + log(2) + log(3), logsBefore);
}

// A scan, changes of every kind, then a scan and the comparison in one run:
// the report names each change with its c:\ path and the values the log of
// its side recorded.
TEST_F(WineCompareTest, ScanChangeScanAndCompareReportEveryChange) {
  file("w/a.txt", "1234");
  file("w/Long File Name.txt", "1");
  file("w/gone.txt");
  file("w/same.txt");
  file("w/d1/x.txt");
  file("w/d2/y.txt");
  freezeAccessTimes(driveC() / "w");
  ASSERT_EQ(runDirlog({"/Lc:\\w"}).exitStatus, 0);
  file("w/a.txt", "123456");
  file("w/Long File Name.txt", "12");
  fs::remove(driveC() / "w/gone.txt");
  file("w/new.txt");
  fs::rename(driveC() / "w/d2", driveC() / "w/d3");
  freezeAccessTimes(driveC() / "w");

  WineRun run = runDirlog({"/Lc:\\w", "/compare"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, progress(8, 8));
  std::map<std::string, std::string> before = recordsByPath(log(1));
  std::map<std::string, std::string> after = recordsByPath(log(2));
  ASSERT_EQ(before.size(), 8u);
  ASSERT_EQ(after.size(), 8u);
  // Walk order: the before log's findings, then the after log's.
  std::string expected = reportLine("MODIFIED: ", before["c:\\w\\a.txt"]) +
                         reportLine("DELETED : ", before["c:\\w\\d2"]) +
                         reportLine("DELETED : ", before["c:\\w\\d2\\y.txt"]) +
                         reportLine("DELETED : ", before["c:\\w\\gone.txt"]) +
                         reportLine("MODIFIED: ", before["c:\\w\\Long File Name.txt"]) +
                         reportLine("CREATED : ", after["c:\\w\\d3"]) +
                         reportLine("CREATED : ", after["c:\\w\\d3\\y.txt"]) +
                         reportLine("CREATED : ", after["c:\\w\\new.txt"]);
  EXPECT_EQ(report(), expected);
  EXPECT_NE(expected.find(", FILE_SIZE_LOW-4, "), std::string::npos);
  EXPECT_EQ(expected.find("NAME-Long File Name.txt, MSDOS-, "), std::string::npos)
      << "the long name's line shows its short name";
}

// Names that the code page writes alike before the scan gave each its own
// form: an unchanged folder compares empty, and a deletion or a creation is
// reported as that, under the written path of the name it concerns.
TEST_F(WineCompareTest, NamesTheCodePageLacksAreComparedByTheirOwnPaths) {
  const struct {
    const char* what;
    std::vector<std::string> before;  // files below c:\w, as Linux names them
    std::string removed, added;       // the change between the scans
    std::vector<std::string> findings;
    bool codePage932;
  } cases[] = {
      {"unchanged", {"日本.txt", "中国.txt"}, "", "", {}, false},
      {"deleted",
       {"日本.txt", "中国.txt"},
       "日本.txt",
       "",
       {"DELETED : c:\\w\\?65E5?672C.txt"},
       false},
      {"created", {"日本.txt"}, "", "中国.txt", {"CREATED : c:\\w\\?4E2D?56FD.txt"}, false},
      {"best fit, unchanged", {"a.txt", "ａ.txt"}, "", "", {}, false},
      {"best fit, deleted",
       {"a.txt", "ａ.txt"},
       "ａ.txt",
       "",
       {"DELETED : c:\\w\\?FF41.txt"},
       false},
      {"best fit, created", {"a.txt"}, "", "ａ.txt", {"CREATED : c:\\w\\?FF41.txt"}, false},
      {"code page 932, unchanged", {"한.txt", "국.txt"}, "", "", {}, true},
      {"code page 932, deleted",
       {"한.txt", "국.txt"},
       "한.txt",
       "",
       {"DELETED : c:\\w\\?D55C.txt"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cleanDriveC();
    std::vector<std::string> environment =
        c.codePage932 ? codePage932() : std::vector<std::string>{};
    for (const std::string& name : c.before) file("w/" + name);
    freezeAccessTimes(driveC() / "w");
    ASSERT_EQ(runDirlog({"/Lc:\\w"}, {}, environment).exitStatus, 0);
    if (!c.removed.empty()) fs::remove(driveC() / "w" / c.removed);
    if (!c.added.empty()) file("w/" + c.added);
    freezeAccessTimes(driveC() / "w");
    ASSERT_EQ(runDirlog({"/Lc:\\w", "/compare"}, {}, environment).exitStatus, 0);
    std::vector<std::string> findings;
    for (const std::string& line : crLfLines(report())) {
      size_t path = line.find(", PATH-") + 7;
      findings.push_back(line.substr(0, 10) + line.substr(path, line.find(", NAME-") - path));
    }
    EXPECT_EQ(findings, c.findings);
  }
}

// Logs are read as text: CR LF and a lone LF both end a line, and 0x1A ends
// the file, so that the records behind it are not read.
TEST_F(WineCompareTest, LogsAreReadInTextMode) {
  const std::string a = "---FILE---,c:\\w\\a,a,,32,0,1,0,0,1,2,3,4,5,6";
  const std::string b = "---FILE---,c:\\w\\b,b,,32,0,1,0,0,1,2,3,4,5,6";
  const struct {
    const char* what;
    std::string before;
    int beforeRecords;
    std::string report;
  } cases[] = {
      {"CR LF", a + "\r\n" + b + "\r\nFILEs - 2, DIRECTORIEs - 0\r\n", 2, ""},
      {"LF alone", a + "\n" + b + "\nFILEs - 2, DIRECTORIEs - 0\n", 2, ""},
      {"0x1A between the records", a + "\r\n\x1A" + b + "\r\n", 1, reportLine("CREATED : ", b)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeLog(1, c.before);
    writeLog(2, a + "\r\n" + b + "\r\nFILEs - 2, DIRECTORIEs - 0\r\n");
    WineRun run = runDirlog({"/compare"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, progress(c.beforeRecords, 2));
    EXPECT_EQ(report(), c.report);
  }
}

TEST_F(WineCompareTest, MissingOrSingleLogsEndTheRunWithTheirMessage) {
  const std::string someLog = "---FILE---,c:\\w\\a,a,,32,0,1,0,0,1,2,3,4,5,6\r\n";
  const struct {
    const char* what;
    std::vector<int> logs;
    bool folderAsLog2;
    std::vector<std::string> arguments;
    std::string out;
  } cases[] = {
      {"no log", {}, false, {"/compare"}, "Error: coud not open log file #1 before\r\n"},
      {"no log, /F2", {}, false, {"/F2"}, "Error: coud not open log file #1 before\r\n"},
      {"one log", {1}, false, {"/compare"}, "Error: only one log file\r\n"},
      {"one log numbered 5", {5}, false, {"/F1"}, "Error: only one log file\r\n"},
      {"logs 2 and 3", {2, 3}, false, {"/compare"}, "Error: coud not open log file #1 before\r\n"},
      {"logs 1 and 3", {1, 3}, false, {"/F1", "/F2"}, "Error: coud not open log file #2 after\r\n"},
      {"a folder as log 2", {1}, true, {"/compare"}, "Error: coud not open log file #2 after\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cleanDriveC();
    for (int number : c.logs) writeLog(number, someLog);
    if (c.folderAsLog2) fs::create_directories(driveC() / "dirlog2.txt");
    WineRun run = runDirlog(c.arguments);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_FALSE(fs::exists(driveC() / "report.txt"));
  }
}

// No name on drive C is written through to a file elsewhere: a second name
// of a file outside (a hard link) or a link to a folder outside (which Wine
// shows as a reparse point) as report.txt or as the next log is the usual
// fatal error. (Wine shows a link to a file as the file itself.)
TEST_F(WineCompareTest, NoNameOnDriveCIsWrittenThrough) {
  ScopedTempDir outside;
  const fs::path outsideFile = outside.path() / "file.txt";
  const fs::path outsideFolder = outside.path() / "folder";
  const std::string someLog = "---FILE---,c:\\w\\a,a,,32,0,1,0,0,1,2,3,4,5,6\r\n";
  const std::string cannotOpenReport = "Error: Cannot open report file\r\n";
  const std::string cannotOpenLog = "Error: cannot open log file for writing\r\n\r\n";
  const struct {
    const char* name;
    bool folderLink;
    std::vector<std::string> arguments;
    const std::string& out;
  } cases[] = {
      {"report.txt", false, {"/compare"}, cannotOpenReport},
      {"report.txt", true, {"/compare"}, cannotOpenReport},
      // Logs 2 and 3: the count is 2, the scan writes log 3.
      {"dirlog3.txt", false, {"/Lc:\\w"}, cannotOpenLog},
      {"dirlog3.txt", true, {"/Lc:\\w"}, cannotOpenLog},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.folderLink ? " a folder link" : " a second name"));
    cleanDriveC();
    file("w/a");
    writeLog(2, someLog);
    if (c.arguments[0] == "/compare") writeLog(1, someLog);
    writeFile(outsideFile, "not the program's");
    fs::create_directories(outsideFolder);
    if (c.folderLink) {
      fs::create_directory_symlink(outsideFolder, driveC() / c.name);
    } else {
      fs::create_hard_link(outsideFile, driveC() / c.name);
    }
    WineRun run = runDirlog(c.arguments);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(readFile(outsideFile), "not the program's");
    EXPECT_TRUE(fs::is_empty(outsideFolder));
    fs::remove(driveC() / c.name);
  }
}

TEST_F(WineCompareTest, F1AloneOpensTheBeforeLogAndComparesNothing) {
  writeLog(1, "---FILE---,c:\\w\\a,a,,32,0,1,0,0,1,2,3,4,5,6\r\n");
  writeLog(2, "");
  writeFile(driveC() / "report.txt", "earlier\r\n");
  WineRun run = runDirlog({"/F1"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(report(), "earlier\r\n");
}

}  // namespace
