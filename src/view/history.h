// --history: one entry through every log present, oldest first, each
// change from the log before spelled out.
#ifndef DIRLOG_VIEW_HISTORY_H_
#define DIRLOG_VIEW_HISTORY_H_

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "view/change.h"
#include "view/json_output.h"
#include "view/text_output.h"

namespace view {

struct HistoryStep {
  int number = 0;    // the log's number
  std::string file;  // its name
  std::optional<Entry> entry;
  LogSystem system = LogSystem::kPosix;
  // What changed since the log before: nothing for the first log, when the
  // entry is absent from both, or when nothing shown changed.
  std::optional<Change> change;
  bool accessOnly = false;  // only the access time changed, not shown
};

// Fills in each step's change from the one before it.
void traceChanges(std::vector<HistoryStep>& steps, AccessTimes access);

// How many steps show a change.
size_t changeCount(const std::vector<HistoryStep>& steps);

void writeHistoryText(std::FILE* out, const std::string& path,
                      const std::vector<HistoryStep>& steps, const Presentation& presentation,
                      Colour colour);

// One line per log, {"history": {...}}, then {"summary": {...}}.
void writeHistoryJson(std::FILE* out, const std::string& path,
                      const std::vector<HistoryStep>& steps, const Presentation& presentation);

}  // namespace view

#endif  // DIRLOG_VIEW_HISTORY_H_
