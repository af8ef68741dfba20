#pragma once
// The provider's narrow view of its link to the exchange: binding the
// layer-2 library with its link interface thread, and the link operations
// the configuration dialog can ask for. The provider's start-up and the
// dialog requests go through this interface only, so that tests can put a
// double in its place.
#include <cstdint>

class ScopedLock;

namespace kvarsp {

// Status codes of a failed load.
constexpr uint32_t kLinkLoadThreadFailed = 28;   // events or the link interface thread
constexpr uint32_t kLinkLoadLibraryFailed = 29;  // "VNLSOCK.DLL" did not load
constexpr uint32_t kLinkLoadEntryMissing = 30;   // an entry point is missing

class LinkInterface {
 public:
  virtual ~LinkInterface() = default;

  // Binds the layer-2 library and starts the link interface thread, or
  // counts one more user. 0 on success, else a system error code; *status
  // receives 0 or one of the status codes above.
  virtual int Load(uint32_t* status) = 0;
  // Undoes one Load; the last one stops the thread and unbinds. 0 or a system error code.
  virtual int Unload() = 0;

  // The link operations with the exchange. They run with the provider lock
  // taken through `providerLock` and hand it back while they wait. Each
  // returns 0 or its result code.
  virtual int LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) = 0;
  virtual int LinkEnd(ScopedLock& providerLock) = 0;
  virtual int GetAddressList(ScopedLock& providerLock) = 0;
};

}  // namespace kvarsp
