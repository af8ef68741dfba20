#include "link/control/lan_link.h"

#include "link/api/vnl2_shared_area.h"
#include "link/common/link_log.h"
#include "link/control/link_state.h"
#include "link/control/tagged_frame.h"

LanLink::LanLink(LinkHost& host, KeepAliveSupervision supervision) : host_(host), supervision_(supervision) {}

void LanLink::OnBytes(const uint8_t* bytes, size_t count) {
  bool found = reassembler_.Check(frame_, bytes, count);
  while (found) {
    ProcessSocketFrame(frame_);
    host_.FrameHandled();
    found = reassembler_.Check(frame_, nullptr, 0);
  }
}

void LanLink::OnEndOfStream() { reassembler_.EndOfStream(); }

int LanLink::SendSocketFrame(const uint8_t* data, size_t length) {
  if (!data || length == 0) {
    LinkLog(kLogError, "SendSocketFrame failed - pData or nDatalen 0 !");
    return 0;
  }
  LinkLog(kLogDetail, "SendSocketFrame(0x%x,%i)", LinkLogPointer(data), static_cast<int>(length));
  std::vector<uint8_t> frame = BuildTaggedFrame({data, length});
  if (host_.SendBytes(frame.data(), frame.size())) return 1;
  LinkLog(kLogError, "SendSocketFrame failed !");
  return 0;
}

int LanLink::ProcessSocketFrame(const std::vector<uint8_t>& frame) {
  LinkLog(kLogDetail, "ProcessSocketFrame(0x%x)", LinkLogPointer(&frame));
  KeepAliveSupervision::FrameDecision decision = supervision_.OnFrame(frame);
  if (decision.restartTimer) host_.StartTimer(kTimerKeepAlive, supervision_.periodMs());
  if (decision.keepAlive) {
    LinkLog(kLogDetail, "ProcessSocketFrame Connection-KeepAlive");
    SendSocketFrame(frame.data(), frame.size());
    return 1;
  }
  // An empty frame carries no block: the client's queue would take one of
  // length 0 for an empty queue. Nothing for the client, and no error.
  if (frame.empty()) return 1;
  // The receive buffer holds frames of up to 4097 bytes (keep-alive frames
  // are echoed whole), a client's queue blocks of up to 2048.
  if (frame.size() > kRecBlockData) {
    LinkLog(kLogError, "ProcessSocketFrame failed: block of %u bytes too long !", static_cast<unsigned>(frame.size()));
    return 0;
  }
  if (host_.DeliverBlock(kLanService, frame.data(), static_cast<uint32_t>(frame.size())) != 1) {
    LinkLog(kLogError, "ProcessSocketFrame failed: VNL2_QUEUE_ERROR !");
    return 0;
  }
  return 1;
}

bool LanLink::OnClientBlock(uint32_t /*service*/, const void* data, uint32_t length) {
  // The frame's length field has 16 bits. A longer block cut to fit would
  // reach the exchange as a different, corrupted block; it is not sent.
  bool sent = false;
  if (length > kTaggedFrameMaxData) {
    LinkLog(kLogError, "SendSocketFrame failed - block of %u bytes too long !", length);
  } else {
    sent = SendSocketFrame(static_cast<const uint8_t*>(data), length) == 1;
  }
  if (supervision_.OnClientBlock()) host_.StartTimer(kTimerKeepAlive, supervision_.periodMs());
  return sent;
}

void LanLink::OnTimer(uintptr_t id) {
  if (id != kTimerKeepAlive) return;  // T1 and T3 belong to the frame protocol of the serial and USB links
  LinkLog(kLogError, "Keepalive Timed out!");
  if (supervision_.OnTimeout(host_.LinkState())) host_.CloseLink();
}
