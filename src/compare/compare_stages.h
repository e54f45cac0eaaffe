// The compare switches: "/F1" and "/F2" move the compare stage on by one,
// "/compare" forces it to 2 and moves it on twice. The stage decides which
// compare log is opened next; once both are open the comparison runs and
// both are closed again.
//
//   stage 0  no compare log opened in this run
//   stage 1  the before log is open, the after log is not
//   stage 2  a comparison has run; both logs are closed again
#ifndef DIRLOG_COMPARE_COMPARE_STAGES_H_
#define DIRLOG_COMPARE_COMPARE_STAGES_H_

#include <cstdio>

void setCompareStage(int stage);
int compareStage();

// Adds 1 to the stage and opens the log or logs the new value calls for
// (1: the before log; 2: the after log; 3: both, and the stage becomes 2).
// Every failure is fatal: "only one log file", "coud not open log file #1
// before", "coud not open log file #2 after".
void advanceCompareStage();

// At stage 2 runs the comparison and closes both logs; otherwise nothing.
// Running out of memory on the way is fatal: "the comparison ran out of
// memory".
void compareIfReady();

// Opens log n - 1 (which == 1, the before log) or log n (which == 2, the
// after log), n being the number of logs that exist now, into the stream of
// that role, releasing the stream the role held before. Returns 1 when it is
// open, 0 when not (a missing log, or a directory of that name). Raises "only
// one log file" itself when the before log is wanted and exactly one log
// exists.
int openCompareLog(int which);

// The open stream of the before log (which == 1) or the after log (which ==
// 2), in binary mode, or nullptr.
FILE* compareLogStream(int which);

#endif  // DIRLOG_COMPARE_COMPARE_STAGES_H_
