// The providers' dialogs across processes, end to end in the test process:
// the service core and server on a thread of their own at the test root,
// libtapi32 loading the stub UI module, whose callback blocks reach the
// provider's TSPI_providerGenericDialogData and come back; providers added
// and removed while an application runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/thread.h"
#include "tapi/host/provider_list.h"
#include "tapi/service/service_server.h"
#include "tapi/tapi32.h"
#include "tapi/wire/tapi_functions.h"

namespace tktest {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kWaitMs = 10000;
const std::string kDir = TK_TEST_MODULE_DIR;
const std::string kUiPlugin = kDir + "/fakesp_ui.tsp";
const std::string kCallsPlugin = kDir + "/fakesp_calls.tsp";

class UiRouting : public ::testing::Test, public tapisrv::ServerHandler {
 protected:
  void SetUp() override {
    stub_ = platform::loadLibrary(kDir + "/stubui.so");
    ASSERT_NE(stub_, nullptr) << platform::lastModuleError();
    ASSERT_TRUE(platform::getProcAddress(stub_, "StubUiTakeJournal", takeJournal_));
    ASSERT_TRUE(platform::getProcAddress(stub_, "StubUiSetResults", setResults_));
    setResults_(0, 0);
  }
  void TearDown() override {
    stop_ = true;
    server_.Wake();
    EXPECT_TRUE(loop_.join(kWaitMs));
    EXPECT_THAT(core_.Violations(), ::testing::IsEmpty());
    if (stub_) platform::freeLibrary(stub_);
  }

  // The plug-ins in the provider list, started; the service serving.
  void Serve(const std::vector<std::string>& plugins) {
    for (const std::string& p : plugins) ASSERT_NE(tapihost::AddProvider(p), 0u);
    ASSERT_EQ(core_.StartProviders(), plugins.size());
    ASSERT_TRUE(platform::ensureDirectory(platform::runtimeDir()));
    std::string error;
    ASSERT_TRUE(server_.Listen(platform::runtimeDir() + "/" + tapiwire::kServiceSocketName, &error)) << error;
    loop_.start([this] { server_.Run(*this, [this] { return stop_.load(); }); }, "ui service");
  }

  std::string Journal() {
    char text[2048];
    takeJournal_(text, sizeof text);
    return text;
  }
  bool Logged(const std::string& text) {
    std::lock_guard lock(logMutex_);
    for (const std::string& line : log_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  static DWORD ListedProviders() {
    std::vector<uint8_t> buffer(4096);
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(lineGetProviderListW(TAPI_VERSION2_0, list), 0);
    return list->dwNumProviders;
  }

  HLINEAPP Init() {
    HLINEAPP app = 0;
    DWORD devs = 0, version = TAPI_VERSION2_0;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(lineInitializeExW(&app, nullptr, nullptr, u"ui test", &devs, &version, &params), 0);
    return app;
  }
  // The app's next message of that ID, skipping others; bounded.
  static std::optional<LINEMESSAGE> Next(HLINEAPP app, DWORD messageId) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    LINEMESSAGE m{};
    for (int i = 0; i < 100 && std::chrono::steady_clock::now() < deadline; ++i) {
      if (lineGetMessage(app, &m, kWaitMs) == 0 && m.dwMessageID == messageId) return m;
    }
    return std::nullopt;
  }
  static LONG Open(HLINEAPP app, DWORD device, HLINE* line) {
    return lineOpenW(app, device, line, TAPI_VERSION2_0, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr);
  }

  void (*setResults_)(LONG, LONG) = nullptr;

 private:
  void OnConnect(tapisrv::ClientId client, uint32_t pid) override { core_.OnConnect(client, pid); }
  void OnMessage(tapisrv::ClientId client, std::span<const uint8_t> m) override { core_.OnMessage(client, m); }
  void OnDisconnect(tapisrv::ClientId client) override { core_.OnDisconnect(client); }
  void OnWake() override { core_.ProcessProviderEvents(); }
  void OnStop() override { core_.StopProviders(); }
  void Log(const std::string& line) {
    std::lock_guard lock(logMutex_);
    log_.push_back(line);
  }

  std::mutex logMutex_;
  std::vector<std::string> log_;
  platform::ModuleHandle stub_ = nullptr;
  void (*takeJournal_)(char*, size_t) = nullptr;
  tapisrv::ServiceServer server_{[this](const std::string& line) { Log(line); }};
  tapisrv::ServiceCore core_{server_, [this](const std::string& line) { Log(line); }, [this] { server_.Wake(); }};
  std::atomic<bool> stop_{false};
  platform::Thread loop_;
};

TEST_F(UiRouting, DialogBlocksReachTheProviderAndComeBack) {
  Serve({kCallsPlugin, kUiPlugin});  // the UI provider is 2, its line global 1
  EXPECT_EQ(lineConfigProvider(nullptr, 2), 0);
  EXPECT_EQ(lineConfigDialogA(1, nullptr, "tapi/line"), 0);
  EXPECT_EQ(Journal(),
            "providerConfig 3:2 -> 0 provider 2 started: object 3:2 request 1\n"
            "lineConfigDialog(tapi/line) 1:1 -> 0 provider 2 started: object 1:0 request 2\n");
  EXPECT_TRUE(Logged("(pid " + std::to_string(platform::currentProcessId()) + "): dialog of provider 2"));
}

TEST_F(UiRouting, ErrorsAsTapiGivesThem) {
  Serve({kCallsPlugin, kUiPlugin});
  setResults_(0, LINEERR_OPERATIONFAILED);
  DWORD id = 0;
  const struct {
    const char* what;
    std::function<LONG()> call;
    LONG expected;
  } rows[] = {
      {"config of an unknown provider", [] { return lineConfigProvider(nullptr, 99); }, LINEERR_INVALPARAM},
      {"config of a provider without UI", [] { return lineConfigProvider(nullptr, 1); }, LINEERR_OPERATIONUNAVAIL},
      {"dialog of an unknown line", [] { return lineConfigDialogW(9, nullptr, nullptr); }, LINEERR_BADDEVICEID},
      {"remove of an unknown provider", [] { return lineRemoveProvider(99, nullptr); }, LINEERR_INVALPARAM},
      {"remove refused by its dialog", [] { return lineRemoveProvider(2, nullptr); }, LINEERR_OPERATIONFAILED},
      {"add of a listed plug-in", [&] { return lineAddProviderA(kUiPlugin.c_str(), nullptr, &id); },
       LINEERR_NOMULTIPLEINSTANCE},
      {"add without a place for the ID", [] { return lineAddProviderA(kUiPlugin.c_str(), nullptr, nullptr); },
       LINEERR_INVALPOINTER},
  };
  for (const auto& row : rows) EXPECT_EQ(row.call(), row.expected) << row.what;
  EXPECT_EQ(ListedProviders(), 2u);
}

TEST_F(UiRouting, ProviderAddedAndRemovedWhileAnAppRuns) {
  Serve({kCallsPlugin});
  const HLINEAPP app = Init();
  DWORD id = 0;
  setResults_(LINEERR_OPERATIONFAILED, 0);
  EXPECT_EQ(lineAddProviderA(kUiPlugin.c_str(), nullptr, &id), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(ListedProviders(), 1u);
  setResults_(0, 0);
  ASSERT_EQ(lineAddProviderA(kUiPlugin.c_str(), nullptr, &id), 0);
  EXPECT_EQ(id, 2u);  // the refused install took no ID
  EXPECT_EQ(Journal(),
            "providerInstall 3:2 -> 0 provider 0 not started: object 3:2 request 3\n"
            "providerInstall 3:2 -> 0 provider 0 not started: object 3:2 request 3\n");
  ASSERT_THAT(Next(app, LINE_CREATE), ::testing::Optional(::testing::Field(&LINEMESSAGE::dwParam1, 1u)));
  HLINE line = 0;
  ASSERT_EQ(Open(app, 1, &line), 0);
  EXPECT_EQ(ListedProviders(), 2u);

  ASSERT_EQ(lineRemoveProvider(id, nullptr), 0);
  EXPECT_THAT(Journal(), HasSubstr("providerRemove 3:2 -> 0 provider 2 started"));
  EXPECT_THAT(Next(app, LINE_CLOSE), ::testing::Optional(::testing::Field(&LINEMESSAGE::hDevice, line)));
  EXPECT_THAT(Next(app, LINE_REMOVE), ::testing::Optional(::testing::Field(&LINEMESSAGE::dwParam1, 1u)));
  EXPECT_EQ(Open(app, 1, &line), LINEERR_NODEVICE);
  EXPECT_EQ(ListedProviders(), 1u);

  // Added again: a new device ID, never the removed one.
  ASSERT_EQ(lineAddProviderW(platform::utf8ToWide(kUiPlugin).c_str(), nullptr, &id), 0);
  EXPECT_EQ(id, 3u);
  EXPECT_THAT(Next(app, LINE_CREATE), ::testing::Optional(::testing::Field(&LINEMESSAGE::dwParam1, 2u)));
  EXPECT_TRUE(Logged("): removes provider 2"));
  EXPECT_EQ(lineShutdown(app), 0);
}

}  // namespace
}  // namespace tktest
