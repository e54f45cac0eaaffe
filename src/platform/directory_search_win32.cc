// The directory search on Windows: the system's own find functions. Their
// entries already carry every member, so complete() has nothing left to look
// up.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
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

bool isDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// The directory's own entries as a listing begins with them when the system
// gives none: a directory, no times, no size.
WIN32_FIND_DATAA madeDotEntry(const char* name) {
  WIN32_FIND_DATAA made{};
  made.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  std::strcpy(made.cFileName, name);
  return made;
}

class Win32Search final : public Search {
 public:
  // `first` is what FindFirstFileA gave. A listing yields "." and ".." first
  // whatever the system does: the root of a volume has neither (a walk gets
  // there through a junction or a mount point), and some directories reached
  // through links have "." alone. Without this the walk, which drops the
  // first two entries unseen, would lose real ones.
  Win32Search(HANDLE handle, const WIN32_FIND_DATAA& first, bool listing, FindData& entry)
      : handle_(handle), listing_(listing) {
    if (listing_ && std::strcmp(first.cFileName, ".") != 0) {
      held_ = first;
      found_ = madeDotEntry(".");
    } else {
      found_ = first;
    }
    convert(found_, entry);
  }
  ~Win32Search() override { FindClose(handle_); }
  Win32Search(const Win32Search&) = delete;
  Win32Search& operator=(const Win32Search&) = delete;

  bool next(FindData& entry) override {
    if (!standing_) return false;
    ++position_;
    if (listing_ && position_ == 1) {
      standing_ = fetch(found_);
      if (!standing_ || std::strcmp(found_.cFileName, "..") != 0) {
        if (standing_) held_ = found_;
        found_ = madeDotEntry("..");
        standing_ = true;
      }
    } else {
      do {
        standing_ = fetch(found_);
      } while (standing_ && listing_ && isDotEntry(found_.cFileName));
    }
    if (standing_) convert(found_, entry);
    return standing_;
  }

  bool complete(FindData& entry) override {
    if (standing_) convert(found_, entry);
    return standing_;
  }

 private:
  // The system's next entry, or the one held back behind a made-up dot entry.
  bool fetch(WIN32_FIND_DATAA& into) {
    if (held_) {
      into = *held_;
      held_.reset();
      return true;
    }
    if (systemDone_) return false;
    // Members the system leaves alone (Wine writes neither reserved word)
    // must not carry over from the previous entry or from the stack.
    into = WIN32_FIND_DATAA{};
    systemDone_ = FindNextFileA(handle_, &into) == 0;
    return !systemDone_;
  }

  HANDLE handle_;
  bool listing_;
  WIN32_FIND_DATAA found_{};
  std::optional<WIN32_FIND_DATAA> held_;
  long long position_ = 0;
  bool standing_ = true;     // false once the search has run out
  bool systemDone_ = false;  // FindNextFileA has said there is no more
};

// The system's names are in the ANSI code page; the order of a listing is
// that of their UTF-16 forms.
std::wstring wide(const char* name) {
  int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, text.data(), length);
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

class Win32DirectorySearch final : public DirectorySearch {
 public:
  // The system refuses on its own an empty text, a drive root and a text
  // ending in "\".
  std::unique_ptr<Search> findFirst(const std::string& pattern, FindData& entry) override {
    WIN32_FIND_DATAA found{};
    HANDLE handle = FindFirstFileA(pattern.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    bool listing = pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "\\*") == 0;
    return std::make_unique<Win32Search>(handle, found, listing, entry);
  }

  bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  // NTFS keeps a directory's names in the order of their upper-case UTF-16
  // forms, which is what an ordinal comparison that ignores case gives; Wine
  // sorts its listings the same way. Names equal but for case cannot meet in
  // one NTFS directory; where they can (Wine on a case-sensitive file
  // system), the exact code units decide, as they do in Wine's order.
  int compareNames(const char* a, const char* b) const override {
    std::wstring left = wide(a);
    std::wstring right = wide(b);
    int order = CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                     static_cast<int>(right.size()), TRUE);
    if (order == CSTR_LESS_THAN) return -1;
    if (order == CSTR_GREATER_THAN) return 1;
    return left.compare(right);
  }
};

DirectorySearch* installedSearch = nullptr;
bool logFolderInstalled = false;
std::string installedLogFolder;

}  // namespace

DirectorySearch& directorySearch() {
  static Win32DirectorySearch systemSearch;
  return installedSearch != nullptr ? *installedSearch : systemSearch;
}

void useDirectorySearch(DirectorySearch* search) { installedSearch = search; }

char separator() { return '\\'; }

std::string logFolder() { return logFolderInstalled ? installedLogFolder : "c:\\"; }

void useLogFolder(const std::string* folder) {
  logFolderInstalled = folder != nullptr;
  installedLogFolder = folder != nullptr ? *folder : std::string();
  char last = installedLogFolder.empty() ? '\\' : installedLogFolder.back();
  if (last != '\\' && last != '/') installedLogFolder += '\\';
}

// What the C runtime's text mode does to a file opened with "r".
TextReadRules textReadRules() { return TextReadRules{true, true}; }

bool seekFile(std::FILE* stream, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

}  // namespace platform
