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

// A piece where it stands in the reader's data, not copied: what a comparison
// needs of most lines, which it only looks at.
struct PieceSpan {
  uint64_t offset;    // of its first byte in the file
  const char* bytes;  // its bytes on disk; valid until the reader is used again
  size_t size;        // bytes on disk: `length`, or one more when its "\n" is a CR LF
  size_t length;      // characters a line read delivers
};

// Copies the characters of `span` into `piece`: its bytes, a CR LF read as
// "\n", then a zero.
void copyPiece(const PieceSpan& span, LinePiece& piece);

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
  // suits a stream that cannot seek. A failed read or seek ends the data, so
  // a file that another program cuts short while it is read ends where it
  // ends then. (Logs are read, not mapped into memory: a mapped file cut
  // short ends the process with a signal when its lost bytes are touched.)
  LogReader(FILE* stream, platform::TextReadRules rules, size_t blockSize, bool repositions);

  // The piece that follows the last one next() delivered (the first piece of
  // the file at the start). False at the end of the data, and in front of a
  // last piece that the data ends in without a line break: a line cut short
  // (a killed scan, a full disk), which is no line a reader may take for a
  // record. cutLine() then holds it.
  bool next(LinePiece& piece);

  // The piece that starts at `offset`, which must be the offset of a piece
  // (any offset next() reported). Leaves next() where it was. False when
  // nothing can be read there. A reader that does not reposition serves only
  // offsets that its buffer still holds (a mapped file: any).
  bool readAt(uint64_t offset, LinePiece& piece);

  // next() and readAt() without the copy.
  bool nextSpan(PieceSpan& span);
  bool spanAt(uint64_t offset, PieceSpan& span);

  // Once next() has returned false: the cut last piece it held back, with
  // its text and offset, or nullptr when the data ended after a line break
  // (or held nothing). A piece that a CR ends is cut too: the LF that would
  // have made the pair a line break is missing.
  const LinePiece* cutLine() const { return cutFound_ ? &cut_ : nullptr; }

  // Whether the piece at `offset` is `span` byte for byte, `span` being a
  // piece that a reader with the same rules delivered from any log.
  bool holdsAt(uint64_t offset, const PieceSpan& span);

 private:
  // Makes the bytes from `offset` on readable, at least a whole piece of
  // them unless the data ends sooner. False when no byte is left there.
  // Most calls ask for bytes that the last read brought.
  bool window(uint64_t offset, const char*& data, size_t& available) {
    uint64_t into = offset - bufferStart_;  // huge when the offset lies before it
    if (into < wholeStarts_) {
      ++hitsSinceFill_;
      data = buffer_.get() + into;
      available = bufferLength_ - static_cast<size_t>(into);
      return true;
    }
    return readWindow(offset, data, available);
  }
  bool readWindow(uint64_t offset, const char*& data, size_t& available);
  void reposition(uint64_t offset);
  void readOn();
  void measure(const char* data, size_t available, PieceSpan& span) const;
  void holdBackCutLine(const PieceSpan& span);

  FILE* stream_;
  platform::TextReadRules rules_;
  bool repositions_;
  size_t maxBlock_;
  size_t block_;  // bytes asked of the next read
  size_t capacity_ = 0;
  std::unique_ptr<char[]> buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  size_t bufferLength_ = 0;
  bool dataEnds_ = false;  // the data ends where the buffer does
  // How many offsets from bufferStart_ on have a whole piece, and a byte
  // more, in the buffer, or all there is before the end of the data.
  uint64_t wholeStarts_ = 0;
  uint64_t position_ = 0;  // of the piece next() delivers next
  unsigned hitsSinceFill_ = 0;
  bool cutFound_ = false;
  LinePiece cut_;
};

#endif  // DIRLOG_COMPARE_LOG_READER_H_
