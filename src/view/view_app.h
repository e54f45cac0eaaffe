// dirlog-view's run: its command line, the logs it reads, the output it
// writes and its exit status.
#ifndef DIRLOG_VIEW_VIEW_APP_H_
#define DIRLOG_VIEW_VIEW_APP_H_

#include <cstdio>
#include <string>
#include <vector>

namespace view {

// Exit statuses, as diff has them.
constexpr int kNothingChanged = 0;
constexpr int kChangesShown = 1;
constexpr int kTrouble = 2;

// Runs dirlog-view with `arguments` (the program's name first), writing the
// view to `out` and messages ("dirlog-view: ...") to `err`. Returns the exit
// status.
int runView(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace view

#endif  // DIRLOG_VIEW_VIEW_APP_H_
