#include "link/control/serial_transport.h"

#include <cstring>

#include "link/common/link_log.h"
#include "platform/thread.h"
#include "platform/win_error.h"

namespace {

// How long DTR and RTS are up before DSR is read.
constexpr uint32_t kDsrSettleMs = 50;

struct SpeedText {
  const char* text;
  uint32_t baud;
};
constexpr SpeedText kSpeedTexts[] = {{"1200", 1200},   {"2400", 2400},   {"4800", 4800},   {"9600", 9600},
                                     {"19200", 19200}, {"38400", 38400}, {"57600", 57600}, {"115200", 115200}};

}  // namespace

SerialTransport::~SerialTransport() { Release(); }

uint32_t SerialTransport::SpeedOf(const char* speedText) {
  if (!speedText) return 0;
  for (const SpeedText& speed : kSpeedTexts)
    if (std::strcmp(speedText, speed.text) == 0) return speed.baud;
  return 0;
}

int SerialTransport::Open(const char* portName, const char* speedText, bool controlLines) {
  if (!IsClosed()) return 0;
  const char* name = portName ? portName : "";
  long error = port_.open(name);
  if (error != platform::kErrorSuccess) {
    LinkLog(kLogError, "Vnl2com: CreateFile(%s) failed, err=%ld", name, error);
    lastError_ = error;
    return 0;
  }
  LinkLog(kLogError, "Vnl2com: CreateFile(%s) Handle %lx, err=%ld", name, port_.handleValue(), 0L);
  error = port_.configure(SpeedOf(speedText));
  if (error != platform::kErrorSuccess) LinkLog(kLogError, "Vnl2Com: SetCommState failed, err=%ld", error);
  if (controlLines) {
    port_.setDtr(true);
    port_.setRts(true);
    platform::sleepMs(kDsrSettleMs);
    if (!port_.dsr()) {
      LinkLog(kLogError, "Vnl2Com: DSR Check failed, err=%ld", 0L);
      port_.setRts(false);
      port_.setDtr(false);
      port_.close();
      lastError_ = kSerialDsrMissing;
      return 0;
    }
  } else {
    port_.setRts(false);
    port_.setDtr(false);
  }
  LinkLog(kLogDetail, "OpenV24 successfull");
  return 1;
}

int SerialTransport::Reconfigure(const char* speedText) {
  if (!port_.isOpen()) return 0;
  LinkLog(kLogTrace, "InitV24(%s)", speedText ? speedText : "");
  long error = port_.configure(SpeedOf(speedText));
  if (error != platform::kErrorSuccess) LinkLog(kLogError, "Vnl2Com: SetCommState failed, err=%ld", error);
  return 1;
}

int SerialTransport::Send(const uint8_t* data, size_t count) {
  if (!data || count == 0) return 0;
  LinkLog(kLogDetail, "SendV24 %ld %X", static_cast<long>(count), data[0]);
  long error = port_.write(data, count);
  if (error != platform::kErrorSuccess) {
    LinkLog(kLogError, "Vnl2com: WriteFile failed, err=%ld", error);
    return 0;
  }
  LinkLog(kLogDetail, "SendV24 executed");
  return static_cast<int>(count);
}

int SerialTransport::Receive(uint8_t* buffer, size_t capacity) {
  LinkLog(kLogDetail, "ReceiveV24 %x,%i", LinkLogPointer(buffer), static_cast<int>(capacity));
  if (!buffer || capacity == 0 || !port_.isOpen()) return 0;
  long error = 0;
  long count = port_.receive(buffer, capacity, &error);
  // Woken by our own close: nothing to report.
  if (count == 0 && error == platform::kErrorSuccess) return 0;
  LinkLog(kLogDetail, "TAC");
  if (count == 0) LinkLog(kLogDetail, "ReadV24 failed !");
  LinkLog(kLogDetail, "ReadV24 %i", static_cast<int>(count));
  return static_cast<int>(count);
}

void SerialTransport::Close() {
  long error = port_.close();
  if (error != platform::kErrorSuccess) {
    LinkLog(kLogError, "Vnl2com: CloseHandle failed, err=%ld", error);
    return;
  }
  LinkLog(kLogDetail, "CloseV24 successfull");
}

void SerialTransport::Release() { port_.close(); }

bool SerialTransport::IsClosed() const { return !port_.isOpen() || port_.hungUp(); }
