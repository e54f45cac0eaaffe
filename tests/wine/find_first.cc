// Prints what the platform's directory search reports for each name given:
// one line per argument, the entry's members separated by tabs (name, short
// name, attributes, size high and low, the two reserved words, then the
// creation, last-access and last-write times, each high word first), or a
// lone "-" when the search finds nothing. The end-to-end tests hold the log
// lines of the program against it.
#include <cstdio>
#include <memory>

#include "platform/directory_search.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    platform::FindData entry{};
    std::unique_ptr<platform::Search> search =
        platform::directorySearch().findFirst(argv[i], entry);
    if (!search) {
      std::printf("-\n");
      continue;
    }
    std::printf("%s\t%s\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%u\n", entry.cFileName,
                entry.cAlternateFileName, entry.dwFileAttributes, entry.nFileSizeHigh,
                entry.nFileSizeLow, entry.dwReserved0, entry.dwReserved1,
                entry.ftCreationTime.dwHighDateTime, entry.ftCreationTime.dwLowDateTime,
                entry.ftLastAccessTime.dwHighDateTime, entry.ftLastAccessTime.dwLowDateTime,
                entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime);
  }
  return 0;
}
