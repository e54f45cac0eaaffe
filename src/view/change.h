// The view's model of what changed between two snapshot logs: the entries it
// keeps (only those that changed), one change per path, and the fields that
// differ.
#ifndef DIRLOG_VIEW_CHANGE_H_
#define DIRLOG_VIEW_CHANGE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "snapshot/entry_record.h"

namespace view {

enum class Kind { kCreated, kDeleted, kModified, kMoved, kType };
enum class EntryType { kFile, kDirectory, kLink, kOther };
// What a change touched: the content, only metadata, only times, or, for a
// move, nothing but its place.
enum class Verdict { kContent, kMetadata, kTimes, kPlace };

// Where a log was taken: paths with '/' come from a POSIX system, whose
// reserved words hold the mode and the owner.
enum class LogSystem { kWindows, kPosix };

// Whether the access time counts as a change of its own.
enum class AccessTimes { kHidden, kShown };

// The fields of an entry that a change can name, as bits.
enum Field : unsigned {
  kSizeField = 1u << 0,
  kWriteTimeField = 1u << 1,
  kCreationTimeField = 1u << 2,
  kAccessTimeField = 1u << 3,
  kAttributesField = 1u << 4,
  kModeField = 1u << 5,
  kOwnerField = 1u << 6,
  kShortNameField = 1u << 7,
};

// One record as the view keeps it. Times are 100 ns units since 1601-01-01
// UTC; 0 stands for no time.
struct Entry {
  std::string path;  // below the log's start folder, no leading separator
  std::string shortName;
  EntryType type = EntryType::kFile;
  int32_t attributes = 0;
  uint64_t size = 0;
  uint32_t mode = 0;   // reserved0
  uint32_t owner = 0;  // reserved1
  uint64_t creation = 0;
  uint64_t access = 0;
  uint64_t write = 0;
};

struct Change {
  Kind kind = Kind::kModified;
  std::optional<Entry> before;  // absent for created
  std::optional<Entry> after;   // absent for deleted
  unsigned changed = 0;         // Field bits; 0 for created and deleted
  Verdict verdict = Verdict::kContent;
  // Position in the listing: the before log's record number for every kind
  // but created, which follow all others in the after log's order.
  uint64_t order = 0;
  // A move that changed nothing but its place, below a moved directory
  // whose line stands for it: the order of that line.
  std::optional<uint64_t> foldedInto;
};

// The type an entry's attributes (and, on POSIX logs, its mode) say.
EntryType entryType(int32_t attributes, uint32_t mode, LogSystem system);

// `record` as the view keeps it, its path made `relativePath`.
Entry toEntry(const EntryRecord& record, std::string relativePath, LogSystem system);

// The fields in which `after` differs from `before` (the path aside). Mode
// and owner count only on POSIX logs; the access time only when shown.
unsigned changedFields(const Entry& before, const Entry& after, LogSystem system,
                       AccessTimes access);

// The verdict on a change of `changed` fields: content when the size or the
// write time changed, else metadata when attributes, mode, owner or short
// name did, else times. Nothing changed reads as content.
Verdict verdictOf(unsigned changed);

// The change of `before` into `after` at the same path: kType when their
// types differ, kModified otherwise; `changed` and `verdict` filled in.
Change modification(Entry before, Entry after, LogSystem system, AccessTimes access);

const char* kindName(Kind kind);
const char* typeName(EntryType type);
const char* verdictName(Verdict verdict);
// Field names as the JSON output spells them, in Field bit order.
const char* fieldName(Field field);
constexpr Field kAllFields[] = {kSizeField,       kWriteTimeField,  kCreationTimeField,
                                kAccessTimeField, kAttributesField, kModeField,
                                kOwnerField,      kShortNameField};

}  // namespace view

#endif  // DIRLOG_VIEW_CHANGE_H_
