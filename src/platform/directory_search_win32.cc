// The directory search on Windows: the system's wide-character find
// functions. Their entries already carry every member, so complete() has
// nothing left to look up.
//
// The code above this layer names entries as logged_name_win32.h writes
// them: the ANSI code page's bytes where it holds a character, a reversible
// form where it does not. That keeps every log of names the code page holds
// byte for byte as it was, and gives distinct names distinct texts. Still,
// the system reads an ANSI path its own way (it rewrites a path whose name
// ends in "." or a space, and a double-byte name may end in the separator's
// byte), so this file keeps the true UTF-16 path of every directory the walk
// is inside and lists each by that path with the "\\?\" prefix, which the
// system takes as it is.
//
// The walk lists a directory again after each of its subdirectories. A
// directory listed again is read whole, once, and kept (listing_cache.h)
// while its times stay as they were, so that a folder of k subfolders costs
// one question by path per climb and not k listings of k entries.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_search.h"
#include "platform/listing.h"
#include "platform/listing_cache.h"
#include "platform/listing_win32.h"
#include "platform/logged_name_win32.h"

namespace platform {
namespace {

// Every name fits in its written form; the short name has the width that
// FindFirstFileA gives it.
static_assert(sizeof(FindData::cFileName) >=
              (sizeof(WIN32_FIND_DATAW::cFileName) / sizeof(wchar_t) - 1) * 5 + 1);
static_assert(sizeof(FindData::cAlternateFileName) == sizeof(WIN32_FIND_DATAA::cAlternateFileName));

FileTime convertTime(const FILETIME& time) {
  return FileTime{time.dwLowDateTime, time.dwHighDateTime};
}

// The short name in the ANSI code page, as FindFirstFileA gives it:
// unmappable characters as the default character, others by best fit, cut
// at a character boundary where it does not fit.
template <size_t N>
void ansiText(char (&to)[N], const wchar_t* from) {
  if (WideCharToMultiByte(CP_ACP, 0, from, -1, to, N, nullptr, nullptr) > 0) return;
  int length = static_cast<int>(std::wcslen(from));
  int written = 0;
  while (length > 0 && written <= 0) {
    --length;
    if (length > 0 && IS_HIGH_SURROGATE(from[length - 1])) --length;
    written = WideCharToMultiByte(CP_ACP, 0, from, length, to, N - 1, nullptr, nullptr);
  }
  to[written > 0 ? written : 0] = '\0';
}

// A path or pattern of the code above this layer in UTF-16.
std::wstring wide(const char* text) { return trueName(text); }

void convert(const WIN32_FIND_DATAW& found, FindData& entry) {
  entry.dwFileAttributes = found.dwFileAttributes;
  entry.ftCreationTime = convertTime(found.ftCreationTime);
  entry.ftLastAccessTime = convertTime(found.ftLastAccessTime);
  entry.ftLastWriteTime = convertTime(found.ftLastWriteTime);
  entry.nFileSizeHigh = found.nFileSizeHigh;
  entry.nFileSizeLow = found.nFileSizeLow;
  entry.dwReserved0 = found.dwReserved0;
  entry.dwReserved1 = found.dwReserved1;
  std::string name = loggedName(found.cFileName);
  std::memcpy(entry.cFileName, name.c_str(), name.size() + 1);
  ansiText(entry.cAlternateFileName, found.cAlternateFileName);
}

// The order of NTFS listings (and of Wine's): names by their upper-case
// UTF-16 forms, as an ordinal comparison that ignores case gives. Names
// equal but for case cannot meet in one NTFS directory; where they can (Wine
// on a case-sensitive file system), the exact code units decide, as they do
// in Wine's order.
int compareWide(const wchar_t* a, const wchar_t* b) {
  int order = CompareStringOrdinal(a, -1, b, -1, TRUE);
  if (order == CSTR_LESS_THAN) return -1;
  if (order == CSTR_GREATER_THAN) return 1;
  int exact = std::wcscmp(a, b);
  return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

bool isDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// The directory's own entries as a listing begins with them when the system
// gives none: a directory, no times, no size.
WIN32_FIND_DATAW madeDotEntry(const wchar_t* name) {
  WIN32_FIND_DATAW made{};
  made.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  std::wcscpy(made.cFileName, name);
  return made;
}

// What a listing stands on. The search object shares it with the directory
// search, which reads it when the walk goes down into that entry, after the
// walk has released the listing.
struct ListingState {
  std::wstring directory;  // the true path listed
  WIN32_FIND_DATAW found{};
  bool standing = true;  // false once the listing has run out
};

// The directory the walk has just climbed out of, for the next listings of
// its parent: its true name, and the name the walk knows it by.
struct LeftDirectory {
  std::wstring name;
  std::string named;
};

enum class Kind { kProbe, kListing };
enum class Order { kKnown, kUnknown };

class Win32Search final : public Search {
 public:
  // A search of the system's: `first` is what FindFirstFileW gave.
  Win32Search(HANDLE handle, const WIN32_FIND_DATAW& first, Kind kind,
              std::shared_ptr<ListingState> state, Order order, std::optional<LeftDirectory> left,
              FindData& entry)
      : handle_(handle),
        listing_(kind == Kind::kListing),
        order_(order),
        state_(std::move(state)),
        left_(std::move(left)) {
    start(first, entry);
  }

  // A listing that yields the entries of a listing read whole before.
  Win32Search(std::shared_ptr<const Win32Listing> kept, std::shared_ptr<ListingState> state,
              Order order, std::optional<LeftDirectory> left, FindData& entry)
      : handle_(INVALID_HANDLE_VALUE),
        listing_(true),
        order_(order),
        state_(std::move(state)),
        left_(std::move(left)),
        kept_(std::move(kept)) {
    start(madeDotEntry(L"."), entry);
  }
  ~Win32Search() override {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  Win32Search(const Win32Search&) = delete;
  Win32Search& operator=(const Win32Search&) = delete;

  bool next(FindData& entry) override {
    if (!move()) return false;
    convert(state_->found, entry);
    return true;
  }

  bool complete(FindData& entry) override {
    if (state_->standing) convert(state_->found, entry);
    return state_->standing;
  }

  // The directory just climbed out of is found by its true name: its ANSI
  // name may be another entry's too. Entries passed over are not converted;
  // in a listing read whole, they are not even visited.
  bool skipTo(const char* name, FindData& entry) override {
    if (!standsForLeft(name)) return Search::skipTo(name, entry);
    if (!state_->standing) return false;
    if (std::wcscmp(state_->found.cFileName, left_->name.c_str()) != 0) {
      bool found = kept_ && position_ >= 2 ? jumpTo(left_->name.c_str()) : moveTo(left_->name);
      if (!found) return false;
    }
    convert(state_->found, entry);
    return true;
  }

  bool skipPast(const char* name, FindData& entry) override {
    if (!standsForLeft(name) || order_ == Order::kUnknown) return Search::skipPast(name, entry);
    while (compareWide(state_->found.cFileName, left_->name.c_str()) <= 0) {
      if (!move()) return false;
    }
    convert(state_->found, entry);
    return true;
  }

  std::optional<size_t> unorderedPosition() const override {
    if (!listing_ || order_ == Order::kKnown || position_ < 2) return std::nullopt;
    return static_cast<size_t>(position_ - 2);
  }

 private:
  // A listing yields "." and ".." first whatever the system does: the root
  // of a volume has neither (a walk gets there through a junction or a
  // mount point), and some directories reached through links have "."
  // alone. Without this the walk, which drops the first two entries unseen,
  // would lose real ones.
  void start(const WIN32_FIND_DATAW& first, FindData& entry) {
    if (listing_ && std::wcscmp(first.cFileName, L".") != 0) {
      held_ = first;
      state_->found = madeDotEntry(L".");
    } else {
      state_->found = first;
    }
    convert(state_->found, entry);
  }

  bool standsForLeft(const char* name) const { return left_ && left_->named == name; }

  // Moves on, one entry at a time, to the first named `name`.
  bool moveTo(const std::wstring& name) {
    while (std::wcscmp(state_->found.cFileName, name.c_str()) != 0) {
      if (!move()) return false;
    }
    return true;
  }

  // Moves straight to the first entry named `name` that follows, in a
  // listing read whole and past its "." and "..".
  bool jumpTo(const wchar_t* name) {
    size_t found = kept_->find(next_, name);
    if (found == kept_->count()) {
      next_ = found;
      state_->standing = false;
      return false;
    }
    position_ += static_cast<long long>(found - next_) + 1;
    next_ = found + 1;
    kept_->fill(found, state_->found);
    return true;
  }

  // Moves to the next entry without converting it.
  bool move() {
    WIN32_FIND_DATAW& found = state_->found;
    if (!state_->standing) return false;
    ++position_;
    if (listing_ && position_ == 1) {
      state_->standing = fetch(found);
      if (!state_->standing || std::wcscmp(found.cFileName, L"..") != 0) {
        if (state_->standing) held_ = found;
        found = madeDotEntry(L"..");
        state_->standing = true;
      }
    } else {
      do {
        state_->standing = fetch(found);
      } while (state_->standing && listing_ && isDotEntry(found.cFileName));
    }
    return state_->standing;
  }

  // The next entry, or the one held back behind a made-up dot entry.
  bool fetch(WIN32_FIND_DATAW& into) {
    if (held_) {
      into = *held_;
      held_.reset();
      return true;
    }
    if (kept_) {
      if (next_ >= kept_->count()) return false;
      kept_->fill(next_++, into);
      return true;
    }
    if (systemDone_) return false;
    // Members the system leaves alone (Wine writes neither reserved word)
    // must not carry over from the previous entry.
    into = WIN32_FIND_DATAW{};
    systemDone_ = FindNextFileW(handle_, &into) == 0;
    return !systemDone_;
  }

  HANDLE handle_;
  bool listing_;
  Order order_;
  std::shared_ptr<ListingState> state_;
  std::optional<LeftDirectory> left_;
  std::optional<WIN32_FIND_DATAW> held_;
  long long position_ = 0;
  bool systemDone_ = handle_ == INVALID_HANDLE_VALUE;  // no more from FindNextFileW
  std::shared_ptr<const Win32Listing> kept_;           // the entries, where they were read whole
  size_t next_ = 0;                                    // of kept_, the entry to fetch next
};

// A directory as the system identifies it: its volume's serial number and
// its file ID.
using Identity = FILE_ID_INFO;

bool sameIdentity(const Identity& a, const Identity& b) {
  return a.VolumeSerialNumber == b.VolumeSerialNumber &&
         std::memcmp(&a.FileId, &b.FileId, sizeof a.FileId) == 0;
}

// One directory on the walk's way down: the path the walk names it by, its
// true path (with the "\\?\" prefix and no separator at the end), whether
// its listings come in a known order, and, once asked for, its identity.
struct Level {
  Level(std::string n, std::wstring p, Order o)
      : named(std::move(n)), path(std::move(p)), order(o) {}

  std::string named;
  std::wstring path;
  Order order;
  std::optional<Identity> identity;
  bool identityRead = false;
  bool leadsBackUp = false;   // a link to a directory further up the way down
  bool tooBigToKeep = false;  // its listing did not fit the cache's budget
};

// NTFS and ReFS list a directory in the order of compareWide, and move its
// write time with every change of its entries, so that a listing of it can
// be kept; FAT, exFAT and many network file systems list in storage order,
// and not all of them keep directory times. Asked of the volume that holds
// the directory itself (a mount point leads to another volume).
Order orderOf(const DirectoryHandle& directory) {
  if (!directory.valid()) return Order::kUnknown;
  wchar_t system[MAX_PATH + 1] = L"";
  if (!GetVolumeInformationByHandleW(directory.get(), nullptr, 0, nullptr, nullptr, nullptr, system,
                                     MAX_PATH + 1)) {
    return Order::kUnknown;
  }
  return std::wcscmp(system, L"NTFS") == 0 || std::wcscmp(system, L"ReFS") == 0 ? Order::kKnown
                                                                                : Order::kUnknown;
}

// The 128-bit file ID where the system has it (Windows 8 on), else the
// 64-bit file index that older systems give.
std::optional<Identity> identityOf(const DirectoryHandle& directory) {
  if (!directory.valid()) return std::nullopt;
  Identity identity{};
  if (GetFileInformationByHandleEx(directory.get(), FileIdInfo, &identity, sizeof identity)) {
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(directory.get(), &information)) return std::nullopt;
  identity.VolumeSerialNumber = information.dwVolumeSerialNumber;
  uint64_t index = (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  std::memcpy(&identity.FileId, &index, sizeof index);
  return identity;
}

// The true path of the directory that a listing pattern (a path followed by
// "\*") names when read as the system reads any path: made absolute, then
// given the prefix that stops any further rewriting. Empty when it cannot be
// made.
std::wstring pathOfPattern(const std::string& pattern) {
  std::wstring text = wide(pattern.c_str());
  DWORD size = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(text.c_str(), size, full.data(), nullptr);
  full.resize(size);
  if (full.size() < 3 || full.compare(full.size() - 2, 2, L"\\*") != 0) return std::wstring();
  full.resize(full.size() - 2);
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The system's own words for `error` ("Access is denied."), without the
// line break it ends in, in the code page that the console shows text in.
std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  LocalFree(text);
  while (!message.empty() && std::iswspace(message.back())) message.pop_back();
  if (message.empty()) return "system error " + std::to_string(error);
  // Without a console of its own the process writes where one would show
  // it in the OEM code page.
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0) codePage = CP_OEMCP;
  int size = WideCharToMultiByte(codePage, 0, message.data(), static_cast<int>(message.size()),
                                 nullptr, 0, nullptr, nullptr);
  std::string shown(static_cast<size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(codePage, 0, message.data(), static_cast<int>(message.size()), shown.data(),
                      size, nullptr, nullptr);
  return shown;
}

class Win32DirectorySearch final : public DirectorySearch {
 public:
  std::unique_ptr<Search> findFirst(const std::string& pattern, FindData& entry) override {
    failure_ = ERROR_SUCCESS;
    bool listing = pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "\\*") == 0;
    return listing ? list(pattern, entry) : probe(pattern, entry);
  }

  std::string lastFailure() const override {
    return failure_ == ERROR_SUCCESS ? std::string() : systemMessage(failure_);
  }

  // Nothing of the last walk's way down is kept for the next.
  void startWalk(const std::string&) override {
    levels_.clear();
    left_.reset();
    lastListing_.reset();
  }

  bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  int compareNames(const char* a, const char* b) const override {
    return compareWide(wide(a).c_str(), wide(b).c_str());
  }

 private:
  // A probe reads the path as FindFirstFileA does, which refuses on its own
  // an empty text, a drive root and a text ending in "\"; only a written
  // form of a name stands for the character it was written for.
  std::unique_ptr<Search> probe(const std::string& pattern, FindData& entry) {
    WIN32_FIND_DATAW found{};
    HANDLE handle = FindFirstFileW(wide(pattern.c_str()).c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) {
      failure_ = GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32Search>(handle, found, Kind::kProbe,
                                         std::make_shared<ListingState>(), Order::kKnown,
                                         std::nullopt, entry);
  }

  std::unique_ptr<Search> list(const std::string& pattern, FindData& entry) {
    bool again = false;
    Level* level = place(pattern, again);
    lastListing_.reset();
    if (level == nullptr) {
      failure_ = GetLastError();
      return nullptr;
    }
    auto state = std::make_shared<ListingState>();
    state->directory = level->path;
    std::unique_ptr<Search> search;
    if (level->leadsBackUp) {
      // A link back up the way down is recorded, never entered: the walk
      // would go round it until its paths grew too long. It lists as
      // empty, since nothing failed.
      search = std::make_unique<Win32Search>(std::make_shared<const Win32Listing>(), state,
                                             level->order, left_, entry);
    } else if (again && level->order == Order::kKnown && !level->tooBigToKeep) {
      if (std::shared_ptr<const Win32Listing> kept = keptListing(*level)) {
        search = std::make_unique<Win32Search>(std::move(kept), state, level->order, left_, entry);
      } else if (failure_ != ERROR_SUCCESS) {
        return nullptr;
      }
    }
    if (!search) search = listFromTheSystem(*level, state, entry);
    if (search) lastListing_ = std::move(state);
    return search;
  }

  // Where a directory's listing follows compareWide and its write time moves
  // with every change of its entries, a listing read whole is kept for the
  // walk's next climbs into it, each checked against the directory's state
  // before it stands in for a new read. nullptr, with the reason in
  // failure_, when it cannot be listed; without one where it cannot be
  // examined or does not fit the budget (not tried again while the walk is
  // inside it), so that it is listed as ever.
  std::shared_ptr<const Win32Listing> keptListing(Level& level) {
    Stamp readStart = systemTime();
    std::optional<DirectoryState> directory = directoryStateOf(level.path);
    if (!directory) return nullptr;
    if (std::shared_ptr<const Win32Listing> kept = cache_.find(level.named, *directory)) {
      return kept;
    }
    std::shared_ptr<Win32Listing> fresh =
        readListing(level.path, ListingCache<Win32Listing>::kByteBudget, failure_);
    if (!fresh) {
      level.tooBigToKeep = failure_ == ERROR_SUCCESS;
      return nullptr;
    }
    fresh->state = *directory;
    fresh->trusted = isSettled(*directory, readStart);
    cache_.keep(level.named, fresh);
    return fresh;
  }

  // The system's listing, read as the walk moves through it.
  std::unique_ptr<Search> listFromTheSystem(const Level& level, std::shared_ptr<ListingState> state,
                                            FindData& entry) {
    WIN32_FIND_DATAW found{};
    HANDLE handle = FindFirstFileW((level.path + L"\\*").c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      // The root of an empty volume has no entry at all, not even "." and
      // "..": a listing of nothing, not a failure.
      if (error != ERROR_FILE_NOT_FOUND) {
        failure_ = error;
        return nullptr;
      }
      found = madeDotEntry(L".");
    }
    return std::make_unique<Win32Search>(handle, found, Kind::kListing, std::move(state),
                                         level.order, left_, entry);
  }

  // The directory that the listing `pattern` names, among the levels of the
  // way down, which it updates: the entry the last listing stood on (going
  // down), a directory the walk is inside (coming back up, or listing again:
  // `again` is set), else a new way down from the path as the system reads
  // it.
  Level* place(const std::string& pattern, bool& again) {
    std::string named = pattern.substr(0, pattern.size() - 2);
    if (Level* below = goDown(named)) return below;
    again = true;
    for (size_t k = levels_.size(); k-- > 0;) {
      if (levels_[k].named != named) continue;
      if (k + 1 < levels_.size()) {
        const Level& child = levels_[k + 1];
        left_ = LeftDirectory{child.path.substr(levels_[k].path.size() + 1),
                              child.named.substr(named.size() + 1)};
        levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(k) + 1, levels_.end());
      }
      return &levels_[k];
    }
    again = false;
    levels_.clear();
    left_.reset();
    std::wstring path = pathOfPattern(pattern);
    if (path.empty()) return nullptr;
    levels_.push_back(Level{named, path, orderOf(DirectoryHandle(path))});
    return &levels_.back();
  }

  // The level for `named` when it is the innermost directory's path followed
  // by the separator and the name of the entry the last listing stood on.
  Level* goDown(const std::string& named) {
    if (levels_.empty() || !lastListing_ || !lastListing_->standing) return nullptr;
    const Level& parent = levels_.back();
    if (lastListing_->directory != parent.path) return nullptr;
    const WIN32_FIND_DATAW& found = lastListing_->found;
    size_t cut = parent.named.size();
    if (named.size() <= cut || named.compare(0, cut, parent.named) != 0 || named[cut] != '\\' ||
        named.compare(cut + 1, std::string::npos, loggedName(found.cFileName)) != 0) {
      return nullptr;
    }
    Level level{named, parent.path + L"\\" + found.cFileName, parent.order};
    // Only a link, a junction or a mount point can lead to another volume,
    // or back to a directory the walk is inside.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      DirectoryHandle target(level.path);
      level.order = orderOf(target);
      level.identity = identityOf(target);
      level.identityRead = true;
      level.leadsBackUp = level.identity && isOnTheWayDown(*level.identity);
    }
    levels_.push_back(std::move(level));
    left_.reset();
    return &levels_.back();
  }

  // Whether a directory of the way down has `identity`. Each level's is read
  // the first time a link asks, so that a walk without links reads none.
  bool isOnTheWayDown(const Identity& identity) {
    for (Level& level : levels_) {
      if (!level.identityRead) {
        level.identity = identityOf(DirectoryHandle(level.path));
        level.identityRead = true;
      }
      if (level.identity && sameIdentity(*level.identity, identity)) return true;
    }
    return false;
  }

  DWORD failure_ = ERROR_SUCCESS;  // why the last findFirst failed
  ListingCache<Win32Listing> cache_{'\\'};
  std::vector<Level> levels_;  // the walk's way down, outermost first
  std::optional<LeftDirectory> left_;
  std::shared_ptr<const ListingState> lastListing_;
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
