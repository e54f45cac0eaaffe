// One directory entry as recorded in a snapshot log and read back from one.
#ifndef DIRLOG_SNAPSHOT_ENTRY_RECORD_H_
#define DIRLOG_SNAPSHOT_ENTRY_RECORD_H_

#include <cstdint>

constexpr int kMaxPathLength = 255;  // characters of `path`
constexpr int kMaxNameLength = 254;  // characters of `name`
constexpr int kMaxShortNameLength = 13;

struct EntryRecord {
  char path[kMaxPathLength + 1];
  int32_t attributes;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t reserved0;
  uint32_t reserved1;
  char name[kMaxNameLength + 1];
  char shortName[kMaxShortNameLength + 1];
  uint32_t creationLow;
  uint32_t creationHigh;
  uint32_t lastAccessLow;
  uint32_t lastAccessHigh;
  uint32_t lastWriteLow;
  uint32_t lastWriteHigh;
};

constexpr int32_t kDirectoryBit = 0x10;

#endif  // DIRLOG_SNAPSHOT_ENTRY_RECORD_H_
