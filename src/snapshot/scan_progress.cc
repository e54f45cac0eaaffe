#include "snapshot/scan_progress.h"

#include <cstdio>

#include "platform/terminal.h"

namespace {

constexpr uint64_t kIntervalMilliseconds = 100;

// The state of the scan's line: whether it is kept at all, the counts, and
// when the scan began and the line may next be shown.
bool active = false;
uint64_t entryCount = 0;
uint64_t folderCount = 0;
uint64_t startedAt = 0;
uint64_t nextShowAt = 0;
std::string shownFolder;  // the folder of the line shown last; empty when none was

// The length of the UTF-8 sequence at the start of `text` (`left` bytes long)
// when it is well formed and no C1 control, else 0. Overlong forms and
// surrogates count as malformed: a terminal could read them as something else.
size_t printableSequenceLength(const unsigned char* text, size_t left) {
  unsigned char lead = text[0];
  size_t length;
  unsigned char low = 0x80;  // the bounds of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    if (lead == 0xC2) low = 0xA0;  // U+0080 to U+009F are the C1 controls
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Appends `text` made safe for a terminal, as much of it as fits in `room`
// bytes.
void appendForTerminal(std::string& line, const std::string& text, size_t room) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at < text.size() && room > 0;) {
    unsigned char byte = bytes[at];
    size_t length = byte >= 0x80 ? printableSequenceLength(bytes + at, text.size() - at)
                                 : static_cast<size_t>(byte >= 0x20 && byte != 0x7F);
    if (length == 0) {
      line += '?';
      length = 1;
    } else if (length > room) {
      break;
    } else {
      line.append(text, at, length);
    }
    at += length;
    room -= length;
  }
}

void appendTwoDigits(std::string& line, uint64_t value) {
  line += static_cast<char>('0' + value / 10);
  line += static_cast<char>('0' + value % 10);
}

}  // namespace

std::string composeStatusLine(uint64_t entries, uint64_t folders, uint64_t elapsedMilliseconds,
                              const std::string& folder, int columns) {
  uint64_t seconds = elapsedMilliseconds / 1000;
  std::string line =
      std::to_string(entries) + " entries, " + std::to_string(folders) + " folders, ";
  if (seconds >= 3600) {
    line += std::to_string(seconds / 3600) + ":";
    appendTwoDigits(line, seconds / 60 % 60);
  } else {
    line += std::to_string(seconds / 60);
  }
  line += ':';
  appendTwoDigits(line, seconds % 60);
  line += " in ";
  size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (line.size() >= room) {
    line.resize(room);
    return line;
  }
  appendForTerminal(line, folder, room - line.size());
  return line;
}

// Shows the line for the counts now, in `folder`.
void showLine(const std::string& folder, uint64_t now) {
  int columns = platform::statusColumns();
  if (columns == 0) return;  // in the background for now
  std::string line = composeStatusLine(entryCount, folderCount, now - startedAt, folder, columns);
  platform::showStatusLine(line.data(), line.size());
}

void startScanProgress() {
  active = platform::errorIsTerminal();
  if (!active) return;
  entryCount = 0;
  folderCount = 0;
  shownFolder.clear();
  startedAt = platform::coarseMilliseconds();
  nextShowAt = startedAt + kIntervalMilliseconds;
}

void noteScanEntry(const std::string& folder, const platform::FindData& entry) {
  if (!active) return;
  ++entryCount;
  if ((entry.dwFileAttributes & platform::kAttributeDirectory) != 0) ++folderCount;
  uint64_t now = platform::coarseMilliseconds();
  if (now < nextShowAt) return;
  nextShowAt = now + kIntervalMilliseconds;
  shownFolder = folder;
  showLine(folder, now);
}

void writeBesideStatusLine(const std::string& line) {
  platform::eraseStatusLine();
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  if (active && !shownFolder.empty()) showLine(shownFolder, platform::coarseMilliseconds());
}

void endScanProgress() {
  if (!active) return;
  platform::eraseStatusLine();
  active = false;
}
