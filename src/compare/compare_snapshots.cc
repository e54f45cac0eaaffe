#include "compare/compare_snapshots.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cli/errors.h"
#include "compare/log_reader.h"
#include "compare/record_index.h"
#include "compare/record_parser.h"
#include "platform/directory_search.h"
#include "platform/interruptions.h"

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
// So the after log is indexed by path once; each before entry looks up the
// lines that may share its path and reads only those again, each checked in
// full (a line equal to A's byte for byte, or else its parsed path and
// fields against A's), so that a hash never decides. A line of
// the after log that some before entry finds is marked; an unmarked one has
// no line of its path in the before log (any such line would have found it),
// and is reported as created.

namespace {

constexpr size_t kDefaultBlockSize = size_t{1} << 20;
size_t blockSize = kDefaultBlockSize;

EntryRecord recordAValue;
EntryRecord recordBValue;
FILE* report = nullptr;

constexpr char kDirectoryFormat[] =
    "%s,-DIRECTORY, PATH-%s, NAME-%s, MSDOS-%s, ATTRIB-%u, FILE_SIZE_HIGH-%u, FILE_SIZE_LOW-%u, "
    "RESERVED0-%u, RESERVED1-%u, CREATION_TIME_HIGH-%u, CREATION_TIME_LOW-%u, "
    "LAST_ACCESS_TIME_HIGH%u, LAST_ACCESS_TIME_LOW-%u, LAST_WRITE_TIME_HIGH-%u, "
    "LAST_WRITE_TIME_LOW-%u\n";
constexpr char kFileFormat[] =
    "%s,---FILE---, PATH-%s, NAME-%s, MSDOS-%s, ATTRIB-%u, FILE_SIZE_HIGH-%u, FILE_SIZE_LOW-%u, "
    "RESERVED0-%u, RESERVED1-%u, CREATION_TIME_HIGH-%u, CREATION_TIME_LOW-%u, "
    "LAST_ACCESS_TIME_HIGH%u, LAST_ACCESS_TIME_LOW-%u, LAST_WRITE_TIME_HIGH-%u, "
    "LAST_WRITE_TIME_LOW-%u\n";

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

void openReport() {
  std::string name = platform::logFolder() + "report.txt";
  report = std::fopen(name.c_str(), "w");
  if (report == nullptr) reportError("Cannot open report file", 1);
}

// A report that lost lines on the way to the disk must not pass for a
// complete one, so the close is checked too.
void closeReport() {
  FILE* stream = report;
  report = nullptr;
  if (std::fclose(stream) != 0) reportError("Cannot write report file", 1);
}

// The progress line as printf("PASSES - %i\n") writes it; it comes once per
// record line of each log, so it is built here rather than formatted.
void writeProgress(uint32_t counter) {
  char line[32] = "PASSES - ";
  constexpr size_t kPrefixLength = 9;
  auto result =
      std::to_chars(line + kPrefixLength, line + sizeof line - 1, static_cast<int32_t>(counter));
  *result.ptr++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(result.ptr - line), stdout);
}

void rewindOrFail(FILE* log) {
  if (std::fseek(log, 0, SEEK_SET) != 0) reportError("canot set pos\n", 1);
}

// Record A against one candidate line of the other log, held in record B.
// Returns 1 when the candidate has A's path.
int weighCandidate() {
  if (samePath() != 1) return 0;
  int difference = compareRecords();
  if (difference == -1) reportError("Problems in comparison", 1);
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
    writeProgress(1);
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
  reportError("canot set pos\n", 1);
  std::abort();  // not reached: the report above is fatal
}

// The record lines of the log being walked, read a few lines ahead: the
// index slots of a line's path are asked for when it is read and are at hand
// by the time its turn comes, instead of costing a wait on memory each.
class WalkAhead {
 public:
  struct Line {
    LinePiece piece;
    char path[kMaxPathLength + 1];
    size_t pathLength;
    uint64_t pathHash;
  };

  WalkAhead(LogReader& reader, const RecordIndex& index) : reader_(reader), index_(index) {
    while (count_ < kDepth && readLine(lines_[count_])) ++count_;
  }

  // The next record line, or nullptr after the last.
  const Line* next() {
    if (count_ == 0) return nullptr;
    // The line handed out last time is done with: read one into its place.
    if (handedOut_ && readLine(lines_[(first_ + kDepth - 1) % kDepth])) ++count_;
    handedOut_ = true;
    const Line* line = &lines_[first_];
    first_ = (first_ + 1) % kDepth;
    --count_;
    return line;
  }

 private:
  static constexpr size_t kDepth = 8;

  bool readLine(Line& line) {
    if (ended_) return false;
    while (reader_.next(line.piece)) {
      if (line.piece.text[0] != '-') continue;
      line.pathLength = parseRecordPath(line.piece.text, line.path);
      line.pathHash = hashText(line.path, line.pathLength);
      index_.prefetch(line.pathHash);
      return true;
    }
    ended_ = true;
    return false;
  }

  LogReader& reader_;
  const RecordIndex& index_;
  std::unique_ptr<Line[]> lines_{new Line[kDepth]};
  size_t first_ = 0;
  size_t count_ = 0;
  bool handedOut_ = false;
  bool ended_ = false;
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
  const char* format = (record.attributes & kDirectoryBit) != 0 ? kDirectoryFormat : kFileFormat;
  platform::holdInterruptions();
  int written = std::fprintf(report, format, label(kind), record.path, record.name,
                             record.shortName, static_cast<unsigned>(record.attributes),
                             record.sizeHigh, record.sizeLow, record.reserved0, record.reserved1,
                             record.creationHigh, record.creationLow, record.lastAccessHigh,
                             record.lastAccessLow, record.lastWriteHigh, record.lastWriteLow);
  bool whole = written >= 0 && std::fflush(report) == 0;
  platform::releaseInterruptions();
  if (!whole) reportError("Cannot write report file", 1);
}

void compareSnapshotStreams(FILE* before, FILE* after) {
  openReport();
  platform::TextReadRules rules = logReadRules();
  // Both logs stand at their start, so seeking there changes nothing; it only
  // tells whether the after log can be read more than once.
  if (std::fseek(after, 0, SEEK_SET) != 0) compareOnceWithoutRewind(before, after, rules);

  RecordIndex index;
  {
    LogReader indexing(after, rules, blockSize, true);
    index.build(indexing);
  }

  // Before entries against the after log. The before log is read through
  // once, as it stands, so it need not be able to seek until the second pass
  // asks for it.
  LogReader walk(before, rules, blockSize, false);
  LogReader search(after, rules, blockSize, true);
  WalkAhead ahead(walk, index);
  LinePiece candidate;
  uint32_t progress = 0;
  while (const WalkAhead::Line* line = ahead.next()) {
    const LinePiece& piece = line->piece;
    // The path finds the candidates; the rest of record A is read only when
    // a candidate differs from its line or a report line needs it.
    std::memcpy(recordAValue.path, line->path, line->pathLength + 1);
    bool aParsed = false;
    auto parseA = [&] {
      if (!aParsed) parseRecordLine(piece.text, recordAValue);
      aParsed = true;
    };
    writeProgress(++progress);
    int matches = 0;
    index.forEachCandidate(line->pathHash, [&](uint32_t ordinal) {
      if (!search.readAt(index.offset(ordinal), candidate)) return;
      // A line equal to A's parses to A's record: same path, no field
      // differs. Most entries of two scans are such lines.
      if (candidate.length == piece.length &&
          std::memcmp(candidate.text, piece.text, piece.length) == 0) {
        ++matches;
        index.markMatched(ordinal);
        return;
      }
      parseA();
      parseRecordLine(candidate.text, recordBValue);
      if (weighCandidate() == 0) return;
      ++matches;
      index.markMatched(ordinal);
    });
    if (matches == 0) {
      parseA();
      writeReportLine(ChangeKind::DELETED, recordAValue);
    }
  }

  // After entries against the before log: the marks already tell which
  // paths the before log holds.
  rewindOrFail(before);
  rewindOrFail(after);
  LinePiece piece;
  progress = 0;
  for (uint32_t ordinal = 0; ordinal < index.size(); ++ordinal) {
    writeProgress(++progress);
    if (index.matched(ordinal)) continue;
    if (!search.readAt(index.offset(ordinal), piece)) continue;
    parseRecordLine(piece.text, recordAValue);
    writeReportLine(ChangeKind::CREATED, recordAValue);
  }
  closeReport();
}

void useCompareBlockSize(size_t bytes) { blockSize = bytes == 0 ? kDefaultBlockSize : bytes; }
