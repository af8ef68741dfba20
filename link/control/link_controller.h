#pragma once
// The link control process's own state and behaviour behind its hidden
// window: opening the link named by the configuration and the command line,
// the receive thread CommWatch, outbound client blocks, the timers, closing
// and release. Every way out of the link ends in release, WM_DESTROY,
// VNL2_LinkInfo kind 0 and the end of the process.
//
// Two threads: the window thread (window messages, timers, outbound data)
// and CommWatch (receive, reassembly, frame handling). The link lock guards
// the protocol state both touch; the link state itself is read without it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/common/link_config.h"
#include "link/control/client_library.h"
#include "link/control/lan_link.h"
#include "link/control/link_name.h"
#include "link/control/link_state.h"
#include "platform/critical_section.h"
#include "platform/thread.h"
#include "platform/window.h"

class LinkController final : private LanLinkHost {
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
  bool OpenLan();
  // Records why the start failed and writes it to the link log.
  void StartFailed(std::string reason);
  void CommWatch();
  int ReceiveConnection(uint8_t* buffer, size_t capacity);
  int SendConnection(const uint8_t* data, size_t count);
  bool SendServiceRequest();
  void RepeatServiceRequest();
  void OnKeepAliveTimeout();
  void CloseTransport();
  void Release();
  void LogStateChange();

  // LanLinkHost
  int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) override;
  void RestartKeepAliveTimer(uint32_t periodMs) override;

  ClientLibrary& library_;
  LinkConfig config_{};
  Transport transport_ = Transport::None;
  std::atomic<uint16_t> linkState_{kLinkRequestingService};
  uint16_t retryCount_ = 0;
  uint16_t lastLoggedState_ = 0;
  platform::WindowHandle window_ = nullptr;
  platform::CriticalSection linkLock_;
  std::unique_ptr<LanLink> lan_;
  platform::Thread commWatch_;
  bool destroyed_ = false;
  std::string startFailure_;
};
