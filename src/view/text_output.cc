#include "view/text_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/directory_search.h"
#include "platform/system.h"
#include "view/formatting.h"

namespace view {
namespace {

constexpr size_t kMaxPathColumn = 48;
constexpr size_t kFolderColumn = 32;
constexpr const char* kFieldIndent = "            ";

const char* kindColour(Kind kind) {
  switch (kind) {
    case Kind::kCreated:
      return "\x1b[32m";
    case Kind::kDeleted:
      return "\x1b[31m";
    case Kind::kModified:
      return "\x1b[33m";
    case Kind::kMoved:
      return "\x1b[36m";
    case Kind::kType:
      return "\x1b[35m";
  }
  return "";
}

std::string painted(const std::string& text, const char* code, Colour colour) {
  if (colour == Colour::kOff) return text;
  return code + text + "\x1b[0m";
}

std::string padded(std::string text, size_t width) {
  size_t shown = displayWidth(text);
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

std::string timeText(uint64_t ticks, const Presentation& presentation) {
  if (ticks == 0) return "(none)";
  TimeZone zone = presentation.zone;
  return isoTime(ticks, zone, zone == TimeZone::kLocal ? localOffsetAt(ticks) : 0);
}

std::string joined(const std::vector<std::string>& names) {
  if (names.empty()) return "(none)";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

std::string ownerText(uint32_t uid) {
  std::string text = std::to_string(uid);
  if (auto name = platform::userName(uid)) text += " (" + printable(*name) + ")";
  return text;
}

std::string fieldValueText(Field field, const Entry& entry, const Presentation& presentation) {
  switch (field) {
    case kSizeField:
      return std::to_string(entry.size);
    case kWriteTimeField:
      return timeText(entry.write, presentation);
    case kCreationTimeField:
      return timeText(entry.creation, presentation);
    case kAccessTimeField:
      return timeText(entry.access, presentation);
    case kAttributesField:
      return joined(attributeNames(entry.attributes));
    case kModeField:
      return modeString(entry.mode);
    case kOwnerField:
      return ownerText(entry.owner);
    case kShortNameField:
      return entry.shortName.empty() ? "(none)" : printable(entry.shortName);
  }
  return "";
}

std::string fieldLabel(Field field) {
  std::string label = fieldName(field);
  std::replace(label.begin(), label.end(), '_', ' ');
  return label;
}

// The path column of a change: for a move, "old -> new".
std::string shownPath(const Change& change, char separator) {
  const Entry& current = change.after ? *change.after : *change.before;
  if (change.kind != Kind::kMoved) return printable(current.path, separator);
  return printable(change.before->path, separator) + " -> " + printable(current.path, separator);
}

// "+11 B", "-4 B", or "0 B" for nothing.
std::string signedSize(char sign, uint64_t bytes) {
  return bytes == 0 ? "0 B" : sign + humanSize(bytes);
}

// Characters that a terminal takes as orders rather than text: the C1
// controls (CSI among them) and those that turn the direction of what
// follows.
bool movesText(uint32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Two logs of different folders, compared by their whole paths: one line
// says so and where the shorter paths shown begin.
std::string startsLine(const Summary& summary) {
  std::string below = *summary.pathsBelow;
  if (below.empty()) below = summary.separator == '/' ? "/" : "(nothing shared)";
  return padded("folders", 10) +
         "the logs are of two folders; paths are matched whole and shown below " +
         printable(below, summary.separator) + " (--relative matches them below each)\n";
}

std::string lineOf(const std::string& label, const std::string& text) {
  return kFieldIndent + padded(label, 14) + text + "\n";
}

}  // namespace

Colour pickColour(const std::string& when, bool terminal, const char* noColor, const char* term) {
  if (when == "always") return Colour::kOn;
  if (when == "never" || !terminal) return Colour::kOff;
  if (noColor != nullptr && noColor[0] != '\0') return Colour::kOff;
  // A dumb terminal shows escape sequences as text.
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return Colour::kOff;
  return Colour::kOn;
}

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string printable(const std::string& text, char separator) {
  bool keepBackslash = separator == '\\';
  bool plain = std::all_of(text.begin(), text.end(), [&](char c) {
    return c >= 0x20 && c < 0x7F && (c != '\\' || keepBackslash);
  });
  if (plain) return text;
  std::string result;
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = utf8CharAt(text, at);
    char escaped[16];
    if (c.value < 0x20 || c.value == 0x7F || c.value >= kStrayByte) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(text[at]) & 0xFF);
      result += escaped;
    } else if (c.value == '\\' && !keepBackslash) {
      result += "\\\\";
    } else if (movesText(c.value)) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c.value));
      result += escaped;
    } else {
      result.append(text, at, c.length);
    }
    at += c.length;
  }
  return result;
}

std::string typeAndSize(const Entry& entry) {
  std::string text = typeName(entry.type);
  if (entry.type != EntryType::kDirectory) {
    text += ", " + humanSize(entry.size);
    if (entry.size >= 1024) text += " (" + std::to_string(entry.size) + " bytes)";
  }
  return text;
}

std::string entryText(const Entry& entry, const Presentation& presentation) {
  std::string text = typeAndSize(entry);
  if (presentation.system == LogSystem::kPosix) {
    text += ", " + modeString(entry.mode) + ", owner " + ownerText(entry.owner);
  } else {
    text += ", " + joined(attributeNames(entry.attributes));
  }
  text += ", written " + timeText(entry.write, presentation);
  return text;
}

std::string sizeChangeText(uint64_t before, uint64_t after) {
  int64_t difference = static_cast<int64_t>(after - before);
  std::string text = std::to_string(before) + " -> " + std::to_string(after) + " bytes (";
  if (before >= 1024 || after >= 1024) {
    text += humanSize(before) + " -> " + humanSize(after) + ", ";
  }
  return text + humanDifference(difference) + ")";
}

size_t pathColumnWidth(const std::vector<Change>& changes, char separator) {
  size_t width = 0;
  for (const Change& change : changes) {
    width = std::max(width, displayWidth(shownPath(change, separator)));
  }
  return std::min(width, kMaxPathColumn);
}

std::string changeText(const Change& change, const Presentation& presentation, size_t pathWidth,
                       Colour colour) {
  const Entry& current = change.after ? *change.after : *change.before;
  std::string path = shownPath(change, presentation.separator);
  std::string text = painted(padded(kindName(change.kind), 10), kindColour(change.kind), colour) +
                     padded(path, pathWidth) + "  " + verdictName(change.verdict) + "\n";
  if (change.kind == Kind::kCreated || change.kind == Kind::kDeleted) {
    return text + kFieldIndent + entryText(current, presentation) + "\n";
  }
  if (change.kind == Kind::kMoved) text += kFieldIndent + typeAndSize(current) + "\n";
  if (change.kind == Kind::kType) {
    text += lineOf(
        "type", std::string(typeName(change.before->type)) + " -> " + typeName(change.after->type));
  }
  for (Field field : kAllFields) {
    if ((change.changed & field) == 0) continue;
    std::string values = field == kSizeField
                             ? sizeChangeText(change.before->size, change.after->size)
                             : fieldValueText(field, *change.before, presentation) + " -> " +
                                   fieldValueText(field, *change.after, presentation);
    text += lineOf(fieldLabel(field), values);
  }
  return text;
}

std::string summaryText(const Summary& summary, const Presentation& presentation, int depth,
                        Colour colour) {
  std::string text = "\n";
  auto logLine = [&](const char* label, const LogSummary& log) {
    std::string source = log.live ? "live walk" : printable(log.file, platform::separator());
    std::string line =
        padded(label, 10) + source + ": " + counted(log.facts.records, "record", "records");
    if (!log.facts.start.empty()) line += " of " + printable(log.facts.start, summary.separator);
    if (log.taken)
      line += (log.live ? ", walked " : ", written ") + timeText(*log.taken, presentation);
    return line + "\n";
  };
  text += logLine("before", summary.before);
  text += logLine("after", summary.after);
  if (summary.startsDiffer) text += startsLine(summary);
  if (summary.codePage) {
    text += padded("names", 10) + "decoded from code page " + std::to_string(*summary.codePage) +
            " (--code-page names another)\n";
  }
  const KindCounts& counts = summary.counts;
  std::string line = std::to_string(counts[0]) + " created, " + std::to_string(counts[1]) +
                     " deleted, " + std::to_string(counts[2]) + " modified, " +
                     std::to_string(counts[3]) + " moved, " + std::to_string(counts[4]) +
                     " type changed";
  text += padded("changes", 10) + painted(line, "\x1b[1m", colour) + "\n";
  text += padded("bytes", 10) + signedSize('+', summary.bytes.added) + " added, " +
          signedSize('-', summary.bytes.removed) + " removed, net " +
          humanDifference(summary.bytes.net()) + "\n";
  if (summary.accessOnlyHidden > 0) {
    text += padded("hidden", 10) + counted(summary.accessOnlyHidden, "change", "changes") +
            " of the access time alone (--access shows them)\n";
  }
  if (summary.unreadCount > 0) {
    text += padded("not read", 10) + counted(summary.unreadCount, "line", "lines") + "\n";
    for (const UnreadLine& unread : summary.unread) {
      text += std::string(kFieldIndent) +
              (unread.log == UnreadLine::Log::kBefore ? "before" : "after") + " log line " +
              std::to_string(unread.line) + ": " + printable(unread.text, summary.separator) + "\n";
    }
  }
  if (summary.rollups.empty()) return text;
  text += "\nby folder, " + counted(static_cast<uint64_t>(depth), "level", "levels") +
          " deep, largest first:\n";
  char row[512];
  std::snprintf(row, sizeof row, " %8s %8s %8s %6s %5s %11s %11s %11s\n", "created", "deleted",
                "modified", "moved", "type", "added", "removed", "net");
  text += "  " + padded("folder", kFolderColumn) + row;
  for (const Rollup& rollup : summary.rollups) {
    std::string folder = rollup.folder.empty() ? "." : printable(rollup.folder, summary.separator);
    std::snprintf(row, sizeof row, " %8llu %8llu %8llu %6llu %5llu %11s %11s %11s\n",
                  static_cast<unsigned long long>(rollup.counts[0]),
                  static_cast<unsigned long long>(rollup.counts[1]),
                  static_cast<unsigned long long>(rollup.counts[2]),
                  static_cast<unsigned long long>(rollup.counts[3]),
                  static_cast<unsigned long long>(rollup.counts[4]),
                  signedSize('+', rollup.bytes.added).c_str(),
                  signedSize('-', rollup.bytes.removed).c_str(),
                  humanDifference(rollup.bytes.net()).c_str());
    text += "  " + padded(folder, kFolderColumn) + row;
  }
  return text;
}

void writeText(std::FILE* out, const std::vector<Change>& changes, const Summary& summary,
               const Presentation& presentation, int depth, Colour colour) {
  size_t width = pathColumnWidth(changes, presentation.separator);
  for (const Change& change : changes) {
    std::string text = changeText(change, presentation, width, colour);
    platform::writeUtf8(out, text.data(), text.size());
  }
  std::string text = summaryText(summary, presentation, depth, colour);
  platform::writeUtf8(out, text.data(), text.size());
}

}  // namespace view
