#include "view/log_comparison.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "compare/log_pairing.h"
#include "compare/log_reader.h"
#include "compare/record_parser.h"
#include "view/windows_names.h"

namespace view {
namespace {

// Created entries list after every other change.
constexpr uint64_t kCreatedOrder = uint64_t{1} << 40;

char separatorOf(const char* path) { return std::strchr(path, '/') != nullptr ? '/' : '\\'; }

class Comparer {
 public:
  Comparer(std::FILE* before, std::FILE* after, const ComparisonOptions& options)
      : options_(options), pairing_(before, after, pairingOptions(options)) {}

  Comparison run() {
    pairing_.indexAfterLog(
        [&](uint64_t line, const LinePiece& piece) { note(UnreadLine::Log::kAfter, line, piece); },
        [&](const PieceSpan& first) {
          char room[kMaxPathLength + 1];
          learnStart(result_.after, std::string(recordPathOf(first, room)).c_str());
          result_.system = result_.after.separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
        });
    result_.after.records = pairing_.afterRecords();
    afterBase_ = result_.after.start;
    if (result_.after.separator != 0) result_.pathsBelow = afterBase_;
    pairing_.walkBeforeLog(*this);
    collectCreated();
    if (result_.system == LogSystem::kWindows) decodeFolders();
    for (UnreadLine& line : unreadAfter_) {
      if (result_.unread.size() == kUnreadListed) break;
      result_.unread.push_back(std::move(line));
    }
    return std::move(result_);
  }

  // The before log's side of the pairing. A line taken in step is a record
  // equal to its after line; the first one is looked at all the same, for
  // the start folder it gives.
  bool mayTakeInStep() const { return samePaths_ && result_.before.records > 0; }
  void inStep(const PieceSpan&) { ++result_.before.records; }
  void unread(uint64_t line, const LinePiece& piece) {
    note(UnreadLine::Log::kBefore, line, piece);
  }

  void record(const PieceSpan& line) {
    uint64_t order = result_.before.records++;
    char room[kMaxPathLength + 1];
    std::string_view path = recordPathOf(line, room);
    if (order == 0) learnBeforeStart(std::string(path));
    copyPiece(line, piece_);
    bool identical = false;
    size_t paired =
        pairing_.pair(lookupPath(path), line, [&](uint32_t, const PieceSpan* candidate) {
          identical = candidate == nullptr;
          if (!identical) copyPiece(*candidate, matched_);
        });
    if (paired == 0) {
      Change change;
      change.kind = Kind::kDeleted;
      change.before = beforeEntry(piece_);
      change.order = order;
      result_.changes.push_back(std::move(change));
    } else if (!identical) {
      weigh(piece_, order);
    }
  }

 private:
  static PairingOptions pairingOptions(const ComparisonOptions& options) {
    PairingOptions pairing;
    pairing.records = RecordRule::kWholeRecords;
    pairing.pairs = PairWith::kFirstFree;
    pairing.rules = logReadRules();
    pairing.blockSize = options.blockSize;
    return pairing;
  }

  static void learnStart(LogFacts& facts, const char* path) {
    facts.separator = separatorOf(path);
    facts.start = startFolderOf(path);
  }

  void learnBeforeStart(const std::string& path) {
    learnStart(result_.before, path.c_str());
    if (result_.after.separator == 0) {
      result_.system = result_.before.separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
    }
    bool sameStart =
        result_.after.separator == 0 || (result_.before.start == result_.after.start &&
                                         result_.before.separator == result_.after.separator);
    bool exact = options_.matching == PathMatching::kExact;
    samePaths_ = exact || sameStart;
    beforeBase_ = result_.before.start;
    if (sameStart) {
      result_.pathsBelow = beforeBase_;
    } else if (exact) {
      // One list of two roots would show two different entries under one
      // name: both logs' paths are shown below what their folders share.
      result_.startsDiffer = true;
      beforeBase_ = afterBase_ =
          result_.before.separator == result_.after.separator
              ? commonFolder(result_.before.start, result_.after.start, result_.before.separator)
              : std::string();
      result_.pathsBelow = beforeBase_;
    } else {
      result_.pathsBelow.reset();
    }
  }

  // The after log is read first; its lines are listed after the before
  // log's all the same.
  void note(UnreadLine::Log log, uint64_t line, const LinePiece& piece) {
    ++result_.unreadCount;
    LogFacts& facts = log == UnreadLine::Log::kBefore ? result_.before : result_.after;
    ++facts.unread;
    if (piece.text[0] == '-') facts.dashLines = true;
    std::vector<UnreadLine>& listed =
        log == UnreadLine::Log::kBefore ? result_.unread : unreadAfter_;
    if (listed.size() < kUnreadListed) {
      listed.push_back({log, line, LogLines::shownText(piece, kUnreadTextLength)});
    }
  }

  // The path a before entry has in the after log: `path` itself, or with
  // --relative the same path below the after log's start folder.
  std::string_view lookupPath(std::string_view full) {
    if (options_.matching == PathMatching::kExact || result_.after.separator == 0) return full;
    const LogFacts& before = result_.before;
    std::string rest = belowStart(std::string(full), before.start, before.separator);
    if (rest == full) return full;
    lookup_ = result_.after.start + result_.after.separator + rest;
    return lookup_;
  }

  Entry beforeEntry(const LinePiece& piece) {
    parseRecordLine(piece.text, record_);
    return decoded(toEntry(record_, belowStart(record_.path, beforeBase_, result_.before.separator),
                           result_.system));
  }

  Entry afterEntry(const LinePiece& piece) {
    parseRecordLine(piece.text, record_);
    return decoded(toEntry(record_, belowStart(record_.path, afterBase_, result_.after.separator),
                           result_.system));
  }

  // Paths are matched as the logs hold them; only what is shown is decoded.
  Entry decoded(Entry entry) const {
    if (result_.system != LogSystem::kWindows) return entry;
    entry.path = decodeWindowsName(entry.path, options_.codePage);
    entry.shortName = decodeWindowsName(entry.shortName, options_.codePage);
    return entry;
  }

  void decodeFolders() {
    result_.codePage = options_.codePage;
    for (LogFacts* facts : {&result_.before, &result_.after}) {
      facts->start = decodeWindowsName(facts->start, options_.codePage);
    }
    if (result_.pathsBelow) {
      result_.pathsBelow = decodeWindowsName(*result_.pathsBelow, options_.codePage);
    }
  }

  void weigh(const LinePiece& piece, uint64_t order) {
    Change change =
        modification(beforeEntry(piece), afterEntry(matched_), result_.system, options_.access);
    if (change.changed == 0 && change.kind == Kind::kModified) {
      if (change.before->access != change.after->access && countsAccessOnly(*change.after)) {
        ++result_.accessOnly;
      }
      return;
    }
    change.order = order;
    result_.changes.push_back(std::move(change));
  }

  bool countsAccessOnly(const Entry& entry) const {
    if (!options_.accessOnlyCounts) return true;
    return options_.accessOnlyCounts(entry, result_.system == LogSystem::kPosix ? '/' : '\\');
  }

  // Every after line that no before entry took was created; its number in
  // the index keeps the log's order.
  void collectCreated() {
    pairing_.forEachAfterRecord([&](uint32_t ordinal, bool paired) {
      if (paired || !pairing_.afterLine(ordinal, matched_)) return;
      Change change;
      change.kind = Kind::kCreated;
      change.after = afterEntry(matched_);
      change.order = kCreatedOrder + ordinal;
      result_.changes.push_back(std::move(change));
    });
  }

  ComparisonOptions options_;
  LogPairing pairing_;
  Comparison result_;
  std::vector<UnreadLine> unreadAfter_;
  std::string lookup_;
  bool samePaths_ = false;  // a before path is looked up as itself
  // The folders that entries of each log are shown below.
  std::string beforeBase_;
  std::string afterBase_;
  LinePiece piece_;
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

std::string commonFolder(const std::string& a, const std::string& b, char separator) {
  size_t same = 0;
  while (same < a.size() && same < b.size() && a[same] == b[same]) ++same;
  // Whole names only: the shared text ends where both folders end or a name
  // does.
  bool whole =
      (same == a.size() || a[same] == separator) && (same == b.size() || b[same] == separator);
  if (whole) return a.substr(0, same);
  if (same == 0) return std::string();
  size_t cut = a.rfind(separator, same - 1);
  return cut == std::string::npos ? std::string() : a.substr(0, cut);
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

std::optional<FoundEntry> findEntry(std::FILE* log, const std::string& path, unsigned codePage,
                                    size_t blockSize) {
  LogReader reader(log, logReadRules(), blockSize, false);
  LogLines lines(reader, RecordRule::kWholeRecords);
  auto piece = std::make_unique<LinePiece>();
  PieceSpan span;
  auto record = std::make_unique<EntryRecord>();
  std::string start;
  char separator = 0;
  for (LogLines::What what; (what = lines.next(span)) != LogLines::What::kEnd;) {
    if (what != LogLines::What::kRecord) continue;
    copyPiece(span, *piece);
    char recordPath[kMaxPathLength + 1];
    parseRecordPath(piece->text, recordPath);
    if (separator == 0) {
      separator = separatorOf(recordPath);
      start = startFolderOf(recordPath);
    }
    std::string whole = recordPath;
    std::string below = belowStart(whole, start, separator);
    LogSystem system = separator == '/' ? LogSystem::kPosix : LogSystem::kWindows;
    if (system == LogSystem::kWindows) {
      whole = decodeWindowsName(whole, codePage);
      below = decodeWindowsName(below, codePage);
    }
    if (path != whole && path != below) continue;
    parseRecordLine(piece->text, *record);
    Entry entry = toEntry(*record, below, system);
    if (system == LogSystem::kWindows) {
      entry.shortName = decodeWindowsName(entry.shortName, codePage);
      start = decodeWindowsName(start, codePage);
    }
    return FoundEntry{std::move(entry), system, start};
  }
  return std::nullopt;
}

std::optional<std::string> logStartFolder(std::FILE* log, size_t blockSize) {
  LogReader reader(log, logReadRules(), blockSize, false);
  LogLines lines(reader, RecordRule::kWholeRecords);
  PieceSpan span;
  for (LogLines::What what; (what = lines.next(span)) != LogLines::What::kEnd;) {
    if (what != LogLines::What::kRecord) continue;
    char room[kMaxPathLength + 1];
    return startFolderOf(std::string(recordPathOf(span, room)));
  }
  return std::nullopt;
}

}  // namespace view
