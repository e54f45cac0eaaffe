// One log or report line assembled in a buffer, so that it reaches its stream
// in one write: a signal or a full disk then finds either the whole line or
// none of it written by this call.
#ifndef DIRLOG_SNAPSHOT_LINE_BUILDER_H_
#define DIRLOG_SNAPSHOT_LINE_BUILDER_H_

#include <charconv>
#include <cstddef>
#include <cstring>

class LineBuilder {
 public:
  void add(const char* text) {
    size_t length = std::strlen(text);
    std::memcpy(text_ + length_, text, length);
    length_ += length;
  }
  void add(char c) { text_[length_++] = c; }
  template <typename Number>
  void addNumber(Number value) {
    length_ = static_cast<size_t>(std::to_chars(text_ + length_, text_ + kRoom, value).ptr - text_);
  }
  const char* text() const { return text_; }
  size_t length() const { return length_; }

  // Room for the longest record or report line: texts of at most 255, 254
  // and 13 characters, eleven numbers of at most eleven characters and the
  // words between them.
  static constexpr size_t kRoom = 1024;

 private:
  char text_[kRoom];
  size_t length_ = 0;
};

#endif  // DIRLOG_SNAPSHOT_LINE_BUILDER_H_
