// How the comparison fuzz targets read their input: one byte of options,
// then the before log, a 0x1E byte, and the after log (no 0x1E: the after
// log is empty). Bit 0 of the options reads both logs by the CR LF and 0x1A
// rules of a text-mode stream; bits 1 and 2 pick the size of the comparison's
// reads, from 4 KiB up, so that lines straddle block edges.
#ifndef DIRLOG_FUZZ_COMPARE_INPUT_H_
#define DIRLOG_FUZZ_COMPARE_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compare/compare_snapshots.h"
#include "compare/log_reader.h"
#include "fuzz_files.h"
#include "platform/directory_search.h"

struct CompareInput {
  platform::TextReadRules rules;
  size_t blockSize;
  std::string before;
  std::string after;
};

inline bool splitCompareInput(const uint8_t* data, size_t size, CompareInput& input) {
  if (size < 1) return false;
  bool textMode = (data[0] & 1) != 0;
  input.rules = platform::TextReadRules{textMode, textMode};
  input.blockSize = size_t{4096} << ((data[0] >> 1) & 3);
  std::string logs(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t split = logs.find('\x1E');
  input.before = logs.substr(0, split);
  input.after = split == std::string::npos ? std::string() : logs.substr(split + 1);
  return true;
}

// Splits the input and sets the comparison's read rules and block size by
// its options. Returns false for an input too short to hold them.
inline bool takeCompareInput(const uint8_t* data, size_t size, CompareInput& input) {
  if (!splitCompareInput(data, size, input)) return false;
  useLogReadRules(&input.rules);
  useCompareBlockSize(input.blockSize);
  return true;
}

// Once per fuzzing process: reports go to its own folder, and the progress
// lines, of no interest here, nowhere.
inline void prepareComparisons() {
  setenv("DIRLOG_ROOT", fuzzFolder().c_str(), 1);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

#endif  // DIRLOG_FUZZ_COMPARE_INPUT_H_
