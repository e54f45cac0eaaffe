// Reading a snapshot log the way a line read of at most 998 characters from a
// text-mode stream delivers it, from the file's own bytes: one piece per read,
// each with the file offset it starts at, so that any piece can be read again
// later without reading the file from its start.
#ifndef DIRLOG_COMPARE_LOG_READER_H_
#define DIRLOG_COMPARE_LOG_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/directory_search.h"

// The most characters one line read delivers (a read given 999 bytes of
// room, the terminating zero included).
constexpr size_t kMaxPieceLength = 998;

// One line read: up to and including a "\n", or kMaxPieceLength characters
// when no "\n" comes first, or what is left before the end of the data.
struct LinePiece {
  uint64_t offset;                 // of its first byte in the file
  size_t length;                   // characters delivered; a zero byte among them counts
  char text[kMaxPieceLength + 2];  // those characters, then a zero
};

// The rules in force for reading logs: platform::textReadRules() unless a
// test installed others.
platform::TextReadRules logReadRules();

// Installs `rules` (copied) for every reader made afterwards; nullptr
// restores the platform's. For tests.
void useLogReadRules(const platform::TextReadRules* rules);

class LogReader {
 public:
  // Reads `stream`, opened in binary mode and standing at its start, with
  // `rules` applied to its bytes: with crLfReadsAsLf a CR directly followed by
  // LF reads as one "\n", any other CR as itself; with ctrlZEndsFile the data
  // ends in front of the first 0x1A byte. Reads take up to `blockSize` bytes
  // at once (at least 4096 are taken). A reader that `repositions` seeks the
  // stream before each read, so several readers may share one stream; one
  // that does not only ever reads on from where the stream stands, which
  // suits a stream that cannot seek. A failed read or seek ends the data.
  LogReader(FILE* stream, platform::TextReadRules rules, size_t blockSize, bool repositions);

  // The piece that follows the last one next() delivered (the first piece of
  // the file at the start). False at the end of the data.
  bool next(LinePiece& piece);

  // The piece that starts at `offset`, which must be the offset of a piece
  // (any offset next() reported). Leaves next() where it was. False when
  // nothing can be read there. A reader that does not reposition serves only
  // offsets that its buffer still holds.
  bool readAt(uint64_t offset, LinePiece& piece);

 private:
  bool window(uint64_t offset, const char*& data, size_t& available);
  void reposition(uint64_t offset);
  void readOn();
  void take(const char* data, size_t available, LinePiece& piece, size_t& used) const;

  FILE* stream_;
  platform::TextReadRules rules_;
  bool repositions_;
  size_t maxBlock_;
  size_t block_;  // bytes asked of the next read
  size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  size_t bufferLength_ = 0;
  bool dataEnds_ = false;  // the data ends where the buffer does
  uint64_t position_ = 0;  // of the piece next() delivers next
  unsigned hitsSinceFill_ = 0;
};

#endif  // DIRLOG_COMPARE_LOG_READER_H_
