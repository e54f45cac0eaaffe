// The one way every part of the program reports an error.
#ifndef DIRLOG_CLI_ERRORS_H_
#define DIRLOG_CLI_ERRORS_H_

// Writes "Error: <message>\n" to standard output. When `fatal` is 1 the
// process then ends with exit status 1 through the normal exit path, which
// flushes and closes every open stream; when it is 0 the call returns.
void reportError(const char* message, int fatal);

#endif  // DIRLOG_CLI_ERRORS_H_
