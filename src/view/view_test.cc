// The view's parts on their own: which fields a change names and its
// verdict, how values are spelled, shell-style patterns, moves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/change.h"
#include "view/filters.h"
#include "view/formatting.h"
#include "view/json_output.h"
#include "view/moves.h"
#include "view/summary.h"
#include "view/text_output.h"

namespace view {
namespace {

Entry file(const std::string& path, uint64_t size = 10, uint64_t write = 100) {
  Entry entry;
  entry.path = path;
  entry.attributes = 0x20;
  entry.size = size;
  entry.mode = 0100644;
  entry.owner = 1000;
  entry.creation = 50;
  entry.access = 200;
  entry.write = write;
  return entry;
}

Entry directory(const std::string& path, uint64_t write = 100) {
  Entry entry = file(path, 0, write);
  entry.type = EntryType::kDirectory;
  entry.attributes = 0x10;
  entry.mode = 040755;
  return entry;
}

TEST(ViewChange, NamesTheFieldsThatDifferAndJudgesThem) {
  struct Case {
    const char* what;
    void (*edit)(Entry&);
    LogSystem system;
    AccessTimes access;
    unsigned changed;
    Verdict verdict;
  };
  const Case cases[] = {
      {"size", [](Entry& e) { e.size = 11; }, LogSystem::kPosix, AccessTimes::kHidden, kSizeField,
       Verdict::kContent},
      {"write time", [](Entry& e) { e.write = 101; }, LogSystem::kPosix, AccessTimes::kHidden,
       kWriteTimeField, Verdict::kContent},
      {"mode and write", [](Entry& e) { e.mode = 0100600, e.write = 1; }, LogSystem::kPosix,
       AccessTimes::kHidden, kModeField | kWriteTimeField, Verdict::kContent},
      {"mode", [](Entry& e) { e.mode = 0100600; }, LogSystem::kPosix, AccessTimes::kHidden,
       kModeField, Verdict::kMetadata},
      {"mode on Windows", [](Entry& e) { e.mode = 0100600; }, LogSystem::kWindows,
       AccessTimes::kHidden, 0, Verdict::kContent},
      {"owner", [](Entry& e) { e.owner = 0; }, LogSystem::kPosix, AccessTimes::kHidden, kOwnerField,
       Verdict::kMetadata},
      {"attributes", [](Entry& e) { e.attributes |= 1; }, LogSystem::kWindows, AccessTimes::kHidden,
       kAttributesField, Verdict::kMetadata},
      {"short name", [](Entry& e) { e.shortName = "A~1"; }, LogSystem::kWindows,
       AccessTimes::kHidden, kShortNameField, Verdict::kMetadata},
      {"creation", [](Entry& e) { e.creation = 51; }, LogSystem::kPosix, AccessTimes::kHidden,
       kCreationTimeField, Verdict::kTimes},
      {"access hidden", [](Entry& e) { e.access = 201; }, LogSystem::kPosix, AccessTimes::kHidden,
       0, Verdict::kContent},
      {"access shown", [](Entry& e) { e.access = 201; }, LogSystem::kPosix, AccessTimes::kShown,
       kAccessTimeField, Verdict::kTimes},
      {"access and attributes", [](Entry& e) { e.access = 201, e.attributes |= 2; },
       LogSystem::kPosix, AccessTimes::kShown, kAccessTimeField | kAttributesField,
       Verdict::kMetadata},
  };
  for (const Case& c : cases) {
    Entry after = file("a");
    c.edit(after);
    Change change = modification(file("a"), after, c.system, c.access);
    EXPECT_EQ(change.kind, Kind::kModified) << c.what;
    EXPECT_EQ(change.changed, c.changed) << c.what;
    EXPECT_EQ(change.verdict, c.verdict) << c.what;
  }
  Change type = modification(file("a"), directory("a"), LogSystem::kPosix, AccessTimes::kHidden);
  EXPECT_EQ(type.kind, Kind::kType);
}

TEST(ViewChange, TellsTypesFromAttributesAndMode) {
  EXPECT_EQ(entryType(0x10, 040755, LogSystem::kPosix), EntryType::kDirectory);
  EXPECT_EQ(entryType(0x400, 0120777, LogSystem::kPosix), EntryType::kLink);
  EXPECT_EQ(entryType(0x4, 0140755, LogSystem::kPosix), EntryType::kOther);
  EXPECT_EQ(entryType(0x4, 0, LogSystem::kPosix), EntryType::kOther);
  EXPECT_EQ(entryType(0x20, 0100644, LogSystem::kPosix), EntryType::kFile);
  EXPECT_EQ(entryType(0x4, 0, LogSystem::kWindows), EntryType::kFile);
  EXPECT_EQ(entryType(0x410, 0, LogSystem::kWindows), EntryType::kLink);
}

TEST(ViewFormatting, SpellsTimesSizesModesAndAttributes) {
  EXPECT_EQ(isoTime(116444736000000000ull, TimeZone::kUtc), "1970-01-01T00:00:00Z");
  EXPECT_EQ(isoTime(134411300421234567ull, TimeZone::kUtc), "2026-12-07T15:14:02.1234567Z");
  EXPECT_EQ(isoTime(125963423990000000ull, TimeZone::kUtc), "2000-02-29T23:59:59Z");
  EXPECT_EQ(isoTime(125963423990000000ull, TimeZone::kLocal, 3600), "2000-03-01T00:59:59+01:00");
  EXPECT_EQ(isoTime(125963423990000000ull, TimeZone::kLocal, -16200), "2000-02-29T19:29:59-04:30");
  EXPECT_EQ(isoTime(1, TimeZone::kUtc), "1601-01-01T00:00:00.0000001Z");

  EXPECT_EQ(humanSize(1023), "1023 B");
  EXPECT_EQ(humanSize(1536), "1.5 KiB");
  EXPECT_EQ(humanSize(uint64_t{3} << 30), "3.0 GiB");
  EXPECT_EQ(humanSize(1280), "1.2 KiB");  // 1.25: a tie goes to the even tenth
  EXPECT_EQ(humanSize(1331), "1.3 KiB");
  EXPECT_EQ(humanSize(1048575), "1024.0 KiB");
  EXPECT_EQ(humanSize(UINT64_MAX), "16.0 EiB");
  EXPECT_EQ(humanDifference(-1536), "-1.5 KiB");
  EXPECT_EQ(humanDifference(8), "+8 B");
  EXPECT_EQ(humanDifference(0), "0 B");

  EXPECT_EQ(modeString(0100644), "-rw-r--r--");
  EXPECT_EQ(modeString(042755), "drwxr-sr-x");
  EXPECT_EQ(modeString(0120777), "lrwxrwxrwx");
  EXPECT_EQ(modeString(0104644), "-rwSr--r--");
  EXPECT_EQ(modeString(041777), "drwxrwxrwt");
  EXPECT_EQ(modeString(010600), "prw-------");

  EXPECT_EQ(attributeNames(0x23), (std::vector<std::string>{"archive", "hidden", "read-only"}));
  EXPECT_EQ(attributeNames(0x410), (std::vector<std::string>{"directory", "link"}));
  EXPECT_EQ(attributeNames(static_cast<int32_t>(0x80010000)),
            (std::vector<std::string>{"0x10000", "0x80000000"}));
}

TEST(ViewText, ColoursOnlyWhereItShows) {
  EXPECT_EQ(pickColour("auto", true, nullptr, "xterm"), Colour::kOn);
  EXPECT_EQ(pickColour("auto", true, nullptr, "dumb"), Colour::kOff);
  EXPECT_EQ(pickColour("auto", true, "1", nullptr), Colour::kOff);
  EXPECT_EQ(pickColour("auto", false, nullptr, nullptr), Colour::kOff);
  EXPECT_EQ(pickColour("always", false, nullptr, "dumb"), Colour::kOn);
}

TEST(ViewFormatting, KeepsInvalidUtf8Recoverable) {
  EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFFz"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  }
  EXPECT_EQ(toValidUtf8("a\xFFz\xC3\xA9"), "a\xEF\xBF\xBDz\xC3\xA9");
  EXPECT_EQ(base64(""), "");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("fo"), "Zm8=");
  EXPECT_EQ(base64("a\xFFz"), "Yf96");
  // Columns: wide characters take two, marks none, a stray byte one,
  // wherever they stand among ASCII.
  EXPECT_EQ(displayWidth("abcdefgh\xE6\x97\xA5\xE6\x9C\xAC.txt"), 16u);
  EXPECT_EQ(displayWidth("abcdefg\xE6\x97\xA5"), 9u);
  EXPECT_EQ(displayWidth("cafe\xCC\x81 ok"), 7u);
  EXPECT_EQ(displayWidth("abcdefghijk\xFF"), 12u);
}

TEST(ViewFilters, MatchShellPatterns) {
  struct Case {
    const char* pattern;
    std::string text;
    bool matches;
  };
  const Case cases[] = {
      {"*.txt", "a.txt", true},
      {"*.txt", "d/a.txt", false},
      {"?.txt", "a.txt", true},
      {"?", "/", false},
      {"[a-c]x", "bx", true},
      {"[!a-c]x", "bx", false},
      {"[^a-c]x", "dx", true},
      {"src/**", "src/a/b.c", true},
      {"src/**/b.c", "src/b.c", true},
      {"src/**/b.c", "src/a/x/b.c", true},
      {"**/b.c", "b.c", true},
      {"**", "a/b", true},
      {"a*b", "a/b", false},
      {"\\*", "*", true},
      {"\\*", "x", false},
      {"[ab", "[ab", true},
      // A character of UTF-8 is one, a stray byte too.
      {"?", "\xC3\xA9", true},
      {"[\xC3\xA9-\xC3\xAB]x", "\xC3\xAAx", true},
      {"[!\xC3\xA9]", "\xC3\xA9", false},
      {"a?", "a\xFF", true},
      // Stars never backtrack: a hundred characters take a hundred steps.
      {"*a*a*a*a*a*a*a*b", std::string(100, 'a'), false},
      {"**a**a**a**a**a**a**b", std::string(100, 'a') + "/b", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(globMatch(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
  }
}

TEST(ViewFilters, SelectPathsLikeUsersExpect) {
  Filters filters;
  filters.exclude = {"build", "*.o", "/docs/old/"};
  EXPECT_FALSE(pathSelected(filters, "build"));
  EXPECT_FALSE(pathSelected(filters, "build/x/y.c"));
  EXPECT_FALSE(pathSelected(filters, "src/build/y.c"));  // a name matches at any depth
  EXPECT_FALSE(pathSelected(filters, "src/a.o"));
  EXPECT_FALSE(pathSelected(filters, "docs/old/a.txt"));
  EXPECT_TRUE(pathSelected(filters, "x/docs/old/a.txt"));  // a path is anchored
  EXPECT_TRUE(pathSelected(filters, "src/a.c"));
  filters.include = {"src"};
  EXPECT_TRUE(pathSelected(filters, "src/a.c"));
  EXPECT_FALSE(pathSelected(filters, "lib/a.c"));
  // A leading "/" anchors; a trailing one names a folder.
  filters = Filters{};
  filters.exclude = {"/build", "tmp/"};
  EXPECT_TRUE(pathSelected(filters, "src/build/y.c"));
  EXPECT_FALSE(pathSelected(filters, "build/y.c"));
  EXPECT_TRUE(pathSelected(filters, "a/tmp", false));
  EXPECT_FALSE(pathSelected(filters, "a/tmp", true));
  EXPECT_FALSE(pathSelected(filters, "a/tmp/x", false));

  EXPECT_EQ(parseKinds("created,type"), (1u << static_cast<unsigned>(Kind::kCreated)) |
                                            (1u << static_cast<unsigned>(Kind::kType)));
  EXPECT_FALSE(parseKinds("created,renamed"));
  EXPECT_FALSE(parseKinds(""));

  Filters kinds;
  kinds.kinds = *parseKinds("moved");
  kinds.exclude = {"old"};
  Change move;
  move.kind = Kind::kMoved;
  move.before = file("old\\a");
  move.after = file("new\\a");
  EXPECT_TRUE(changeSelected(kinds, move, '\\'));  // the new path passes
  kinds.exclude = {"old", "new"};
  EXPECT_FALSE(changeSelected(kinds, move, '\\'));
  move.kind = Kind::kCreated;
  kinds.exclude.clear();
  EXPECT_FALSE(changeSelected(kinds, move, '\\'));
}

Change deleted(Entry entry, uint64_t order) {
  Change change;
  change.kind = Kind::kDeleted;
  change.before = std::move(entry);
  change.order = order;
  return change;
}

Change created(Entry entry, uint64_t order) {
  Change change;
  change.kind = Kind::kCreated;
  change.after = std::move(entry);
  change.order = (uint64_t{1} << 40) + order;
  return change;
}

std::vector<std::string> listing(const std::vector<Change>& changes) {
  std::vector<std::string> lines;
  for (const Change& change : changes) {
    std::string line = kindName(change.kind);
    if (change.before) line += " " + change.before->path;
    if (change.after) line += " " + change.after->path;
    lines.push_back(line);
  }
  return lines;
}

std::vector<Change> moves(std::vector<Change> changes) {
  return selectChanges(findMoves(std::move(changes), '/', LogSystem::kPosix, AccessTimes::kHidden),
                       Filters{}, '/');
}

TEST(ViewMoves, PairsOnlyUnambiguousDeletionsAndCreations) {
  std::vector<Change> changes = {deleted(file("a", 5, 7), 0),     deleted(file("twin1", 9, 9), 1),
                                 deleted(file("twin2", 9, 9), 2), created(file("b", 5, 7), 0),
                                 created(file("twin3", 9, 9), 1), created(file("c", 5, 8), 2)};
  EXPECT_EQ(listing(moves(changes)),
            (std::vector<std::string>{"moved a b", "deleted twin1", "deleted twin2",
                                      "created twin3", "created c"}));
  // Equal values: a name kept on both sides decides, and then the one pair
  // left; a name found twice decides nothing.
  changes = {deleted(directory("d", 4), 0), deleted(directory("d/in", 4), 1),
             deleted(file("x/n", 1, 1), 2), deleted(file("y/n", 1, 1), 3),
             created(directory("e", 4), 0), created(directory("e/in", 4), 1),
             created(file("z/n", 1, 1), 2), created(file("z/m", 1, 1), 3)};
  EXPECT_EQ(listing(moves(changes)),
            (std::vector<std::string>{"moved d e", "deleted x/n", "deleted y/n", "created z/n",
                                      "created z/m"}));
  // One deleted entry, two created candidates: neither is taken.
  changes = {deleted(file("a", 5, 7), 0), created(file("b", 5, 7), 0), created(file("c", 5, 7), 1)};
  EXPECT_EQ(listing(moves(changes)),
            (std::vector<std::string>{"deleted a", "created b", "created c"}));
}

TEST(ViewMoves, FoldsADirectoryMovedWholeIntoOneLine) {
  // Two equal empty files move with their folder: the folder's paths pair
  // them, though their values alone could not.
  std::vector<Change> changes = {
      deleted(directory("old", 1), 0),     deleted(file("old/e1", 0, 3), 1),
      deleted(file("old/e2", 0, 3), 2),    deleted(directory("old/sub", 2), 3),
      deleted(file("old/sub/x", 4, 4), 4), deleted(file("old-not", 6, 6), 5),
      created(directory("new", 1), 0),     created(file("new/e1", 0, 3), 1),
      created(file("new/e2", 0, 3), 2),    created(directory("new/sub", 2), 3),
      created(file("new/sub/x", 5, 4), 4), created(file("new/extra", 7, 7), 5)};
  std::vector<Change> found = moves(changes);
  EXPECT_EQ(listing(found), (std::vector<std::string>{"moved old new", "moved old/sub/x new/sub/x",
                                                      "deleted old-not", "created new/extra"}));
  EXPECT_EQ(found[1].changed, unsigned{kSizeField});
  EXPECT_EQ(found[1].verdict, Verdict::kContent);
}

TEST(ViewSummary, NamesEachFolderAboveAPathOnce) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(foldersAbove("a/b/c", '/', 9), (Folders{"", "a", "a/b"}));
  EXPECT_EQ(foldersAbove("a/b/c", '/', 1), (Folders{"", "a"}));
  EXPECT_EQ(foldersAbove("file", '/', 9), (Folders{""}));
  // A path the log holds outside its start folder.
  EXPECT_EQ(foldersAbove("/srv/x/f", '/', 9), (Folders{"", "/srv", "/srv/x"}));
  EXPECT_EQ(foldersAbove("\\srv\\f", '\\', 9), (Folders{"", "\\srv"}));
}

TEST(ViewJson, WritesEachChangeAsItsObjectDumps) {
  Entry named = file("quote\"back\\ctl\x01\x1f\xFF");
  named.shortName = "S\xFE~1";
  std::vector<Change> changes = {deleted(named, 0), created(directory("d\tir"), 1)};
  for (Kind kind : {Kind::kModified, Kind::kMoved, Kind::kType}) {
    Entry after = kind == Kind::kType ? directory("b") : file("b", 99, 7);
    after.access = 1;
    after.attributes |= 0x4003;
    after.owner = 4242;
    after.mode = 0104755;
    after.shortName = "B~1";
    Change change = modification(kind == Kind::kMoved ? file("a\xC3") : file("b"), after,
                                 LogSystem::kPosix, AccessTimes::kShown);
    change.kind = kind;
    changes.push_back(change);
  }
  for (TimeZone zone : {TimeZone::kUtc, TimeZone::kLocal}) {
    for (LogSystem system : {LogSystem::kPosix, LogSystem::kWindows}) {
      Presentation presentation{zone, AccessTimes::kShown, system, '/'};
      for (const Change& change : changes) {
        std::string line;
        appendChangeLine(line, change, presentation);
        EXPECT_EQ(line, jsonLine(changeToJson(change, presentation)));
      }
    }
  }
}

}  // namespace
}  // namespace view
