// Running the Windows build under Wine from a Linux test program. One
// throw-away Wine prefix serves the whole program, so c:\ is a temporary
// folder: the tests make trees in it, run dirlog.exe, and read the logs and
// the report it wrote there byte for byte.
#ifndef DIRLOG_TESTS_WINE_WINE_SUPPORT_H_
#define DIRLOG_TESTS_WINE_WINE_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct WineRun {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;      // all it wrote to standard output, as bytes
  std::string err;      // standard error, where it is kept
};

// Drive C of the prefix, as a Linux path. The prefix is the one that
// DIRLOG_TEST_WINEPREFIX names (made by a test script for several test
// programs) or else one made when the first test starts and removed when the
// last has run.
const std::filesystem::path& driveC();

// "c:\" followed by `relative`, each "/" in it turned into "\".
std::string windowsPath(const std::string& relative);

// Runs dirlog.exe under Wine with `arguments` after its own name, in
// `workingDirectory` (a Linux folder inside drive C) when one is given, with
// `environment` ("NAME=value" each) added. Standard error, where Wine
// speaks, is dropped. A run still going after 30 seconds is killed
// (exitStatus -1).
WineRun runDirlog(const std::vector<std::string>& arguments,
                  const std::filesystem::path& workingDirectory = {},
                  const std::vector<std::string>& environment = {});

// Runs dirlog.exe as runDirlog does, standard error kept, so that folder
// permissions hold for it even when the tests run as root: the prefix's Wine
// server, which opens every file for the program, is started again for the
// run without root's power to read and search any folder.
WineRun runDirlogBoundByPermissions(const std::vector<std::string>& arguments);

// The environment under which Wine's ANSI code page is 932 (Japanese,
// double-byte), for runDirlog.
std::vector<std::string> codePage932();

// Runs dirlog-view.exe under Wine the same way.
WineRun runDirlogView(const std::vector<std::string>& arguments);

// Runs `program`, the Linux path of a Windows program, under Wine the same
// way.
WineRun runWindowsProgram(const std::filesystem::path& program,
                          const std::vector<std::string>& arguments);

// Unpacks the zip `archive` into `folder` (cmake -E tar); false when that
// fails.
bool unpackZip(const std::filesystem::path& archive, const std::filesystem::path& folder);

// What the platform's directory search reports for each Windows path, from
// a helper program built with dirlog.exe: the members that follow the path
// in a record line, as a log writes them (name, short name, attributes as a
// signed number, size high and low, the reserved words, then the creation,
// last-access and last-write times, each high word first), joined by commas.
// Empty for a path that the search does not find.
std::vector<std::string> searchFields(const std::vector<std::string>& windowsPaths);

// The record line, CR LF included, that a scan must write for the entry at
// `windowsPath` (on drive C): the search's fields behind the tag and the
// path. Checks on the way that the search's size, last-write time and
// directory bit are those that Linux gives for the same file.
std::string expectedRecordLine(const std::string& windowsPath);

// The Linux path of a Windows path on drive C.
std::filesystem::path onDriveC(const std::string& windowsPath);

// The lines of `text`, each ended by CR LF, without it. A line ended by a
// lone LF is marked by a trailing "<LF>", and a last line without any line
// break by "<no line break>", so that a comparison shows them.
std::vector<std::string> crLfLines(const std::string& text);

// Every entry at and below `path` gets the same last-access time, a day
// ahead of the program's start, so that reading a directory (a scan, the
// search helper) changes no access time where the system updates them
// lazily (relatime), and a log can be predicted.
void freezeAccessTimes(const std::filesystem::path& path);

// A test on drive C: it starts and ends with drive C as Wine made it (no
// logs, no report, no test trees under c:\w or c:\t).
class DriveCTest : public testing::Test {
 protected:
  void SetUp() override { cleanDriveC(); }
  void TearDown() override { cleanDriveC(); }

  static void cleanDriveC();
  // Writes `content` to c:\<relative> ('/' between its parts), making the
  // folders on the way.
  static void file(const std::string& relative, const std::string& content = "x");
  // The bytes of c:\dirlog<number>.txt, or empty when there is none.
  static std::string log(int number);
};

#endif  // DIRLOG_TESTS_WINE_WINE_SUPPORT_H_
