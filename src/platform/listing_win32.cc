#include "platform/listing_win32.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

// Exported by ntdll since the first NT, declared by no header of the SDK.
extern "C" NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES attributes,
                                                    PFILE_NETWORK_OPEN_INFORMATION information);

namespace platform {
namespace {

size_t directoryReadCount = 0;  // see directoryReads()

constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

Stamp stampOf(uint64_t ticks) {
  auto seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  auto rest = static_cast<int64_t>(ticks % kTicksPerSecond);
  return Stamp{seconds - kSecondsFrom1601To1970, rest * 100};
}

Stamp stampOf(const LARGE_INTEGER& time) {
  return stampOf(static_cast<uint64_t>(std::max<LONGLONG>(time.QuadPart, 0)));
}

bool isDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

}  // namespace

DirectoryHandle::DirectoryHandle(const std::wstring& directory) {
  // Without the separator at the end, the root "\\?\C:" would be the volume.
  std::wstring opened = directory + L"\\";
  handle_ = CreateFileW(opened.c_str(), FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

DirectoryHandle::~DirectoryHandle() {
  if (valid()) CloseHandle(handle_);
}

void Win32Listing::fill(size_t index, WIN32_FIND_DATAW& found) const {
  const Entry& entry = entries_[index];
  found = WIN32_FIND_DATAW{};
  std::memcpy(&found, entry.members, sizeof entry.members);
  std::wcscpy(found.cFileName, nameAt(index));
  std::memcpy(found.cAlternateFileName, entry.shortName, sizeof entry.shortName);
}

size_t Win32Listing::find(size_t from, const wchar_t* name) const {
  auto before = [this](uint32_t index, const std::pair<const wchar_t*, size_t>& sought) {
    int order = std::wcscmp(nameAt(index), sought.first);
    return order < 0 || (order == 0 && index < sought.second);
  };
  auto found = std::lower_bound(byName_.begin(), byName_.end(), std::make_pair(name, from), before);
  return found != byName_.end() && std::wcscmp(nameAt(*found), name) == 0 ? *found : count();
}

size_t Win32Listing::bytes() const {
  return entries_.size() * sizeof(Entry) + names_.size() * sizeof(wchar_t) +
         byName_.size() * sizeof(uint32_t);
}

void Win32Listing::add(const WIN32_FIND_DATAW& found) {
  if (isDotEntry(found.cFileName)) return;
  Entry entry{};
  std::memcpy(entry.members, &found, sizeof entry.members);
  std::memcpy(entry.shortName, found.cAlternateFileName, sizeof entry.shortName);
  entry.nameStart = static_cast<uint32_t>(names_.size());
  names_ += found.cFileName;
  names_ += L'\0';
  entries_.push_back(entry);
}

void Win32Listing::finish() {
  byName_.resize(entries_.size());
  for (size_t i = 0; i < byName_.size(); ++i) byName_[i] = static_cast<uint32_t>(i);
  std::stable_sort(byName_.begin(), byName_.end(), [this](uint32_t a, uint32_t b) {
    return std::wcscmp(nameAt(a), nameAt(b)) < 0;
  });
}

std::optional<DirectoryState> directoryStateOf(const std::wstring& path) {
  // One question by name costs one system call, where opening the
  // directory costs three (open, query, close), each a round trip to the
  // server under Wine: the walk asks after every subfolder it climbs out
  // of. The file ID is not among the answers; see DirectoryState for why
  // the times tell a directory put in its place apart.
  if (path.rfind(L"\\\\?\\", 0) != 0 && path.rfind(L"\\\\.\\", 0) != 0) return std::nullopt;
  // Without the separator at the end, the root "\\?\C:" would be the volume.
  std::wstring ntPath = L"\\??\\" + path.substr(4) + L"\\";
  if (ntPath.size() * sizeof(wchar_t) > UNICODE_STRING_MAX_BYTES) return std::nullopt;
  UNICODE_STRING name;
  name.Buffer = ntPath.data();
  name.Length = name.MaximumLength = static_cast<USHORT>(ntPath.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  FILE_NETWORK_OPEN_INFORMATION information;
  if (!NT_SUCCESS(NtQueryFullAttributesFile(&object, &information)) ||
      !(information.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return DirectoryState{0, 0, stampOf(information.ChangeTime), stampOf(information.LastWriteTime),
                        stampOf(information.CreationTime)};
}

Stamp systemTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return stampOf((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
}

std::shared_ptr<Win32Listing> readListing(const std::wstring& path, size_t budget, DWORD& error) {
  ++directoryReadCount;
  error = ERROR_SUCCESS;
  auto listing = std::make_shared<Win32Listing>();
  WIN32_FIND_DATAW found{};
  HANDLE handle = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return nullptr;
    error = ERROR_SUCCESS;
    listing->finish();
    return listing;
  }
  bool fits = true;
  do {
    listing->add(found);
    fits = listing->bytes() <= budget;
    // Members the system leaves alone (Wine writes neither reserved word)
    // must not carry over from the previous entry.
    found = WIN32_FIND_DATAW{};
  } while (fits && FindNextFileW(handle, &found));
  FindClose(handle);
  if (!fits) return nullptr;
  listing->finish();
  return listing;
}

size_t directoryReads() { return directoryReadCount; }

}  // namespace platform
