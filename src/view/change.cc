#include "view/change.h"

#include <utility>

#include "platform/directory_search.h"

namespace view {
namespace {

// The file type bits of a POSIX mode, with the values every POSIX system
// gives them.
constexpr uint32_t kModeTypeMask = 0170000;
constexpr uint32_t kModeRegular = 0100000;
constexpr uint32_t kModeDirectory = 0040000;
constexpr uint32_t kModeLink = 0120000;

uint64_t join(uint32_t high, uint32_t low) { return (uint64_t{high} << 32) | low; }

}  // namespace

EntryType entryType(int32_t attributes, uint32_t mode, LogSystem system) {
  if ((attributes & platform::kAttributeReparsePoint) != 0) return EntryType::kLink;
  if ((attributes & kDirectoryBit) != 0) return EntryType::kDirectory;
  if (system == LogSystem::kWindows) return EntryType::kFile;
  switch (mode & kModeTypeMask) {
    case kModeRegular:
      return EntryType::kFile;
    case kModeDirectory:
      return EntryType::kDirectory;
    case kModeLink:
      return EntryType::kLink;
    case 0:
      // No mode recorded: the attributes alone tell.
      return (attributes & platform::kAttributeArchive) == 0 &&
                     (attributes & platform::kAttributeSystem) != 0
                 ? EntryType::kOther
                 : EntryType::kFile;
    default:
      return EntryType::kOther;
  }
}

Entry toEntry(const EntryRecord& record, std::string relativePath, LogSystem system) {
  Entry entry;
  entry.path = std::move(relativePath);
  entry.shortName = record.shortName;
  entry.attributes = record.attributes;
  entry.type = entryType(record.attributes, record.reserved0, system);
  entry.size = join(record.sizeHigh, record.sizeLow);
  entry.mode = record.reserved0;
  entry.owner = record.reserved1;
  entry.creation = join(record.creationHigh, record.creationLow);
  entry.access = join(record.lastAccessHigh, record.lastAccessLow);
  entry.write = join(record.lastWriteHigh, record.lastWriteLow);
  return entry;
}

unsigned changedFields(const Entry& before, const Entry& after, LogSystem system,
                       AccessTimes access) {
  unsigned changed = 0;
  if (before.size != after.size) changed |= kSizeField;
  if (before.write != after.write) changed |= kWriteTimeField;
  if (before.creation != after.creation) changed |= kCreationTimeField;
  if (access == AccessTimes::kShown && before.access != after.access) changed |= kAccessTimeField;
  if (before.attributes != after.attributes) changed |= kAttributesField;
  if (system == LogSystem::kPosix && before.mode != after.mode) changed |= kModeField;
  if (system == LogSystem::kPosix && before.owner != after.owner) changed |= kOwnerField;
  if (before.shortName != after.shortName) changed |= kShortNameField;
  return changed;
}

Verdict verdictOf(unsigned changed) {
  if ((changed & (kSizeField | kWriteTimeField)) != 0) return Verdict::kContent;
  if ((changed & (kAttributesField | kModeField | kOwnerField | kShortNameField)) != 0) {
    return Verdict::kMetadata;
  }
  if ((changed & (kCreationTimeField | kAccessTimeField)) != 0) return Verdict::kTimes;
  return Verdict::kContent;
}

Change modification(Entry before, Entry after, LogSystem system, AccessTimes access) {
  Change change;
  change.kind = before.type != after.type ? Kind::kType : Kind::kModified;
  change.changed = changedFields(before, after, system, access);
  change.verdict = change.kind == Kind::kType ? Verdict::kContent : verdictOf(change.changed);
  change.before = std::move(before);
  change.after = std::move(after);
  return change;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kCreated:
      return "created";
    case Kind::kDeleted:
      return "deleted";
    case Kind::kModified:
      return "modified";
    case Kind::kMoved:
      return "moved";
    case Kind::kType:
      return "type";
  }
  return "";
}

const char* typeName(EntryType type) {
  switch (type) {
    case EntryType::kFile:
      return "file";
    case EntryType::kDirectory:
      return "directory";
    case EntryType::kLink:
      return "link";
    case EntryType::kOther:
      return "other";
  }
  return "";
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kContent:
      return "content";
    case Verdict::kMetadata:
      return "metadata";
    case Verdict::kTimes:
      return "times";
    case Verdict::kPlace:
      return "place";
  }
  return "";
}

const char* fieldName(Field field) {
  switch (field) {
    case kSizeField:
      return "size";
    case kWriteTimeField:
      return "write_time";
    case kCreationTimeField:
      return "creation_time";
    case kAccessTimeField:
      return "access_time";
    case kAttributesField:
      return "attributes";
    case kModeField:
      return "mode";
    case kOwnerField:
      return "owner";
    case kShortNameField:
      return "short_name";
  }
  return "";
}

}  // namespace view
