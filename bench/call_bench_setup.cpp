#include "bench/call_bench_setup.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_lines.h"
#include "link/common/link_config.h"
#include "platform/registry.h"
#include "platform/process.h"
#include "platform/reg_text.h"
#include "platform/root.h"
#include "platform/window.h"
#include "tapi/host/provider_list.h"
#include "tests/link/control/loopback_link.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace callbench {
namespace {

// The permanent provider ID of the provider in a telephony host of this
// process; the service's provider gets the one TAPI's provider list hands out.
constexpr uint32_t kHostProviderId = 4;
constexpr char kControlClass[] = "VNL2ControlProg";

}  // namespace

void Fail(const std::string& what) { throw BenchFailure(what); }

BenchSystem::BenchSystem(uint32_t lines, Path path, KeepAlive keepAlive) {
  try {
    Setup(lines, path, keepAlive);
  } catch (...) {
    Cleanup();
    throw;
  }
}

void BenchSystem::Setup(uint32_t lines, Path path, KeepAlive keepAlive) {
  root_ = tktest::makeTempDir("call-bench-");
  setenv("TK_ROOT", root_.c_str(), 1);
  tktest::InstallLinkControl(TK_VNL2C64_PATH);

  const std::string exchangeFile = root_ + "/exchange.conf";
  tktest::writeFile(exchangeFile, benchlines::ExchangeConfiguration(lines));
  tksim_ = std::make_unique<tktest::TksimPeer>();
  std::vector<std::string> options{"--quiet", "--engine", "vnl", "--exchange-config", exchangeFile};
  if (keepAlive == KeepAlive::Off) options.insert(options.begin(), {"--keepalive-ms", "0"});
  if (!tksim_->Start(options)) Fail("tksim did not start");
  // Every number called answers at once.
  if (tksim_->Command("party * answer 0").rfind("ok", 0) != 0) Fail("tksim does not take 'party * answer 0'");

  if (!tktest::WriteLoopbackLinkConfiguration(tksim_->port())) Fail("cannot write the link configuration");
  if (keepAlive == KeepAlive::On) {
    // The same link with the keep-alive value of a fresh configuration.
    LinkConfig link;
    DefaultLinkConfiguration(&link);
    const uint32_t keepalive = link.Keepalive;
    LoadConfiguration(&link);
    link.Keepalive = keepalive;
    if (!SaveLinkConfiguration(link)) Fail("cannot switch the link's keep-alive on");
  }
  if (path == Path::Service) return StartService(lines);
  if (platform::regImport(benchlines::ProviderConfiguration(lines, kHostProviderId), "provider configuration") != 0)
    Fail("cannot write the provider configuration");

  host_ = std::make_unique<tapihost::TelephonyHost>();
  std::string error;
  if (!host_->Load(TK_KVARSP_PATH, kHostProviderId, &error)) Fail("cannot load the provider: " + error);
  if (host_->Start() != 0) Fail("the provider did not start");
  if (host_->LineCount() != lines) Fail("the provider offers " + std::to_string(host_->LineCount()) + " lines");
  calls_ = std::make_unique<tapihost::HostCalls>(*host_);
}

void BenchSystem::StartService(uint32_t lines) {
  std::string error;
  const uint32_t providerId = tapihost::AddProvider(TK_KVARSP_PATH, &error);
  if (providerId == 0) Fail("cannot add the provider to TAPI's provider list: " + error);
  if (platform::regImport(benchlines::ProviderConfiguration(lines, providerId), "provider configuration") != 0)
    Fail("cannot write the provider configuration");
  // tapisrv starts the service detached and returns once it serves, printing
  // "started for ROOT (pid N)"; it gives up by itself after 10 s.
  serviceStarting_ = true;
  tktest::ChildProcess start;
  if (!start.start(TK_TAPISRV_PATH, {})) Fail("cannot start " TK_TAPISRV_PATH);
  const std::optional<std::string> said = start.readLine(std::chrono::seconds(15));
  const std::optional<int> code = start.wait(std::chrono::seconds(5));
  const size_t pidAt = said ? said->rfind("(pid ") : std::string::npos;
  if (pidAt != std::string::npos) servicePid_ = static_cast<uint32_t>(std::strtoul(&(*said)[pidAt + 5], nullptr, 10));
  if (code != 0 || servicePid_ == 0) {
    // The log goes with the root: its text goes into the message.
    Fail("tapisrv did not start (" + (code ? "exit code " + std::to_string(*code) : std::string("no end in 20 s")) +
         "); its log:\n" + tktest::readFile(platform::runtimeDir() + "/tapisrv.log"));
  }
}

void BenchSystem::StopService() {
  tktest::ChildProcess stop;
  if (stop.start(TK_TAPISRV_PATH, {"--stop"})) stop.wait(std::chrono::seconds(20));
  if (servicePid_ != 0 && platform::processRunning(servicePid_)) {
    std::fprintf(stderr, "call_bench: tapisrv (pid %u) did not stop within 20 s; killed\n", servicePid_);
    ::kill(static_cast<pid_t>(servicePid_), SIGKILL);
    platform::waitForProcessExit(servicePid_, 5000);
  }
  servicePid_ = 0;
  serviceStarting_ = false;
}

BenchSystem::~BenchSystem() { Cleanup(); }

void BenchSystem::Cleanup() {
  calls_.reset();
  if (host_) host_->Stop();
  host_.reset();
  // The service's provider closes its lines while the exchange still answers.
  if (serviceStarting_) StopService();
  tksim_.reset();
  // The link control process ends with the last line; make sure before the root goes.
  tktest::EndLinkControlProcesses();
  if (!root_.empty()) tktest::removeTree(root_);
  root_.clear();
}

uint32_t BenchSystem::ControlProcessId() const {
  platform::WindowHandle control = platform::findWindow(kControlClass);
  return control ? platform::windowProcessId(control) : 0;
}

}  // namespace callbench
