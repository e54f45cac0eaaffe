// The Windows release zip as a user gets it: unpacked on drive C, both
// programs run from it under Wine through a scan, a change, a second scan,
// the comparison and the view, and the files beside them there to read.
#include <gtest/gtest.h>

#include "test_support.h"
#include "wine_support.h"

namespace {

namespace fs = std::filesystem;

class WineZipTest : public DriveCTest {};

TEST_F(WineZipTest, RunsBothProgramsFromTheUnpackedZip) {
  ASSERT_TRUE(unpackZip(DIRLOG_ZIP, driveC() / "w")) << DIRLOG_ZIP;
  const fs::path folder = driveC() / "w" / ("dirlog-" DIRLOG_VERSION "-win64");
  for (const char* name : {"dirlog.exe", "dirlog-view.exe", "README.md", "LOGS.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(folder / name)) << name;
  }
  EXPECT_NE(readFile(folder / "dirlog.html").find("<title>DIRLOG(1)</title>"), std::string::npos);
  EXPECT_NE(readFile(folder / "dirlog-view.html").find("<title>DIRLOG-VIEW(1)</title>"),
            std::string::npos);
  const fs::path dirlog = folder / "dirlog.exe";
  const fs::path view = folder / "dirlog-view.exe";

  file("t/keep.txt", "kept");
  file("t/grow.txt", "abc");
  ASSERT_EQ(runWindowsProgram(dirlog, {"/L" + windowsPath("t")}).exitStatus, 0);
  file("t/grow.txt", "abc and more");
  ASSERT_EQ(runWindowsProgram(dirlog, {"/L" + windowsPath("t"), "/compare"}).exitStatus, 0);
  EXPECT_NE(readFile(driveC() / "report.txt").find("MODIFIED: ,---FILE---, PATH-c:\\t\\grow.txt,"),
            std::string::npos);

  WineRun text = runWindowsProgram(view, {});
  EXPECT_EQ(text.exitStatus, 1);
  EXPECT_EQ(text.out.rfind("modified  grow.txt", 0), 0u) << text.out;
  WineRun page = runWindowsProgram(view, {"--html", windowsPath("w/changes.html")});
  EXPECT_EQ(page.exitStatus, 1);
  std::string html = readFile(driveC() / "w" / "changes.html");
  EXPECT_NE(html.find("\"names\":\"grow.txt\""), std::string::npos) << html.substr(0, 200);
  EXPECT_NE(html.find("\"version\":\"" DIRLOG_VERSION "\""), std::string::npos);
  EXPECT_EQ(runWindowsProgram(view, {"--version"}).out, "dirlog-view " DIRLOG_VERSION "\r\n");
}

}  // namespace
