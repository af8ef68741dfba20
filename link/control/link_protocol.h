#pragma once
// The three faces of a running link in the control process, the same for
// every transport:
//
//   LinkTransport  moves bytes: one blocking read, whole sends, a close that
//                  wakes the reader. The LAN's TCP socket (LanTransport);
//                  a serial port or the USB device would be others.
//   LinkProtocol   the protocol core, without I/O, threads or clocks: bytes
//                  the transport read, outbound client blocks and timer
//                  expiries go in. The LAN's tagged frames (LanLink); the
//                  serial frame protocol with its T1 and T3 would be another.
//   LinkHost       everything a core hands out: bytes for the transport,
//                  received blocks for the clients (VNL2_CopyRecData), link
//                  reports (VNL2_LinkInfo), one-shot timer requests, and the
//                  end of the link.
//
// The LinkController is the host: it owns the transport, the receive thread
// and the window's timers, and calls the core with its link lock held, so a
// core is only ever entered by one thread at a time.
#include <cstddef>
#include <cstdint>

class LinkHost {
 public:
  virtual ~LinkHost() = default;
  // Bytes for the transport, in order: true when every byte went.
  virtual bool SendBytes(const uint8_t* data, size_t count) = 0;
  // A received block for a service (VNL2_CopyRecData): 1 queued, else refused.
  virtual int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) = 0;
  // The state of the link for the clients (VNL2_LinkInfo, kinds of link/api/vnl2_api.h).
  virtual void ReportLink(uint32_t kind) = 0;
  // (Re)starts the one-shot timer id (link_state.h); it comes back as
  // LinkProtocol::OnTimer(id) unless stopped first.
  virtual void StartTimer(uintptr_t id, uint32_t periodMs) = 0;
  virtual void StopTimer(uintptr_t id) = 0;
  // The LinkState value (link_state.h).
  virtual uint16_t LinkState() const = 0;
  // Takes the link down: the transport is closed and the link released,
  // which ends the process.
  virtual void CloseLink() = 0;
  // One received frame has been handled (the state log follows each).
  virtual void FrameHandled() = 0;
  // Sets the LinkState value (link_state.h). Only the frame protocol of the
  // serial and USB links moves the state itself; the LAN link's follows
  // the connection.
  virtual void SetLinkState(uint16_t state) = 0;
  // The link is over: state 7 and the end of the process, without closing
  // the transport first (the end of the process closes it).
  virtual void Release() = 0;
  // Serial line only: re-configures the port to the speed an exchange
  // announced ("1200" ... "115200"; InitV24). False when it could not.
  virtual bool SetLineSpeed(const char* speedText) = 0;
  // Waits this long before going on (a frame left to drain from the line
  // before the link is released). Blocks the calling thread.
  virtual void Pause(uint32_t ms) = 0;
};

class LinkProtocol {
 public:
  virtual ~LinkProtocol() = default;
  // The bytes of one read from the transport; every frame they complete is
  // handled before this returns.
  virtual void OnBytes(const uint8_t* bytes, size_t count) = 0;
  // The transport's stream has ended: what is left of a frame is dropped.
  virtual void OnEndOfStream() = 0;
  // An outbound block of a client for a service (WM_COPYDATA). False when
  // the block was refused (longer than a frame carries, the transmit queue
  // full, no memory, the connection gone): it is lost, and the client is
  // told so instead of waiting for an answer that cannot come.
  virtual bool OnClientBlock(uint32_t service, const void* data, uint32_t length) = 0;
  // A timer the core started ran out (ids of other cores are ignored).
  virtual void OnTimer(uintptr_t id) = 0;
  // WM_CLOSE while the link is being set up or is up (LinkState 2, 3 or 4)
  // on a link whose protocol takes it down in order (the serial and USB
  // frame protocol's DISC exchange). The LAN link is closed by its host.
  virtual void OnClose() {}
};

class LinkTransport {
 public:
  virtual ~LinkTransport() = default;
  // One read of up to capacity bytes: their number; 0 when the transport is
  // gone (closed by the peer or by Close, or failed).
  virtual int Receive(uint8_t* buffer, size_t capacity) = 0;
  // count bytes out: the count, 0 on failure.
  virtual int Send(const uint8_t* data, size_t count) = 0;
  // Ends the transport: later sends fail and a Receive blocked in another
  // thread returns. Release frees it once no thread can be using it.
  virtual void Close() = 0;
  virtual void Release() = 0;
};
