#include "cli/argument_loop.h"

#include <cstring>

#include "compare/compare_stages.h"
#include "snapshot/tree_walker.h"

namespace {

char tailBuffer[kTailBufferSize];

// `tailLength` is the length of the whole tail, which may exceed what the
// buffer holds; only the folder scan has a use for it.
using SwitchAction = void (*)(const char* tail, size_t tailLength);

void scanAction(const char* tail, size_t tailLength) { scanFolder(tail, tailLength); }

void stepAction(const char*, size_t) {
  advanceCompareStage();
  compareIfReady();
}

void compareAction(const char*, size_t) {
  setCompareStage(2);
  advanceCompareStage();
  advanceCompareStage();
  compareIfReady();
}

struct SwitchRow {
  const char* text;
  SwitchAction action;
};

// Tested in this order; no switch text is a prefix of another, so at most
// one row matches an argument.
constexpr SwitchRow kSwitchTable[] = {
    {"/L", scanAction},
    {"/F1", stepAction},
    {"/F2", stepAction},
    {"/compare", compareAction},
};

}  // namespace

int matchesSwitch(const char* argument, const char* switchText) {
  if (argument[0] == '\0' || switchText[0] == '\0') return -1;
  size_t length = std::strlen(switchText);
  return std::strncmp(argument, switchText, length) == 0 ? 0 : -1;
}

size_t copyTail(const char* argument, char* buffer, size_t start, size_t end) {
  size_t count = end - start;
  if (count > kTailBufferSize - 1) count = kTailBufferSize - 1;
  std::memcpy(buffer, argument + start, count);
  buffer[count] = '\0';
  return count;
}

int runArgumentLoop(int argc, char** argv) {
  setCompareStage(0);
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    for (const SwitchRow& row : kSwitchTable) {
      if (matchesSwitch(argument, row.text) != 0) continue;
      size_t start = std::strlen(row.text);
      size_t end = std::strlen(argument);
      copyTail(argument, tailBuffer, start, end);
      row.action(tailBuffer, end - start);
    }
  }
  return 0;
}
