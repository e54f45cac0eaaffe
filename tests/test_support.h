// Small helpers shared by the unit and end-to-end tests.
#ifndef DIRLOG_TESTS_TEST_SUPPORT_H_
#define DIRLOG_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A fresh directory under the system's temporary folder, removed with all
// its contents when the object goes.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as text, for the program's own string interfaces.
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Makes `folder` the folder of the snapshot logs and the report
// (platform::logFolder()) for the life of the object, restoring the one
// before. Defined in log_root.cc, for the tests that link the program's code.
class ScopedLogRoot {
 public:
  explicit ScopedLogRoot(const std::string& folder);
  ~ScopedLogRoot();
  ScopedLogRoot(const ScopedLogRoot&) = delete;
  ScopedLogRoot& operator=(const ScopedLogRoot&) = delete;

 private:
  std::optional<std::string> previous_;
};

// The whole content of a file, or empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// The same, as a stream opened in text mode reads it.
std::string readTextFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& content);

// The lines of a text, each without its "\n".
std::vector<std::string> splitLines(const std::string& text);

#endif  // DIRLOG_TESTS_TEST_SUPPORT_H_
