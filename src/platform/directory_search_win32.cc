// The directory search on Windows: the system's own find functions. Their
// entries already carry every member, in the order the file system keeps
// them, so complete() has nothing left to look up.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/directory_search.h"

namespace platform {
namespace {

static_assert(sizeof(FindData::cFileName) == sizeof(WIN32_FIND_DATAA::cFileName));
static_assert(sizeof(FindData::cAlternateFileName) == sizeof(WIN32_FIND_DATAA::cAlternateFileName));

FileTime convertTime(const FILETIME& time) {
  return FileTime{time.dwLowDateTime, time.dwHighDateTime};
}

template <size_t N>
void copyText(char (&to)[N], const char (&from)[N]) {
  std::memcpy(to, from, N);
  to[N - 1] = '\0';
}

void convert(const WIN32_FIND_DATAA& found, FindData& entry) {
  entry.dwFileAttributes = found.dwFileAttributes;
  entry.ftCreationTime = convertTime(found.ftCreationTime);
  entry.ftLastAccessTime = convertTime(found.ftLastAccessTime);
  entry.ftLastWriteTime = convertTime(found.ftLastWriteTime);
  entry.nFileSizeHigh = found.nFileSizeHigh;
  entry.nFileSizeLow = found.nFileSizeLow;
  entry.dwReserved0 = found.dwReserved0;
  entry.dwReserved1 = found.dwReserved1;
  copyText(entry.cFileName, found.cFileName);
  copyText(entry.cAlternateFileName, found.cAlternateFileName);
}

class Win32Search final : public Search {
 public:
  Win32Search(HANDLE handle, const WIN32_FIND_DATAA& first) : handle_(handle), found_(first) {}
  ~Win32Search() override { FindClose(handle_); }
  Win32Search(const Win32Search&) = delete;
  Win32Search& operator=(const Win32Search&) = delete;

  bool next(FindData& entry) override {
    standing_ = standing_ && FindNextFileA(handle_, &found_) != 0;
    if (standing_) convert(found_, entry);
    return standing_;
  }

  bool complete(FindData& entry) override {
    if (standing_) convert(found_, entry);
    return standing_;
  }

 private:
  HANDLE handle_;
  WIN32_FIND_DATAA found_;
  bool standing_ = true;  // false once the search has run out
};

unsigned char upperAscii(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

class Win32DirectorySearch final : public DirectorySearch {
 public:
  // The system refuses on its own an empty text, a drive root and a text
  // ending in "\".
  std::unique_ptr<Search> findFirst(const std::string& pattern, FindData& entry) override {
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    convert(found, entry);
    return std::make_unique<Win32Search>(handle, found);
  }

  bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  // NTFS keeps names in the order of their upper-case forms; for the ASCII
  // letters that is this byte order.
  int compareNames(const char* a, const char* b) const override {
    for (;; ++a, ++b) {
      unsigned char left = upperAscii(*a);
      unsigned char right = upperAscii(*b);
      if (left != right || left == '\0') return left - right;
    }
  }
};

DirectorySearch* installedSearch = nullptr;

}  // namespace

DirectorySearch& directorySearch() {
  static Win32DirectorySearch systemSearch;
  return installedSearch != nullptr ? *installedSearch : systemSearch;
}

void useDirectorySearch(DirectorySearch* search) { installedSearch = search; }

char separator() { return '\\'; }

std::string logFolder() { return "c:\\"; }

TextReadRules textReadRules() { return TextReadRules{true, true}; }

}  // namespace platform
