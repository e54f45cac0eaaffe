#include "fuzz_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

const std::string& fuzzFolder() {
  static const std::string folder = [] {
    struct stat status;
    std::string pattern = (::stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode))
                              ? "/dev/shm/dirlog-fuzz-XXXXXX"
                              : "/tmp/dirlog-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern + "/";
  }();
  return folder;
}

FILE* openBytes(const char* name, const void* bytes, size_t size) {
  std::string path = fuzzFolder() + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes, 1, size, out) != size || std::fclose(out) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  return in;
}

std::string readBack(const char* name) {
  std::string content;
  FILE* in = std::fopen((fuzzFolder() + name).c_str(), "rb");
  if (in == nullptr) return content;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, got);
  std::fclose(in);
  return content;
}
