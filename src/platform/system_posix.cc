#include <iconv.h>
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

unsigned ansiCodePage() { return 1252; }

namespace {

// One converter at a time, the last code page asked for: a view decodes
// every name with the same one.
struct Converter {
  unsigned codePage = 0;
  iconv_t handle = reinterpret_cast<iconv_t>(-1);
};
Converter converter;

bool useCodePage(unsigned codePage) {
  if (converter.codePage == codePage) return converter.handle != reinterpret_cast<iconv_t>(-1);
  if (converter.handle != reinterpret_cast<iconv_t>(-1)) iconv_close(converter.handle);
  std::string name = codePage == 65001 ? "UTF-8" : "CP" + std::to_string(codePage);
  converter.codePage = codePage;
  converter.handle = iconv_open("UTF-8", name.c_str());
  return converter.handle != reinterpret_cast<iconv_t>(-1);
}

}  // namespace

bool codePageToUtf8(std::string_view bytes, unsigned codePage, std::string& utf8) {
  if (!useCodePage(codePage)) return false;
  utf8.clear();
  iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    size_t done = iconv(converter.handle, &in, &inLeft, &out, &outLeft);
    utf8.append(buffer, static_cast<size_t>(out - buffer));
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A byte that begins no character (or begins one that the text cuts
    // short) stays as it is.
    utf8 += *in++;
    --inLeft;
    iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

bool writeUtf8(std::FILE* stream, const char* text, size_t length) {
  return std::fwrite(text, 1, length, stream) == length;
}

}  // namespace platform
