#include "platform/listing_cache.h"

namespace platform {

bool isAncestorOrSelf(const std::string& directory, const std::string& path, char separator) {
  if (directory.empty() || path.size() < directory.size() ||
      path.compare(0, directory.size(), directory) != 0) {
    return false;
  }
  return path.size() == directory.size() || path[directory.size()] == separator ||
         directory.back() == separator;
}

}  // namespace platform
