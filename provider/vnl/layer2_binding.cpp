#include "provider/vnl/layer2_binding.h"

#include "platform/win_error.h"
#include "provider/trace.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace kvarsp {
namespace {

constexpr int kLinkThreadStartFailed = 1;  // the thread's own error: it could not be created
constexpr uint32_t kProviderService = 0x20;

}  // namespace

// Runs when the plug-in is unloaded, under the module loader's lock and
// with no other user left, so it takes no lock of its own: the loader lock
// is taken inside the link lock by Load.
Layer2Binding::~Layer2Binding() {
  if (loadCount_ > 0) {
    loadCount_ = 0;
    if (stopEvent_) stopEvent_->set();
    if (thread_) thread_->join();
    Release();
  }
}

int Layer2Binding::Load(uint32_t* status) {
  if (!status) return static_cast<int>(platform::kErrorInvalidParameter);
  ScopedLock lock(&linkLock_);
  *status = kLinkLoadThreadFailed;
  if (loadCount_ > 0) {
    ++loadCount_;
    *status = 0;
    return 0;
  }

  library_ = platform::loadLibrary("VNLSOCK.DLL");
  if (!library_) {
    *status = kLinkLoadLibraryFailed;
    traceTapi("Cannot load VNLSOCK.DLL: %s", platform::lastModuleError().c_str());
    return static_cast<int>(platform::kErrorModNotFound);
  }
  if (!platform::getProcAddress(library_, "VNL2_OpenConnection", api_.openConnection) ||
      !platform::getProcAddress(library_, "VNL2_CloseConnection", api_.closeConnection) ||
      !platform::getProcAddress(library_, "VNL2_SendData", api_.sendData) ||
      !platform::getProcAddress(library_, "VNL2_ReceiveData", api_.receiveData) ||
      !platform::getProcAddress(library_, "VNL2_EnableNotification", api_.enableNotification) ||
      !platform::getProcAddress(library_, "VNL2_GetState", api_.getState)) {
    *status = kLinkLoadEntryMissing;
    Release();
    return static_cast<int>(platform::kErrorProcNotFound);
  }

  readyEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
  stopEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
  thread_ = std::make_unique<platform::Thread>();
  if (!thread_->start([this] { ThreadMain(); }, "VnlLinkIntf")) {
    Release();
    return kLinkThreadStartFailed;
  }
  uint32_t woke = platform::waitForMultiple({readyEvent_.get(), &thread_->handle()}, false, platform::kInfinite);
  if (woke != platform::kWaitObject0) {
    // The thread ended before it was ready (or the wait failed).
    stopEvent_->set();
    thread_->join();
    Release();
    return kLinkThreadStartFailed;
  }
  ++loadCount_;
  *status = 0;
  return 0;
}

int Layer2Binding::Unload() {
  ScopedLock lock(&linkLock_);
  if (loadCount_ == 0) return 0;
  if (--loadCount_ > 0) return 0;
  stopEvent_->set();
  thread_->join();
  Release();
  return 0;
}

bool Layer2Binding::IsLoaded() {
  ScopedLock lock(&linkLock_);
  return loadCount_ > 0;
}

bool Layer2Binding::SendBlock(std::span<const uint8_t> message) {
  ScopedLock lock(&linkLock_);
  if (!library_ || !api_.sendData || !connectionOpen_) return false;
  if (VnlTraceOn()) traceVnl("%s", vnl::RawTraceLine(true, message).c_str());
  return api_.sendData(kProviderService, message.data(), static_cast<uint32_t>(message.size())) != 0;
}

void Layer2Binding::Release() {
  connectionOpen_ = false;
  api_ = {};
  if (library_) platform::freeLibrary(library_);
  library_ = nullptr;
  thread_.reset();
  readyEvent_.reset();
  stopEvent_.reset();
}

void Layer2Binding::ThreadMain() {
  traceTapi("VNL Layer 2 Interface Thread started");
  readyEvent_->set();
  stopEvent_->wait();
  traceTapi("VNL Layer 2 Interface Thread finished");
}

int Layer2Binding::LinkStart(uint8_t, ScopedLock&) { return 1; }

int Layer2Binding::LinkEnd(ScopedLock&) { return 0; }

int Layer2Binding::GetAddressList(ScopedLock&) { return 20; }

}  // namespace kvarsp
