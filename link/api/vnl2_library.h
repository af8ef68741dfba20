#pragma once
// What one process holds of VNL2D32: its view of the shared area, the
// cross-process locks that the area itself does not carry, and the control
// process this process started (if any), and the watch of the control
// process while this process has services open.
//
// Lock order: open lock, then area lock, then queue lock. The open lock is
// held through a whole open or close, also while it waits for a control
// process to start or end; the area lock only for short changes of the
// area, never while waiting for another process, so that the control
// process can always report the link down (VNL2_LinkInfo kind 0 takes it)
// while a client waits for it. The watch thread takes the area lock (and
// the queue lock) only, so the close that holds the open lock can join it.
#include <memory>

#include "link/api/control_watch.h"
#include "link/api/vnl2_shared_area.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/shared_section.h"

class Vnl2Library {
 public:
  Vnl2Library();
  ~Vnl2Library();

  // Null when the area could not be mapped; every function then refuses.
  Vnl2SharedArea* area() { return area_; }
  // Serialises insert and remove on the receive queues across processes.
  platform::NamedMutex& queueLock() { return queueLock_; }
  // Serialises opening and closing services across processes, so that two
  // first opens at the same moment start one control process.
  platform::NamedMutex& openLock() { return openLock_; }
  // Serialises the services' open marks, the open count and the control
  // window between the opens and closes and the link-down report, so that
  // the report cannot fall between an open's check and its mark.
  platform::NamedMutex& areaLock() { return areaLock_; }
  // The control process this process started, kept to wait for its end.
  std::unique_ptr<platform::Process>& startedProcess() { return startedProcess_; }
  // Watches the control process while this process has a service open.
  ControlWatch& controlWatch() { return controlWatch_; }

 private:
  std::unique_ptr<platform::SharedSection> section_;
  Vnl2SharedArea* area_ = nullptr;
  platform::NamedMutex queueLock_;
  platform::NamedMutex openLock_;
  platform::NamedMutex areaLock_;
  std::unique_ptr<platform::Process> startedProcess_;
  ControlWatch controlWatch_;  // last: stopped before the locks go
};

// The process-wide instance, created when the library is loaded.
Vnl2Library& Vnl2();

// Holds a named mutex for a scope.
class NamedMutexLock {
 public:
  explicit NamedMutexLock(platform::NamedMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~NamedMutexLock() { mutex_.unlock(); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

 private:
  platform::NamedMutex& mutex_;
};
