// The JSON Lines output: one object per change, then one summary object.
// Every key is documented in doc/dirlog-view.1; other writers (the HTML
// page) build on these objects.
#ifndef DIRLOG_VIEW_JSON_OUTPUT_H_
#define DIRLOG_VIEW_JSON_OUTPUT_H_

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "view/change.h"
#include "view/formatting.h"
#include "view/summary.h"

namespace view {

// How values are spelled in every output.
struct Presentation {
  TimeZone zone = TimeZone::kUtc;
  AccessTimes access = AccessTimes::kHidden;
  LogSystem system = LogSystem::kPosix;
  char separator = '/';
};

// A time as the outputs give it: ISO 8601 in the chosen zone; null for the
// zero time.
nlohmann::json timeToJson(uint64_t ticks, TimeZone zone);

// One change object: kind, path (and old_path), type (and old_type),
// verdict, changed, and the field objects with "old" and "new" values.
// Paths that are not valid UTF-8 come with their exact bytes in base64
// under path_b64 (old_path_b64).
nlohmann::json changeToJson(const Change& change, const Presentation& presentation);

// The summary object, without the "summary" key around it.
nlohmann::json summaryToJson(const Summary& summary, const Presentation& presentation);

// One line of JSON Lines: the object in compact form, any text that is
// not valid UTF-8 mended with U+FFFD, DEL, C1 controls and the characters
// that turn the writing direction as \u escapes, and "\n".
std::string jsonLine(const nlohmann::json& object);

// Appends the line of `change` to `out`: the text jsonLine(changeToJson())
// gives, written without building the object.
void appendChangeLine(std::string& out, const Change& change, const Presentation& presentation);

// The whole output: a line per change, then {"summary": ...}.
void writeJsonLines(std::FILE* out, const std::vector<Change>& changes, const Summary& summary,
                    const Presentation& presentation);

}  // namespace view

#endif  // DIRLOG_VIEW_JSON_OUTPUT_H_
