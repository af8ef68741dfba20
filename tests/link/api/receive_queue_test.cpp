#include "link/api/receive_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Queue {
  std::unique_ptr<RecQueue> queue = std::make_unique<RecQueue>();
  int32_t index = -1;

  bool Append(const std::string& text) {
    return RecQueueAppend(*queue, index, text.data(), static_cast<uint32_t>(text.size()));
  }
  std::string Take(uint32_t size = 4096) {
    std::string buffer(size, '\0');
    uint32_t n = RecQueueTake(*queue, index, buffer.data(), size);
    return buffer.substr(0, n);
  }
};

TEST(ReceiveQueue, HoldsSixteenBlocksInArrivalOrder) {
  Queue q;
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(q.Append("block " + std::to_string(i)));
  EXPECT_FALSE(q.Append("block 16"));
  EXPECT_EQ(RecQueueCount(q.index), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(q.Take(), "block " + std::to_string(i));
  EXPECT_EQ(q.Take(), "");
  EXPECT_EQ(q.index, -1);
  // Room again after reading.
  EXPECT_TRUE(q.Append("again"));
  EXPECT_EQ(q.Take(), "again");
}

TEST(ReceiveQueue, ShortReadTakesTheWholeBlock) {
  Queue q;
  ASSERT_TRUE(q.Append(std::string(100, 'a')));
  ASSERT_TRUE(q.Append("next"));
  EXPECT_EQ(q.Take(10), std::string(10, 'a'));
  EXPECT_EQ(q.Take(), "next");
}

TEST(ReceiveQueue, RefusesEmptyAndOversizedBlocks) {
  Queue q;
  EXPECT_FALSE(q.Append(""));  // would look like an empty queue and block the rest
  EXPECT_FALSE(q.Append(std::string(2049, 'x')));
  EXPECT_TRUE(q.Append(std::string(2048, 'x')));
  EXPECT_EQ(q.Take().size(), 2048u);
}

TEST(ReceiveQueue, ClearEmptiesAndADamagedIndexNeverReadsPastTheQueue) {
  Queue q;
  q.Append("a");
  q.Append("b");
  RecQueueClear(*q.queue, q.index);
  EXPECT_EQ(q.index, -1);
  EXPECT_EQ(q.queue->blocks[0].length, 0u);
  EXPECT_EQ(q.Take(), "");

  q.index = -7;  // damaged by another process
  EXPECT_FALSE(q.Append("x"));
  EXPECT_EQ(q.Take(), "");
  q.index = -1;

  q.Append("c");
  q.index = 40;  // as another process might have left it
  EXPECT_EQ(q.Take(), "c");
  EXPECT_EQ(q.index, 14);
}

}  // namespace
