#pragma once
// The LAN link's protocol core (a LinkProtocol, see link_protocol.h): the
// TCP connection itself is the link, and client blocks travel in tagged
// frames. Sans-IO: received bytes, outbound client blocks and the expiry of
// the keep-alive timer go in; tagged frames (to the transport), received
// blocks (all for the telephony service), "frame handled" notes and restarts
// of the one-shot keep-alive timer come out through the LinkHost. With
// keep-alive on, the exchange's keep-alive frames are echoed unchanged, and
// a connection that falls silent with the link up is closed through
// LinkHost::CloseLink. No threads: the host enters it under its link lock.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/control/keepalive_supervision.h"
#include "link/control/link_protocol.h"
#include "link/control/tagged_frame_reassembler.h"

class LanLink final : public LinkProtocol {
 public:
  LanLink(LinkHost& host, KeepAliveSupervision supervision);

  // Reassembles the bytes (CheckSocketFrame) and handles each complete
  // frame (ProcessSocketFrame): keep-alive frames are echoed, any other
  // block of 1 to 2048 bytes is handed to the telephony service; an empty
  // frame is passed over, a longer block refused.
  void OnBytes(const uint8_t* bytes, size_t count) override;
  void OnEndOfStream() override;
  // Sent as one tagged frame whatever the service; the supervision is
  // restarted when keep-alive is on.
  bool OnClientBlock(uint32_t service, const void* data, uint32_t length) override;
  // kTimerKeepAlive: the supervision ran out; the link is closed when it is up.
  void OnTimer(uintptr_t id) override;

  const KeepAliveSupervision& supervision() const { return supervision_; }

 private:
  // One tagged frame around data: 1 sent, 0 failed.
  int SendSocketFrame(const uint8_t* data, size_t length);
  // A received frame: 1 handled, 0 failed.
  int ProcessSocketFrame(const std::vector<uint8_t>& frame);

  LinkHost& host_;
  KeepAliveSupervision supervision_;
  TaggedFrameReassembler reassembler_;
  std::vector<uint8_t> frame_;
};
