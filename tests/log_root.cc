#include "platform/directory_search.h"
#include "test_support.h"

namespace {

// The folder that ScopedLogRoot objects installed, innermost last.
std::optional<std::string> installedRoot;

}  // namespace

ScopedLogRoot::ScopedLogRoot(const std::string& folder) : previous_(installedRoot) {
  installedRoot = folder;
  platform::useLogFolder(&folder);
}

ScopedLogRoot::~ScopedLogRoot() {
  installedRoot = previous_;
  platform::useLogFolder(previous_ ? &*previous_ : nullptr);
}
