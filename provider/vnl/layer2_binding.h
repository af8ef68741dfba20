#pragma once
// The real layer 2: the thread and I/O wrapper around the protocol client.
// "VNLSOCK.DLL" is loaded by name and the six VNL2 entries the provider uses
// are bound (link/api/vnl2_entry_table.h); the link interface thread runs a
// hidden window of class "__KvarSpWndClass__" that receives the library's
// notifications and a 500 ms timer.
//
// In: the library's notifications (data waiting, link lost) and the timer,
// on the link interface thread; the client's blocks to send, on the caller's
// thread. Out: Layer2Events (tick, one call per received message, link loss),
// each called on the link interface thread with the provider lock held, and
// VNL2_SendData under the link lock.
//
// Threads and locks: the link lock guards the binding and the connection;
// the thread takes it only to read received blocks. Loads are counted; the
// last Unload (or UnloadAll when the plug-in goes) stops the thread and
// unbinds. The thread never blocks on the provider lock: it tries it, waits
// for the holder's release (at most 10 ms between tries) and gives up when
// its stop event is set, so that an unload that holds the provider lock while
// it waits for the thread cannot deadlock; an unload hands the link lock back
// while it waits. A message
// read while the thread is being stopped is dropped, never dispatched.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "common/sync.h"
#include "link/api/vnl2_entry_table.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "platform/window.h"
#include "provider/link_interface.h"
#include "provider/vnl/layer2.h"

namespace kvarsp {

class Layer2Binding : public Layer2 {
 public:
  static constexpr uint32_t kTickMs = 500;
  static constexpr uint32_t kLockRetryMs = 10;
  // While received blocks wait for the provider lock, the library's queue is
  // read this often: its 16 blocks last longer than that at full load.
  static constexpr uint32_t kReadAheadMs = 1;
  static constexpr size_t kMaxHeldBlocks = 1024;

  Layer2Binding() = default;
  ~Layer2Binding() override;

  void Attach(CCritSec& providerLock, Layer2Events& events) override;

  // iVnlIntfLoad / iVnlIntfUnload. A load that only counts one more user
  // returns 0 and leaves *status at kLinkLoadThreadFailed, as every load
  // sets it first.
  int Load(uint32_t* status) override;
  int Unload() override;
  // Stops the thread and unbinds whatever the load count: for the plug-in's
  // unload, before what the thread reports to is destroyed. Takes no lock
  // (it runs under the module loader's lock, which Load takes inside the
  // link lock).
  void UnloadAll();

  // iVnlIntfOpenConnection / vVnlIntfCloseConnection / bVnlIntfLinkUp.
  int OpenConnection() override;
  void CloseConnection() override;
  bool LinkUp() override;

  // Sends one built message on service 32 under the link lock, after its
  // raw protocol-trace line; only while the library is bound and the
  // connection is open.
  bool SendBlock(std::span<const uint8_t> message) override;

 private:
  static platform::LResult WindowProcedure(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                                           platform::LParam lParam);
  void ThreadMain();
  int RunThread();    // the thread's exit code
  void CloseWindow();  // undoes the thread's window, timer and class
  void Release();   // undoes everything a load made
  // Runs fn with the provider lock taken by trying it; false (fn not run)
  // when the stop event was set first. While it waits for the lock, it runs
  // betweenTries every retryMs at the latest.
  template <typename Fn>
  bool WithProviderLock(Fn&& fn, uint32_t retryMs = kLockRetryMs, const std::function<void()>& betweenTries = {});
  void OnTimer();
  void OnDataWaiting();
  // Moves the blocks waiting in the library's receive queue to held_ (up to
  // kMaxHeldBlocks), so that the queue, which drops what does not fit, is
  // emptied also while the provider lock is busy.
  void ReadWaitingBlocks();
  void OnDisconnected();

  CCritSec linkLock_;
  CCritSec* providerLock_ = nullptr;
  Layer2Events* events_ = nullptr;
  int loadCount_ = 0;
  bool connected_ = false;
  std::atomic<uint32_t> notificationMessage_{0};
  platform::ModuleHandle library_ = nullptr;
  vnl2::Entries api_;
  std::unique_ptr<platform::Event> readyEvent_;
  std::unique_ptr<platform::Event> stopEvent_;
  std::unique_ptr<platform::Thread> thread_;
  int threadExitCode_ = 0;
  platform::WindowHandle window_ = nullptr;
  std::vector<uint8_t> receiveBuffer_;         // link interface thread only
  std::deque<std::vector<uint8_t>> held_;      // read, not yet dispatched; link interface thread only
};

}  // namespace kvarsp
