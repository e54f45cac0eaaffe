// The whole comparison on two arbitrary byte strings as the before and the
// after log. Beyond the sanitizers' checks: the run must not end the process
// (no fatal error can come from two readable logs and a writable report),
// every report line must be one of the three kinds in the report format, and
// a log compared with itself must have nothing deleted or created. The same
// two logs then go through dirlog-view's comparison, moves and writers: every
// JSON line must parse, the change lines must be as many as the summary says
// were shown, and a log viewed against itself must show no change.
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
#include "view/filters.h"
#include "view/json_output.h"
#include "view/log_comparison.h"
#include "view/moves.h"
#include "view/summary.h"
#include "view/text_output.h"

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

// The view of the two logs as JSON Lines (and as text, which must not
// fail); returns how many changes it showed.
size_t viewLogs(const std::string& before, const std::string& after, size_t blockSize) {
  FILE* beforeLog = openBytes("before", before.data(), before.size());
  FILE* afterLog = openBytes("after", after.data(), after.size());
  view::ComparisonOptions options;
  options.blockSize = blockSize;
  view::Comparison comparison = view::compareLogs(beforeLog, afterLog, options);
  std::fclose(beforeLog);
  std::fclose(afterLog);
  view::Presentation presentation;
  presentation.system = comparison.system;
  presentation.separator = comparison.system == view::LogSystem::kPosix ? '/' : '\\';
  std::vector<view::Change> changes =
      view::selectChanges(view::findMoves(std::move(comparison.changes), presentation.separator,
                                          comparison.system, presentation.access),
                          view::Filters{}, presentation.separator);
  view::Summary summary = view::summarize(changes, comparison, 2);
  std::string path = fuzzFolder() + "view.jsonl";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  view::writeJsonLines(out, changes, summary, presentation);
  view::writeText(out, changes, summary, presentation, 2, view::Colour::kOn);
  std::fclose(out);
  std::string written = readBack("view.jsonl");
  size_t lines = 0;
  for (size_t start = 0; lines <= changes.size(); ++lines) {
    size_t end = written.find('\n', start);
    if (end == std::string::npos) fail("a JSON line without its line break", written);
    nlohmann::json object =
        nlohmann::json::parse(written.substr(start, end - start), nullptr, false);
    if (object.is_discarded()) fail("a JSON line that does not parse", written);
    bool last = lines == changes.size();
    if (object.contains("summary") != last) fail("the summary is not the last line", written);
    if (last && object["summary"]["shown"] != changes.size()) fail("shown is wrong", written);
    start = end + 1;
  }
  return changes.size();
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
  viewLogs(input.before, input.after, input.blockSize);
  if (viewLogs(input.after, input.after, input.blockSize) != 0) {
    fail("a log viewed against itself shows changes", readBack("view.jsonl"));
  }
  return 0;
}
