#pragma once
// The exchange's USB device as its driver presents it (a ByteLine): the
// Unix-domain socket $TK_ROOT/dev/VNLUSBn, speaking the requests of
// platform/device_wire.h with one client (the link control process) at a time.
//
// In:  the client's requests: a write block hands its bytes to the owner
//      (Read), a read block waits until the owner has bytes for the client
//      (Write) and takes up to its output capacity; fault and plug commands
//      (any thread).
// Out: answers to the client; event lines ("device-opened", "device-closed",
//      "refused-second-connection", "device-refused CODE status=S",
//      "unplugged", "plugged", "send-failed ...").
// Threads: all socket I/O happens inside Read, on the owner's network
//      thread, which alone polls and closes the sockets. Write, the faults,
//      Unplug and Plug come from any thread: they change state under the
//      mutex and wake Read. Unplug removes the socket file at once (a new
//      connection fails from then on) and shuts the client's connection down;
//      Read then closes the sockets. Plug binds the new socket itself and
//      hands it to Read.
//
// The requests are checked before anything is allocated for them: lengths
// above kDeviceMaxTransfer are answered with 87 and the connection is closed
// (the next request's start is lost); an unknown code is answered with 1 and
// the connection goes on; a read while one is pending is answered with 31.
// A read never holds up the writes behind it: the socket is read on and the
// read is answered when bytes come. The client closing the connection ends
// its session (Read returns kPeerClosed once); the next client starts afresh.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "exchange/exchange_line.h"
#include "exchange/exchange_link.h"

namespace exchange {

class UsbDriverLine final : public ByteLine, public UsbControls {
 public:
  static constexpr unsigned kMaxDevice = 9;
  // Bytes for the client kept while it issues no read; more are dropped.
  static constexpr size_t kMaxQueued = 1 << 20;
  // How long answers may wait for the client to take them after a fatal
  // request, before the connection is closed anyway.
  static constexpr uint32_t kCloseWaitMs = 1000;

  explicit UsbDriverLine(std::function<void(const std::string&)> events = {});
  ~UsbDriverLine() override;
  UsbDriverLine(const UsbDriverLine&) = delete;
  UsbDriverLine& operator=(const UsbDriverLine&) = delete;

  // Serves $TK_ROOT/dev/VNLUSB<index> (creating $TK_ROOT/dev). A socket file
  // left by a driver that is gone is replaced; one that is served refused.
  bool Open(unsigned index, std::string* error);
  // Closes everything and removes the socket file (if still this line's).
  void Close() override;
  bool IsOpen() const override { return wakeFd_ >= 0; }
  const std::string& Path() const override { return path_; }

  bool Write(std::vector<uint8_t> bytes) override;
  long Read(std::span<uint8_t> buffer, uint32_t timeoutMs) override;

  bool Plugged() const;
  bool ClientOpen() const;

  void ZeroNextWrite() override;
  void FailNextRead() override;
  void Unplug() override;
  bool Plug(std::string* error) override;

 private:
  // A new listening socket at path_ (mutex_ held); -1 and *error on failure.
  int Listen(std::string* error);
  void RemoveSocketFile();  // mutex_ held
  void Wake();              // mutex_ held
  void Event(const std::string& line) const;

  // Network thread only:
  void Service();
  void Accept();
  void ReceiveRequests();
  void HandleRequest(uint32_t code, std::span<const uint8_t> input, uint32_t capacity);
  void Answer(uint32_t code, uint32_t status, uint32_t count, std::span<const uint8_t> output = {});
  void Flush();
  void EndSession();

  std::function<void(const std::string&)> events_;
  std::string path_;
  int wakeFd_ = -1;  // an eventfd: Write and the commands wake Read

  mutable std::mutex mutex_;
  int clientFd_ = -1;  // set and closed by the network thread under mutex_
  std::vector<uint8_t> toClient_;  // for the client's reads
  bool zeroWrite_ = false;
  bool failRead_ = false;
  bool plugged_ = false;
  bool unplugRequested_ = false;
  int adoptFd_ = -1;  // a new listening socket from Plug, for the network thread
  dev_t socketDev_ = 0;  // the socket file this line bound
  ino_t socketIno_ = 0;

  // Network thread only (and Open / Close while it is stopped).
  int listenFd_ = -1;
  std::vector<uint8_t> received_;  // request bytes not yet handled
  std::vector<uint8_t> toCore_;    // written by the client, for Read
  std::vector<uint8_t> answers_;   // answer bytes not yet sent
  bool readPending_ = false;
  uint32_t readCapacity_ = 0;
  bool closing_ = false;  // a fatal request: close once the answers are out
  uint64_t closeDueMs_ = 0;
  bool sessionEnded_ = false;
};

}  // namespace exchange
