#include "platform/window_sent.h"

#include "platform/window_table.h"
#include "platform/window_wire.h"

namespace platform::wnd {
namespace {

class LocalReply : public ReplyTarget {
 public:
  explicit LocalReply(std::shared_ptr<LocalReplyState> state) : state_(std::move(state)) {}
  ~LocalReply() override {
    if (!answered_) state_->done.set();  // result stays 0
  }
  void answer(LResult result) override {
    if (answered_) return;
    answered_ = true;
    state_->result = result;
    state_->done.set();
  }

 private:
  std::shared_ptr<LocalReplyState> state_;
  bool answered_ = false;
};

void handleOne(MessageQueue& queue, SentMessage& sent) {
  LResult result = 0;
  auto record = findWindowRecord(sent.window);
  if (record && record->owner.get() == &queue) {
    if (sent.carriesCopyData) {
      // The receiver's own record, pointing at its own copy of the block.
      CopyDataStruct copy{sent.copyDataTag, static_cast<uint32_t>(sent.copyData.size()),
                          sent.copyData.empty() ? nullptr : sent.copyData.data()};
      result = record->proc(sent.window, sent.message, sent.wParam, reinterpret_cast<LParam>(&copy));
    } else {
      result = record->proc(sent.window, sent.message, sent.wParam, sent.lParam);
    }
  }
  sent.reply->answer(result);
}

}  // namespace

std::optional<CopyDataView> readCopyData(LParam lParam) {
  CopyDataView view;
  // No record at all is refused as Windows refuses it: a receiver's
  // procedure reads the record without looking for null.
  if (lParam == 0) return std::nullopt;
  const auto* record = reinterpret_cast<const CopyDataStruct*>(lParam);
  if (record->cbData > 0 && record->lpData == nullptr) return std::nullopt;
  if (record->cbData > kMaximumCopyData) return std::nullopt;
  view.present = true;
  view.tag = record->dwData;
  view.bytes = std::span<const std::byte>(static_cast<const std::byte*>(record->lpData), record->cbData);
  return view;
}

std::unique_ptr<ReplyTarget> makeLocalReply(std::shared_ptr<LocalReplyState> state) {
  return std::make_unique<LocalReply>(std::move(state));
}

size_t handleSentMessages(MessageQueue& queue) {
  size_t count = 0;
  while (auto sent = queue.takeSent()) {
    handleOne(queue, *sent);
    ++count;
  }
  return count;
}

}  // namespace platform::wnd
