#pragma once
// Sent messages: reading the WM_COPYDATA block a sender passes, waiting for
// the answer inside the process, and handling the sent messages that wait
// in the calling thread's queue.
#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "platform/wait.h"
#include "platform/window.h"
#include "platform/window_queue.h"

namespace platform::wnd {

// The block a WM_COPYDATA lParam points to. Nothing when the record is
// unusable (none at all, a length without data, or a block larger than is
// carried).
struct CopyDataView {
  bool present = false;
  uintptr_t tag = 0;
  std::span<const std::byte> bytes;
};
std::optional<CopyDataView> readCopyData(LParam lParam);

// The answer of a message sent to another thread of this process.
struct LocalReplyState {
  Event done{Event::Reset::Manual};
  LResult result = 0;
};
std::unique_ptr<ReplyTarget> makeLocalReply(std::shared_ptr<LocalReplyState> state);

// Handles every sent message waiting in the queue (on its owning thread);
// returns how many there were.
size_t handleSentMessages(MessageQueue& queue);

}  // namespace platform::wnd
