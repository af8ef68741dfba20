// The bookkeeping of a SerialPort's state and of the threads inside its
// calls, the same on every system (platform/serial_port.h): a call enters
// with the port's handles, a close waits until every call has left.
#include "platform/serial_port.h"

namespace platform {

bool SerialPort::isOpen() const {
  std::lock_guard guard(mutex_);
  return fd_ >= 0 && !closing_;
}

bool SerialPort::hungUp() const {
  std::lock_guard guard(mutex_);
  return hungUp_;
}

long SerialPort::handleValue() const {
  std::lock_guard guard(mutex_);
  return static_cast<long>(fd_);
}

bool SerialPort::enter(intptr_t* fd, intptr_t* wakeFd) {
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return false;
  ++users_;
  *fd = fd_;
  *wakeFd = wakeFd_;
  return true;
}

void SerialPort::leave() {
  std::lock_guard guard(mutex_);
  if (--users_ == 0) idle_.notify_all();
}

bool SerialPort::closingNow() const {
  std::lock_guard guard(mutex_);
  return closing_;
}

void SerialPort::markHungUp() {
  std::lock_guard guard(mutex_);
  hungUp_ = true;
}

}  // namespace platform
