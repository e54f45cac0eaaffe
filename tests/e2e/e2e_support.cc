#include "e2e_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace fs = std::filesystem;

RunResult runDirlog(const std::vector<std::string>& arguments, const std::string& root,
                    const fs::path& workingDirectory) {
  int output[2];
  if (pipe(output) != 0) throw std::runtime_error("pipe");
  pid_t child = fork();
  if (child == 0) {
    dup2(output[1], 1);
    close(output[0]);
    close(output[1]);
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    setenv("DIRLOG_ROOT", root.c_str(), 1);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    std::string program = DIRLOG_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(DIRLOG_BINARY, argv.data());
    _exit(127);
  }
  close(output[1]);
  RunResult result;
  char buffer[4096];
  ssize_t got;
  while ((got = read(output[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, got);
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}

namespace {

// 100 ns units since 1601-01-01 UTC, as "high,low".
std::string fileTime(const struct statx_timestamp& t, bool present) {
  if (!present) return "0,0";
  int64_t units = (static_cast<int64_t>(t.tv_sec) + 11644473600LL) * 10000000LL + t.tv_nsec / 100;
  if (units < 0) units = 0;
  uint64_t u = static_cast<uint64_t>(units);
  return std::to_string(u >> 32) + "," + std::to_string(u & 0xFFFFFFFFu);
}

}  // namespace

std::string expectedRecordLine(const std::string& writtenPath, const fs::path& entry) {
  struct statx st;
  if (statx(AT_FDCWD, entry.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) !=
      0) {
    throw std::runtime_error("statx " + entry.string());
  }
  uint32_t attributes;
  if (S_ISDIR(st.stx_mode)) {
    attributes = 0x10;
  } else if (S_ISREG(st.stx_mode)) {
    attributes = 0x20;
  } else if (S_ISLNK(st.stx_mode)) {
    attributes = 0x400;
  } else {
    attributes = 0x4;
  }
  if (!(st.stx_mode & S_IWUSR)) attributes |= 0x1;
  std::string name = entry.filename().string();
  if (name[0] == '.') attributes |= 0x2;
  uint64_t size = S_ISDIR(st.stx_mode) ? 0 : st.stx_size;
  std::string line = S_ISDIR(st.stx_mode) ? "-DIRECTORY," : "---FILE---,";
  line += writtenPath + "," + name + ",," + std::to_string(attributes) + ",";
  line += std::to_string(size >> 32) + "," + std::to_string(size & 0xFFFFFFFFu) + ",";
  line += std::to_string(st.stx_mode) + "," + std::to_string(st.stx_uid) + ",";
  line += fileTime(st.stx_btime, (st.stx_mask & STATX_BTIME) != 0) + ",";
  line += fileTime(st.stx_atime, true) + "," + fileTime(st.stx_mtime, true) + "\n";
  return line;
}

std::vector<std::string> recordPaths(const std::string& log) {
  std::vector<std::string> paths;
  for (const std::string& line : splitLines(log)) {
    if (line.empty() || line[0] != '-') continue;
    size_t start = line.find(',') + 1;
    paths.push_back(line.substr(start, line.find(',', start) - start));
  }
  return paths;
}
