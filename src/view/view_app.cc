#include "view/view_app.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/directory_search.h"
#include "platform/system.h"
#include "snapshot/snapshot_log.h"
#include "view/filters.h"
#include "view/history.h"
#include "view/html_page.h"
#include "view/json_output.h"
#include "view/live_walk.h"
#include "view/log_comparison.h"
#include "view/moves.h"
#include "view/summary.h"
#include "view/text_output.h"

namespace view {
namespace {

enum class Format { kText, kJson };

struct Options {
  std::vector<std::string> files;
  std::vector<int> numbers;
  std::string history;
  bool live = false;
  std::string liveFolder;  // empty: the start folder of the log compared with
  bool relative = false;
  bool access = false;
  bool local = false;
  bool json = false;
  std::string html;
  int depth = 2;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  std::string only;
  std::string color = "auto";
  unsigned codePage = platform::ansiCodePage();
};

// Trouble that ends the run with status 2, its message already worded.
struct Trouble {
  std::string message;
};

struct LogFile {
  std::string name;
  std::FILE* stream = nullptr;
  ~LogFile() {
    // Nothing was written to it: a failed close loses nothing.
    if (stream != nullptr) std::fclose(stream);
  }
};

void openLog(LogFile& log, const std::string& name) {
  std::string reason;
  log.name = name;
  log.stream = platform::openLogFile(name, reason);
  if (log.stream == nullptr) throw Trouble{name + ": " + reason};
}

// The two logs /compare would take: log n - 1 and log n, n being how many
// logs exist.
void pickNewestLogs(LogFile& before, LogFile& after) {
  int count = countSnapshotLogs();
  std::string folder = platform::logFolder().empty() ? "." : platform::logFolder();
  if (count == 0) throw Trouble{"no snapshot log in " + folder + ": a comparison needs two"};
  if (count == 1) {
    throw Trouble{"only one log file (" + snapshotLogName(1) + "): a comparison needs two"};
  }
  openLog(before, snapshotLogName(count - 1));
  openLog(after, snapshotLogName(count));
}

void pickLogs(const Options& options, LogFile& before, LogFile& after) {
  if (!options.files.empty()) {
    openLog(before, options.files[0]);
    openLog(after, options.files[1]);
  } else if (!options.numbers.empty()) {
    openLog(before, snapshotLogName(options.numbers[0]));
    openLog(after, snapshotLogName(options.numbers[1]));
  } else {
    pickNewestLogs(before, after);
  }
  if (!platform::seekFile(after.stream, 0)) {
    throw Trouble{after.name + ": cannot be read twice (not a regular file)"};
  }
}

// The log --live compares with: the one named, or the newest, log n of the
// n logs that exist, as /compare takes it for its after log.
void pickBaseline(const Options& options, LogFile& before) {
  if (!options.files.empty()) {
    openLog(before, options.files[0]);
  } else if (!options.numbers.empty()) {
    openLog(before, snapshotLogName(options.numbers[0]));
  } else {
    int count = countSnapshotLogs();
    std::string folder = platform::logFolder().empty() ? "." : platform::logFolder();
    if (count == 0) throw Trouble{"no snapshot log in " + folder + " to compare the tree with"};
    openLog(before, snapshotLogName(count));
  }
}

// The folder --live walks: the one given, which must be the log's start
// folder unless paths are matched below each start folder, or else the
// log's. The log is left at its start.
std::string liveFolderFor(const Options& options, const LogFile& before) {
  std::optional<std::string> start = logStartFolder(before.stream);
  if (!platform::seekFile(before.stream, 0)) {
    throw Trouble{before.name + ": cannot be read twice (not a regular file)"};
  }
  if (options.liveFolder.empty()) {
    if (start) return *start;
    throw Trouble{before.name +
                  " holds no record, so it names no folder: give the one to walk (--live FOLDER)"};
  }
  if (start && *start != options.liveFolder && !options.relative) {
    throw Trouble{options.liveFolder + " is not the start folder of " + before.name + " (" +
                  *start + "): compare the two with --relative"};
  }
  return options.liveFolder;
}

// The log of a live walk as the after log; returns when the walk began.
uint64_t pickLive(const Options& options, LogFile& before, LogFile& after, std::FILE* err) {
  pickBaseline(options, before);
  std::string folder = liveFolderFor(options, before);
  LiveWalk walk = walkLive(folder, err);
  if (walk.log == nullptr) throw Trouble{walk.trouble};
  after.name = folder;
  after.stream = walk.log;
  return walk.taken;
}

void checkRead(const LogFile& log) {
  if (std::ferror(log.stream) != 0) throw Trouble{log.name + ": read error"};
}

// A file with lines, none of them a record line or the beginning of one
// (a line that begins with "-"), is some other file given by mistake.
void checkIsLog(const LogFile& log, const LogFacts& facts) {
  if (facts.records > 0 || facts.unread == 0 || facts.dashLines) return;
  throw Trouble{log.name + ": not a snapshot log (none of its " + std::to_string(facts.unread) +
                " lines is a record)"};
}

Colour colourFor(const std::string& when, std::FILE* out) {
  bool terminal = when == "auto" && platform::isColorTerminal(out);
  return pickColour(when, terminal, std::getenv("NO_COLOR"), std::getenv("TERM"));
}

Presentation presentationFor(const Options& options) {
  Presentation presentation;
  presentation.zone = options.local ? TimeZone::kLocal : TimeZone::kUtc;
  presentation.access = options.access ? AccessTimes::kShown : AccessTimes::kHidden;
  return presentation;
}

Filters filtersFor(const Options& options) {
  Filters filters;
  filters.include.assign(options.include.begin(), options.include.end());
  filters.exclude.assign(options.exclude.begin(), options.exclude.end());
  if (!options.only.empty()) {
    std::optional<unsigned> kinds = parseKinds(options.only);
    if (!kinds) {
      throw Trouble{"--only " + options.only +
                    ": the kinds are created, deleted, modified, moved and type"};
    }
    filters.kinds = *kinds;
  }
  return filters;
}

// The --html page, written whole before anything else is shown.
void writePage(const std::string& file, const std::vector<Change>& changes, const Summary& summary,
               const Presentation& presentation) {
  std::ofstream page(file, std::ios::binary | std::ios::trunc);
  if (!page) throw Trouble{file + ": cannot be written (" + std::strerror(errno) + ")"};
  HtmlPageShape shape;
  shape.changes = changes.size();
  shape.separator = presentation.separator;
  HtmlPageWriter writer(page, shape);
  for (const Change& change : changes) writer.addChange(changeToJson(change, presentation));
  writer.finish(summaryToJson(summary, presentation));
  page.close();
  if (!page) throw Trouble{file + ": cannot be written"};
}

int compareView(const Options& options, std::FILE* out, std::FILE* err) {
  Filters filters = filtersFor(options);
  LogFile before;
  LogFile after;
  std::optional<uint64_t> walked;
  if (options.live) {
    walked = pickLive(options, before, after, err);
  } else {
    pickLogs(options, before, after);
  }
  ComparisonOptions comparing;
  comparing.matching = options.relative ? PathMatching::kBelowStart : PathMatching::kExact;
  comparing.access = options.access ? AccessTimes::kShown : AccessTimes::kHidden;
  comparing.codePage = options.codePage;
  comparing.accessOnlyCounts = [&](const Entry& entry, char separator) {
    return filters.showsKind(Kind::kModified) && entrySelected(filters, entry, separator);
  };
  Comparison comparison = compareLogs(before.stream, after.stream, comparing);
  checkRead(before);
  checkRead(after);
  checkIsLog(before, comparison.before);
  checkIsLog(after, comparison.after);

  Presentation presentation = presentationFor(options);
  presentation.system = comparison.system;
  presentation.separator = comparison.system == LogSystem::kPosix ? '/' : '\\';
  std::vector<Change> changes = findMoves(std::move(comparison.changes), presentation.separator,
                                          comparison.system, comparing.access);
  changes = selectChanges(std::move(changes), filters, presentation.separator);
  Summary summary = summarize(changes, comparison, options.depth);
  summary.before.file = before.name;
  summary.after.file = after.name;
  summary.before.taken = platform::lastWriteTime(before.name);
  summary.after.taken = walked ? walked : platform::lastWriteTime(after.name);
  summary.after.live = walked.has_value();

  // The page makes its folder tree from the changes, all the way down,
  // whatever --depth says.
  if (!options.html.empty()) writePage(options.html, changes, summary, presentation);
  if (options.json) {
    writeJsonLines(out, changes, summary, presentation);
  } else if (options.html.empty()) {
    writeText(out, changes, summary, presentation, options.depth, colourFor(options.color, out));
  }
  return changes.empty() ? kNothingChanged : kChangesShown;
}

int historyView(const Options& options, std::FILE* out) {
  std::vector<HistoryStep> steps;
  for (int number = 1; number <= kMaxSnapshotLogs; ++number) {
    platform::FindData probe;
    std::string name = snapshotLogName(number);
    if (!platform::directorySearch().findFirst(name, probe)) continue;
    LogFile log;
    openLog(log, name);
    HistoryStep step;
    step.number = number;
    step.file = name;
    if (std::optional<FoundEntry> found =
            findEntry(log.stream, options.history, options.codePage)) {
      step.entry = std::move(found->entry);
      step.system = found->system;
    }
    checkRead(log);
    steps.push_back(std::move(step));
  }
  if (steps.empty()) {
    std::string folder = platform::logFolder().empty() ? "." : platform::logFolder();
    throw Trouble{"no snapshot log in " + folder};
  }
  Presentation presentation = presentationFor(options);
  traceChanges(steps, presentation.access);
  if (options.json) {
    writeHistoryJson(out, options.history, steps, presentation);
  } else {
    writeHistoryText(out, options.history, steps, presentation, colourFor(options.color, out));
  }
  return changeCount(steps) == 0 ? kNothingChanged : kChangesShown;
}

// Refuses an empty value: "--only ''" asks for nothing that can be shown.
const CLI::Validator kNotEmpty(
    [](std::string& value) {
      return value.empty() ? std::string("an empty value") : std::string();
    },
    "", "not empty");

void describe(CLI::App& app, Options& options) {
  app.description(
      "Shows what changed between two dirlog snapshot logs, for people (text) and scripts "
      "(JSON Lines).\nWithout log arguments it compares the two logs that dirlog /compare "
      "would; with --live, the newest log with the tree as it is now.");
  // The two files may stand anywhere among the options; "--" ends the
  // options, so that a file name may begin with "-".
  app.add_option("logs", options.files, "BEFORE AFTER: two snapshot logs by path")
      ->expected(0, 2)
      ->check(kNotEmpty)
      ->type_name("BEFORE AFTER");
  auto* logs =
      app.add_option("--logs", options.numbers, "Compare logs number N and M (with --live: log N)")
          ->expected(1, 2)
          ->allow_extra_args(false)
          ->type_name("N M");
  // Every other option takes one value per use: one that takes a list
  // (--include, --exclude) is given again for each further value.
  auto* history = app.add_option("--history", options.history,
                                 "One entry's record through every log present, oldest first")
                      ->check(kNotEmpty)
                      ->type_name("PATH");
  auto* live = app.add_option("--live", options.liveFolder,
                              "Compare the log with FOLDER as it is now, walked as dirlog /L "
                              "would, without writing a log (default: the log's start folder)")
                   ->expected(0, 1)
                   ->allow_extra_args(false)
                   ->check(kNotEmpty)
                   ->type_name("[FOLDER]");
  app.add_flag("--relative", options.relative,
               "Match paths below each log's own start folder (logs of two folders)");
  app.add_flag("--access", options.access, "Show changes of the access time");
  app.add_flag("--local", options.local, "Times in local time instead of UTC");
  app.add_option("--depth", options.depth, "Depth of the roll-ups per folder (default 2)")
      ->check(CLI::Range(0, 255));
  app.add_option("--include", options.include, "Show only paths matching GLOB (repeatable)")
      ->expected(1)
      ->allow_extra_args(false)
      ->check(kNotEmpty)
      ->type_name("GLOB");
  app.add_option("--exclude", options.exclude, "Leave out paths matching GLOB (repeatable)")
      ->expected(1)
      ->allow_extra_args(false)
      ->check(kNotEmpty)
      ->type_name("GLOB");
  app.add_option("--only", options.only,
                 "Show only these kinds: created,deleted,modified,moved,type")
      ->check(kNotEmpty)
      ->type_name("KINDS");
  app.add_flag("--json", options.json, "JSON Lines: one object per change, then a summary");
  auto* html = app.add_option("--html", options.html,
                              "Write a self-contained HTML page of the changes to FILE "
                              "(instead of the text)")
                   ->check(kNotEmpty)
                   ->type_name("FILE");
  app.add_option("--code-page", options.codePage,
                 "Code page of the names in Windows logs (default: " +
                     std::to_string(platform::ansiCodePage()) + ")")
      ->type_name("N");
  app.add_option("--color", options.color, "Colour the text: auto (on a terminal), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN");
  app.set_version_flag("--version", "dirlog-view " DIRLOG_VERSION, "Show the version and exit");
  logs->excludes("logs");
  history->excludes("logs")->excludes(logs);
  html->excludes(history);
  live->excludes(history);
}

// The logs named fit the view asked for: two to compare, or one for --live.
const char* logsMisfit(const Options& options) {
  size_t wanted = options.live ? 1 : 2;
  if (!options.files.empty() && options.files.size() != wanted) {
    return options.live ? "--live: one log file to compare the tree with, or none for the newest"
                        : "BEFORE AFTER: two log files, or none for the two newest";
  }
  if (!options.numbers.empty() && options.numbers.size() != wanted) {
    return options.live ? "--live: --logs N names one log" : "--logs N M: two log numbers";
  }
  return nullptr;
}

// An option written "--only=" with nothing behind the "=": the parser
// would take the next argument for its value.
const std::string* emptyAssignment(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() > 3 && argument.starts_with("--") && argument.back() == '=' &&
        argument.find('=') == argument.size() - 1) {
      return &argument;
    }
  }
  return nullptr;
}

int optionTrouble(std::FILE* err, const char* what) {
  std::fprintf(err, "dirlog-view: %s (dirlog-view --help lists the options)\n", what);
  return kTrouble;
}

}  // namespace

int runView(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  CLI::App app("", "dirlog-view");
  Options options;
  describe(app, options);
  if (const std::string* empty = emptyAssignment(arguments)) {
    return optionTrouble(err, (empty->substr(0, empty->size() - 1) + ": an empty value").c_str());
  }
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::string help = app.help();
    platform::writeUtf8(out, help.data(), help.size());
    return kNothingChanged;
  } catch (const CLI::CallForVersion& version) {
    std::fprintf(out, "%s\n", version.what());
    return kNothingChanged;
  } catch (const CLI::ParseError& error) {
    return optionTrouble(err, error.what());
  }
  options.live = app.get_option("--live")->count() > 0;
  if (const char* misfit = logsMisfit(options)) return optionTrouble(err, misfit);
  std::string probe;
  if (!platform::codePageToUtf8("", options.codePage, probe)) {
    std::string what =
        "--code-page " + std::to_string(options.codePage) + ": this system has no such code page";
    return optionTrouble(err, what.c_str());
  }
  try {
    int status =
        options.history.empty() ? compareView(options, out, err) : historyView(options, out);
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
      throw Trouble{"cannot write the output"};
    }
    return status;
  } catch (const Trouble& trouble) {
    std::fprintf(err, "dirlog-view: %s\n", trouble.message.c_str());
    return kTrouble;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "dirlog-view: out of memory\n");
    return kTrouble;
  }
}

}  // namespace view
