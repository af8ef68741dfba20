#include "link/control/usb_transport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "link/common/link_log.h"
#include "platform/device_wire.h"
#include "platform/win_error.h"

namespace {

// How long a close waits for the write and the read in progress to end.
constexpr std::chrono::milliseconds kCloseWait{3000};
constexpr int kDeviceCount = 10;

// A length as a request takes it; one above the limit is refused by the device.
uint32_t RequestLength(size_t count) {
  return static_cast<uint32_t>(std::min<size_t>(count, platform::kDeviceMaxTransfer + 1));
}

}  // namespace

UsbTransport::~UsbTransport() { Release(); }

int UsbTransport::Open(const char* linkName) {
  LinkLog(kLogDetail, "OpenUsb(%s)", linkName ? linkName : "");
  if (!IsClosed()) return 0;
  char name[16] = "";
  long error = platform::kErrorFileNotFound;
  for (int n = 0; n < kDeviceCount; ++n) {
    std::snprintf(name, sizeof name, "\\\\.\\VNLUSB%d", n);
    LinkLog(kLogDetail, "CreateFile(%s)", name);
    error = device_.open(name);
    if (error != platform::kErrorSuccess) continue;
    {
      std::lock_guard guard(mutex_);
      open_ = true;
      events_ = true;
    }
    LinkLog(kLogTrace, "Vnl2Usb: CreateFile(%s) Handle %lx, err=%ld", name, device_.handleValue(), 0L);
    return 1;
  }
  LinkLog(kLogError, "Vnl2Usb: CreateFile(%s) failed, err=%ld", name, error);
  lastError_ = error;
  return 0;
}

int UsbTransport::Send(const uint8_t* data, size_t count) {
  LinkLog(kLogDetail, "SendUsb(0x%x,%i) 0x%x", LinkLogPointer(data), static_cast<int>(count),
          data && count ? data[0] : 0u);
  std::unique_lock lock(mutex_);
  if (!events_) {
    LinkLog(kLogError, "SendUsb() - Invalid Eventhandle !");
    return 0;
  }
  idle_.wait(lock, [this] { return !writing_; });
  if (!open_ || !data || count == 0) return 0;
  writing_ = true;
  lock.unlock();
  uint32_t written = 0;
  const long status =
      device_.control(platform::kDeviceWriteBlock, data, RequestLength(count), nullptr, 0, &written);
  lock.lock();
  writing_ = false;
  idle_.notify_all();
  bool closeDevice = false;
  if (status != platform::kErrorSuccess) {
    written = 0;
    LinkLog(kLogError, "SendUsb() - failed Errorcode:%i!", static_cast<int>(status));
    if (open_) LinkLog(kLogError, "SendUsb() - returned Errorcode:%i!", static_cast<int>(status));
    closeDevice = open_;
  } else if (written == 0) {
    LinkLog(kLogError, "SendUsb() - returned Errorcode:%i!", 0);
    closeDevice = open_;
  }
  lock.unlock();
  if (closeDevice) Close();
  LinkLog(kLogDetail, "SendUsb executed, %i Bytes written", static_cast<int>(written));
  return static_cast<int>(written);
}

int UsbTransport::Receive(uint8_t* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return 0;
  for (;;) {
    const int count = ReceiveUsb(buffer, capacity);
    if (count > 0 || IsClosed()) return count;
  }
}

int UsbTransport::ReceiveUsb(uint8_t* buffer, size_t capacity) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !reading_; });
  if (!open_) return 0;
  reading_ = true;
  lock.unlock();
  uint32_t got = 0;
  // The driver ignores a read's input: none is sent.
  const long status = device_.control(platform::kDeviceReadBlock, nullptr, 0, buffer, RequestLength(capacity), &got);
  lock.lock();
  reading_ = false;
  idle_.notify_all();
  // Ended by our own close (the handle already marked closed): nothing to report.
  const bool closeDevice = status != platform::kErrorSuccess && open_;
  if (status != platform::kErrorSuccess) got = 0;
  lock.unlock();
  if (closeDevice) {
    LinkLog(kLogError, "ReceiveUsb() - returned Errorcode:%i!", static_cast<int>(status));
    Close();
  }
  LinkLog(kLogDetail, "ReceiveUsb executed, %i Bytes read", static_cast<int>(got));
  return static_cast<int>(got);
}

void UsbTransport::Close() {
  std::unique_lock lock(mutex_);
  if (open_) {
    open_ = false;
    lock.unlock();
    device_.close();  // ends the pending requests at once
    lock.lock();
    idle_.wait_for(lock, kCloseWait, [this] { return !writing_ && !reading_; });
    events_ = false;
  }
  lock.unlock();
  LinkLog(kLogDetail, "CloseUsb successfull");
}

void UsbTransport::Release() {
  {
    std::lock_guard guard(mutex_);
    open_ = false;
    events_ = false;
  }
  device_.close();
}

bool UsbTransport::IsClosed() const {
  std::lock_guard guard(mutex_);
  return !open_;
}
