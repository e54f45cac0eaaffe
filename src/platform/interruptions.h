// Keeping a line that is being written to a file whole when the process is
// told to end from outside.
//
// Linux copies a write into a file a page at a time and, between two pages,
// gives up the rest of the write when a signal is about to end the process.
// A line that straddles a 4 KiB boundary of its file would then be left cut
// short by Ctrl-C or a kill. While interruptions are held, such a signal
// (SIGHUP, SIGINT or SIGTERM left at its default action) waits, and ends the
// process the moment they are released, once the line is whole. Nothing can
// hold SIGKILL back. On Windows there is nothing to hold.
#ifndef DIRLOG_PLATFORM_INTERRUPTIONS_H_
#define DIRLOG_PLATFORM_INTERRUPTIONS_H_

namespace platform {

// Costs no system call once the first call has set things up; a signal
// ignored or caught by the time of that first call is left as it is.
void holdInterruptions();

// Ends the process, by the signal that came, when one came while held.
void releaseInterruptions();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_INTERRUPTIONS_H_
