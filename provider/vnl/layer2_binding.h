#pragma once
// Binding of the layer-2 interface library: "VNLSOCK.DLL" is loaded by name
// and its six VNL2 entry points are looked up; the link interface thread is
// started and the loader waits until it reports ready. Loads are counted;
// the last unload stops the thread and unbinds the library.
#include <cstdint>
#include <memory>

#include "common/sync.h"
#include "link/api/vnl2_api.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "provider/link_interface.h"
#include "provider/vnl/vnl_link.h"
#include "tapi/tapi_constants.h"

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

class Layer2Binding : public LinkInterface, public VnlLink {
 public:
  Layer2Binding() = default;
  ~Layer2Binding() override;

  int Load(uint32_t* status) override;
  int Unload() override;

  // The link operations with the exchange need the connection and the
  // message exchange, which the binding does not offer yet: a start cannot
  // open the connection (1), an end finds the link not started (0), and an
  // address list finds the link not started (20).
  int LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) override;
  int LinkEnd(ScopedLock& providerLock) override;
  int GetAddressList(ScopedLock& providerLock) override;
  LONG RegisterLine(uint16_t, ScopedLock&) override { return LINEERR_OPERATIONFAILED; }
  LONG UnregisterLine(uint16_t, ScopedLock&) override { return LINEERR_OPERATIONFAILED; }
  LONG GetLineInfo(OpenLine&, uint16_t, ScopedLock&) override { return LINEERR_OPERATIONFAILED; }
  void AbortLineRequests(OpenLine&) override {}

  bool IsLoaded();

  // Sends one built message on service 32 under the link lock, after its
  // raw protocol-trace line; only while the library is bound and the
  // connection is open.
  bool SendBlock(std::span<const uint8_t> message) override;

 private:
  void ThreadMain();
  void Release();  // undoes everything a load made

  CCritSec linkLock_;
  int loadCount_ = 0;
  bool connectionOpen_ = false;  // opened by the link start
  platform::ModuleHandle library_ = nullptr;
  Vnl2Api api_;
  std::unique_ptr<platform::Event> readyEvent_;
  std::unique_ptr<platform::Event> stopEvent_;
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace kvarsp
