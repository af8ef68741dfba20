#include "bench/call_bench_setup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "link/common/link_config.h"
#include "platform/registry.h"
#include "platform/process.h"
#include "platform/reg_text.h"
#include "platform/root.h"
#include "platform/window.h"
#include "tests/link/control/loopback_link.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace callbench {
namespace {

constexpr uint32_t kProviderId = 4;
constexpr uint32_t kFirstLineId = 1000;
constexpr char kControlClass[] = "VNL2ControlProg";

std::string Address(uint32_t index) { return std::to_string(2000 + index); }

// The provider's line table: 16-bit line IDs 1000.. with addresses 2000...
std::string ProviderConfiguration(uint32_t lines) {
  std::string text = "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider4]\n";
  char line[128];
  std::snprintf(line, sizeof line, "\"NumLinesTotal\"=dword:%08x\n\"16BitLineId\"=dword:00000001\n", lines);
  text += line;
  for (uint32_t i = 0; i < lines; ++i) {
    std::snprintf(line, sizeof line, "\"PbxLineID%u\"=dword:%08x\n\"LineAddress%u\"=\"%s\"\n", i,
                  kFirstLineId + i, i, Address(i).c_str());
    text += line;
  }
  return text + "\"NumMSNs\"=dword:00000000\n";
}

std::string ExchangeConfiguration(uint32_t lines) {
  std::string text = "line-list 16\n";
  for (uint32_t i = 0; i < lines; ++i)
    text += "line " + std::to_string(kFirstLineId + i) + " \"" + Address(i) + "\"\n";
  return text;
}

}  // namespace

void Fail(const std::string& what) { throw BenchFailure(what); }

BenchSystem::BenchSystem(uint32_t lines) {
  try {
    Setup(lines);
  } catch (...) {
    Cleanup();
    throw;
  }
}

void BenchSystem::Setup(uint32_t lines) {
  root_ = tktest::makeTempDir("call-bench-");
  setenv("TK_ROOT", root_.c_str(), 1);
  tktest::InstallLinkControl(TK_VNL2C64_PATH);

  const std::string exchangeFile = root_ + "/exchange.conf";
  tktest::writeFile(exchangeFile, ExchangeConfiguration(lines));
  tksim_ = std::make_unique<tktest::TksimPeer>();
  if (!tksim_->Start({"--keepalive-ms", "0", "--quiet", "--engine", "vnl", "--exchange-config", exchangeFile}))
    Fail("tksim did not start");
  // Every number called answers at once.
  if (tksim_->Command("party * answer 0").rfind("ok", 0) != 0) Fail("tksim does not take 'party * answer 0'");

  if (!tktest::WriteLoopbackLinkConfiguration(tksim_->port())) Fail("cannot write the link configuration");
  if (platform::regImport(ProviderConfiguration(lines), "provider configuration") != 0)
    Fail("cannot write the provider configuration");

  host_ = std::make_unique<tapihost::TelephonyHost>();
  std::string error;
  if (!host_->Load(TK_KVARSP_PATH, kProviderId, &error)) Fail("cannot load the provider: " + error);
  if (host_->Start() != 0) Fail("the provider did not start");
  if (host_->LineCount() != lines) Fail("the provider offers " + std::to_string(host_->LineCount()) + " lines");
  calls_ = std::make_unique<tapihost::HostCalls>(*host_);
}

BenchSystem::~BenchSystem() { Cleanup(); }

void BenchSystem::Cleanup() {
  calls_.reset();
  if (host_) host_->Stop();
  host_.reset();
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
