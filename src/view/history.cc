#include "view/history.h"

#include <algorithm>

#include "platform/directory_search.h"
#include "platform/system.h"

namespace view {
namespace {

Change wholeChange(Kind kind, const Entry& entry) {
  Change change;
  change.kind = kind;
  if (kind == Kind::kCreated) {
    change.after = entry;
  } else {
    change.before = entry;
  }
  return change;
}

void put(std::FILE* out, const std::string& text) {
  platform::writeUtf8(out, text.data(), text.size());
}

}  // namespace

void traceChanges(std::vector<HistoryStep>& steps, AccessTimes access) {
  const HistoryStep* previous = nullptr;
  for (HistoryStep& step : steps) {
    step.change.reset();
    step.accessOnly = false;
    if (previous != nullptr) {
      const auto& before = previous->entry;
      const auto& after = step.entry;
      if (!before && after) {
        step.change = wholeChange(Kind::kCreated, *after);
      } else if (before && !after) {
        step.change = wholeChange(Kind::kDeleted, *before);
      } else if (before && after) {
        Change change = modification(*before, *after, step.system, access);
        if (change.changed != 0 || change.kind == Kind::kType) {
          step.change = std::move(change);
        } else {
          step.accessOnly = before->access != after->access;
        }
      }
    }
    previous = &step;
  }
}

size_t changeCount(const std::vector<HistoryStep>& steps) {
  return static_cast<size_t>(std::count_if(steps.begin(), steps.end(),
                                           [](const HistoryStep& step) { return step.change; }));
}

void writeHistoryText(std::FILE* out, const std::string& path,
                      const std::vector<HistoryStep>& steps, const Presentation& presentation,
                      Colour colour) {
  put(out, "history of " + printable(path, platform::separator()) + " in " +
               counted(steps.size(), "log", "logs") + "\n");
  bool seen = false;
  for (const HistoryStep& step : steps) {
    Presentation shown = presentation;
    shown.system = step.system;
    put(out, "\nlog " + std::to_string(step.number) + " (" +
                 printable(step.file, platform::separator()) + "): ");
    if (step.change) {
      put(out, "\n" + changeText(*step.change, shown, 0, colour));
    } else if (!step.entry) {
      put(out, "absent\n");
    } else if (!seen) {
      put(out, "present\n            " + entryText(*step.entry, shown) + "\n");
    } else {
      put(out, step.accessOnly ? "unchanged but for its access time (--access shows it)\n"
                               : "unchanged\n");
    }
    seen = seen || step.entry.has_value();
  }
  put(out, "\nchanges   " + std::to_string(changeCount(steps)) + "\n");
}

void writeHistoryJson(std::FILE* out, const std::string& path,
                      const std::vector<HistoryStep>& steps, const Presentation& presentation) {
  size_t accessOnly = 0;
  for (const HistoryStep& step : steps) {
    Presentation shown = presentation;
    shown.system = step.system;
    nlohmann::json line = {
        {"log", step.number},
        {"file", step.file},
        {"present", step.entry.has_value()},
        {"entry", step.entry ? changeToJson(wholeChange(Kind::kCreated, *step.entry), shown)
                             : nlohmann::json(nullptr)},
        {"change", step.change ? changeToJson(*step.change, shown) : nlohmann::json(nullptr)}};
    put(out, jsonLine({{"history", line}}));
    if (step.accessOnly) ++accessOnly;
  }
  put(out, jsonLine({{"summary",
                      {{"history", path},
                       {"logs", steps.size()},
                       {"changes", changeCount(steps)},
                       {"access_only_hidden", accessOnly}}}}));
}

}  // namespace view
