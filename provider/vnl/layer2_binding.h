#pragma once
// The real layer 2: "VNLSOCK.DLL" is loaded by name and its six VNL2 entry
// points are bound; the link interface thread runs a hidden window of class
// "__KvarSpWndClass__" that receives the library's notifications and a
// 500 ms timer. Loads are counted; the last unload stops the thread and
// unbinds. The provider's connection (service 32) is opened by the link start.
//
// The thread never blocks on the provider lock: it tries it in a loop with
// 10 ms pauses and gives up when its stop event is set, so that an unload
// that holds the provider lock while it waits for the thread cannot deadlock.
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/sync.h"
#include "link/api/vnl2_api.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "platform/window.h"
#include "provider/link_interface.h"
#include "provider/vnl/layer2.h"

namespace kvarsp {

// The six functions of the VNL2 API the provider uses (service 32 always).
struct Vnl2Api {
  Vnl2OpenConnectionFn openConnection = nullptr;
  Vnl2CloseConnectionFn closeConnection = nullptr;
  Vnl2SendDataFn sendData = nullptr;
  Vnl2ReceiveDataFn receiveData = nullptr;
  Vnl2EnableNotificationFn enableNotification = nullptr;
  Vnl2GetStateFn getState = nullptr;
};

class Layer2Binding : public Layer2 {
 public:
  static constexpr uint32_t kTickMs = 500;
  static constexpr uint32_t kLockRetryMs = 10;

  Layer2Binding() = default;
  ~Layer2Binding() override;

  void Attach(CCritSec& providerLock, Layer2Events& events) override;

  // iVnlIntfLoad / iVnlIntfUnload.
  int Load(uint32_t* status) override;
  int Unload() override;

  // iVnlIntfOpenConnection / vVnlIntfCloseConnection / bVnlIntfLinkUp.
  int OpenConnection() override;
  void CloseConnection() override;
  bool LinkUp() override;

  bool IsLoaded();

  // Sends one built message on service 32 under the link lock, after its
  // raw protocol-trace line; only while the library is bound and the
  // connection is open.
  bool SendBlock(std::span<const uint8_t> message) override;

 private:
  static platform::LResult WindowProcedure(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                                           platform::LParam lParam);
  void ThreadMain();
  int RunThread();  // the thread's exit code
  void Release();   // undoes everything a load made
  // Runs fn with the provider lock taken by trying it; false (fn not run)
  // when the stop event was set first.
  template <typename Fn>
  bool WithProviderLock(Fn&& fn);
  void OnTimer();
  void OnDataWaiting();
  void OnDisconnected();

  CCritSec linkLock_;
  CCritSec* providerLock_ = nullptr;
  Layer2Events* events_ = nullptr;
  int loadCount_ = 0;
  bool connected_ = false;
  std::atomic<uint32_t> notificationMessage_{0};
  platform::ModuleHandle library_ = nullptr;
  Vnl2Api api_;
  std::unique_ptr<platform::Event> readyEvent_;
  std::unique_ptr<platform::Event> stopEvent_;
  std::unique_ptr<platform::Thread> thread_;
  int threadExitCode_ = 0;
  platform::WindowHandle window_ = nullptr;
};

}  // namespace kvarsp
