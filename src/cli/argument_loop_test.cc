#include "cli/argument_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(MatchesSwitch, MatchesOnlyAPrefixWithTheSameCase) {
  struct Case {
    const char* argument;
    const char* switchText;
    int expected;
  };
  for (Case c : {Case{"/L", "/L", 0}, Case{"/Lc:/work", "/L", 0}, Case{"/Log", "/L", 0},
                 Case{"/l", "/L", -1}, Case{"/F", "/F1", -1}, Case{"/F1xyz", "/F1", 0},
                 Case{"/comparenow", "/compare", 0}, Case{"/Compare", "/compare", -1},
                 Case{"", "/L", -1}, Case{"/L", "", -1}, Case{"x/L", "/L", -1}}) {
    EXPECT_EQ(matchesSwitch(c.argument, c.switchText), c.expected)
        << c.argument << " against " << c.switchText;
  }
}

// The tail buffer holds 255 characters: a longer tail is cut there, never
// written past, and the count tells the caller it was cut.
TEST(CopyTail, CopiesUpTo255CharactersAndTerminates) {
  for (size_t length : {0u, 1u, 254u, 255u, 256u, 1000u}) {
    std::string argument = "/L" + std::string(length, 'x');
    char buffer[kTailBufferSize + 8];
    std::memset(buffer, '#', sizeof buffer);
    size_t copied = copyTail(argument.c_str(), buffer, 2, argument.size());
    size_t expected = length < 255 ? length : 255;
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(std::string(buffer), std::string(expected, 'x'));
    EXPECT_EQ(buffer[kTailBufferSize], '#') << "written past the buffer";
  }
}

}  // namespace
