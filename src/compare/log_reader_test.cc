#include "compare/log_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "compare_test_support.h"
#include "literal_comparison.h"
#include "test_support.h"

namespace {

constexpr platform::TextReadRules kBytesAsTheyAre{false, false};
constexpr platform::TextReadRules kTextMode{true, true};

// A last piece that no line break ends is held back as cut; it is listed
// last, marked.
const std::string kCut = "[cut] ";

// What reads of at most 998 characters give from a stream of `content`.
std::vector<std::string> readsOf(const std::filesystem::path& file, const std::string& content) {
  writeFile(file, content);
  std::vector<std::string> pieces;
  FILE* stream = std::fopen(file.string().c_str(), "rb");
  char line[1000];
  long start = 0;
  while (std::fgets(line, 999, stream) != nullptr) {
    long end = std::ftell(stream);
    pieces.emplace_back(line, static_cast<size_t>(end - start));
    start = end;
  }
  std::fclose(stream);
  if (!pieces.empty() && pieces.back().back() != '\n') pieces.back().insert(0, kCut);
  return pieces;
}

struct Read {
  std::string text;
  uint64_t offset;
};

std::vector<Read> piecesOf(const std::filesystem::path& file, const std::string& content,
                           platform::TextReadRules rules, size_t block) {
  writeFile(file, content);
  FILE* stream = std::fopen(file.string().c_str(), "rb");
  LogReader reader(stream, rules, block, true);
  std::vector<Read> pieces;
  LinePiece piece;
  while (reader.next(piece))
    pieces.push_back({std::string(piece.text, piece.length), piece.offset});
  if (const LinePiece* cut = reader.cutLine()) {
    std::string text(cut->text, cut->length);
    // Its offset is where it can be read again.
    EXPECT_TRUE(reader.readAt(cut->offset, piece) && text == piece.text);
    pieces.push_back({kCut + text, cut->offset});
  }
  std::fclose(stream);
  return pieces;
}

std::vector<std::string> textsOf(const std::vector<Read>& reads) {
  std::vector<std::string> texts;
  for (const Read& read : reads) texts.push_back(read.text);
  return texts;
}

class LogReaderTest : public testing::Test {
 protected:
  std::filesystem::path file(const char* name) const { return folder_.path() / name; }
  ScopedTempDir folder_;
};

TEST_F(LogReaderTest, PiecesAtTheEdgesOfOneRead) {
  std::string x997(997, 'x');
  const struct {
    const char* what;
    std::string content;
    platform::TextReadRules rules;
    std::vector<std::string> pieces;
  } cases[] = {
      {"998 characters with the line break: one piece",
       x997 + "\n",
       kBytesAsTheyAre,
       {x997 + "\n"}},
      {"999: the line break comes alone", x997 + "y\n", kBytesAsTheyAre, {x997 + "y", "\n"}},
      {"CR LF as the 998th character", x997 + "\r\n", kTextMode, {x997 + "\n"}},
      {"CR LF kept as two bytes", x997 + "\r\n", kBytesAsTheyAre, {x997 + "\r", "\n"}},
      {"a CR LF just behind a full piece",
       x997 + "y\r\nz",
       kTextMode,
       {x997 + "y", "\n", kCut + "z"}},
      {"a lone CR stays, and cuts a last line",
       "-a\rb\r\n-c\r",
       kTextMode,
       {"-a\rb\n", kCut + "-c\r"}},
      {"0x1A ends the data", "-a\n-b\x1A\n-c\n", kTextMode, {"-a\n", kCut + "-b"}},
      {"0x1A is a byte like any other", "-b\x1A\n", kBytesAsTheyAre, {"-b\x1A\n"}},
      {"a zero byte counts as a character",
       std::string("-a\0b\n", 5),
       kBytesAsTheyAre,
       {std::string("-a\0b\n", 5)}},
      {"an empty file has no piece", "", kTextMode, {}},
      {"a last line without its break", "-a\n-b", kTextMode, {"-a\n", kCut + "-b"}},
      {"a last piece of a long line", x997 + "yz", kBytesAsTheyAre, {x997 + "y", kCut + "z"}},
      {"a last line of 998 characters", x997 + "y", kBytesAsTheyAre, {kCut + x997 + "y"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(textsOf(piecesOf(file("log"), c.content, c.rules, 4096)), c.pieces);
  }
}

// Contents the reader must read exactly as a line read would.
std::vector<std::string> sampleContents(std::mt19937& random, bool textMode) {
  std::vector<std::string> contents;
  for (int i = 0; i < 60; ++i) {
    LogShape shape;
    shape.maxEntries = 60;
    shape.crLf = textMode && i % 2 == 0;
    shape.ctrlZ = textMode;
    contents.push_back(randomLogPair(random, shape).after);
  }
  // Byte soup with many line breaks, CRs and long runs without either.
  static const char kBytes[] = "\n\r\r-a,\x1A";
  for (int i = 0; i < 20; ++i) {
    std::string soup;
    size_t length = random() % 12000;
    for (size_t j = 0; j < length; ++j) {
      soup += random() % 50 == 0 ? kBytes[random() % (sizeof kBytes - 1)] : 'x';
    }
    contents.push_back(soup);
  }
  return contents;
}

TEST_F(LogReaderTest, ReadsWhatALimitedLineReadReads) {
  std::mt19937 random(7);
  for (bool textMode : {false, true}) {
    platform::TextReadRules rules = textMode ? kTextMode : kBytesAsTheyAre;
    for (const std::string& content : sampleContents(random, textMode)) {
      std::vector<std::string> expected =
          readsOf(file("view"), textMode ? textModeView(content) : content);
      for (size_t block : {size_t{4096}, size_t{4099}, size_t{1} << 20}) {
        ASSERT_EQ(textsOf(piecesOf(file("log"), content, rules, block)), expected)
            << "text mode " << textMode << ", block " << block;
      }
    }
  }
}

TEST_F(LogReaderTest, EveryPieceReadsAgainAtItsOffsetInAnyOrder) {
  std::mt19937 random(11);
  for (bool textMode : {false, true}) {
    platform::TextReadRules rules = textMode ? kTextMode : kBytesAsTheyAre;
    for (const std::string& content : sampleContents(random, textMode)) {
      std::vector<Read> pieces = piecesOf(file("log"), content, rules, 4096);
      if (!pieces.empty() && pieces.back().text.rfind(kCut, 0) == 0) pieces.pop_back();
      std::vector<size_t> order(pieces.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      // Forward, backward, scattered.
      std::vector<std::vector<size_t>> orders = {order, {order.rbegin(), order.rend()}, order};
      std::shuffle(orders[2].begin(), orders[2].end(), random);
      FILE* stream = std::fopen(file("log").string().c_str(), "rb");
      LogReader reader(stream, rules, 4096, true);
      for (const std::vector<size_t>& sequence : orders) {
        for (size_t i : sequence) {
          PieceSpan span;
          ASSERT_TRUE(reader.spanAt(pieces[i].offset, span));
          LinePiece piece;
          copyPiece(span, piece);
          ASSERT_EQ(std::string(piece.text, piece.length), pieces[i].text) << "piece " << i;
          // A piece holds itself, and not the piece behind it unless the
          // two are the same bytes.
          std::string bytes(span.bytes, span.size);
          ASSERT_TRUE(reader.holdsAt(pieces[i].offset, span));
          if (i + 1 < pieces.size()) {
            PieceSpan behind;
            ASSERT_TRUE(reader.spanAt(pieces[i + 1].offset, behind));
            EXPECT_EQ(reader.holdsAt(pieces[i + 1].offset, span),
                      std::string(behind.bytes, behind.size) == bytes);
          }
        }
      }
      std::fclose(stream);
    }
  }
}

// Another program cuts the log short while it is read: the data ends where
// the file ends then, in the line it was cut in, and no signal comes.
TEST_F(LogReaderTest, ALogCutShortWhileReadEndsWhereItEndsThen) {
  std::string content;
  for (int i = 0; i < 4000; ++i) content += "-line " + std::to_string(100000 + i) + "\n";
  writeFile(file("log"), content);
  FILE* stream = std::fopen(file("log").string().c_str(), "rb");
  FILE* again = std::fopen(file("log").string().c_str(), "rb");
  LogReader walk(stream, kBytesAsTheyAre, 4096, false);
  LogReader lookups(again, kBytesAsTheyAre, 4096, true);
  LinePiece piece;
  ASSERT_TRUE(walk.next(piece));
  ASSERT_TRUE(lookups.readAt(content.size() / 2, piece));
  const size_t cut = 13 * 2300 + 5;  // inside a line, far past the first block
  std::filesystem::resize_file(file("log"), cut);
  size_t end = piece.length;
  while (walk.next(piece)) end = piece.offset + piece.length;
  EXPECT_EQ(end, cut - 5);
  ASSERT_NE(walk.cutLine(), nullptr);
  EXPECT_EQ(std::string(walk.cutLine()->text), content.substr(cut - 5, 5));
  EXPECT_FALSE(lookups.readAt(40000, piece));
  std::fclose(stream);
  std::fclose(again);
}

TEST_F(LogReaderTest, OffsetsAtOrPastTheEndReadNothing) {
  writeFile(file("log"), "-a\n-b\n");
  FILE* stream = std::fopen(file("log").string().c_str(), "rb");
  LogReader reader(stream, kTextMode, 4096, true);
  LinePiece piece;
  for (uint64_t offset : {uint64_t{6}, uint64_t{7}, uint64_t{100000}}) {
    EXPECT_FALSE(reader.readAt(offset, piece)) << offset;
  }
  ASSERT_TRUE(reader.readAt(3, piece));
  EXPECT_EQ(std::string(piece.text, piece.length), "-b\n");
  std::fclose(stream);
}

TEST_F(LogReaderTest, AStreamThatCannotBeReadEndsAtOnce) {
  writeFile(file("log"), "-a\n-b\n");
  FILE* stream = std::fopen(file("log").string().c_str(), "ab");
  LogReader reader(stream, kTextMode, 4096, true);
  LinePiece piece;
  EXPECT_FALSE(reader.next(piece));
  std::fclose(stream);
}

}  // namespace
