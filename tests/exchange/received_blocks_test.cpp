// The queue behind "wait-block": order, consumption and time-outs.
#include <gtest/gtest.h>

#include <thread>

#include "exchange/received_blocks.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::ReceivedBlocks;
using exchangetest::Hex;
using namespace std::chrono_literals;

TEST(ReceivedBlocks, AWaitConsumesTheFirstMatchAndEverythingBeforeIt) {
  ReceivedBlocks blocks;
  blocks.Push(Hex("1001"));
  blocks.Push(Hex("2001"));
  blocks.Push(Hex("1002"));
  blocks.Push(Hex("2002"));
  EXPECT_EQ(blocks.WaitFor(Hex("20"), 0ms), Hex("2001"));
  EXPECT_EQ(blocks.Size(), 2u);
  EXPECT_EQ(blocks.WaitFor(Hex(""), 0ms), Hex("1002"));
  EXPECT_FALSE(blocks.WaitFor(Hex("10"), 0ms)) << "1001 was consumed by the first wait";
  EXPECT_EQ(blocks.Size(), 1u) << "a failed wait consumes nothing";
}

TEST(ReceivedBlocks, APrefixLongerThanTheBlockDoesNotMatch) {
  ReceivedBlocks blocks;
  blocks.Push(Hex("10"));
  EXPECT_FALSE(blocks.WaitFor(Hex("1000"), 0ms));
}

TEST(ReceivedBlocks, AWaitEndsWhenTheBlockArrivesFromAnotherThread) {
  ReceivedBlocks blocks;
  std::thread pusher([&] {
    blocks.Push(Hex("01"));
    blocks.Push(Hex("0203"));
  });
  auto block = blocks.WaitFor(Hex("02"), 10s);
  pusher.join();
  EXPECT_EQ(block, Hex("0203"));
}

TEST(ReceivedBlocks, KeepsOnlyTheNewestBlocks) {
  ReceivedBlocks blocks;
  for (size_t i = 0; i < ReceivedBlocks::kCapacity + 1; ++i) {
    blocks.Push({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  }
  EXPECT_EQ(blocks.Size(), ReceivedBlocks::kCapacity);
  EXPECT_EQ(blocks.WaitFor({}, 0ms), (std::vector<uint8_t>{0x00, 0x01})) << "block 0 was pushed out";
}

}  // namespace
