#include "view/live_walk.h"

#include <chrono>

#include "platform/output_files.h"
#include "platform/terminal.h"
#include "snapshot/snapshot_log.h"
#include "snapshot/tree_walker.h"

namespace view {
namespace {

// Where the walk's messages go, and how many came, during one walk.
std::FILE* noticeStream = nullptr;
uint64_t notRecorded = 0;

void noteNotRecorded(const std::string& message) {
  ++notRecorded;
  platform::eraseStatusLine();  // shown again with the next count
  std::fprintf(noticeStream, "dirlog-view: %s\n", message.c_str());
  std::fflush(noticeStream);
}

// Now, as the file times of a log count time.
uint64_t fileTimeNow() {
  constexpr int64_t kUnitsFrom1601To1970 = 116444736000000000;
  auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<uint64_t>(since1970.count() / 100 + kUnitsFrom1601To1970);
}

bool endsInSeparator(const std::string& folder) {
  return !folder.empty() && folder.back() == platform::separator();
}

std::string whyNoWalk(WalkEnd end, const std::string& folder) {
  switch (end) {
    case WalkEnd::kFolderTooLong:
      return folder + ": the given folder is too long (" + std::to_string(kMaxFolderLength) +
             " characters at most)";
    case WalkEnd::kFolderNotFound:
      return folder + ": the given folder cannot be found" +
             (endsInSeparator(folder) ? " (name it without the separator at its end)" : "");
    case WalkEnd::kNothingThere:
      return folder + ": Nothing is that folder (it is empty or cannot be listed)";
    case WalkEnd::kWriteFailed:
      return "the live walk could not be written whole to its temporary file (is the "
             "folder for temporary files full?)";
    case WalkEnd::kComplete:
      break;
  }
  return std::string();
}

}  // namespace

LiveWalk walkLive(const std::string& folder, std::FILE* err) {
  LiveWalk walk;
  std::string reason;
  std::FILE* log = platform::openTemporaryLog(reason);
  if (log == nullptr) {
    walk.trouble = "no temporary file for the live walk: " + reason;
    return walk;
  }
  noticeStream = err;
  notRecorded = 0;
  useWalkNotice(noteNotRecorded);
  walk.taken = fileTimeNow();
  WalkEnd end = walkFolderInto(folder, log);
  useWalkNotice(nullptr);
  if (end == WalkEnd::kComplete && notRecorded > 0) {
    walk.trouble = "the live walk of " + folder + " could not record " +
                   std::to_string(notRecorded) + (notRecorded == 1 ? " entry" : " entries") +
                   " (named above), so no comparison is shown";
  } else {
    walk.trouble = whyNoWalk(end, folder);
  }
  if (walk.trouble.empty() && !platform::readTemporaryLogFromStart(log)) {
    walk.trouble = "the live walk's temporary file cannot be read back";
  }
  if (walk.trouble.empty()) {
    walk.log = log;
  } else {
    std::fclose(log);
  }
  return walk;
}

}  // namespace view
