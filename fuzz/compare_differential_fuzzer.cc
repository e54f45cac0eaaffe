// The comparison against the literal two-pass comparison of
// tests/literal_comparison.h, which reads the whole other log again for
// every record line: for any two byte strings as the before and the after
// log, both must write the same report byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compare/compare_snapshots.h"
#include "compare/log_reader.h"
#include "compare_input.h"
#include "fuzz_files.h"
#include "literal_comparison.h"

namespace {

// Where the report differs first, with some text around it.
std::string firstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  size_t from = at > 200 ? at - 200 : 0;
  return "at byte " + std::to_string(at) + "\nfast:    ..." + a.substr(from, 400) +
         "\nliteral: ..." + b.substr(from, 400);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  prepareComparisons();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CompareInput input;
  if (!takeCompareInput(data, size, input)) return 0;

  FILE* before = openBytes("before", input.before.data(), input.before.size());
  FILE* after = openBytes("after", input.after.data(), input.after.size());
  compareSnapshotStreams(before, after);
  std::fclose(before);
  std::fclose(after);
  std::string fast = readBack("report.txt");

  // The literal comparison reads through the C library's line reads, which
  // apply no text rules here: give it the text that a text-mode stream shows.
  std::string beforeText = input.rules.crLfReadsAsLf ? textModeView(input.before) : input.before;
  std::string afterText = input.rules.crLfReadsAsLf ? textModeView(input.after) : input.after;
  before = openBytes("before", beforeText.data(), beforeText.size());
  after = openBytes("after", afterText.data(), afterText.size());
  literalCompareSnapshots(before, after);
  std::fclose(before);
  std::fclose(after);
  std::string literal = readBack("report.txt");

  if (fast != literal) {
    std::fprintf(stderr, "the reports differ %s\n", firstDifference(fast, literal).c_str());
    std::abort();
  }
  return 0;
}
