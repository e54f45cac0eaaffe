// The status line on a Windows console. Consoles before Windows 10 know no
// escape sequences, so a line is put out as text padded with blanks over the
// longer one it replaces, and erased with blanks.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/terminal.h"

namespace platform {
namespace {

constexpr int kDefaultColumns = 80;

bool lineShown = false;
size_t shownLength = 0;  // of the text of the line shown; blanks follow it

HANDLE errorHandle() { return ::GetStdHandle(STD_ERROR_HANDLE); }

void writeError(const std::string& text) {
  DWORD written = 0;
  // A console gone away loses only the courtesy of the line.
  ::WriteFile(errorHandle(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

bool errorIsTerminal() {
  HANDLE handle = errorHandle();
  DWORD mode;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

int statusColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(errorHandle(), &info)) return kDefaultColumns;
  int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : kDefaultColumns;
}

uint64_t coarseMilliseconds() { return ::GetTickCount64(); }

void showStatusLine(const char* text, size_t length) {
  std::string line = "\r";
  line.append(text, length);
  if (length < shownLength) line.append(shownLength - length, ' ');
  writeError(line);
  lineShown = true;
  shownLength = length;
}

void eraseStatusLine() {
  if (!lineShown) return;
  writeError("\r" + std::string(shownLength, ' ') + "\r");
  lineShown = false;
}

}  // namespace platform
