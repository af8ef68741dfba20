#pragma once
// The provider's layer-2 connection as the protocol client uses it, and what
// the link interface thread reports to the client. Layer2Binding is the real
// one (the VNL2 API through "VNLSOCK.DLL", with the link interface thread);
// component tests put an in-process link to a simulated exchange in its place.
#include <cstddef>
#include <cstdint>

#include "provider/vnl/vnl_link.h"

class CCritSec;

namespace kvarsp {

// Called on the link interface thread, each with the provider lock held.
class Layer2Events {
 public:
  virtual ~Layer2Events() = default;
  // The 500 ms tick: time-outs, ring repetition, no-answer, blind-transfer wait, setup watch.
  virtual void OnLayer2Tick() = 0;
  // One received message (its raw trace line is already written).
  virtual void OnLayer2Message(const uint8_t* bytes, size_t count) = 0;
  // Layer 2 reported the link lost (the connection is already closed).
  virtual void OnLayer2Disconnect() = 0;
};

class Layer2 : public VnlLink {
 public:
  // Where the link interface thread takes the provider lock (by trying it,
  // never blocking) and whom it reports to. Set before the first Load.
  virtual void Attach(CCritSec& providerLock, Layer2Events& events) = 0;

  // Counted binding with the link interface thread; see LinkInterface.
  virtual int Load(uint32_t* status) = 0;
  virtual int Unload() = 0;

  // Opens the provider's connection (service 32) with notifications to the
  // link interface thread: 0, or -1 with its trace line.
  virtual int OpenConnection() = 0;
  // Closes the connection if it is open.
  virtual void CloseConnection() = 0;
  // Loaded, connected, and layer 2 reports service 32 open.
  virtual bool LinkUp() = 0;
};

}  // namespace kvarsp
