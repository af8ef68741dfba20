#include "provider/vnl/layer2_binding.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/win_error.h"
#include "provider/trace.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace kvarsp {
namespace {

constexpr uint32_t kProviderService = 0x20;
constexpr char kWindowClass[] = "__KvarSpWndClass__";
constexpr uintptr_t kTickTimerId = 1;
constexpr int kThreadCreateFailed = static_cast<int>(platform::kErrorNoSystemResources);

// The window procedure finds its binding here. Window classes are per
// process and this one can be registered once, so one binding at a time
// runs a link interface thread.
std::atomic<Layer2Binding*> threadOwner{nullptr};

}  // namespace

Layer2Binding::~Layer2Binding() { UnloadAll(); }

void Layer2Binding::UnloadAll() {
  if (loadCount_ == 0) return;
  loadCount_ = 0;
  stopEvent_->set();
  thread_->join();
  Release();
}

void Layer2Binding::Attach(CCritSec& providerLock, Layer2Events& events) {
  providerLock_ = &providerLock;
  events_ = &events;
}

int Layer2Binding::Load(uint32_t* status) {
  if (!status) return static_cast<int>(platform::kErrorInvalidParameter);
  ScopedLock lock(&linkLock_);
  *status = kLinkLoadThreadFailed;
  if (loadCount_ > 0) {
    ++loadCount_;
    return 0;
  }

  library_ = platform::loadLibrary("VNLSOCK.DLL");
  if (!library_) {
    *status = kLinkLoadLibraryFailed;
    traceTapi("Cannot load VNLSOCK.DLL: %s", platform::lastModuleError().c_str());
    return static_cast<int>(platform::kErrorModNotFound);
  }
  if (vnl2::Bind(library_, vnl2::kProviderEntries, api_)) {
    *status = kLinkLoadEntryMissing;
    Release();
    return static_cast<int>(platform::kErrorProcNotFound);
  }

  try {
    readyEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
    stopEvent_ = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
    thread_ = std::make_unique<platform::Thread>();
    threadExitCode_ = 0;
    if (!thread_->start([this] { ThreadMain(); }, "VnlLinkIntf")) {
      Release();
      return kThreadCreateFailed;
    }
  } catch (const std::bad_alloc&) {
    Release();
    return kThreadCreateFailed;
  }
  uint32_t woke = platform::waitForMultiple({readyEvent_.get(), &thread_->handle()}, false, platform::kInfinite);
  if (woke != platform::kWaitObject0) {
    // The thread ended before it was ready (or the wait failed).
    stopEvent_->set();
    thread_->join();
    const int code = woke == platform::kWaitObject0 + 1 && threadExitCode_ != 0 ? threadExitCode_ : kThreadCreateFailed;
    Release();
    return code;
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
  // The thread takes the link lock to read received blocks, so it is waited
  // for with the link lock handed back.
  lock.Unlock();
  const bool ended = thread_->join();
  lock.Lock();
  if (!ended) traceTapi("VNL Layer 2 Interface Thread kann nicht beendet werden");
  Release();
  return 0;
}

int Layer2Binding::OpenConnection() {
  ScopedLock lock(&linkLock_);
  if (!library_ || loadCount_ == 0) {
    traceVnl("iVnlIntfOpenConnection() - No connection to Layer 2-DLL");
    return -1;
  }
  if (connected_) {
    traceVnl("iVnlIntfOpenConnection() - Already connected");
    return -1;
  }
  if (api_.openConnection(kProviderService) == 0) {
    traceVnl("iVnlIntfOpenConnection() - Error in VNL2_OpenConnection()");
    return -1;
  }
  connected_ = true;
  const int32_t message = api_.enableNotification(kProviderService, window_);
  if (message == 0) {
    traceVnl("iVnlIntfOpenConnection() - Error in VNL2_EnableNotification()");
    api_.closeConnection(kProviderService);
    connected_ = false;
    return -1;
  }
  notificationMessage_ = static_cast<uint32_t>(message);
  return 0;
}

void Layer2Binding::CloseConnection() {
  ScopedLock lock(&linkLock_);
  if (!connected_) return;
  if (api_.closeConnection) api_.closeConnection(kProviderService);
  connected_ = false;
}

bool Layer2Binding::LinkUp() {
  ScopedLock lock(&linkLock_);
  if (!library_ || !connected_ || !api_.getState) return false;
  VNL2_STATE state{};
  api_.getState(kProviderService, &state);
  return state.State == 1;
}

bool Layer2Binding::SendBlock(std::span<const uint8_t> message) {
  ScopedLock lock(&linkLock_);
  if (!library_ || !api_.sendData || !connected_) return false;
  if (VnlTraceOn()) traceVnl("%s", vnl::RawTraceLine(true, message).c_str());
  return api_.sendData(kProviderService, message.data(), static_cast<uint32_t>(message.size())) != 0;
}

void Layer2Binding::Release() {
  if (connected_ && api_.closeConnection) api_.closeConnection(kProviderService);
  connected_ = false;
  notificationMessage_ = 0;
  api_ = {};
  if (library_) platform::freeLibrary(library_);
  library_ = nullptr;
  thread_.reset();
  readyEvent_.reset();
  stopEvent_.reset();
}

// --- The link interface thread ---------------------------------------------

void Layer2Binding::ThreadMain() {
  try {
    threadExitCode_ = RunThread();
  } catch (const std::bad_alloc&) {
    // Out of memory in the thread's set-up or loop: it ends as a thread that
    // could not run, with what it set up undone.
    if (threadOwner.load() == this) CloseWindow();
    threadExitCode_ = kThreadCreateFailed;
  }
}

int Layer2Binding::RunThread() {
  traceTapi("VNL Layer 2 Interface Thread started");
  Layer2Binding* expected = nullptr;
  if (!threadOwner.compare_exchange_strong(expected, this) || !platform::registerClass(kWindowClass, WindowProcedure)) {
    if (expected == nullptr) threadOwner = nullptr;
    traceTapi("VNL Layer 2 Interface Thread: Fensterklasse kann nicht registriert werden");
    return static_cast<int>(platform::kErrorClassAlreadyExists);
  }
  window_ = platform::createWindow(kWindowClass);
  if (!window_) {
    traceTapi("VNL Layer 2 Interface Thread: Hintergrundfenster kann nicht erstellt werden");
    CloseWindow();
    return static_cast<int>(platform::kErrorInvalidWindowHandle);
  }
  if (platform::setTimer(window_, kTickTimerId, kTickMs) == 0) {
    traceTapi("VNL Layer 2 Interface Thread: Timer kann nicht erstellt werden");
    CloseWindow();
    return static_cast<int>(platform::kErrorNoSystemResources);
  }
  readyEvent_->set();

  platform::Waitable* stop = stopEvent_.get();
  for (;;) {
    const uint32_t woke = platform::msgWaitForMultiple({&stop, 1}, platform::kInfinite);
    if (woke == platform::kWaitObject0 || woke == platform::kWaitFailed) break;
    platform::Message message;
    while (platform::peekMessage(message)) platform::dispatchMessage(message);
  }

  CloseWindow();
  traceTapi("VNL Layer 2 Interface Thread finished");
  return 0;
}

void Layer2Binding::CloseWindow() {
  if (window_) {
    platform::killTimer(window_, kTickTimerId);
    platform::destroyWindow(window_);
  }
  window_ = nullptr;
  platform::unregisterClass(kWindowClass);
  threadOwner = nullptr;
}

template <typename Fn>
bool Layer2Binding::WithProviderLock(Fn&& fn, uint32_t retryMs, const std::function<void()>& betweenTries) {
  if (!providerLock_ || !events_) return false;
  if (!providerLock_->TryLockUntil(*stopEvent_, retryMs, betweenTries)) return false;
  // Out of memory while handling one event drops that event; the thread
  // and the provider lock survive it.
  try {
    fn();
  } catch (const std::bad_alloc&) {
  }
  providerLock_->Unlock();
  return true;
}

platform::LResult Layer2Binding::WindowProcedure(platform::WindowHandle window, uint32_t message,
                                                 platform::WParam wParam, platform::LParam lParam) {
  Layer2Binding* self = threadOwner.load();
  if (self && message == platform::kWmTimer && wParam == kTickTimerId) {
    self->OnTimer();
    return 0;
  }
  if (self && message != 0 && message == self->notificationMessage_.load()) {
    if (lParam == VNL2_DATA_IND) self->OnDataWaiting();
    if (lParam == VNL2_DISCONNECT_IND) self->OnDisconnected();
    return 0;
  }
  return platform::defWindowProc(window, message, wParam, lParam);
}

void Layer2Binding::OnTimer() {
  WithProviderLock([this] { events_->OnLayer2Tick(); });
}

void Layer2Binding::ReadWaitingBlocks() {
  try {
    if (receiveBuffer_.size() != vnl::kMaxMessage) receiveBuffer_.resize(vnl::kMaxMessage);
    while (held_.size() < kMaxHeldBlocks) {
      int32_t length = 0;
      {
        ScopedLock lock(&linkLock_);
        if (!api_.receiveData || !connected_) return;
        length = api_.receiveData(kProviderService, receiveBuffer_.data(), static_cast<uint32_t>(receiveBuffer_.size()));
      }
      if (length <= 0) return;
      const size_t count = std::min(static_cast<size_t>(length), receiveBuffer_.size());
      held_.emplace_back(receiveBuffer_.begin(), receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
    }
  } catch (const std::bad_alloc&) {
    // What was read stays held; the rest waits in the library's queue.
  }
}

void Layer2Binding::OnDataWaiting() {
  const std::function<void()> readAhead = [this] { ReadWaitingBlocks(); };
  ReadWaitingBlocks();
  // Each block is traced and handled in arrival order, the provider lock
  // taken for each one; blocks that arrive meanwhile join the end.
  while (!held_.empty()) {
    std::vector<uint8_t> block = std::move(held_.front());
    held_.pop_front();
    if (VnlTraceOn()) traceVnl("%s", vnl::RawTraceLine(false, block).c_str());
    // A block read while the thread is being stopped is dropped.
    WithProviderLock([&] { events_->OnLayer2Message(block.data(), block.size()); }, kReadAheadMs, readAhead);
    ReadWaitingBlocks();
  }
}

void Layer2Binding::OnDisconnected() {
  traceVnl("VNL2_DISCONNECT_IND");
  WithProviderLock([this] {
    CloseConnection();
    events_->OnLayer2Disconnect();
  });
}

}  // namespace kvarsp
