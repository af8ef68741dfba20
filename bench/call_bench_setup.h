#pragma once
// The whole telephony system of the call benchmark under a temporary root:
// tksim with an exchange of `lines` extensions, the link configuration
// pointing at it over loopback, the provider's line table, VNL2C64 where
// VNL2D32 looks for it, and the provider plug-in either loaded and started
// in a telephony host of this process (Path::Host) or entered in TAPI's
// provider list and served by a telephony service (tapisrv) started for the
// root (Path::Service). The root becomes TK_ROOT of this process, so that
// libtapi32 and every process started from here find that service.
//
// Keep-alive is off on both sides unless KeepAlive::On is asked for: then
// tksim sends its keep-alive frames at its default period and the link
// configuration has the LAN keep-alive at its default (on), so VNL2C64
// echoes them and supervises the connection with its default period.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "tapi/host/host_calls.h"
#include "tapi/host/telephony_host.h"
#include "tests/link/control/tksim_peer.h"

namespace callbench {

class BenchSystem {
 public:
  enum class Path { Host, Service };
  enum class KeepAlive { Off, On };
  // Throws BenchFailure when any part does not come up.
  explicit BenchSystem(uint32_t lines, Path path = Path::Host, KeepAlive keepAlive = KeepAlive::Off);
  ~BenchSystem();

  // Path::Host only.
  tapihost::TelephonyHost& host() { return *host_; }
  tapihost::HostCalls& calls() { return *calls_; }
  tktest::TksimPeer& tksim() { return *tksim_; }
  // The process of the link control process; 0 when it cannot be found.
  uint32_t ControlProcessId() const;

 private:
  void Setup(uint32_t lines, Path path, KeepAlive keepAlive);
  void StartService(uint32_t lines);
  void StopService();
  void Cleanup();

  std::string root_;
  uint32_t servicePid_ = 0;
  bool serviceStarting_ = false;
  std::unique_ptr<tktest::TksimPeer> tksim_;
  std::unique_ptr<tapihost::TelephonyHost> host_;
  std::unique_ptr<tapihost::HostCalls> calls_;
};

// A part of the benchmark that cannot go on; main reports it after every
// process and folder of the run has been cleaned up.
struct BenchFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void Fail(const std::string& what);

}  // namespace callbench
