// Names from a log of dirlog.exe as text: Windows writes them in its ANSI
// code page, and a character that code page lacks as "?" and the four
// upper-case hexadecimal digits of its UTF-16 code unit ("?65E5" for U+65E5).
#ifndef DIRLOG_VIEW_WINDOWS_NAMES_H_
#define DIRLOG_VIEW_WINDOWS_NAMES_H_

#include <string>

namespace view {

// `logged`, a path or name as a Windows log holds it, in UTF-8: its bytes
// decoded from `codePage`, each run of "?XXXX" forms as the UTF-16 text they
// spell. A form that spells half a surrogate pair, and a byte the code page
// does not define, stay as they are, so no name is lost.
std::string decodeWindowsName(const std::string& logged, unsigned codePage);

}  // namespace view

#endif  // DIRLOG_VIEW_WINDOWS_NAMES_H_
