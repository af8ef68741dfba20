#pragma once
// Watches the link control process from a client process of VNL2D32, so
// that a control process that ends without reporting the link down (killed,
// crashed) still takes the link down for every client.
//
// In: the services this process opens and closes (opened/closed, called by
// VNL2_OpenConnection* and VNL2_CloseConnection under the library's open
// lock). Out: one call of the `ended` function for each watched control
// process that has ended, made on the watch thread.
//
// Threads: the watch thread is this object's own. It starts with the first
// service open in this process and is stopped and joined by the close of the
// last one, on the closing thread. It sleeps until the watched process ends
// or it is woken (an open names a new control process, or the stop); it
// takes the library's area lock only, never the open lock, so a close that
// holds the open lock may join it. Unloading the library with services still
// open (a client that did not close them) asks the thread to stop and waits
// at most a second for it to leave its loop, but does not join it: a join at
// unload could wait for the loader.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/process.h"
#include "platform/thread.h"
#include "platform/wait.h"

// The two functions VNL2D32 watches with (vnl2d32_exports.cpp): the control
// process of the running link as the area names it (0: none), and the
// link-down for one that ended without reporting it.
uint32_t Vnl2WatchedControlProcess();
void Vnl2ControlProcessEnded(uint32_t processId);

class ControlWatch {
 public:
  // `watched` gives the control process to watch now (0: none), `ended`
  // handles the end of one watched before; both run on the watch thread.
  using WatchedFn = uint32_t (*)();
  using EndedFn = void (*)(uint32_t processId);
  ControlWatch(WatchedFn watched, EndedFn ended);
  ~ControlWatch();
  ControlWatch(const ControlWatch&) = delete;
  ControlWatch& operator=(const ControlWatch&) = delete;

  // This process opened the service in `slot` (1..5): starts the watch with
  // the first, and has it look again which process to watch.
  void opened(int slot);
  // This process is done with the service in `slot`, whatever the close
  // gave: stops and joins the watch when no service of it is left.
  void closed(int slot);
  bool running();

 private:
  void run();

  const WatchedFn watched_;
  const EndedFn ended_;
  std::mutex m_;                // orders opened and closed of several threads
  unsigned slots_ = 0;          // guarded by m_: bit n for slot n
  std::atomic<bool> stopping_{false};
  platform::ProcessEndWait wait_;
  platform::Thread thread_;     // started and joined under m_
  platform::Event left_{platform::Event::Reset::Manual};  // set when the thread leaves its loop
};
