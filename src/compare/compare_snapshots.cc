#include "compare/compare_snapshots.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "cli/errors.h"
#include "compare/log_pairing.h"
#include "compare/log_reader.h"
#include "compare/record_parser.h"
#include "platform/directory_search.h"
#include "platform/interruptions.h"
#include "platform/output_files.h"
#include "snapshot/line_builder.h"

// How the comparison can read each log a bounded number of times and still
// write exactly what reading the other log whole for every entry would:
//
// For an entry A of the before log, that search writes one MODIFIED line for
// each line of the after log with A's path whose numbers differ, or one
// DELETED line when no line has A's path. Every one of those lines shows A's
// own values. So what the report says about A depends only on A, on how many
// lines of the after log share its path, and on which of them differ; not on
// where those lines stand or on anything else in the log. For an entry of
// the after log, the report says CREATED exactly when no line of the before
// log shares its path. The progress lines number the record lines of each
// log in turn and depend on nothing else.
//
// So the logs are paired by path (compare/log_pairing.h): each before line
// with every after line of its path, each pair checked in full (a line equal
// to A's byte for byte, or else its parsed fields against A's), so that a
// hash never decides. An after line that no before line paired with has no
// line of its path in the before log, and is reported as created.

namespace {

constexpr size_t kDefaultBlockSize = size_t{1} << 20;
size_t blockSize = kDefaultBlockSize;

EntryRecord recordAValue;
EntryRecord recordBValue;
FILE* report = nullptr;

// A report line reads as the format "%s,-DIRECTORY, PATH-%s, NAME-%s,
// MSDOS-%s, ATTRIB-%u, FILE_SIZE_HIGH-%u, ..." writes it (",---FILE---" for
// a file): the label, the tag, the three texts, then the numbers under these
// names, every one unsigned. It is put together here rather than formatted.
constexpr const char* kNumberNames[] = {
    ", ATTRIB-",
    ", FILE_SIZE_HIGH-",
    ", FILE_SIZE_LOW-",
    ", RESERVED0-",
    ", RESERVED1-",
    ", CREATION_TIME_HIGH-",
    ", CREATION_TIME_LOW-",
    ", LAST_ACCESS_TIME_HIGH",  // no dash: the line has always read so
    ", LAST_ACCESS_TIME_LOW-",
    ", LAST_WRITE_TIME_HIGH-",
    ", LAST_WRITE_TIME_LOW-",
};

const char* label(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::MODIFIED:
      return "MODIFIED: ";
    case ChangeKind::DELETED:
      return "DELETED : ";
    case ChangeKind::CREATED:
      return "CREATED : ";
  }
  return "";
}

// The progress lines, two for every entry, gather here and go to standard
// output in large writes. Nothing else is written there while a comparison
// runs, except by fail(), which sends them first.
char progressBuffer[size_t{1} << 16];
size_t progressLength = 0;

void sendProgress() {
  std::fwrite(progressBuffer, 1, progressLength, stdout);
  progressLength = 0;
}

// The progress lines of one pass, as printf("PASSES - %i\n", k) writes them
// for k from 1 on: each is made from the one before by adding one to its
// digits.
class ProgressLines {
 public:
  ProgressLines() { line_[kLineEnd - 1] = '\n'; }

  void next() {
    if (++count_ > INT32_MAX) {
      rewrite();
    } else {
      addOne();
    }
    // A copy of a fixed size costs less than one of the line's own; the
    // bytes behind the line are written over by the next one.
    size_t from = first_ - kPrefixLength;
    if (sizeof progressBuffer - progressLength < kLineRoom) sendProgress();
    std::memcpy(progressBuffer + progressLength, line_ + from, kLineRoom);
    progressLength += kLineEnd - from;
  }

 private:
  static constexpr char kPrefix[] = "PASSES - ";
  static constexpr size_t kPrefixLength = sizeof kPrefix - 1;

  void addOne() {
    size_t digit = kLineEnd - 2;
    while (digit >= first_ && line_[digit] == '9') line_[digit--] = '0';
    if (digit >= first_) {
      ++line_[digit];
      return;
    }
    line_[--first_] = '1';
    std::memcpy(line_ + first_ - kPrefixLength, kPrefix, kPrefixLength);
  }

  // Past the largest int, "%i" shows the count as a negative number.
  void rewrite() {
    char digits[12];
    auto end = std::to_chars(digits, digits + sizeof digits, static_cast<int32_t>(count_)).ptr;
    size_t length = static_cast<size_t>(end - digits);
    first_ = kLineEnd - 1 - length;
    std::memcpy(line_ + first_, digits, length);
    std::memcpy(line_ + first_ - kPrefixLength, kPrefix, kPrefixLength);
  }

  // The line ends at kLineEnd, its "\n" last, its digits from first_; room
  // for the longest line lies in front, and a copy's worth behind.
  static constexpr size_t kLineRoom = 32;
  static constexpr size_t kLineEnd = 32;
  uint32_t count_ = 0;
  char line_[kLineEnd + kLineRoom] = {};
  size_t first_ = kLineEnd - 1;
};

// Every fatal end of a comparison: the progress lines written so far come
// before the message, as they would unbuffered.
void fail(const char* message) {
  sendProgress();
  reportError(message, 1);
}

// A cut last line that began as a record line: the entry it was to record
// is missing from its log, which the report alone would not tell. Said once
// the pass that walks that log has shown its progress lines.
void noteCutLog(bool cut, const char* message) {
  if (!cut) return;
  sendProgress();
  reportError(message, 0);
}

// Never written through a link someone else put in the folder.
void openReport() {
  report = platform::openReportForWriting(platform::logFolder() + "report.txt");
  if (report == nullptr) fail("Cannot open report file");
}

// A report that lost lines on the way to the disk must not pass for a
// complete one, so the close is checked too.
void closeReport() {
  FILE* stream = report;
  report = nullptr;
  if (std::fclose(stream) != 0) fail("Cannot write report file");
}

void rewindOrFail(FILE* log) {
  if (std::fseek(log, 0, SEEK_SET) != 0) fail("canot set pos\n");
}

// Record A against one candidate line of the other log, held in record B.
// Returns 1 when the candidate has A's path.
int weighCandidate() {
  if (samePath() != 1) return 0;
  int difference = compareRecords();
  if (difference == -1) fail("Problems in comparison");
  if (difference == 1) writeReportLine(ChangeKind::MODIFIED, recordAValue);
  return 1;
}

// An after log that cannot be rewound (a pipe) cannot be looked into twice:
// only the first before entry is ever searched for, reading the after log
// through once, and then the rewind that the next entry needs fails.
[[noreturn]] void compareOnceWithoutRewind(FILE* before, FILE* after,
                                           platform::TextReadRules rules) {
  LogReader walk(before, rules, blockSize, false);
  LinePiece piece;
  while (walk.next(piece)) {
    if (piece.text[0] != '-') continue;
    parseRecordLine(piece.text, recordAValue);
    ProgressLines().next();
    LogReader search(after, rules, blockSize, false);
    int matches = 0;
    while (search.next(piece)) {
      if (piece.text[0] != '-') continue;
      parseRecordLine(piece.text, recordBValue);
      matches += weighCandidate();
    }
    if (matches == 0) writeReportLine(ChangeKind::DELETED, recordAValue);
    break;
  }
  // With no entry in the before log, the first rewind is the one in front of
  // the second pass; it fails all the same.
  fail("canot set pos\n");
  std::abort();  // not reached: the failure above ends the process
}

// The first pass's side of the pairing: a progress line for every before
// record line, and for one that is not taken in step the report's lines.
class BeforeLines {
 public:
  explicit BeforeLines(LogPairing& pairing) : pairing_(pairing) {}

  bool mayTakeInStep() const { return true; }
  void inStep(const PieceSpan&) { progress_.next(); }
  void unread(uint64_t, const LinePiece&) {}

  void record(const PieceSpan& line) {
    progress_.next();
    copyPiece(line, pieceA_);
    // The path finds the candidates; the rest of record A is read only when
    // a candidate differs from its line or a report line needs it.
    char path[kMaxPathLength + 1];
    std::string_view found = recordPathOf(line, path);
    bool aParsed = false;
    auto parseA = [&] {
      if (!aParsed) parseRecordLine(pieceA_.text, recordAValue);
      aParsed = true;
    };
    size_t paired = pairing_.pair(found, line, [&](uint32_t, const PieceSpan* candidate) {
      // A line equal to A's parses to A's record: no field differs.
      if (candidate == nullptr) return;
      parseA();
      copyPiece(*candidate, pieceB_);
      parseRecordLine(pieceB_.text, recordBValue);
      weighCandidate();
    });
    if (paired == 0) {
      parseA();
      writeReportLine(ChangeKind::DELETED, recordAValue);
    }
  }

 private:
  LogPairing& pairing_;
  ProgressLines progress_;
  LinePiece pieceA_;
  LinePiece pieceB_;
};

}  // namespace

EntryRecord& recordA() { return recordAValue; }
EntryRecord& recordB() { return recordBValue; }

int samePath() { return std::strcmp(recordAValue.path, recordBValue.path) == 0 ? 1 : 0; }

int compareRecords() {
  const EntryRecord& a = recordAValue;
  const EntryRecord& b = recordBValue;
  if (samePath() == 0) return -1;
  bool differs = a.attributes != b.attributes || a.reserved0 != b.reserved0 ||
                 a.reserved1 != b.reserved1 || a.creationHigh != b.creationHigh ||
                 a.creationLow != b.creationLow || a.lastAccessHigh != b.lastAccessHigh ||
                 a.lastAccessLow != b.lastAccessLow || a.lastWriteHigh != b.lastWriteHigh ||
                 a.lastWriteLow != b.lastWriteLow || a.sizeHigh != b.sizeHigh ||
                 a.sizeLow != b.sizeLow;
  return differs ? 1 : 0;
}

void writeReportLine(ChangeKind kind, const EntryRecord& record) {
  LineBuilder line;
  line.add(label(kind));
  line.add((record.attributes & kDirectoryBit) != 0 ? ",-DIRECTORY, PATH-" : ",---FILE---, PATH-");
  line.add(record.path);
  line.add(", NAME-");
  line.add(record.name);
  line.add(", MSDOS-");
  line.add(record.shortName);
  const uint32_t numbers[] = {static_cast<uint32_t>(record.attributes),
                              record.sizeHigh,
                              record.sizeLow,
                              record.reserved0,
                              record.reserved1,
                              record.creationHigh,
                              record.creationLow,
                              record.lastAccessHigh,
                              record.lastAccessLow,
                              record.lastWriteHigh,
                              record.lastWriteLow};
  for (size_t i = 0; i < std::size(numbers); ++i) {
    line.add(kNumberNames[i]);
    line.addNumber(numbers[i]);
  }
  line.add("\n");
  platform::holdInterruptions();
  bool whole = std::fwrite(line.text(), 1, line.length(), report) == line.length() &&
               std::fflush(report) == 0;
  platform::releaseInterruptions();
  if (!whole) fail("Cannot write report file");
}

namespace {

void compareLogs(FILE* before, FILE* after) {
  openReport();
  platform::TextReadRules rules = logReadRules();
  // Both logs stand at their start, so seeking there changes nothing; it only
  // tells whether the after log can be read more than once.
  if (std::fseek(after, 0, SEEK_SET) != 0) compareOnceWithoutRewind(before, after, rules);

  PairingOptions options;
  options.records = RecordRule::kDashPieces;
  options.pairs = PairWith::kEvery;
  options.rules = rules;
  options.blockSize = blockSize;
  LogPairing pairing(before, after, options);
  pairing.indexAfterLog([](uint64_t, const LinePiece&) {}, [](const PieceSpan&) {});

  // Before entries against the after log. The before log is read through
  // once, as it stands, so it need not be able to seek until the second pass
  // asks for it.
  {
    BeforeLines weighing(pairing);
    pairing.walkBeforeLog(weighing);
    noteCutLog(pairing.beforeEndsInCutRecord(),
               "log file #1 before ends in a cut line, not compared");
  }

  // After entries against the before log: the pairs already tell which
  // paths the before log holds.
  rewindOrFail(before);
  rewindOrFail(after);
  LinePiece piece;
  ProgressLines progress;
  pairing.forEachAfterRecord([&](uint32_t ordinal, bool paired) {
    progress.next();
    if (paired || !pairing.afterLine(ordinal, piece)) return;
    parseRecordLine(piece.text, recordAValue);
    writeReportLine(ChangeKind::CREATED, recordAValue);
  });
  noteCutLog(pairing.afterEndsInCutRecord(), "log file #2 after ends in a cut line, not compared");
  sendProgress();
  closeReport();
}

}  // namespace

void compareSnapshotStreams(FILE* before, FILE* after) {
  try {
    compareLogs(before, after);
  } catch (...) {
    // The caller reports what went wrong (running out of memory): the
    // progress lines so far come first, as they would unbuffered.
    sendProgress();
    throw;
  }
}

void useCompareBlockSize(size_t bytes) { blockSize = bytes == 0 ? kDefaultBlockSize : bytes; }
