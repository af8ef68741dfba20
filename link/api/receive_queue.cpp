#include "link/api/receive_queue.h"

#include <cstring>

bool RecQueueAppend(RecQueue& queue, int32_t& index, const void* data, uint32_t length) {
  if (length == 0 || length > kRecBlockData) return false;
  // Also refuses an index damaged below -1 by another process.
  if (index < -1 || index + 1 >= static_cast<int32_t>(kRecQueueBlocks)) return false;
  RecBlock& block = queue.blocks[index + 1];
  block.length = length;
  std::memcpy(block.data, data, length);
  ++index;
  return true;
}

uint32_t RecQueueTake(RecQueue& queue, int32_t& index, void* buffer, uint32_t size) {
  if (index < 0 || queue.blocks[0].length == 0) return 0;
  if (index >= static_cast<int32_t>(kRecQueueBlocks)) index = kRecQueueBlocks - 1;  // a damaged area
  uint32_t length = queue.blocks[0].length;
  if (length > kRecBlockData) length = kRecBlockData;  // never read past a block
  uint32_t copied = size < length ? size : length;
  std::memcpy(buffer, queue.blocks[0].data, copied);
  for (int32_t i = 0; i < index; ++i) {
    RecBlock& to = queue.blocks[i];
    const RecBlock& from = queue.blocks[i + 1];
    to.length = from.length;
    std::memcpy(to.data, from.data, from.length <= kRecBlockData ? from.length : kRecBlockData);
  }
  queue.blocks[index].length = 0;
  --index;
  return copied;
}

uint32_t RecQueueCount(int32_t index) { return index < 0 ? 0 : static_cast<uint32_t>(index + 1); }

void RecQueueClear(RecQueue& queue, int32_t& index) {
  for (int32_t i = 0; i <= index && i < static_cast<int32_t>(kRecQueueBlocks); ++i) queue.blocks[i].length = 0;
  index = -1;
}
