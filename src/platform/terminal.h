// The terminal behind standard error, for a status line that a long task
// rewrites in place, and the clock that paces it. One file implements this
// header per platform (terminal_posix.cc, terminal_win32.cc).
#ifndef DIRLOG_PLATFORM_TERMINAL_H_
#define DIRLOG_PLATFORM_TERMINAL_H_

#include <cstddef>
#include <cstdint>

namespace platform {

// Whether standard error is a terminal (a console on Windows). Asked of the
// system at every call: callers ask once.
bool errorIsTerminal();

// The width in columns that a status line may use now: the terminal's, or 80
// when it does not tell; 0 while the process runs in the background of its
// terminal (another process group has it), where a line would write over the
// shell's and could stop the process.
int statusColumns();

// Milliseconds from an arbitrary start, from a clock that never goes back and
// is cheap enough to read for every entry of a walk; it may advance in steps
// of a few milliseconds.
uint64_t coarseMilliseconds();

// Shows `text` (`length` bytes, nothing in it that moves the cursor, fewer
// bytes than the terminal has columns) on standard error in place of the
// status line shown, if any.
void showStatusLine(const char* text, size_t length);

// Takes the status line off the terminal and leaves the cursor at the start
// of the empty line, so that whatever is printed next starts clean. Does
// nothing when no line is shown. On POSIX it is safe in a signal handler.
void eraseStatusLine();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_TERMINAL_H_
