#pragma once
// CDetectSocket: the discovery socket of a search and its receive thread.
//
// In: send() from the search dialog's thread, with the dialog to notify.
// Out: for every received datagram a debug line ("Receive Msg:IP: ...");
// for an answer (discovery::isAnswer) a posted kWmDetectedRouter to the
// dialog, lParam the sender's address with the first octet highest.
//
// Where it binds and sends comes from TK_DISCOVERY_TARGET (see
// discovery::searchTarget): unset, port 5000 on every local address and
// requests to 255.255.255.255; a loopback target, 127.0.0.1:5000 and requests
// to the target; anything else, no socket at all. A socket that cannot be
// made (port 5000 in use, among others) leaves the object unusable: it sends
// nothing and the search finds nothing.
//
// Threads: the object belongs to the dialog's thread; the receive thread only
// reads the socket and posts messages. Deletion closes the socket (which wakes
// the receive), clears the running flag and joins the thread.
#include <atomic>
#include <cstdint>
#include <string>

#include "discovery/discovery_core.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "platform/window.h"

namespace discovery {

constexpr uint32_t kWmApp = 0x8000;
constexpr uint32_t kWmDetectedRouter = kWmApp + 101;

class CDetectSocket {
 public:
  CDetectSocket();
  ~CDetectSocket();
  CDetectSocket(const CDetectSocket&) = delete;
  CDetectSocket& operator=(const CDetectSocket&) = delete;

  // Remembers the window to notify and sends one request (when the socket
  // was made).
  void send(platform::WindowHandle notify);
  bool usable() const { return usable_; }

 private:
  void receiveLoop();

  SearchTarget target_;
  platform::UdpSocket socket_;
  platform::Thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<platform::WindowHandle> notify_{nullptr};
  bool usable_ = false;
};

}  // namespace discovery
