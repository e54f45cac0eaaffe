// The command line: every argument, program name included, is tested in
// order against the switch table, and the action of a matching switch runs
// to its end before the next argument is looked at. Arguments that match no
// switch are ignored.
#ifndef DIRLOG_CLI_ARGUMENT_LOOP_H_
#define DIRLOG_CLI_ARGUMENT_LOOP_H_

#include <cstddef>

// Room for a switch's tail: 255 characters and the terminating zero.
constexpr size_t kTailBufferSize = 256;

// 0 when both texts are non-empty and `argument` begins with `switchText`,
// byte for byte; -1 otherwise.
int matchesSwitch(const char* argument, const char* switchText);

// Copies the characters of `argument` from `start` up to, not including,
// `end` into `buffer` (kTailBufferSize bytes) and terminates it. A tail longer
// than 255 characters is cut at 255; the result is the number of characters
// copied, so a caller can tell a cut tail from a whole one.
size_t copyTail(const char* argument, char* buffer, size_t start, size_t end);

// Runs the whole command line. Returns the process's exit status when no
// fatal error ended it first: 0.
int runArgumentLoop(int argc, char** argv);

#endif  // DIRLOG_CLI_ARGUMENT_LOOP_H_
