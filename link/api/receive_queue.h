#pragma once
// One service's receive queue in the shared area: blocks in arrival order,
// block 0 the oldest, `index` the newest (-1 when empty). The caller
// serialises the writer (the control process) and the reader (the client).
#include <cstdint>

#include "link/api/vnl2_shared_area.h"

// Appends a block of 1..2048 bytes; false when the queue is full.
bool RecQueueAppend(RecQueue& queue, int32_t& index, const void* data, uint32_t length);
// Takes the oldest block, copying at most `size` bytes of it (the rest of a
// longer block is lost); 0 when the queue is empty.
uint32_t RecQueueTake(RecQueue& queue, int32_t& index, void* buffer, uint32_t size);
// Number of queued blocks and the length of the oldest (0 when empty).
uint32_t RecQueueCount(int32_t index);
void RecQueueClear(RecQueue& queue, int32_t& index);
