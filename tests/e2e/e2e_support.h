// Running the built program from end-to-end tests, and what a log line for
// a real file must say, worked out here independently of the program.
#ifndef DIRLOG_TESTS_E2E_E2E_SUPPORT_H_
#define DIRLOG_TESTS_E2E_E2E_SUPPORT_H_

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

struct RunResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;      // all it wrote to standard output
};

// Runs the program with `arguments` (argument 0 is the program's path), with
// DIRLOG_ROOT set to `root` and, when `workingDirectory` is not empty, in that
// directory. Standard input is empty; standard error is left alone.
RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const std::filesystem::path& workingDirectory = {});

// The record line (with its "\n") that a scan must write for the real entry
// at `entry`, recorded under the path text `writtenPath`.
std::string expectedRecordLine(const std::string& writtenPath, const std::filesystem::path& entry);

// The log's record lines' paths, in order.
std::vector<std::string> recordPaths(const std::string& log);

#endif  // DIRLOG_TESTS_E2E_E2E_SUPPORT_H_
