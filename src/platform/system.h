// What the comparison and dirlog-view ask of the system beyond the directory
// search: opening a log with the reason when it cannot, when a log was last
// written, whether an output stream is a terminal that shows colour, the
// local time's offset, the name behind a user id, decoding a Windows code
// page, and writing UTF-8 where a console wants other text.
#ifndef DIRLOG_PLATFORM_SYSTEM_H_
#define DIRLOG_PLATFORM_SYSTEM_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Opens `path` for reading in binary mode. Returns nullptr and sets `reason`
// (the system's words, such as "No such file or directory") when it cannot,
// a directory of that name included ("Is a directory").
std::FILE* openLogFile(const std::string& path, std::string& reason);

// When the file was last written, in 100 ns units since 1601-01-01 UTC, or
// nothing when that cannot be told.
std::optional<uint64_t> lastWriteTime(const std::string& path);

// Whether `stream` goes to a terminal. On Windows a console also has its
// escape sequences switched on, so that colour shows there.
bool isColorTerminal(std::FILE* stream);

// The local time's offset from UTC, in seconds east, at the moment given in
// seconds since 1970-01-01 UTC.
int32_t localUtcOffset(int64_t unixSeconds);

// The name of the user with id `uid` where this system knows one.
std::optional<std::string> userName(uint32_t uid);

// The code page that names in a Windows log are written in, unless told
// otherwise: the system's ANSI code page on Windows, 1252 (Western
// European) elsewhere.
unsigned ansiCodePage();

// `bytes`, text in Windows code page `codePage`, as UTF-8 in `utf8`. Each
// byte that begins no character of the code page is kept as it is. Returns
// false, with `utf8` undefined, when this system cannot decode the code page.
bool codePageToUtf8(std::string_view bytes, unsigned codePage, std::string& utf8);

// Writes `length` bytes of UTF-8 text to `stream`: as they are to a file or
// a pipe; to a Windows console as wide characters, which it shows whatever
// its own code page. False when not everything was written.
bool writeUtf8(std::FILE* stream, const char* text, size_t length);

}  // namespace platform

#endif  // DIRLOG_PLATFORM_SYSTEM_H_
