#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <utility>

#include "platform/file_mapping.h"

namespace platform {

FileView::FileView(FileView&& other) noexcept { *this = std::move(other); }

FileView& FileView::operator=(FileView&& other) noexcept {
  if (this != &other) {
    unmap();
    std::swap(base_, other.base_);
    std::swap(baseLength_, other.baseLength_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  return *this;
}

FileView::~FileView() { unmap(); }

void FileView::unmap() {
  if (base_ != nullptr) munmap(base_, baseLength_);
  base_ = nullptr;
  baseLength_ = 0;
  data_ = nullptr;
  size_ = 0;
}

bool FileView::map(std::FILE* stream, uint64_t offset, size_t length) {
  unmap();
  static const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  // The system maps whole pages from a page boundary on.
  uint64_t start = offset - offset % kPage;
  size_t lead = static_cast<size_t>(offset - start);
  if (start > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  void* base = mmap(nullptr, lead + length, PROT_READ, MAP_PRIVATE, fileno(stream),
                    static_cast<off_t>(start));
  if (base == MAP_FAILED) return false;
  base_ = base;
  baseLength_ = lead + length;
  data_ = static_cast<const char*>(base) + lead;
  size_ = length;
  return true;
}

bool fileSizeToMap(std::FILE* stream, uint64_t& size) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}

}  // namespace platform
