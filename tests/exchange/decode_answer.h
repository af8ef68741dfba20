#pragma once
// Decodes a block the exchange sent with the project's codec, checking on
// the way that the header's parameter length matches the block and that
// every parameter decodes.
#include <gtest/gtest.h>

#include "provider/vnl/codec/vnl_decoder.h"
#include "tests/exchange/frame_client.h"

namespace exchangetest {

inline vnl::Message Decode(const Bytes& bytes, bool lineId16 = false) {
  vnl::Message message;
  EXPECT_GE(bytes.size(), 4u);
  if (bytes.size() < 4) return message;
  EXPECT_EQ(static_cast<size_t>(bytes[2] << 8 | bytes[3]), bytes.size() - 4) << "parameter length";
  vnl::DecodeResult result = vnl::DecodeMessage(bytes, lineId16, message, nullptr);
  EXPECT_TRUE(result.headerComplete);
  EXPECT_EQ(result.errors, 0);
  return message;
}

}  // namespace exchangetest
