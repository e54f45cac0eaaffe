// Helpers for the comparison's tests: capturing standard output, and logs
// made up at random in the writer's format with the damage real logs can
// carry (long lines, cut lines, stray lines, commas in names, CR LF ends).
#ifndef DIRLOG_TESTS_COMPARE_TEST_SUPPORT_H_
#define DIRLOG_TESTS_COMPARE_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// Sends standard output to `file` from construction until finish(), which
// returns what was written there.
class StdoutCapture {
 public:
  explicit StdoutCapture(const std::filesystem::path& file);
  ~StdoutCapture();
  std::string finish();

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

// What a comparison wrote: its standard output and its report.
struct Outcome {
  std::string out;
  std::string report;
  bool operator==(const Outcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& stream, const Outcome& outcome) {
  return stream << "stdout:\n" << outcome.out << "report:\n" << outcome.report;
}

// What a text-mode read of `bytes` gives on this platform: the report and
// standard output end their lines in CR LF on disk where the platform's
// text mode does so.
std::string platformText(const std::string& bytes);

// `path` with each '/' turned into the platform's separator: a path as this
// platform's scans write it.
std::string nativePath(std::string path);

// One entry as a scan would record it.
struct LogEntry {
  std::string path;
  std::string name;
  std::string shortName;
  int32_t attributes;
  uint32_t numbers[10];  // sizeHigh to lastWriteLow, in line order
};

// The entry's record line in the writer's format, ended by `lineEnd`.
std::string writerLine(const LogEntry& entry, const std::string& lineEnd = "\n");

struct LogShape {
  int maxEntries = 40;
  bool crLf = false;      // most lines end in CR LF (some in LF all the same)
  bool ctrlZ = false;     // a 0x1A may stand somewhere
  bool shuffled = false;  // the after log in another order than the before log
  bool noise = true;      // stray, cut, long and odd lines between the records
};

struct LogPair {
  std::string before;
  std::string after;
};

// A before log and an after log of the same made-up tree, the after one with
// entries modified (any field), deleted, created, renamed, duplicated.
LogPair randomLogPair(std::mt19937& random, const LogShape& shape);

#endif  // DIRLOG_TESTS_COMPARE_TEST_SUPPORT_H_
