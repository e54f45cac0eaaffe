// Files for the fuzz targets: the comparison reads real streams, so each
// input's logs are written to a folder of the fuzzing process's own.
#ifndef DIRLOG_FUZZ_FUZZ_FILES_H_
#define DIRLOG_FUZZ_FUZZ_FILES_H_

#include <cstddef>
#include <cstdio>
#include <string>

// A folder made once per process, in memory where the system offers that;
// ends in '/'.
const std::string& fuzzFolder();

// Writes `size` bytes to `name` in fuzzFolder() and opens it for reading in
// binary mode. Aborts when it cannot.
FILE* openBytes(const char* name, const void* bytes, size_t size);

// The whole content of `name` in fuzzFolder(), or empty when there is none.
std::string readBack(const char* name);

#endif  // DIRLOG_FUZZ_FUZZ_FILES_H_
