#include "view/log_comparison.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "compare/log_reader.h"
#include "compare/record_index.h"
#include "compare/record_parser.h"

namespace view {
namespace {

// Fifteen fields are fourteen commas; a cut line has fewer.
constexpr size_t kRecordCommas = 14;
// Created entries list after every other change.
constexpr uint64_t kCreatedOrder = uint64_t{1} << 40;

bool endsLine(const PieceSpan& span) {
  return (span.size > 0 && span.bytes[span.size - 1] == '\n') || span.length < kMaxPieceLength;
}

// Whether `span` holds at least fourteen commas, counted eight bytes at a
// time: a byte equal to a comma becomes a zero byte, and those are counted
// without carries crossing bytes. (The CR of a CR LF is no comma.)
bool hasAllFields(const PieceSpan& span) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kLow7 = kOnes * 0x7F;
  constexpr uint64_t kHigh = kOnes * 0x80;
  constexpr uint64_t kCommas = kOnes * ',';
  auto commas = [&](uint64_t word) {
    word ^= kCommas;
    uint64_t nonZero = ((word & kLow7) + kLow7) | word;
    return static_cast<size_t>((((~nonZero & kHigh) >> 7) * kOnes) >> 56);
  };
  size_t count = 0;
  size_t i = 0;
  for (; i + 8 <= span.size; i += 8) {
    uint64_t word;
    std::memcpy(&word, span.bytes + i, 8);
    count += commas(word);
  }
  uint64_t rest = 0;  // zero bytes: never commas
  std::memcpy(&rest, span.bytes + i, span.size - i);
  return count + commas(rest) >= kRecordCommas;
}

bool isTotalsLine(const PieceSpan& span) {
  return span.size >= 8 && std::memcmp(span.bytes, "FILEs - ", 8) == 0;
}

std::string shownText(const PieceSpan& span) {
  LinePiece piece;
  copyPiece(span, piece);
  size_t length = std::min(piece.length, kUnreadTextLength);
  while (length > 0 && (piece.text[length - 1] == '\n' || piece.text[length - 1] == '\r')) {
    --length;
  }
  return std::string(piece.text, length);
}

// A log's lines as the view takes them: record lines, and lines it cannot
// read, which are reported; the totals line is passed over. Lines are
// looked at where the reader holds them; only those kept are copied.
class LineWalk {
 public:
  enum class What { kRecord, kUnread, kEnd };

  explicit LineWalk(LogReader& reader) : reader_(reader) {}

  // The next line. For a record `span` holds it, valid until the next
  // call; for an unread line unreadText() holds its start. `indexed` tells
  // how many pieces of it begin with "-": the record index numbers every
  // such piece.
  What next(PieceSpan& span, uint32_t& indexed) {
    return next(span, indexed, [](const PieceSpan&) { return false; });
  }

  // The same, asking `taken(span)` first about each whole line that starts
  // with "-": a line it takes (returns true for) is passed over, known to be
  // a record without its fields being counted.
  template <typename Taken>
  What next(PieceSpan& span, uint32_t& indexed, Taken taken) {
    indexed = 0;
    for (;;) {
      if (!reader_.nextSpan(span)) return cutLine();
      ++line_;
      bool dash = span.size > 0 && span.bytes[0] == '-';
      if (dash) ++indexed;
      if (!endsLine(span)) {
        unreadText_ = shownText(span);
        passOverRest(span, indexed);
        return What::kUnread;
      }
      if (dash && taken(span)) {
        indexed = 0;
        continue;
      }
      if (dash && hasAllFields(span)) return What::kRecord;
      if (isTotalsLine(span)) continue;
      unreadText_ = shownText(span);
      return What::kUnread;
    }
  }

  uint64_t lineNumber() const { return line_; }
  const std::string& unreadText() const { return unreadText_; }

 private:
  // The last line of a log that its line break never reached is cut short:
  // the reader holds it back, and it is counted once as a line not read.
  What cutLine() {
    const LinePiece* cut = reader_.cutLine();
    if (cut == nullptr || cutSeen_) return What::kEnd;
    cutSeen_ = true;
    ++line_;
    PieceSpan span{cut->offset, cut->text, cut->length, cut->length};
    unreadText_ = shownText(span);
    return What::kUnread;
  }

  // A line longer than any record: its further pieces belong to it.
  void passOverRest(PieceSpan& span, uint32_t& indexed) {
    while (reader_.nextSpan(span)) {
      if (span.size > 0 && span.bytes[0] == '-') ++indexed;
      if (endsLine(span)) return;
    }
    cutSeen_ = true;  // a cut end is this line's
  }

  LogReader& reader_;
  uint64_t line_ = 0;
  std::string unreadText_;
  bool cutSeen_ = false;
};

// The path parseRecordPath() reads from the line `span` holds: found in
// place when the line allows, else copied into `room` (kMaxPathLength + 1
// bytes).
std::string_view recordPathOf(const PieceSpan& span, char* room) {
  const char* path;
  size_t length;
  if (findRecordPath(span.bytes, span.length, path, length)) return {path, length};
  LinePiece piece;
  copyPiece(span, piece);
  return {room, parseRecordPath(piece.text, room)};
}

char separatorOf(const char* path) { return std::strchr(path, '/') != nullptr ? '/' : '\\'; }

class Comparer {
 public:
  Comparer(std::FILE* before, std::FILE* after, const ComparisonOptions& options)
      : beforeLog_(before),
        afterLog_(after),
        options_(options),
        rules_(logReadRules()),
        search_(after, rules_, options.blockSize, true) {}

  Comparison run() {
    {
      LogReader indexing(afterLog_, rules_, options_.blockSize, true);
      index_.build(indexing);
    }
    surveyAfterLog();
    walkBeforeLog();
    collectCreated();
    for (UnreadLine& line : unreadAfter_) {
      if (result_.unread.size() == kUnreadListed) break;
      result_.unread.push_back(std::move(line));
    }
    return std::move(result_);
  }

 private:
  static void learnStart(LogFacts& facts, const char* path) {
    facts.separator = separatorOf(path);
    facts.start = startFolderOf(path);
  }

  // The after log is read first; its lines are listed after the before
  // log's all the same.
  void note(UnreadLine::Log log, const LineWalk& lines) {
    ++result_.unreadCount;
    std::vector<UnreadLine>& listed =
        log == UnreadLine::Log::kBefore ? result_.unread : unreadAfter_;
    if (listed.size() < kUnreadListed) {
      listed.push_back({log, lines.lineNumber(), lines.unreadText()});
    }
  }

  // The path a before entry has in the after log: `path` itself, or with
  // --relative the same path below the after log's start folder.
  std::string_view lookupPath(const char* path, size_t length) {
    std::string_view full(path, length);
    if (options_.matching == PathMatching::kExact || result_.after.separator == 0) return full;
    const LogFacts& before = result_.before;
    std::string rest = belowStart(std::string(full), before.start, before.separator);
    if (rest == full) return full;
    lookup_ = result_.after.start + result_.after.separator + rest;
    return lookup_;
  }

  void walkBeforeLog() {
    LogReader walk(beforeLog_, rules_, options_.blockSize, false);
    LineWalk lines(walk);
    PieceSpan span;
    uint32_t indexed;
    // A line equal to a record of the after log is a record; the first one
    // is read whole all the same, for the start folder it gives.
    auto taken = [&](const PieceSpan& line) {
      if (result_.before.records == 0 || !takeExpected(line)) return false;
      ++result_.before.records;
      return true;
    };
    for (LineWalk::What what; (what = lines.next(span, indexed, taken)) != LineWalk::What::kEnd;) {
      if (what == LineWalk::What::kUnread) {
        note(UnreadLine::Log::kBefore, lines);
        continue;
      }
      uint64_t order = result_.before.records++;
      char room[kMaxPathLength + 1];
      std::string_view path = recordPathOf(span, room);
      if (order == 0) {
        learnStart(result_.before, std::string(path).c_str());
        if (result_.after.separator == 0) {
          result_.system =
              result_.before.separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
        }
        samePaths_ = options_.matching == PathMatching::kExact ||
                     (result_.before.start == result_.after.start &&
                      result_.before.separator == result_.after.separator);
      }
      copyPiece(span, piece_);
      lookUp(span, piece_, lookupPath(path.data(), path.size()), order);
    }
  }

  // Two scans of one tree list most entries in the same order with the same
  // values, so the walk keeps its place in the after log: a before line that
  // is byte for byte the after line expected next, not yet taken, whose path
  // no other after line has, is the line a lookup would find, and equal to
  // it. Taking it costs one comparison of bytes.
  bool takeExpected(const PieceSpan& span) {
    if (!samePaths_ || expected_ >= index_.size() || !readable_[expected_] ||
        index_.matched(expected_) || !index_.alone(expected_) ||
        !search_.holdsAt(index_.offset(expected_), span)) {
      return false;
    }
    index_.markMatched(expected_++);
    return true;
  }

  // Finds the first line of the after log not yet taken that has `path`,
  // and weighs the before entry in `line`, copied into `piece`, against it.
  void lookUp(const PieceSpan& line, const LinePiece& piece, std::string_view path,
              uint64_t order) {
    bool found = false;
    bool identical = false;
    uint32_t match = 0;
    index_.forEachCandidate(hashText(path.data(), path.size()), [&](uint32_t ordinal) {
      if (found || index_.matched(ordinal) || !readable_[ordinal]) return;
      // Most entries of two scans are lines equal byte for byte.
      if (search_.holdsAt(index_.offset(ordinal), line)) {
        found = identical = true;
        match = ordinal;
        return;
      }
      PieceSpan candidate;
      if (!search_.spanAt(index_.offset(ordinal), candidate)) return;
      char room[kMaxPathLength + 1];
      if (recordPathOf(candidate, room) != path) return;
      found = true;
      match = ordinal;
      copyPiece(candidate, matched_);
    });
    if (found) {
      index_.markMatched(match);
      expected_ = match + 1;
      if (!identical) weigh(piece, order);
      return;
    }
    Change change;
    change.kind = Kind::kDeleted;
    change.before = beforeEntry(piece);
    change.order = order;
    result_.changes.push_back(std::move(change));
  }

  Entry beforeEntry(const LinePiece& piece) {
    parseRecordLine(piece.text, record_);
    const LogFacts& facts = result_.before;
    return toEntry(record_, belowStart(record_.path, facts.start, facts.separator), result_.system);
  }

  Entry afterEntry(const LinePiece& piece) {
    parseRecordLine(piece.text, record_);
    const LogFacts& facts = result_.after;
    return toEntry(record_, belowStart(record_.path, facts.start, facts.separator), result_.system);
  }

  void weigh(const LinePiece& piece, uint64_t order) {
    Change change =
        modification(beforeEntry(piece), afterEntry(matched_), result_.system, options_.access);
    if (change.changed == 0 && change.kind == Kind::kModified) {
      if (change.before->access != change.after->access) ++result_.accessOnly;
      return;
    }
    change.order = order;
    result_.changes.push_back(std::move(change));
  }

  // The after log in order, before any lookup: which of the lines the index
  // numbers are records the view reads (a piece of a longer line never is),
  // the lines it cannot read, its start folder.
  void surveyAfterLog() {
    readable_.assign(index_.size(), false);
    if (!platform::seekFile(afterLog_, 0)) return;
    LogReader walk(afterLog_, rules_, options_.blockSize, false);
    LineWalk lines(walk);
    PieceSpan span;
    uint32_t indexed;
    uint32_t ordinal = 0;
    for (LineWalk::What what; (what = lines.next(span, indexed)) != LineWalk::What::kEnd;) {
      uint32_t first = ordinal;
      ordinal += indexed;
      if (what == LineWalk::What::kUnread) {
        note(UnreadLine::Log::kAfter, lines);
        continue;
      }
      if (first < readable_.size()) readable_[first] = true;
      if (result_.after.records++ == 0) {
        char room[kMaxPathLength + 1];
        learnStart(result_.after, std::string(recordPathOf(span, room)).c_str());
        result_.system = result_.after.separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
      }
    }
  }

  // Every readable line of the after log that no before entry took was
  // created; its number in the index keeps the log's order.
  void collectCreated() {
    for (uint32_t ordinal = 0; ordinal < index_.size(); ++ordinal) {
      if (!readable_[ordinal] || index_.matched(ordinal)) continue;
      if (!search_.readAt(index_.offset(ordinal), candidate_)) continue;
      Change change;
      change.kind = Kind::kCreated;
      change.after = afterEntry(candidate_);
      change.order = kCreatedOrder + ordinal;
      result_.changes.push_back(std::move(change));
    }
  }

  std::FILE* beforeLog_;
  std::FILE* afterLog_;
  ComparisonOptions options_;
  platform::TextReadRules rules_;
  LogReader search_;
  RecordIndex index_;
  Comparison result_;
  std::vector<UnreadLine> unreadAfter_;
  std::string lookup_;
  std::vector<bool> readable_;  // by index number: a record line the view reads
  bool samePaths_ = false;      // a before path is looked up as itself
  uint32_t expected_ = 0;       // the after line the next before line most likely is
  LinePiece piece_;
  LinePiece candidate_;
  LinePiece matched_;
  EntryRecord record_;
};

}  // namespace

Comparison compareLogs(std::FILE* before, std::FILE* after, const ComparisonOptions& options) {
  auto comparer = std::make_unique<Comparer>(before, after, options);
  return comparer->run();
}

std::string startFolderOf(const std::string& recordPath) {
  size_t cut = recordPath.rfind(separatorOf(recordPath.c_str()));
  return cut == std::string::npos ? std::string() : recordPath.substr(0, cut);
}

std::string belowStart(const std::string& path, const std::string& start, char separator) {
  if (path.size() <= start.size() + 1 || path.compare(0, start.size(), start) != 0 ||
      path[start.size()] != separator) {
    return path;
  }
  return path.substr(start.size() + 1);
}

}  // namespace view

namespace view {

std::optional<FoundEntry> findEntry(std::FILE* log, const std::string& path, size_t blockSize) {
  LogReader reader(log, logReadRules(), blockSize, false);
  LineWalk lines(reader);
  auto piece = std::make_unique<LinePiece>();
  PieceSpan span;
  auto record = std::make_unique<EntryRecord>();
  std::string start;
  char separator = 0;
  uint32_t indexed;
  for (LineWalk::What what; (what = lines.next(span, indexed)) != LineWalk::What::kEnd;) {
    if (what != LineWalk::What::kRecord) continue;
    copyPiece(span, *piece);
    char recordPath[kMaxPathLength + 1];
    parseRecordPath(piece->text, recordPath);
    if (separator == 0) {
      separator = separatorOf(recordPath);
      start = startFolderOf(recordPath);
    }
    std::string below = belowStart(recordPath, start, separator);
    if (path != recordPath && path != below) continue;
    parseRecordLine(piece->text, *record);
    LogSystem system = separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
    return FoundEntry{toEntry(*record, below, system), system, start};
  }
  return std::nullopt;
}

}  // namespace view
