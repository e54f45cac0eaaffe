// Opening the files the program writes, the snapshot logs and the report.
//
// The log folder may be one that other users can write (a team's folder,
// /tmp), so a name there is never written through: a link, a directory, a
// device, or a file with a second name elsewhere is refused rather than
// followed. What is written is a regular file of the folder's own, or a
// FIFO (whose reader takes the lines; its opening waits for one). Two scans into one folder never
// write the same log: a log is held as being written from its opening to its close (a lock on
// POSIX, a handle that shares neither writing nor deletion on Windows), and neither another opening
// nor a purge takes a log held so.
#ifndef DIRLOG_PLATFORM_OUTPUT_FILES_H_
#define DIRLOG_PLATFORM_OUTPUT_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// How an attempt to open a snapshot log for writing ended.
enum class LogOpening {
  kOpened,   // the stream writes the log, held as being written
  kInUse,    // another writer holds that log as being written
  kChanged,  // the name changed while it was being opened; try again
  kRefused,  // the name cannot be written: see openLogForWriting()
};

// Opens the snapshot log `path` for writing in text mode. A name that no
// entry has is created (exclusively: never through a dangling link); an
// existing file of a kind that is written, that no other writer holds, is
// emptied. Refused: a link, a directory, a device, a regular file with
// more than one name, a folder that does not exist or cannot be written.
// The stream is unbuffered, so every write reaches the file at once.
// Returns nullptr unless `result` is kOpened.
std::FILE* openLogForWriting(const std::string& path, LogOpening& result);

// Opens the change report `path` for writing in text mode, created or
// emptied. Returns nullptr, touching nothing, for a name that
// openLogForWriting() refuses.
std::FILE* openReportForWriting(const std::string& path);

// Removes the log `path`, a file or a link of that name, never a
// directory, unless another writer holds it as being written. Returns
// whether something was removed.
bool deleteLog(const std::string& path);

// After a failed write: cuts the file that `stream` writes (unbuffered, as
// openLogForWriting() gives it) back to its first `size` bytes, so that
// what was written in part is gone. False when the system refused.
bool cutFileBack(std::FILE* stream, uint64_t size);

// Creates a log of no name for a walk that must leave the log folder
// alone, in the system's folder for temporary files ($TMPDIR, else /tmp; on
// Windows the folder GetTempPath names): created exclusively, readable by
// its owner only, and gone however the process ends (on POSIX it never has
// a name, or loses it at once; on Windows the system deletes it when its
// handle closes). Opened for writing in text mode, as openLogForWriting()
// opens a log, but buffered. Returns nullptr, with `reason` naming
// the folder and the system's words, when it cannot be created.
std::FILE* openTemporaryLog(std::string& reason);

// Makes a log from openTemporaryLog() ready to be read from its start in
// binary mode, as logs are read. False when the system refused.
bool readTemporaryLogFromStart(std::FILE* log);

// The bytes that a "\n" written in text mode takes in the file.
size_t lineBreakBytes();

}  // namespace platform

#endif  // DIRLOG_PLATFORM_OUTPUT_FILES_H_
