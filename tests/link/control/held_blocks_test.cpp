#include "link/control/held_blocks.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// VNL2D32's receive queues as the control process sees them: a capacity per
// open service; the client takes blocks when the test says so.
class FakeLibrary : public ClientLibrary {
 public:
  int32_t CopyRecData(uint32_t service, const void* data, uint32_t length) override {
    if (length == 0 || length > 2048) return -1;  // as VNL2D32 refuses them
    auto it = queues.find(service);
    if (it == queues.end() || it->second.size() >= capacity) return -1;
    it->second.emplace_back(static_cast<const char*>(data), length);
    return 1;
  }
  int32_t LinkInfo(uint32_t) override { return 1; }
  bool QueueFull(uint32_t service) override {
    auto it = queues.find(service);
    return it != queues.end() && it->second.size() >= capacity;
  }
  // The client reads everything queued for the service.
  std::string Take(uint32_t service) {
    std::string all;
    for (const std::string& block : queues[service]) all += block;
    queues[service].clear();
    return all;
  }
  size_t capacity = 2;
  std::map<uint32_t, std::vector<std::string>> queues;
};

class HeldBlocksTest : public ::testing::Test {
 protected:
  HeldBlocksTest() {
    library.queues[0x20];
    library.queues[0x30];
  }
  int32_t Deliver(uint32_t service, const std::string& text) {
    return held.Deliver(service, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  }
  FakeLibrary library;
  HeldBlocks held{library, 4};
};

TEST_F(HeldBlocksTest, AFullQueueHoldsBlocksAndHandsThemOverInOrderAsTheClientMakesRoom) {
  for (const char* block : {"a", "b", "c", "d", "e"}) EXPECT_EQ(Deliver(0x20, block), 1) << block;
  EXPECT_EQ(Deliver(0x30, "x"), 1);  // another service is not held up
  EXPECT_EQ(held.size(), 3u);
  EXPECT_EQ(library.Take(0x20), "ab");
  EXPECT_EQ(library.Take(0x30), "x");
  EXPECT_TRUE(held.Retry());
  EXPECT_EQ(library.Take(0x20), "cd");
  // A new block queues behind the held one even though the queue has room.
  EXPECT_EQ(Deliver(0x20, "f"), 1);
  EXPECT_EQ(library.Take(0x20), "ef");
  EXPECT_FALSE(held.Retry());
  EXPECT_EQ(held.size(), 0u);
}

TEST_F(HeldBlocksTest, RefusesWhatCannotBeHeldAndGivesUpBlocksOfAServiceThatClosed) {
  struct Case {
    const char* what;
    uint32_t service;
    int32_t expected;
  };
  for (const Case& c : {Case{"service not open", 0x40, -1}, Case{"open with room", 0x30, 1}}) {
    EXPECT_EQ(Deliver(c.service, "z"), c.expected) << c.what;
  }
  library.Take(0x30);
  for (const char* block : {"1", "2", "3", "4", "5", "6"}) EXPECT_EQ(Deliver(0x20, block), 1) << block;
  EXPECT_EQ(Deliver(0x20, "7"), -1);  // 2 queued, 4 held: the limit
  library.queues.erase(0x20);         // the client closed the service
  size_t refused = 0;
  EXPECT_FALSE(held.Retry(&refused));
  EXPECT_EQ(refused, 4u);
}

TEST_F(HeldBlocksTest, ABlockNoQueueTakesIsRefusedAtOnceAndNeverHeld) {
  const std::string bytes(4096, 'q');
  for (uint32_t length : {0u, 2049u}) {
    for (bool full : {false, true}) {
      library.Take(0x20);
      if (full) {
        for (const char* fill : {"1", "2"}) ASSERT_EQ(Deliver(0x20, fill), 1);
      }
      EXPECT_EQ(held.Deliver(0x20, reinterpret_cast<const uint8_t*>(bytes.data()), length), -1) << length;
      EXPECT_EQ(held.size(), 0u) << length << (full ? " with the queue full" : "");
    }
  }
}

}  // namespace
