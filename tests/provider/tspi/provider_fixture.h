#pragma once
// The provider plug-in loaded into the telephony host harness, with a
// configuration in the registry store, a layer-2 library chosen per test and
// the provider's trace records captured from the debugger output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "provider/ui_request_block.h"
#include "tapi/host/provider_harness.h"
#include "tests/support/files.h"
#include "tests/support/harness_violations.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"

namespace tktest {

constexpr DWORD kVersion = 0x20000;
constexpr DWORD kProviderId = 3;

// Three extensions 10, 11, 12 with numbers "20", "21", "22"; line 11 has two
// MSNs; every line is in use (no "NumLinesInUse").
inline constexpr std::string_view kThreeLines =
    R"([HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider3]
"NumLinesTotal"=dword:00000003
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNSLine1"=dword:00000002
"Line1MSN0"=dword:00000001
"Line1MSN1"=dword:00000002
"PbxLineID2"=dword:0000000c
"LineAddress2"="22"
"NumMSNs"=dword:00000002
"MSNIndex0"=dword:00000001
"MSNAddress0"="4711"
"MSNIndex1"=dword:00000002
"MSNAddress1"="4712"
)";

class ProviderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setDebugOutputSink([this](std::string_view text) {
      std::lock_guard lock(m_);
      trace_ += text;
    });
    // Both trace files on, into a folder of the test root: every record
    // also reaches the debugger output captured above.
    std::string traceFolder = currentRoot() + "/trace";
    platform::ensureDirectory(traceFolder);
    Configure(regLogging(1, 1, traceFolder));
    UseLayer2("complete");
  }
  void TearDown() override {
    if (harness_ && initialised_) harness_->shutdown(kVersion, kProviderId);
    harness_.reset();
    platform::setDebugOutputSink({});
  }

  // Which fake layer-2 library "VNLSOCK.DLL" resolves to: "complete",
  // "incomplete", "scripted", or "broken" (a file that is no library at all).
  void UseLayer2(const std::string& variant) {
    std::string folder;
    if (variant == "broken") {
      folder = currentRoot() + "/broken-vnlsock";
      platform::ensureDirectory(folder);
      writeFile(folder + "/vnlsock.so", "this is not a shared library");
    } else {
      folder = std::string(TK_FAKE_VNLSOCK_DIR) + "/" + variant;
    }
    setenv("TK_MODULE_PATH", folder.c_str(), 1);
  }

  // Imports keys and values (.reg text after its header line).
  void Configure(std::string_view keys) { ASSERT_TRUE(regSeed(keys, "test configuration")); }

  tapihost::ProviderHarness& Load() {
    harness_ = std::make_unique<tapihost::ProviderHarness>(failTestOnViolation);
    EXPECT_TRUE(harness_->load(TK_KVARSP_PATH)) << harness_->loadError();
    return *harness_;
  }

  // Enumerates and initialises; returns the number of lines TAPI was told.
  DWORD Start(DWORD lineDeviceIdBase = 0, std::optional<DWORD> numLines = std::nullopt) {
    auto& h = harness_ ? *harness_ : Load();
    DWORD lines = 0, phones = 0;
    EXPECT_EQ(h.enumDevices(kProviderId, &lines, &phones), 0);
    DWORD options = 0;
    LONG rc = h.init(kVersion, kProviderId, lineDeviceIdBase, numLines.value_or(lines), &options);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);
    initialised_ = rc == 0;
    return lines;
  }
  void Stop() {
    EXPECT_EQ(harness_->shutdown(kVersion, kProviderId), 0);
    initialised_ = false;
  }

  // Sends one dialog request and returns the block with the answer.
  kvarsp::UiRequestBlock Ui(uint32_t request, uint32_t x = 0, uint32_t y = 0) {
    kvarsp::UiRequestBlock block{};
    block.x = x;
    return Answered(block, request, y);
  }
  kvarsp::UiRequestBlock UiText(uint32_t request, std::u16string_view text, uint32_t y = 0) {
    kvarsp::UiRequestBlock block{};
    text.copy(block.inputText, text.size());
    return Answered(block, request, y);
  }
  // Through the harness, or straight to the export a test bound itself.
  LONG Dialog(kvarsp::UiRequestBlock& block, DWORD size = sizeof(kvarsp::UiRequestBlock)) {
    if (dialogExport_) return dialogExport_(kProviderId, TUISPIDLL_OBJECT_PROVIDERID, &block, size);
    return TSPI_CALL(*harness_, TSPI_providerGenericDialogData, DWORD_PTR{kProviderId},
                     DWORD{TUISPIDLL_OBJECT_PROVIDERID}, static_cast<LPVOID>(&block), size);
  }
  decltype(&::TSPI_providerGenericDialogData) dialogExport_ = nullptr;

  std::string Trace() {
    std::lock_guard lock(m_);
    return trace_;
  }
  bool TraceHas(const std::string& text) { return Trace().find(text) != std::string::npos; }
  size_t TraceCount(const std::string& text) {
    std::string t = Trace();
    size_t n = 0;
    for (size_t at = t.find(text); at != std::string::npos; at = t.find(text, at + 1)) ++n;
    return n;
  }

  tapihost::ProviderHarness& harness() { return *harness_; }

 private:
  kvarsp::UiRequestBlock Answered(kvarsp::UiRequestBlock& block, uint32_t request, uint32_t y) {
    block.request = request;
    block.y = y;
    block.result = 0xDEADBEEF;
    EXPECT_EQ(Dialog(block), 0);
    return block;
  }

  std::unique_ptr<tapihost::ProviderHarness> harness_;
  bool initialised_ = false;
  std::mutex m_;
  std::string trace_;
};

// Started with the lines of kThreeLines.
class StartedProvider : public ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    Configure(kThreeLines);
    Start();
  }
};

inline std::u16string OutputText(const kvarsp::UiRequestBlock& block) { return block.outputText; }

}  // namespace tktest
