// Reading a file through a mapping of its bytes into memory instead of
// copying them out with reads, where the system allows it.
//
// Only regular files are mapped; pipes, devices and the like are read as
// streams. A mapped file must not shrink while a view of it is in use: the
// system then ends the process when the view touches the lost bytes.
#ifndef DIRLOG_PLATFORM_FILE_MAPPING_H_
#define DIRLOG_PLATFORM_FILE_MAPPING_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// A read-only view of a stretch of a file. Moving it hands the mapping on;
// destroying it or mapping another stretch into it unmaps the old one.
class FileView {
 public:
  FileView() = default;
  FileView(FileView&& other) noexcept;
  FileView& operator=(FileView&& other) noexcept;
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  ~FileView();

  const char* data() const { return data_; }
  size_t size() const { return size_; }

  // Maps `length` bytes (at least 1) from `offset` of the file that `stream`
  // reads, which fileSizeToMap() accepted, in place of what the view showed.
  // False, with the view empty, when the system refuses.
  bool map(std::FILE* stream, uint64_t offset, size_t length);

 private:
  void unmap();

  void* base_ = nullptr;  // the mapping as the system made it (page aligned)
  size_t baseLength_ = 0;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

// The size of the file that `stream` reads, when it is a regular file that
// this system can map; false otherwise.
bool fileSizeToMap(std::FILE* stream, uint64_t& size);

}  // namespace platform

#endif  // DIRLOG_PLATFORM_FILE_MAPPING_H_
