#include "provider/text_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace kvarsp {

TextBuilder::TextBuilder(size_t capacityLimit) : capacityLimit_(capacityLimit) {}

bool TextBuilder::reserveFor(size_t extra) {
  if (failed_) return false;
  if (extra <= capacity_ - length_) return true;
  if (extra > SIZE_MAX - kGrowStep || length_ > SIZE_MAX - kGrowStep - extra) {
    drop();
    return false;
  }
  size_t needed = length_ + extra;
  size_t newCapacity = (needed + kGrowStep - 1) / kGrowStep * kGrowStep;
  if (newCapacity > capacityLimit_) {
    drop();
    return false;
  }
  try {
    std::unique_ptr<char[]> grown(new char[newCapacity]);
    if (length_ != 0) std::memcpy(grown.get(), buffer_.get(), length_);
    buffer_ = std::move(grown);
    capacity_ = newCapacity;
  } catch (const std::bad_alloc&) {
    drop();
    return false;
  }
  return true;
}

void TextBuilder::drop() {
  buffer_.reset();
  length_ = 0;
  capacity_ = 0;
  failed_ = true;
}

void TextBuilder::append(std::string_view text) {
  if (text.empty() || !reserveFor(text.size())) return;
  std::memcpy(buffer_.get() + length_, text.data(), text.size());
  length_ += text.size();
}

void TextBuilder::append(size_t count, char c) {
  if (count == 0 || !reserveFor(count)) return;
  std::memset(buffer_.get() + length_, c, count);
  length_ += count;
}

void TextBuilder::appendFormat(const char* format, ...) {
  if (failed_) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  // vsnprintf writes a terminating NUL, so room for one more character is
  // reserved; the NUL is not counted in the length.
  if (needed > 0 && reserveFor(static_cast<size_t>(needed) + 1)) {
    std::vsnprintf(buffer_.get() + length_, static_cast<size_t>(needed) + 1, format, again);
    length_ += static_cast<size_t>(needed);
  }
  va_end(again);
}

void TextBuilder::newLine() { newLine(indent_); }

void TextBuilder::newLine(size_t blanks) {
  append(1, '\n');
  append(blanks, ' ');
}

size_t TextBuilder::column() const {
  std::string_view all = text();
  size_t lastBreak = all.rfind('\n');
  return lastBreak == std::string_view::npos ? all.size() : all.size() - lastBreak - 1;
}

std::string TextBuilder::take() {
  std::string result(text());
  buffer_.reset();
  length_ = 0;
  capacity_ = 0;
  failed_ = false;
  return result;
}

}  // namespace kvarsp
