// How a Windows name (UTF-16) is written for the code above the platform
// layer, and read back.
//
// Every character that the ANSI code page holds exactly is written as the
// code page writes it, byte for byte, as FindFirstFileA would give it. Every
// UTF-16 code unit that it cannot hold exactly (no mapping, or only a best
// fit to another character) is written as "?" and four upper-case
// hexadecimal digits of the code unit: "日本.txt" as "?65E5?672C.txt",
// U+FF41 as "?FF41", a character outside the BMP as its two surrogates. "?"
// itself and the control characters, which no Windows name holds, are
// written the same way, so that every "?" of a written name begins such a
// form and two names never share a written one.
#ifndef DIRLOG_PLATFORM_LOGGED_NAME_WIN32_H_
#define DIRLOG_PLATFORM_LOGGED_NAME_WIN32_H_

#include <string>

namespace platform {

// The written form of `name` (NUL-terminated UTF-16).
std::string loggedName(const wchar_t* name);

// The UTF-16 text of a written form: each "?" and four upper-case
// hexadecimal digits as that code unit, everything else as the ANSI code
// page reads it. A text without forms reads as MultiByteToWideChar reads it.
std::wstring trueName(const char* text);

}  // namespace platform

#endif  // DIRLOG_PLATFORM_LOGGED_NAME_WIN32_H_
