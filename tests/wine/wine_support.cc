#include "wine_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

fs::path prefix;
fs::path drive;

struct Output {
  int exitStatus = -1;
  std::string out;
};

enum class Capture { kStdout, kNothing };

// Runs `argv` with the prefix, a UTF-8 locale and `environment`
// ("NAME=value" each) in its environment and Wine's debug channels off.
// Standard input is empty; standard error goes to `errorFile` if one is
// named, else nowhere, and standard output too unless it is captured. A
// program that leaves a server behind must not be captured: the server
// would hold the pipe open, and the read would wait for it to end. A
// captured program still running after `limit` is killed, so that a hang
// fails at once.
Output runProgram(const std::vector<std::string>& argv, const fs::path& workingDirectory = {},
                  Capture capture = Capture::kStdout,
                  const std::vector<std::string>& environment = {},
                  std::chrono::seconds limit = std::chrono::seconds(30),
                  const fs::path& errorFile = {}) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
  pid_t child = fork();
  if (child == 0) {
    int nothingIn = open("/dev/null", O_RDONLY);
    int nothingOut = open("/dev/null", O_WRONLY);
    dup2(capture == Capture::kStdout ? pipeEnds[1] : nothingOut, 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    dup2(nothingIn, 0);
    int errorOut = errorFile.empty()
                       ? nothingOut
                       : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(errorOut, 2);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    // Wine reads Linux names in the locale's encoding, and the tests make
    // them in UTF-8: not every machine's environment names such a locale.
    setenv("LC_ALL", "C.UTF-8", 1);
    for (const std::string& setting : environment) putenv(strdup(setting.c_str()));
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(127);
    std::vector<std::string> copies = argv;
    std::vector<char*> pointers;
    for (std::string& argument : copies) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  Output result;
  char buffer[4096];
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    struct pollfd readable = {pipeEnds[0], POLLIN, 0};
    int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      kill(child, SIGKILL);
      break;
    }
    ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.out.append(buffer, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}

// The prefix for the whole program. Booting one takes seconds, so it is
// done once, and its server is kept running until the last test is done.
class WinePrefixEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    const char* given = std::getenv("DIRLOG_TEST_WINEPREFIX");
    owned_ = given == nullptr || given[0] == '\0';
    if (owned_) {
      char pattern[] = "/tmp/dirlog-wine-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      prefix = pattern;
      // The server is started first, to stay until TearDown: one started
      // behind a running one refuses, and wineboot would leave one that
      // goes away between two tests.
      ASSERT_EQ(runProgram({DIRLOG_WINESERVER, "-p"}, {}, Capture::kNothing).exitStatus, 0)
          << "wineserver -p";
      ASSERT_EQ(runProgram({DIRLOG_WINE, "wineboot", "-i"}, {}, Capture::kNothing).exitStatus, 0)
          << "wineboot";
    } else {
      prefix = given;
    }
    drive = prefix / "drive_c";
    ASSERT_TRUE(fs::is_directory(drive)) << drive;
  }

  void TearDown() override {
    if (!owned_) return;
    runProgram({DIRLOG_WINESERVER, "-k"}, {}, Capture::kNothing);
    std::error_code error;
    fs::remove_all(prefix, error);
  }

 private:
  bool owned_ = false;
};

testing::Environment* const wineEnvironment =
    testing::AddGlobalTestEnvironment(new WinePrefixEnvironment);

// 100 ns units since 1601-01-01 UTC, as Windows counts file times.
uint64_t fileTime(const struct timespec& time) {
  return (static_cast<uint64_t>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

}  // namespace

const fs::path& driveC() { return drive; }

std::string windowsPath(const std::string& relative) {
  std::string path = "c:\\" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

fs::path onDriveC(const std::string& windowsPath) {
  std::string relative = windowsPath.substr(3);  // behind "c:\"
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return drive / relative;
}

WineRun runDirlog(const std::vector<std::string>& arguments, const fs::path& workingDirectory,
                  const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {DIRLOG_WINE, DIRLOG_EXE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Output output = runProgram(argv, workingDirectory, Capture::kStdout, environment);
  return WineRun{output.exitStatus, output.out, {}};
}

WineRun runDirlogBoundByPermissions(const std::vector<std::string>& arguments) {
  // As root, the server and the program run without the capabilities that
  // override folder permissions; the server is the one that opens files.
  bool root = geteuid() == 0;
  std::vector<std::string> bound;
  if (root) {
    bound = {"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--inh-caps=-all", "--"};
    runProgram({DIRLOG_WINESERVER, "-k"}, {}, Capture::kNothing);
    std::vector<std::string> server = bound;
    server.insert(server.end(), {DIRLOG_WINESERVER, "-p"});
    runProgram(server, {}, Capture::kNothing);
  }
  std::vector<std::string> argv = bound;
  argv.insert(argv.end(), {DIRLOG_WINE, DIRLOG_EXE});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  fs::path errorFile = prefix / "dirlog-stderr.txt";
  Output output = runProgram(argv, {}, Capture::kStdout, {}, std::chrono::seconds(30), errorFile);
  if (root) {
    runProgram({DIRLOG_WINESERVER, "-k"}, {}, Capture::kNothing);
    runProgram({DIRLOG_WINESERVER, "-p"}, {}, Capture::kNothing);
  }
  return WineRun{output.exitStatus, output.out, readFile(errorFile)};
}

std::vector<std::string> codePage932() {
  // Wine takes the code page from the process's locale, which must exist:
  // it is compiled once into the prefix's folder rather than the system's.
  static const fs::path locales = [] {
    fs::path folder = prefix / "dirlog-locales";
    if (!fs::exists(folder / "ja_JP.UTF-8")) {
      fs::create_directories(folder);
      std::string made = (folder / "ja_JP.UTF-8").string();
      if (runProgram({"localedef", "-i", "ja_JP", "-f", "UTF-8", made}, {}, Capture::kNothing)
              .exitStatus != 0) {
        throw std::runtime_error("localedef ja_JP.UTF-8 (Debian package locales)");
      }
    }
    return folder;
  }();
  return {"LOCPATH=" + locales.string(), "LC_ALL=ja_JP.UTF-8"};
}

WineRun runDirlogView(const std::vector<std::string>& arguments) {
  return runWindowsProgram(DIRLOG_VIEW_EXE, arguments);
}

WineRun runWindowsProgram(const fs::path& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {DIRLOG_WINE, program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Output output = runProgram(argv);
  return WineRun{output.exitStatus, output.out, {}};
}

bool unpackZip(const fs::path& archive, const fs::path& folder) {
  fs::create_directories(folder);
  return runProgram({DIRLOG_CMAKE, "-E", "tar", "xf", archive.string()}, folder, Capture::kNothing)
             .exitStatus == 0;
}

namespace {

// The search helper's members for each path, attributes made signed; none
// for a path it does not find.
std::vector<std::vector<std::string>> searchMembers(const std::vector<std::string>& windowsPaths) {
  std::vector<std::string> argv = {DIRLOG_WINE, DIRLOG_FIND_FIRST_EXE};
  argv.insert(argv.end(), windowsPaths.begin(), windowsPaths.end());
  Output output = runProgram(argv);
  std::vector<std::string> lines = crLfLines(output.out);
  if (output.exitStatus != 0 || lines.size() != windowsPaths.size()) {
    throw std::runtime_error("the search helper said: " + output.out);
  }
  std::vector<std::vector<std::string>> all;
  for (const std::string& line : lines) {
    all.emplace_back();
    if (line == "-") continue;
    std::vector<std::string> members = splitAt(line, '\t');
    if (members.size() != 13) throw std::runtime_error("the search helper said: " + line);
    members[2] = std::to_string(static_cast<int32_t>(std::stoul(members[2])));
    all.back() = members;
  }
  return all;
}

std::string joined(const std::vector<std::string>& members) {
  std::string text;
  for (size_t i = 0; i < members.size(); ++i) text += (i == 0 ? "" : ",") + members[i];
  return text;
}

}  // namespace

std::vector<std::string> searchFields(const std::vector<std::string>& windowsPaths) {
  std::vector<std::string> fields;
  for (const std::vector<std::string>& members : searchMembers(windowsPaths)) {
    fields.push_back(joined(members));
  }
  return fields;
}

std::string expectedRecordLine(const std::string& windowsPath) {
  std::vector<std::string> members = searchMembers({windowsPath})[0];
  if (members.empty()) throw std::runtime_error("not found: " + windowsPath);
  struct stat st;
  if (lstat(onDriveC(windowsPath).c_str(), &st) != 0) throw std::runtime_error("lstat");
  bool directory = (static_cast<uint32_t>(std::stol(members[2])) & 0x10) != 0;
  uint64_t written = fileTime(st.st_mtim);
  uint64_t size = directory ? 0 : static_cast<uint64_t>(st.st_size);
  EXPECT_EQ(directory, S_ISDIR(st.st_mode)) << windowsPath;
  EXPECT_EQ(members[3] + "," + members[4],
            std::to_string(size >> 32) + "," + std::to_string(size & 0xFFFFFFFFu))
      << windowsPath << ": size";
  EXPECT_EQ(members[11] + "," + members[12],
            std::to_string(written >> 32) + "," + std::to_string(written & 0xFFFFFFFFu))
      << windowsPath << ": last-write time";
  return (directory ? "-DIRECTORY," : "---FILE---,") + windowsPath + "," + joined(members) + "\r\n";
}

std::vector<std::string> crLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line break>");
      break;
    }
    if (end > start && text[end - 1] == '\r') {
      lines.push_back(text.substr(start, end - 1 - start));
    } else {
      lines.push_back(text.substr(start, end - start) + "<LF>");
    }
    start = end + 1;
  }
  return lines;
}

void freezeAccessTimes(const fs::path& path) {
  // One time for the whole program, so that freezing a tree again between
  // two scans changes nothing that a scan records.
  static const struct timespec dayAhead = [] {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec += 86400;
    return now;
  }();
  struct timespec times[2] = {dayAhead, {0, UTIME_OMIT}};
  std::vector<fs::path> all = {path};
  for (const auto& entry : fs::recursive_directory_iterator(path)) all.push_back(entry.path());
  for (const fs::path& entry : all) {
    if (utimensat(AT_FDCWD, entry.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      throw std::runtime_error("utimensat " + entry.string());
    }
  }
}

void DriveCTest::cleanDriveC() {
  for (const auto& entry : fs::directory_iterator(driveC())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("dirlog", 0) == 0 || name == "report.txt" || name == "w" || name == "t") {
      // A test may have taken the owner's permissions away.
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
      fs::remove_all(entry.path());
    }
  }
}

void DriveCTest::file(const std::string& relative, const std::string& content) {
  fs::path path = driveC() / relative;
  fs::create_directories(path.parent_path());
  writeFile(path, content);
}

std::string DriveCTest::log(int number) {
  return readFile(driveC() / ("dirlog" + std::to_string(number) + ".txt"));
}
