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

void copyPiece(const PieceSpan& span, LinePiece& piece) {
  std::memcpy(piece.text, span.bytes, span.length);
  // A CR LF pair: the CR stands where the "\n" is delivered.
  if (span.size > span.length) piece.text[span.length - 1] = '\n';
  piece.text[span.length] = '\0';
  piece.length = span.length;
  piece.offset = span.offset;
}

LogReader::LogReader(FILE* stream, platform::TextReadRules rules, size_t blockSize,
                     bool repositions)
    : stream_(stream),
      rules_(rules),
      repositions_(repositions),
      maxBlock_(std::max(blockSize, kMinBlock)),
      block_(maxBlock_) {}

bool LogReader::nextSpan(PieceSpan& span) {
  const char* data;
  size_t available;
  if (!window(position_, data, available)) return false;
  measure(data, available, span);
  span.offset = position_;
  position_ += span.size;
  // window() gives a whole piece and a byte more unless the data ends
  // sooner, so a piece that takes all it gave ends the data.
  if (span.size == available && span.bytes[span.size - 1] != '\n') {
    holdBackCutLine(span);
    return false;
  }
  return true;
}

void LogReader::holdBackCutLine(const PieceSpan& span) {
  copyPiece(span, cut_);
  cutFound_ = true;
}

bool LogReader::spanAt(uint64_t offset, PieceSpan& span) {
  const char* data;
  size_t available;
  if (!window(offset, data, available)) return false;
  measure(data, available, span);
  span.offset = offset;
  return true;
}

bool LogReader::holdsAt(uint64_t offset, const PieceSpan& span) {
  const char* data;
  size_t available;
  if (!window(offset, data, available)) return false;
  if (available < span.size || std::memcmp(data, span.bytes, span.size) != 0) return false;
  // The first line break ends a piece, so the same bytes up to a line break
  // make the same piece; a piece cut at its length or by the end of the data
  // may go on here.
  if (span.bytes[span.size - 1] == '\n') return true;
  PieceSpan here;
  measure(data, available, here);
  return here.size == span.size;
}

bool LogReader::next(LinePiece& piece) {
  PieceSpan span;
  if (!nextSpan(span)) return false;
  copyPiece(span, piece);
  return true;
}

bool LogReader::readAt(uint64_t offset, LinePiece& piece) {
  PieceSpan span;
  if (!spanAt(offset, span)) return false;
  copyPiece(span, piece);
  return true;
}

bool LogReader::readWindow(uint64_t offset, const char*& data, size_t& available) {
  if (!buffer_) {
    // Room for a block read behind the unread rest of the previous one.
    capacity_ = maxBlock_ + kWindow;
    buffer_.reset(new char[capacity_]);
  }
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
  wholeStarts_ = dataEnds_ ? bufferLength_ : bufferLength_ - std::min(bufferLength_, kWindow - 1);
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

void LogReader::measure(const char* data, size_t available, PieceSpan& span) const {
  span.bytes = data;
  // A "\n" ends the piece if it is among its first kMaxPieceLength
  // characters. On disk that is one byte further when the "\n" is a CR LF
  // pair: every character before the line break is one byte either way.
  size_t scan = std::min(available, kMaxPieceLength + 1);
  const char* lineBreak = static_cast<const char*>(std::memchr(data, '\n', scan));
  if (lineBreak != nullptr) {
    size_t at = static_cast<size_t>(lineBreak - data);
    if (rules_.crLfReadsAsLf && at > 0 && data[at - 1] == '\r') {
      span.length = at;
      span.size = at + 1;
      return;
    }
    span.length = at < kMaxPieceLength ? at + 1 : kMaxPieceLength;
  } else {
    span.length = std::min(available, kMaxPieceLength);
  }
  span.size = span.length;
}
