#pragma once
// Growable text buffer for the multi-line structure dumps of the TAPI trace.
// It grows in steps of 1024 characters and keeps an indentation width that
// every new line starts with. When the buffer cannot grow (out of memory, or
// past the optional capacity limit) the text built so far is dropped and
// every further append is ignored, so the dump ends up empty instead of
// half-written.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/printf_format.h"

namespace kvarsp {

class TextBuilder {
 public:
  static constexpr size_t kGrowStep = 1024;

  // capacityLimit caps the buffer size; growing past it fails like an
  // allocation failure.
  explicit TextBuilder(size_t capacityLimit = SIZE_MAX);

  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;

  void append(std::string_view text);
  void append(size_t count, char c);
  void appendFormat(const char* format, ...) TK_PRINTF_FORMAT(2, 3);

  // Starts a new line ('\n') followed by the indentation width in blanks.
  void newLine();
  // Starts a new line followed by the given number of blanks.
  void newLine(size_t blanks);

  void setIndent(size_t width) { indent_ = width; }
  size_t indent() const { return indent_; }

  size_t length() const { return length_; }
  size_t capacity() const { return capacity_; }
  // Characters since the start of the current line.
  size_t column() const;
  bool failed() const { return failed_; }
  std::string_view text() const { return {buffer_.get(), length_}; }

  // The text built (empty after a failure); the builder starts over empty.
  std::string take();

 private:
  bool reserveFor(size_t extra);
  void drop();

  std::unique_ptr<char[]> buffer_;
  size_t length_ = 0;
  size_t capacity_ = 0;
  size_t capacityLimit_;
  size_t indent_ = 0;
  bool failed_ = false;
};

}  // namespace kvarsp
