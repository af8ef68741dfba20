#pragma once
// The running link of the control process behind its hidden window: the
// receive thread CommWatch, outbound client blocks, the timers, closing and
// release. Opening (configuration, link name, connecting) is
// link_opening.h's; the protocol is a sans-IO LinkProtocol core (the LAN's
// LanLink) over a LinkTransport (LanTransport), and this class is the
// LinkHost between them and the rest of the process: it turns the core's
// bytes into transport sends, its blocks and reports into VNL2D32 calls and
// its timer requests into window timers. Every way out of the link ends in
// release, WM_DESTROY, VNL2_LinkInfo kind 0 and the end of the process.
//
// Two threads: the window thread (window messages, timers, outbound data)
// and CommWatch (receive, frame handling). The core is entered only under
// the link lock; the link state itself is read without it. CommWatch may
// hold the lock through a send that blocks on a peer which takes no bytes
// (a keep-alive echo); the window thread then still ends the link: WM_CLOSE
// needs no lock to close the transport, and once such a send has lasted a
// whole keep-alive supervision period the window thread closes the
// transport itself, which fails the send and frees the lock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/control/client_library.h"
#include "link/control/held_blocks.h"
#include "link/control/link_lock.h"
#include "link/control/link_name.h"
#include "link/control/link_protocol.h"
#include "link/control/link_state.h"
#include "platform/thread.h"
#include "platform/window.h"

class LinkController final : private LinkHost {
 public:
  explicit LinkController(ClientLibrary& library);
  ~LinkController() override;
  LinkController(const LinkController&) = delete;
  LinkController& operator=(const LinkController&) = delete;

  // WM_CREATE: records the window and opens the link. False when the link
  // could not be opened (the window is then not to be created).
  bool OnCreate(platform::WindowHandle window, const std::string& linkName);
  // WM_CLOSE: takes the link down.
  void OnClose();
  // WM_COPYDATA: an outbound block or a request to repeat the service request.
  platform::LResult OnCopyData(const platform::CopyDataStruct& record);
  // WM_TIMER.
  void OnTimer(uintptr_t id);
  // WM_DESTROY: closes the transport, waits up to 3000 ms for the receive
  // thread and reports the link down. False when the receive thread was
  // still running; the process must then end without waiting for it.
  // Only the first call acts.
  bool OnDestroy();

  uint16_t linkState() const { return linkState_.load(); }

  // Why the link could not be used, for a person: a link name that was
  // refused, a transport this build lacks, an exchange that cannot be
  // reached, a Link that selects no transport (that link is released at
  // once). Empty while nothing went wrong. Read on the window thread.
  const std::string& startFailure() const { return startFailure_; }

 private:
  bool OpenConnection(const std::string& linkName);
  // Keeps the transport (WM_DESTROY closes it, also one whose open failed).
  // A failed open is reported (VNL2_LinkInfo kind 18, the log, the reason)
  // and gives false.
  bool KeepTransport(std::unique_ptr<LinkTransport> transport, bool opened, std::string failure,
                     const std::string& link);
  // Records why the start failed and writes it to the link log.
  void StartFailed(std::string reason);
  void CommWatch();
  int ReceiveConnection(uint8_t* buffer, size_t capacity);
  int SendConnection(const uint8_t* data, size_t count);
  bool SendServiceRequest();
  void RepeatServiceRequest();
  void CloseTransport();
  void LogStateChange();
  void RetryHeldBlocks();
  // Takes the link lock on the window thread; see the note above.
  void LockLink(std::unique_lock<LinkLock>& lock);

  // LinkHost
  bool SendBytes(const uint8_t* data, size_t count) override;
  int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) override;
  void ReportLink(uint32_t kind) override;
  void StartTimer(uintptr_t id, uint32_t periodMs) override;
  void StopTimer(uintptr_t id) override;
  uint16_t LinkState() const override { return linkState_.load(); }
  void CloseLink() override;
  void FrameHandled() override;
  void SetLinkState(uint16_t state) override { linkState_ = state; }
  void Release() override;
  bool SetLineSpeed(const char* speedText) override;
  void Pause(uint32_t ms) override;

  ClientLibrary& library_;
  // Received blocks a client's full queue could not take yet; under the link
  // lock, retried on every received block and on kTimerHeldBlocks.
  HeldBlocks held_{library_};
  Transport kind_ = Transport::None;
  std::atomic<uint16_t> linkState_{kLinkRequestingService};
  uint16_t retryCount_ = 0;
  uint16_t lastLoggedState_ = 0;
  platform::WindowHandle window_ = nullptr;
  LinkLock linkLock_;
  // A send in progress (CommWatch's or the window thread's) and the tick it
  // began at; the period of the keep-alive supervision once it ran (0: never).
  std::atomic<bool> sending_{false};
  std::atomic<uint32_t> sendingSince_{0};
  std::atomic<uint32_t> keepAlivePeriodMs_{0};
  bool stallClosed_ = false;  // the window thread closed the transport under a stalled send
  // Set on the window thread before the receive thread starts, kept until
  // the end: the transport (also when its open failed, for the close of
  // WM_DESTROY) and its protocol core (only while the link runs).
  std::unique_ptr<LinkTransport> transport_;
  std::unique_ptr<LinkProtocol> protocol_;
  platform::Thread commWatch_;
  bool destroyed_ = false;
  std::string startFailure_;
};
