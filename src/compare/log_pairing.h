// Pairing the record lines of a before log with the record lines of an after
// log that have the same path: the one walk of two logs that the change report
// and dirlog-view both stand on. Each consumer says which lines are records
// and whether a before line takes every after line of its path or only the
// first one still free; the engine does the reading, the index, the in-step
// walk and the bookkeeping of which after lines were paired.
//
// The after log is read through once and indexed by path. The before log is
// then read through once, as it stands; each of its record lines is either
// taken in step (byte for byte the after line that follows the last one
// paired, whose path no other after line has) or handed to the consumer,
// which looks its path up with pair(). Last, the consumer visits the after
// lines in log order and finds out which were never paired.
#ifndef DIRLOG_COMPARE_LOG_PAIRING_H_
#define DIRLOG_COMPARE_LOG_PAIRING_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "compare/log_reader.h"
#include "compare/record_index.h"
#include "platform/directory_search.h"
#include "snapshot/entry_record.h"

// Which pieces of a log are its record lines.
enum class RecordRule {
  // Every piece that a line read delivers whose first character is "-",
  // whatever it holds: how the change report reads a log.
  kDashPieces,
  // Whole lines only: a line that begins with "-", ends within one piece and
  // holds all fifteen fields. Every other line but the totals line is a line
  // the reader could not read; a line longer than a piece counts once. How
  // dirlog-view reads a log.
  kWholeRecords,
};

// Which after lines one before line is paired with.
enum class PairWith {
  kEvery,      // every after line of its path, paired before or not
  kFirstFree,  // the first after line of its path that no before line took
};

struct PairingOptions {
  RecordRule records = RecordRule::kDashPieces;
  PairWith pairs = PairWith::kEvery;
  platform::TextReadRules rules{false, false};
  size_t blockSize = size_t{1} << 20;
};

// The path parseRecordPath() reads from the line that `span` holds: found in
// place where the line allows, else copied into `room` (kMaxPathLength + 1
// bytes).
std::string_view recordPathOf(const PieceSpan& span, char* room);

// Whether `span` is a whole line of a log: it ends in its line break, or the
// data ends before a piece is full.
bool endsLine(const PieceSpan& span);

// Whether the line in `span` holds the fourteen commas of fifteen fields.
bool hasAllFields(const PieceSpan& span);

// The lines of one log as a record rule takes them: records, lines not read
// (reported), the totals line passed over.
class LogLines {
 public:
  enum class What { kRecord, kUnread, kEnd };

  LogLines(LogReader& reader, RecordRule rule) : reader_(reader), rule_(rule) {}

  // The next record or unread line: a record in `span` (valid until the
  // reader is used again), an unread line's first piece in unreadLine().
  // A last line that the data ends in without its line break is cut short
  // (a killed scan, a full disk), never a record: with kWholeRecords it is
  // one more unread line. `taken(span)` is asked first about each line
  // that begins with "-" and ends within its piece: a line it takes is
  // passed over as a record handled already, without counting its fields.
  template <typename Taken>
  What next(PieceSpan& span, Taken taken) {
    for (;;) {
      if (!reader_.nextSpan(span)) return cutLine();
      ++line_;
      bool dash = span.size > 0 && span.bytes[0] == '-';
      if (rule_ == RecordRule::kDashPieces) {
        if (!dash) continue;
        if (taken(span)) continue;
        return What::kRecord;
      }
      if (!endsLine(span)) {
        copyPiece(span, unread_);
        passOverRest();
        return What::kUnread;
      }
      if (dash && taken(span)) continue;
      if (dash && hasAllFields(span)) return What::kRecord;
      if (isTotalsLine(span)) continue;
      copyPiece(span, unread_);
      return What::kUnread;
    }
  }

  What next(PieceSpan& span) {
    return next(span, [](const PieceSpan&) { return false; });
  }

  // The number of the line last delivered, from 1; a line longer than a
  // piece counts once with kWholeRecords, every piece with kDashPieces.
  uint64_t lineNumber() const { return line_; }

  // The first piece of the unread line last delivered.
  const LinePiece& unreadLine() const { return unread_; }

  // The first characters of a line, as shown: at most `limit`, its line
  // break left out.
  static std::string shownText(const LinePiece& piece, size_t limit);

 private:
  static bool isTotalsLine(const PieceSpan& span);
  // A line longer than a piece: its further pieces belong to it.
  void passOverRest();
  // At the end of the data: the cut last line, once, when it is a line of
  // its own.
  What cutLine();

  LogReader& reader_;
  RecordRule rule_;
  uint64_t line_ = 0;
  LinePiece unread_;
  bool cutSeen_ = false;
};

class LogPairing {
 public:
  // `before` and `after` are opened in binary mode and stand at their start;
  // the after log must be able to seek.
  LogPairing(std::FILE* before, std::FILE* after, const PairingOptions& options);

  // Reads the after log through and indexes its record lines, numbering them
  // from 0 in log order. Calls unread(lineNumber, piece) with the first
  // piece of each line it cannot read (kWholeRecords only), and first(span)
  // with its first record.
  template <typename Unread, typename First>
  void indexAfterLog(Unread unread, First first) {
    LogReader reader(after_, options_.rules, options_.blockSize, true);
    LogLines lines(reader, options_.records);
    PieceSpan span;
    for (LogLines::What what; (what = lines.next(span)) != LogLines::What::kEnd;) {
      if (what == LogLines::What::kUnread) {
        unread(lines.lineNumber(), lines.unreadLine());
        continue;
      }
      if (index_.size() == 0) first(span);
      char room[kMaxPathLength + 1];
      std::string_view path = recordPathOf(span, room);
      index_.add(span.offset, hashText(path.data(), path.size()));
    }
    index_.seal();
    afterCut_ = endsInCutRecord(reader);
  }

  uint32_t afterRecords() const { return index_.size(); }

  // Whether the log ends in a cut line that began as a record line: an
  // entry its scan meant to record and did not. Known once the log is read.
  bool afterEndsInCutRecord() const { return afterCut_; }
  bool beforeEndsInCutRecord() const { return beforeCut_; }

  // Reads the before log through once. For each record line:
  // visitor.inStep(span) when it was taken in step (only while
  // visitor.mayTakeInStep() says yes), visitor.record(span) otherwise, which
  // may call pair(). For each line it cannot read (kWholeRecords only):
  // visitor.unread(lineNumber, piece), `piece` its first piece.
  template <typename Visitor>
  void walkBeforeLog(Visitor& visitor) {
    LogReader reader(before_, options_.rules, options_.blockSize, false);
    LogLines lines(reader, options_.records);
    auto taken = [&](const PieceSpan& line) {
      if (!visitor.mayTakeInStep() || !takeInStep(line)) return false;
      visitor.inStep(line);
      return true;
    };
    PieceSpan span;
    for (LogLines::What what; (what = lines.next(span, taken)) != LogLines::What::kEnd;) {
      if (what == LogLines::What::kUnread) {
        visitor.unread(lines.lineNumber(), lines.unreadLine());
      } else {
        visitor.record(span);
      }
    }
    beforeCut_ = endsInCutRecord(reader);
  }

  // Pairs the before line `line`, whose path (or the path it stands for in
  // the after log) is `path`, with the after lines of that path: every one
  // or the first free one, as the options say, in log order. Calls
  // take(ordinal, candidate) for each: `candidate` is nullptr when the after
  // line is byte for byte `line`, else the after line (valid until the next
  // call of pair()). Returns how many it paired.
  template <typename Take>
  size_t pair(std::string_view path, const PieceSpan& line, Take take) {
    size_t paired = 0;
    uint32_t first = 0;
    bool onlyOne = options_.pairs == PairWith::kFirstFree;
    index_.forEachCandidate(hashText(path.data(), path.size()), [&](uint32_t ordinal) {
      if (onlyOne && (paired > 0 || index_.matched(ordinal))) return;
      uint64_t offset = index_.offset(ordinal);
      PieceSpan candidate;
      const PieceSpan* shown = nullptr;
      if (!search_.holdsAt(offset, line)) {
        if (!search_.spanAt(offset, candidate)) return;
        char room[kMaxPathLength + 1];
        if (recordPathOf(candidate, room) != path) return;
        shown = &candidate;
      }
      if (paired++ == 0) first = ordinal;
      index_.markMatched(ordinal);
      take(ordinal, shown);
    });
    if (paired > 0) moveTo(first);
    return paired;
  }

  // After the walk: visit(ordinal, paired) for every after record line in
  // log order.
  template <typename Visit>
  void forEachAfterRecord(Visit visit) const {
    for (uint32_t ordinal = 0; ordinal < index_.size(); ++ordinal) {
      visit(ordinal, index_.matched(ordinal));
    }
  }

  // The text of after record line `ordinal`, kept from the walk or read
  // again. Asked in rising order of ordinals. False when it cannot be read.
  bool afterLine(uint32_t ordinal, LinePiece& piece);

 private:
  // After lines that the walk passed over on its way to a later pair, most
  // of them created entries: their text is kept, while there is room, so that
  // they need not be read again at the end.
  class PassedOver {
   public:
    // `ordinal` must be above every one kept before.
    void keep(uint32_t ordinal, const PieceSpan& span);
    // Fills `piece` with the text kept for line `ordinal`, if any. Asked in
    // rising order of ordinals.
    bool find(uint32_t ordinal, LinePiece& piece);

   private:
    static constexpr size_t kRoom = size_t{64} << 20;
    struct Entry {
      uint32_t ordinal;
      uint32_t at;  // where its text starts in text_
    };
    std::string text_;
    std::vector<Entry> entries_;
    size_t next_ = 0;
  };

  // Two scans of one tree list most entries in the same order with the same
  // values: a before line that is byte for byte the after line expected
  // next, not paired yet, whose path no other after line has, is the line a
  // lookup would find, and equal to it.
  bool takeInStep(const PieceSpan& line) {
    if (expected_ >= index_.size() || !index_.aloneAndFree(expected_) ||
        !search_.holdsAt(index_.offset(expected_), line)) {
      return false;
    }
    index_.markMatched(expected_++);
    return true;
  }

  // The walk goes on behind `paired`; the lines it steps over are kept.
  void moveTo(uint32_t paired);

  static bool endsInCutRecord(const LogReader& reader) {
    const LinePiece* cut = reader.cutLine();
    return cut != nullptr && cut->text[0] == '-';
  }

  std::FILE* before_;
  std::FILE* after_;
  PairingOptions options_;
  RecordIndex index_;
  // The after log where the walk expects its next line, and wherever a
  // lookup leads: mostly a few lines from there.
  LogReader search_;
  PassedOver passed_;
  uint32_t expected_ = 0;  // the after line expected to pair with the next before line
  uint32_t keptUpTo_ = 0;  // lines below it are kept or were not to be
  bool beforeCut_ = false;
  bool afterCut_ = false;
};

#endif  // DIRLOG_COMPARE_LOG_PAIRING_H_
