#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/system.h"

namespace platform {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

}  // namespace

std::FILE* openLogFile(const std::string& path, std::string& reason) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    reason = std::strerror(errno);
    return nullptr;
  }
  struct stat status;
  if (fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::fclose(stream);
    reason = std::strerror(EISDIR);
    return nullptr;
  }
  return stream;
}

std::optional<uint64_t> lastWriteTime(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  int64_t seconds = static_cast<int64_t>(status.st_mtim.tv_sec);
  if (seconds < -kSecondsFrom1601To1970) return std::nullopt;
  return static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond +
         static_cast<uint64_t>(status.st_mtim.tv_nsec) / 100;
}

bool isColorTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

int32_t localUtcOffset(int64_t unixSeconds) {
  time_t moment = static_cast<time_t>(unixSeconds);
  struct tm local;
  if (localtime_r(&moment, &local) == nullptr) return 0;
  return static_cast<int32_t>(local.tm_gmtoff);
}

std::optional<std::string> userName(uint32_t uid) {
  // A view may ask for the same few owners thousands of times.
  static std::unordered_map<uint32_t, std::optional<std::string>> known;
  auto found = known.find(uid);
  if (found != known.end()) return found->second;
  std::optional<std::string> name;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* result = nullptr;
  if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr) {
    name = result->pw_name;
  }
  known.emplace(uid, name);
  return name;
}

}  // namespace platform
