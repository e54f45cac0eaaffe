// The comparison reads logs in binary and applies platform::textReadRules()
// itself. These tests hold that against the C runtime's own text mode: a
// file opened with "r" and read with line reads of at most 998 characters,
// as the comparison's reads are described.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compare/log_reader.h"
#include "platform/directory_search.h"
#include "test_support.h"

namespace {

// The pieces that fgets with room for 998 characters gives from a stream
// opened in text mode. The contents hold no zero byte, so a piece ends at
// its first one.
std::vector<std::string> runtimePieces(const std::filesystem::path& file) {
  std::vector<std::string> pieces;
  FILE* stream = std::fopen(file.string().c_str(), "r");
  if (stream == nullptr) return pieces;
  char line[1000];
  while (std::fgets(line, 999, stream) != nullptr) pieces.emplace_back(line);
  std::fclose(stream);
  return pieces;
}

std::vector<std::string> readerPieces(const std::filesystem::path& file) {
  std::vector<std::string> pieces;
  FILE* stream = std::fopen(file.string().c_str(), "rb");
  if (stream == nullptr) return pieces;
  LogReader reader(stream, platform::textReadRules(), 4096, false);
  LinePiece piece;
  while (reader.next(piece)) pieces.emplace_back(piece.text, piece.length);
  // A last piece without its line break is held back, and read all the same.
  if (const LinePiece* cut = reader.cutLine()) pieces.emplace_back(cut->text, cut->length);
  std::fclose(stream);
  return pieces;
}

class TextModeTest : public testing::Test {
 protected:
  void expectSameReads(const std::string& content) {
    std::filesystem::path file = folder_.path() / "log";
    writeFile(file, content);
    ASSERT_EQ(readerPieces(file), runtimePieces(file));
  }
  ScopedTempDir folder_;
};

TEST_F(TextModeTest, EdgesOfLineBreaksAndTheEndMarkReadAsTheRuntimeReadsThem) {
  const std::string x997(997, 'x');
  // The runtime reads its file in blocks; a pair split between two of them
  // must read as it does inside one.
  const std::string x4095(4095, 'x');
  const struct {
    const char* what;
    std::string content;
  } cases[] = {
      {"lines ending in CR LF", "-a\r\n-b\r\nFILEs - 1\r\n"},
      {"lines ending in LF alone", "-a\n-b\n"},
      {"a lone CR inside a line", "-a\rb\r\n"},
      {"a CR as the last byte", "-a\r\n\r"},
      {"CR CR LF", "-a\r\r\n-b\r\n"},
      {"LF CR", "-a\n\r-b\n"},
      {"a CR LF pair split between two blocks", x4095 + "\r\n-b\r\n"},
      {"a CR LF pair behind a full piece", x997 + "y\r\nz\r\n"},
      {"a CR LF pair as the 998th character", x997 + "\r\n-b\r\n"},
      {"0x1A inside a line", "-a\r\n-b\x1A\r\n-c\r\n"},
      {"0x1A at the start", "\x1A-a\r\n"},
      {"0x1A between CR and LF", "-a\r\x1A\n-b\r\n"},
      {"0x1A as the last byte", "-a\r\n\x1A"},
      {"0x1A just behind a block", x4095 + "\r\x1A\n"},
      {"no line break at the end", "-a\r\n-b"},
      {"an empty file", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectSameReads(c.content);
  }
}

TEST_F(TextModeTest, RandomBytesReadAsTheRuntimeReadsThem) {
  std::mt19937 random(1207);
  static const char kSpecial[] = "\r\n\r\n\x1A-,";
  for (int i = 0; i < 200; ++i) {
    std::string content;
    size_t length = random() % 9000;
    // Few end marks, so that most of a file is read before one.
    unsigned oneIn = i % 4 == 0 ? 20 : 400;
    for (size_t j = 0; j < length; ++j) {
      if (random() % oneIn != 0) {
        content += static_cast<char>('a' + random() % 26);
        continue;
      }
      char c = kSpecial[random() % (sizeof kSpecial - 1)];
      if (c == '\x1A' && random() % 8 != 0) c = '\r';
      content += c;
    }
    SCOPED_TRACE("content " + std::to_string(i));
    expectSameReads(content);
  }
}

}  // namespace
