#include "tapi/host/struct_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tapi/tapi.h"

namespace {

using tapihost::structText;

// A structure of `used` bytes in a buffer of `total`, with text at `offset`.
std::vector<uint8_t> Buffer(DWORD total, DWORD used, DWORD offset, const void* text, size_t size) {
  std::vector<uint8_t> buffer(total, 0);
  std::memcpy(buffer.data(), &total, 4);
  std::memcpy(buffer.data() + 8, &used, 4);
  if (offset + size <= total) std::memcpy(buffer.data() + offset, text, size);
  return buffer;
}

TEST(StructText, ReadsUnicodeAndAnsiTextUpToTheFirstZero) {
  const char16_t name[] = u"Linie 1\0rest";
  auto buffer = Buffer(64, 64, 21, name, sizeof name);  // an odd offset is fine
  EXPECT_EQ(structText(buffer, 21, sizeof name, STRINGFORMAT_UNICODE), u"Linie 1");
  const char ansi[] = "Gr\xfc\xdf";  // Windows-1252
  buffer = Buffer(64, 40, 32, ansi, sizeof ansi);
  EXPECT_EQ(structText(buffer, 32, sizeof ansi, STRINGFORMAT_ASCII), u"Grüß");
  EXPECT_EQ(structText(buffer, 32, sizeof ansi, STRINGFORMAT_BINARY), u"");
}

TEST(StructText, TrustsNoSizeOrOffsetThatLeavesTheFilledPart) {
  const char16_t name[] = u"abc";
  auto buffer = Buffer(40, 40, 24, name, sizeof name);
  EXPECT_EQ(structText(buffer, 24, sizeof name, STRINGFORMAT_UNICODE), u"abc");
  EXPECT_EQ(structText(buffer, 24, 0, STRINGFORMAT_UNICODE), u"");
  // Beyond dwUsedSize, beyond the buffer, wrapping around, or inside the header.
  buffer = Buffer(40, 30, 24, name, sizeof name);
  EXPECT_EQ(structText(buffer, 24, sizeof name, STRINGFORMAT_UNICODE), u"");
  buffer = Buffer(40, 400, 24, name, sizeof name);
  EXPECT_EQ(structText(buffer, 24, 100, STRINGFORMAT_UNICODE), u"");
  EXPECT_EQ(structText(buffer, 0xFFFFFFF0, 0x20, STRINGFORMAT_UNICODE), u"");
  EXPECT_EQ(structText(buffer, 4, 4, STRINGFORMAT_UNICODE), u"");
  EXPECT_EQ(structText(std::vector<uint8_t>(8, 0xFF), 0, 8, STRINGFORMAT_UNICODE), u"");
}

}  // namespace
