#pragma once
// UDP over IPv4: one datagram socket that sends to any address and port and
// receives with the sender's address and port. Broadcasting is allowed on
// every socket (SO_BROADCAST), so that a sender to 255.255.255.255 needs no
// extra step.
//
// Threads: one thread may block in receiveFrom while another sends or closes.
// close() wakes a blocked receiveFrom (which then fails with "socket closed");
// the descriptor is released once no receive uses it any more, so a closing
// thread never pulls a descriptor from under a receiving one.
//
// Errors: false / -1 with the system's reason as text (strerror), for logs.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class UdpSocket {
 public:
  UdpSocket();
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Opens a socket bound to a dotted IPv4 address ("0.0.0.0": every local
  // address) and a port (0: a free one). False when this object is open
  // already, the address is no IPv4 address or the system refuses.
  bool open(const std::string& ipv4, uint16_t port, std::string* error = nullptr);
  bool isOpen() const;
  // True once close() was called (the socket then stays closed).
  bool isClosed() const;
  // The bound port; 0 when not open.
  uint16_t localPort() const;

  // Sends one datagram; false on an error.
  bool sendTo(const void* data, size_t count, const std::string& ipv4, uint16_t port, std::string* error = nullptr);
  // Waits for one datagram and copies at most capacity bytes of it (the rest
  // is dropped); its length in the buffer, or -1 on an error or when the
  // socket is closed (also from another thread while waiting). The sender's
  // dotted address and port come back in *sender and *senderPort.
  long receiveFrom(void* buffer, size_t capacity, std::string* sender = nullptr, uint16_t* senderPort = nullptr,
                   std::string* error = nullptr);

  // Closes the socket and wakes a receive blocked in another thread.
  void close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
