#pragma once
// The LAN transport of the control process: a TCP connection to the
// exchange that is itself the link. Client blocks travel in tagged frames;
// the exchange's keep-alive frames are echoed, and a connection that falls
// silent is dropped by the keep-alive supervision.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/control/keepalive_supervision.h"
#include "link/control/tagged_frame_reassembler.h"
#include "platform/tcp_socket.h"

// What the LAN transport needs from the rest of the control process.
class LanLinkHost {
 public:
  virtual ~LanLinkHost() = default;
  // Queues a received block for a service (VNL2_CopyRecData): 1 queued.
  virtual int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) = 0;
  // (Re)starts the one-shot keep-alive supervision timer.
  virtual void RestartKeepAliveTimer(uint32_t periodMs) = 0;
};

class LanLink {
 public:
  LanLink(LanLinkHost& host, KeepAliveSupervision supervision);
  ~LanLink();
  LanLink(const LanLink&) = delete;
  LanLink& operator=(const LanLink&) = delete;

  // Connects to a dotted IPv4 address: 1 connected, 0 failed (with the
  // socket error number in *error when given).
  int OpenSocket(const char* address, uint16_t port, int* error = nullptr);
  // Shuts the connection down in both directions: later sends fail, and a
  // receive blocked in another thread returns. The socket itself is freed by
  // ReleaseSocket once no thread can be using it. Returns 1.
  int CloseSocket();
  void ReleaseSocket();

  // One send of count bytes: the count, 0 on failure.
  int SendSocket(const uint8_t* data, size_t count);
  // One receive of up to capacity bytes: their number, 0 on close or failure.
  int ReceiveSocket(uint8_t* buffer, size_t capacity);
  // Raw bytes out, with the hex dump "SendConnection():": 1 when all went.
  int SendConnection(const uint8_t* data, size_t count);
  // One tagged frame around data: 1 sent, 0 failed.
  int SendSocketFrame(const uint8_t* data, size_t length);

  // Reassembly of received bytes (see TaggedFrameReassembler).
  bool CheckSocketFrame(std::vector<uint8_t>& frame, const uint8_t* bytes, size_t count);
  void EndOfStream();
  // A received frame: keep-alive frames are echoed, any other block is
  // handed to the telephony service. 1 handled, 0 failed.
  int ProcessSocketFrame(const std::vector<uint8_t>* frame);

  // An outbound client block (WM_COPYDATA): sent as one tagged frame, and
  // the supervision restarted when keep-alive is on.
  void SendClientBlock(const void* data, uint32_t length);
  // The supervision timer ran out: true when the link is to be closed.
  bool OnKeepAliveTimeout(uint16_t linkState);

  const KeepAliveSupervision& supervision() const { return supervision_; }

 private:
  LanLinkHost& host_;
  KeepAliveSupervision supervision_;
  TaggedFrameReassembler reassembler_;
  platform::TcpSocket socket_;
  // Frames are sent from the window thread (client blocks) and the receive
  // thread (keep-alive echoes). A send that the system splits is continued,
  // so one frame's bytes must not interleave with another's: one send at a
  // time. The lock also orders sends against the shut-down.
  std::mutex sendLock_;
  bool open_ = false;
  bool shutDown_ = false;  // CloseSocket was called: the end of the stream is ours
};
