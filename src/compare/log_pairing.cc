#include "compare/log_pairing.h"

#include <algorithm>
#include <cstring>

#include "compare/record_parser.h"

namespace {

// Fifteen fields are fourteen commas.
constexpr size_t kRecordCommas = 14;

}  // namespace

std::string_view recordPathOf(const PieceSpan& span, char* room) {
  const char* path;
  size_t length;
  if (findRecordPath(span.bytes, span.length, path, length)) return {path, length};
  LinePiece piece;
  copyPiece(span, piece);
  return {room, parseRecordPath(piece.text, room)};
}

bool endsLine(const PieceSpan& span) {
  return (span.size > 0 && span.bytes[span.size - 1] == '\n') || span.length < kMaxPieceLength;
}

// Counted eight bytes at a time: a byte equal to a comma becomes a zero
// byte, and those are counted without carries crossing bytes. (The CR of a
// CR LF is no comma.)
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

std::string LogLines::shownText(const LinePiece& piece, size_t limit) {
  size_t length = std::min(piece.length, limit);
  while (length > 0 && (piece.text[length - 1] == '\n' || piece.text[length - 1] == '\r')) {
    --length;
  }
  return std::string(piece.text, length);
}

bool LogLines::isTotalsLine(const PieceSpan& span) {
  return span.size >= 8 && std::memcmp(span.bytes, "FILEs - ", 8) == 0;
}

void LogLines::passOverRest() {
  PieceSpan rest;
  while (reader_.nextSpan(rest)) {
    if (endsLine(rest)) return;
  }
  cutSeen_ = true;  // a cut end is this line's
}

LogLines::What LogLines::cutLine() {
  const LinePiece* cut = reader_.cutLine();
  if (rule_ != RecordRule::kWholeRecords || cut == nullptr || cutSeen_) return What::kEnd;
  cutSeen_ = true;
  ++line_;
  unread_ = *cut;
  return What::kUnread;
}

LogPairing::LogPairing(std::FILE* before, std::FILE* after, const PairingOptions& options)
    : before_(before),
      after_(after),
      options_(options),
      search_(after, options.rules, options.blockSize, true) {}

bool LogPairing::afterLine(uint32_t ordinal, LinePiece& piece) {
  return passed_.find(ordinal, piece) || search_.readAt(index_.offset(ordinal), piece);
}

void LogPairing::moveTo(uint32_t paired) {
  // The lines stepped over, a few at a time, are kept; a long step says the
  // logs are in different orders, and its lines may yet be found further on.
  constexpr uint32_t kShortStep = 4096;
  if (paired > expected_ && paired - expected_ <= kShortStep) {
    for (uint32_t ordinal = std::max(expected_, keptUpTo_); ordinal < paired; ++ordinal) {
      PieceSpan span;
      if (!index_.matched(ordinal) && search_.spanAt(index_.offset(ordinal), span)) {
        passed_.keep(ordinal, span);
      }
    }
    keptUpTo_ = std::max(keptUpTo_, paired);
  }
  expected_ = paired + 1;
}

void LogPairing::PassedOver::keep(uint32_t ordinal, const PieceSpan& span) {
  if (text_.size() + span.length > kRoom) return;
  LinePiece piece;
  copyPiece(span, piece);
  entries_.push_back({ordinal, static_cast<uint32_t>(text_.size())});
  text_.append(piece.text, piece.length);
}

bool LogPairing::PassedOver::find(uint32_t ordinal, LinePiece& piece) {
  while (next_ < entries_.size() && entries_[next_].ordinal < ordinal) ++next_;
  if (next_ == entries_.size() || entries_[next_].ordinal != ordinal) return false;
  size_t end = next_ + 1 < entries_.size() ? entries_[next_ + 1].at : text_.size();
  piece.length = end - entries_[next_].at;
  std::memcpy(piece.text, text_.data() + entries_[next_].at, piece.length);
  piece.text[piece.length] = '\0';
  return true;
}
