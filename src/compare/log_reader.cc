#include "compare/log_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

std::optional<platform::TextReadRules> installedRules;

// A piece spans at most kMaxPieceLength + 1 bytes on disk (its "\n" may be a
// CR LF pair), and telling a lone CR from a pair looks one byte further.
constexpr size_t kWindow = kMaxPieceLength + 2;
constexpr size_t kMinBlock = 4096;

}  // namespace

platform::TextReadRules logReadRules() {
  return installedRules ? *installedRules : platform::textReadRules();
}

void useLogReadRules(const platform::TextReadRules* rules) {
  if (rules == nullptr) {
    installedRules.reset();
  } else {
    installedRules = *rules;
  }
}

LogReader::LogReader(FILE* stream, platform::TextReadRules rules, size_t blockSize,
                     bool repositions)
    : stream_(stream),
      rules_(rules),
      repositions_(repositions),
      maxBlock_(std::max(blockSize, kMinBlock)),
      block_(maxBlock_),
      // Room for a block read behind the unread rest of the previous one.
      capacity_(maxBlock_ + kWindow),
      buffer_(new char[capacity_]) {}

bool LogReader::next(LinePiece& piece) {
  const char* data;
  size_t available;
  if (!window(position_, data, available)) return false;
  size_t used;
  take(data, available, piece, used);
  piece.offset = position_;
  position_ += used;
  return true;
}

bool LogReader::readAt(uint64_t offset, LinePiece& piece) {
  const char* data;
  size_t available;
  if (!window(offset, data, available)) return false;
  size_t used;
  take(data, available, piece, used);
  piece.offset = offset;
  return true;
}

// Makes the buffer hold the bytes from `offset` on, at least a whole piece of
// them unless the data ends sooner. False when no byte is left there.
bool LogReader::window(uint64_t offset, const char*& data, size_t& available) {
  uint64_t bufferEnd = bufferStart_ + bufferLength_;
  bool inBuffer = offset >= bufferStart_ && offset <= bufferEnd;
  if (inBuffer && (bufferEnd - offset >= kWindow || dataEnds_)) {
    ++hitsSinceFill_;
  } else if (inBuffer || !repositions_) {
    if (!inBuffer) return false;
    // The piece runs past the buffer: keep its start and read on behind it.
    // Walking a log sequentially only ever comes here.
    size_t keep = static_cast<size_t>(bufferEnd - offset);
    std::memmove(buffer_.get(), buffer_.get() + (offset - bufferStart_), keep);
    bufferStart_ = offset;
    bufferLength_ = keep;
    readOn();
  } else {
    reposition(offset);
  }
  // A file cut short since the offset was taken ends before it.
  uint64_t end = bufferStart_ + bufferLength_;
  if (offset >= end) return false;
  available = static_cast<size_t>(end - offset);
  data = buffer_.get() + (offset - bufferStart_);
  return true;
}

// Looking pieces up at scattered offsets: a block that served many lookups
// is worth doubling, one that served only the lookup that read it wasted the
// rest of its bytes, so the next read is halved.
void LogReader::reposition(uint64_t offset) {
  if (hitsSinceFill_ >= 16) {
    block_ = std::min(block_ * 2, maxBlock_);
  } else if (hitsSinceFill_ < 2) {
    block_ = std::max(block_ / 2, kMinBlock);
  }
  hitsSinceFill_ = 0;
  // Lookups follow the walk of another log, mostly forward; a little room
  // behind the target catches the ones that step back a few lines.
  uint64_t back = std::min<uint64_t>(offset, block_ / 8);
  bufferStart_ = offset - back;
  bufferLength_ = 0;
  dataEnds_ = false;
  readOn();
}

void LogReader::readOn() {
  if (dataEnds_) return;
  uint64_t from = bufferStart_ + bufferLength_;
  if (repositions_ && !platform::seekFile(stream_, from)) {
    dataEnds_ = true;
    return;
  }
  size_t wanted = std::min(block_, capacity_ - bufferLength_);
  char* to = buffer_.get() + bufferLength_;
  size_t got = std::fread(to, 1, wanted, stream_);
  // fread returns short only at the end of the file or on an error; either
  // ends the data.
  if (got < wanted) dataEnds_ = true;
  if (rules_.ctrlZEndsFile) {
    const void* stop = std::memchr(to, 0x1A, got);
    if (stop != nullptr) {
      got = static_cast<size_t>(static_cast<const char*>(stop) - to);
      dataEnds_ = true;
    }
  }
  bufferLength_ += got;
}

void LogReader::take(const char* data, size_t available, LinePiece& piece, size_t& used) const {
  // A "\n" ends the piece if it is among its first kMaxPieceLength
  // characters. On disk that is one byte further when the "\n" is a CR LF
  // pair: every character before the line break is one byte either way.
  size_t scan = std::min(available, kMaxPieceLength + 1);
  const char* lineBreak = static_cast<const char*>(std::memchr(data, '\n', scan));
  size_t length;
  if (lineBreak != nullptr) {
    size_t at = static_cast<size_t>(lineBreak - data);
    if (rules_.crLfReadsAsLf && at > 0 && data[at - 1] == '\r') {
      std::memcpy(piece.text, data, at - 1);
      piece.text[at - 1] = '\n';
      piece.text[at] = '\0';
      piece.length = at;
      used = at + 1;
      return;
    }
    length = at < kMaxPieceLength ? at + 1 : kMaxPieceLength;
  } else {
    length = std::min(available, kMaxPieceLength);
  }
  std::memcpy(piece.text, data, length);
  piece.text[length] = '\0';
  piece.length = length;
  used = length;
}
