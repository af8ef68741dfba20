#pragma once
// Received blocks that a client's full receive queue could not take yet.
//
// VNL2D32 keeps 16 blocks per service and refuses the next one. A client
// that is briefly busy (its link thread waiting for its own lock, or for
// the answer to a block it sends) would lose the exchange's blocks that
// arrive meanwhile. The control process holds such blocks instead and hands
// them over as the client makes room, in arrival order per service; a block
// for a service that is not open, or one that no queue takes (empty, longer
// than 2048 bytes), is refused at once, as before.
//
// In: received blocks (Deliver) and retries (Retry, from a timer while
// blocks are held). Out: VNL2_CopyRecData calls through the ClientLibrary.
// No threads or clocks of its own; the caller serialises every call (the
// control process's link lock).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "link/control/client_library.h"

class HeldBlocks {
 public:
  // At most this many blocks are held; beyond it a block is refused.
  static constexpr size_t kDefaultLimit = 4096;

  explicit HeldBlocks(ClientLibrary& library, size_t limit = kDefaultLimit) : library_(library), limit_(limit) {}

  // 1 when the block was queued for the client or is held for it, -1 when
  // it is refused (service not open, or nothing more can be held). Blocks
  // of a service with held blocks queue up behind them.
  int32_t Deliver(uint32_t service, const uint8_t* data, uint32_t length);
  // Hands held blocks over while their clients take them; the number of
  // blocks given up because their service closed meanwhile is added to
  // *refused. True while blocks are still held.
  bool Retry(size_t* refused = nullptr);
  // Forgets every held block (the link is over).
  void Clear() { held_.clear(); }
  size_t size() const { return held_.size(); }

 private:
  struct Block {
    uint32_t service;
    std::vector<uint8_t> bytes;
  };
  bool Holds(uint32_t service) const;

  ClientLibrary& library_;
  const size_t limit_;
  std::deque<Block> held_;  // arrival order
};
