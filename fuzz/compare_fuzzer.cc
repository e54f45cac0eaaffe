// The whole comparison on two arbitrary byte strings as the before and the
// after log. Beyond the sanitizers' checks: the run must not end the process
// (no fatal error can come from two readable logs and a writable report),
// every report line must be one of the three kinds in the report format, and
// a log compared with itself must have nothing deleted or created.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compare/compare_snapshots.h"
#include "compare/log_reader.h"
#include "compare_input.h"
#include "fuzz_files.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& report) {
  std::fprintf(stderr, "%s\nreport (%zu bytes):\n%s\n", what, report.size(), report.c_str());
  std::abort();
}

std::string compare(const std::string& before, const std::string& after) {
  FILE* beforeLog = openBytes("before", before.data(), before.size());
  FILE* afterLog = openBytes("after", after.data(), after.size());
  compareSnapshotStreams(beforeLog, afterLog);
  std::fclose(beforeLog);
  std::fclose(afterLog);
  return readBack("report.txt");
}

// Every line complete and of a kind the report format has; returns how many
// lines are DELETED or CREATED.
int checkReport(const std::string& report) {
  if (!report.empty() && report.back() != '\n') fail("the report ends inside a line", report);
  int deletedOrCreated = 0;
  for (size_t start = 0; start < report.size();) {
    size_t end = report.find('\n', start);
    std::string line = report.substr(start, end - start);
    start = end + 1;
    bool labelled = line.starts_with("MODIFIED: ,") || line.starts_with("DELETED : ,") ||
                    line.starts_with("CREATED : ,");
    std::string rest = labelled ? line.substr(11) : std::string();
    if (!rest.starts_with("-DIRECTORY, PATH-") && !rest.starts_with("---FILE---, PATH-")) {
      fail(("a report line of no known kind: " + line).c_str(), report);
    }
    if (line.find(", LAST_WRITE_TIME_LOW-") == std::string::npos) {
      fail(("a report line cut short: " + line).c_str(), report);
    }
    if (!line.starts_with("MODIFIED")) ++deletedOrCreated;
  }
  return deletedOrCreated;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  prepareComparisons();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CompareInput input;
  if (!takeCompareInput(data, size, input)) return 0;

  checkReport(compare(input.before, input.after));
  if (checkReport(compare(input.before, input.before)) != 0) {
    fail("a log compared with itself has entries deleted or created", readBack("report.txt"));
  }
  return 0;
}
