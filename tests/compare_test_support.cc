#include "compare_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/directory_search.h"

StdoutCapture::StdoutCapture(const std::filesystem::path& file) : file_(file) {
  std::fflush(stdout);
  saved_ = dup(fileno(stdout));
  FILE* target = std::fopen(file.string().c_str(), "wb");
  dup2(fileno(target), fileno(stdout));
  std::fclose(target);
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::finish() {
  if (saved_ < 0) return {};
  std::fflush(stdout);
  dup2(saved_, fileno(stdout));
  close(saved_);
  saved_ = -1;
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string platformText(const std::string& bytes) {
  if (!platform::textReadRules().crLfReadsAsLf) return bytes;
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

std::string nativePath(std::string path) {
  std::replace(path.begin(), path.end(), '/', platform::separator());
  return path;
}

std::string writerLine(const LogEntry& entry, const std::string& lineEnd) {
  std::string line = (entry.attributes & 0x10) ? "-DIRECTORY," : "---FILE---,";
  line += entry.path + "," + entry.name + "," + entry.shortName + "," +
          std::to_string(entry.attributes);
  for (uint32_t number : entry.numbers) line += "," + std::to_string(number);
  return line + lineEnd;
}

namespace {

using Random = std::mt19937;

int below(Random& random, int bound) {
  return static_cast<int>(random() % static_cast<unsigned>(bound));
}

bool chance(Random& random, int percent) { return below(random, 100) < percent; }

template <typename T, size_t N>
const T& pick(Random& random, const T (&items)[N]) {
  return items[below(random, static_cast<int>(N))];
}

// Few distinct values, so that equal and different fields both come often.
uint32_t randomNumber(Random& random) {
  static const uint32_t kValues[] = {0,          1,          7,          1234,       31294999,
                                     2147483647, 2147483648, 4294967295, 1468967367, 16877};
  return chance(random, 85) ? pick(random, kValues) : static_cast<uint32_t>(random());
}

int32_t randomAttributes(Random& random, bool directory) {
  static const int32_t kFile[] = {0x20, 0x21, 0x22, 0x400, 0x4, 0x20 | INT32_MIN};
  static const int32_t kDirectory[] = {0x10, 0x11, 0x12, 0x10 | INT32_MIN};
  return directory ? pick(random, kDirectory) : pick(random, kFile);
}

std::string randomName(Random& random) {
  // Commas in names, names that differ only in case, names that are the
  // ends of other names, a name that is a comma alone, bytes above 0x7F.
  static const char* const kNames[] = {
      "a",   "b",   "B",     "a,b", "x,y", "c.txt", "d", ",", "a,", ",a", "\xC3\xA9t\xC3\xA9",
      "d d", "b,a", "a,b,c", "sub", "a.b"};
  if (chance(random, 3)) return std::string(static_cast<size_t>(200 + below(random, 60)), 'n');
  return pick(random, kNames);
}

void fillNumbers(Random& random, LogEntry& entry, bool directory) {
  entry.attributes = randomAttributes(random, directory);
  for (uint32_t& number : entry.numbers) number = randomNumber(random);
}

void addListing(Random& random, const std::string& folder, int depth, int maxEntries,
                std::vector<LogEntry>& entries) {
  int count = below(random, 5);
  for (int i = 0; i < count && static_cast<int>(entries.size()) < maxEntries; ++i) {
    bool directory = depth < 3 && chance(random, 35);
    LogEntry entry;
    entry.name = randomName(random);
    entry.path = folder + platform::separator() + entry.name;
    entry.shortName = chance(random, 10) ? "SHORT~1" : "";
    fillNumbers(random, entry, directory);
    entries.push_back(entry);
    if (directory) addListing(random, entry.path, depth + 1, maxEntries, entries);
  }
}

std::vector<LogEntry> randomTree(Random& random, int maxEntries) {
  static const char* const kRoots[] = {"/r", "/r,s", "/q/r", "/r/a,b"};
  std::vector<LogEntry> entries;
  std::string root = nativePath(pick(random, kRoots));
  // Small trees end early now and then, so that empty and tiny logs come too.
  while (static_cast<int>(entries.size()) < maxEntries &&
         (maxEntries > 100 || !chance(random, 15))) {
    addListing(random, root, 0, maxEntries, entries);
  }
  return entries;
}

void renameEntry(LogEntry& entry, const std::string& newName) {
  entry.path = entry.path.substr(0, entry.path.size() - entry.name.size()) + newName;
  entry.name = newName;
}

std::vector<LogEntry> changedTree(Random& random, const std::vector<LogEntry>& before,
                                  bool shuffled) {
  std::vector<LogEntry> after;
  for (const LogEntry& original : before) {
    LogEntry entry = original;
    int roll = below(random, 100);
    bool directory = (entry.attributes & 0x10) != 0;
    if (roll < 60) {
      after.push_back(entry);
    } else if (roll < 70) {
      int field = below(random, 11);
      if (field == 10) {
        entry.attributes = randomAttributes(random, directory);
      } else {
        entry.numbers[field] = randomNumber(random);
      }
      after.push_back(entry);
    } else if (roll < 77) {
      // deleted
    } else if (roll < 80) {
      entry.shortName = entry.shortName.empty() ? "NEW~1" : "";
      after.push_back(entry);
    } else if (roll < 82) {
      entry.attributes ^= 0x10;
      after.push_back(entry);
    } else if (roll < 86) {
      after.push_back(entry);
      if (chance(random, 50)) entry.numbers[below(random, 10)] ^= 1;
      after.push_back(entry);
    } else if (roll < 89) {
      renameEntry(entry, entry.name + "2");
      after.push_back(entry);
    } else if (roll < 91) {
      std::string name = entry.name;
      name.back() = static_cast<char>(name.back() ^ 0x20);
      renameEntry(entry, name);
      after.push_back(entry);
    } else if (roll < 95) {
      after.push_back(entry);
      LogEntry created = entry;
      renameEntry(created, randomName(random));
      fillNumbers(random, created, chance(random, 30));
      after.push_back(created);
    } else {
      entry.numbers[6] += 1;  // last access only
      after.push_back(entry);
    }
  }
  if (shuffled) std::shuffle(after.begin(), after.end(), random);
  return after;
}

std::string lineEnd(Random& random, const LogShape& shape) {
  if (shape.crLf) return chance(random, 90) ? "\r\n" : "\n";
  return chance(random, 95) ? "\n" : "\r\n";
}

std::string filler(Random& random, size_t length) {
  static const char kChars[] = "ab,/-\r\t 09";
  std::string text;
  for (size_t i = 0; i < length; ++i) text += kChars[below(random, sizeof kChars - 1)];
  return text;
}

// A line that no writer makes but a log can still hold.
std::string oddLine(Random& random, const std::vector<LogEntry>& entries, const LogShape& shape) {
  std::string end = lineEnd(random, shape);
  const LogEntry* some =
      entries.empty() ? nullptr : &entries[below(random, static_cast<int>(entries.size()))];
  switch (below(random, 11)) {
    case 0:
      return "FILEs - 3, DIRECTORIEs - 2" + end;
    case 1:
      return end;
    case 2:
      return "text, with, commas" + end;
    case 3: {
      // Longer than one read: the pieces behind the first are lines too, and
      // one of them may be a whole record line.
      std::string line = "-" + filler(random, static_cast<size_t>(900 + below(random, 200)));
      if (some != nullptr && chance(random, 60)) {
        line.resize(chance(random, 50) ? 998 : 997 + below(random, 3));
        return line + writerLine(*some, end);
      }
      return line + filler(random, static_cast<size_t>(below(random, 1600))) + end;
    }
    case 4: {
      if (some == nullptr) return "-" + end;
      std::string line = writerLine(*some, "");
      line.resize(static_cast<size_t>(below(random, static_cast<int>(line.size()) + 1)));
      return line + end;
    }
    case 5: {
      if (some == nullptr) return std::string(1, '\0') + end;
      std::string line = writerLine(*some, "");
      line.insert(static_cast<size_t>(below(random, static_cast<int>(line.size()) + 1)), 1, '\0');
      return line + end;
    }
    case 6:
      return "-" + end;
    case 7:
      // Right at the length of one read, the line break just inside or out.
      return "-" + std::string(static_cast<size_t>(995 + below(random, 5)), 'x') + end;
    case 8:
      return "-x\ry,\r" + end;
    case 9:
      return shape.ctrlZ && chance(random, 30) ? std::string("-\x1A") + end : "-" + end;
    default:
      if (some == nullptr) return end;
      return " " + writerLine(*some, end);
  }
}

std::string render(Random& random, const std::vector<LogEntry>& entries, const LogShape& shape) {
  std::string log;
  for (const LogEntry& entry : entries) {
    if (shape.noise && chance(random, 12)) log += oddLine(random, entries, shape);
    log += writerLine(entry, lineEnd(random, shape));
  }
  if (!chance(random, 20)) log += "FILEs - 1, DIRECTORIEs - 1" + lineEnd(random, shape);
  // A last line without its line break.
  if (chance(random, 25) && !log.empty() && log.back() == '\n') {
    log.pop_back();
    if (!log.empty() && log.back() == '\r' && chance(random, 50)) log.pop_back();
  }
  return log;
}

}  // namespace

LogPair randomLogPair(std::mt19937& random, const LogShape& shape) {
  std::vector<LogEntry> before = randomTree(random, shape.maxEntries);
  // Duplicate lines can stand in the before log too.
  if (!before.empty() && chance(random, 20)) {
    before.push_back(before[below(random, static_cast<int>(before.size()))]);
  }
  std::vector<LogEntry> after = changedTree(random, before, shape.shuffled);
  return {render(random, before, shape), render(random, after, shape)};
}
