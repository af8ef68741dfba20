// The uninstall hook: re-initialisation retries and the provider list over a
// fake TAPI32 table (waits recorded, not slept), and the real hook through
// libtapi32 against tapisrv.
#include "ui/link/uninstall_hook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/module.h"
#include "tapi/host/provider_list.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

namespace link = ui::link;

// A telephony service that refuses initialisation `reinits` times and lists
// `providers` (id, file), logging every call.
struct FakeTapi {
  using Providers = std::vector<std::pair<DWORD, std::string>>;
  explicit FakeTapi(int r = 0, Providers p = {}, LONG list = 0, LONG remove = 0)
      : reinits(r), providers(std::move(p)), listResult(list), removeResult(remove) {}
  int reinits;
  Providers providers;
  LONG listResult, removeResult;
  std::vector<std::string> log;
} g_tapi;

// The list as the service lays it out: header, entries, names.
std::vector<uint8_t> listBytes() {
  const size_t count = g_tapi.providers.size();
  std::vector<uint8_t> bytes(sizeof(LINEPROVIDERLIST) + count * sizeof(LINEPROVIDERENTRY));
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = g_tapi.providers[i].second;
    const LINEPROVIDERENTRY entry{g_tapi.providers[i].first, DWORD(name.size() + 1), DWORD(bytes.size())};
    std::memcpy(bytes.data() + sizeof(LINEPROVIDERLIST) + i * sizeof entry, &entry, sizeof entry);
    bytes.insert(bytes.end(), name.c_str(), name.c_str() + name.size() + 1);
  }
  const LINEPROVIDERLIST list{0,
                              DWORD(bytes.size()),
                              DWORD(bytes.size()),
                              DWORD(count),
                              DWORD(count * sizeof(LINEPROVIDERENTRY)),
                              sizeof(LINEPROVIDERLIST)};
  std::memcpy(bytes.data(), &list, sizeof list);
  return bytes;
}

link::UninstallTapi fakeTable() {
  link::UninstallTapi t;
  t.lineInitializeExA = [](LPHLINEAPP app, HINSTANCE, LINECALLBACK callback, LPCSTR name, LPDWORD, LPDWORD version,
                           LPLINEINITIALIZEEXPARAMS p) -> LONG {
    g_tapi.log.push_back("init " + std::string(name) + " " + std::to_string(*version) + " options " +
                         std::to_string(p->dwOptions) + " sizes " + std::to_string(p->dwTotalSize) + "/" +
                         std::to_string(p->dwNeededSize) + "/" + std::to_string(p->dwUsedSize) +
                         (callback ? "" : " no callback"));
    *app = 77;
    return g_tapi.reinits-- > 0 ? LINEERR_REINIT : 0;
  };
  t.lineGetProviderList = [](DWORD, LPLINEPROVIDERLIST list) -> LONG {
    g_tapi.log.push_back("list " + std::to_string(list->dwTotalSize));
    auto* raw = reinterpret_cast<uint8_t*>(list);  // zero-filled behind the total size
    EXPECT_EQ(size_t(std::count(raw + sizeof(DWORD), raw + list->dwTotalSize, 0)), list->dwTotalSize - sizeof(DWORD));
    const std::vector<uint8_t> bytes = listBytes();
    if (g_tapi.listResult || bytes.size() > list->dwTotalSize) {
      list->dwNeededSize = static_cast<DWORD>(bytes.size());
      return g_tapi.listResult;
    }
    std::memcpy(raw + sizeof(DWORD), bytes.data() + sizeof(DWORD), bytes.size() - sizeof(DWORD));
    return 0;
  };
  t.lineRemoveProvider = [](DWORD id, HWND owner) -> LONG {
    g_tapi.log.push_back("remove " + std::to_string(id) + (owner ? " owned" : ""));
    return g_tapi.removeResult;
  };
  t.lineShutdown = [](HLINEAPP app) -> LONG {
    g_tapi.log.push_back("shutdown " + std::to_string(app));
    return 0;
  };
  return t;
}

class UninstallHookFake : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tapi = FakeTapi();
    options.appName = "setup";
    options.wait = [](std::chrono::milliseconds ms) { g_tapi.log.push_back("wait " + std::to_string(ms.count())); };
  }
  int32_t Run(const link::UninstallTapi& table) {
    return link::RunUninstallHook(table, reinterpret_cast<platform::WindowHandle>(0x1234), nullptr, options);
  }
  link::UninstallOptions options;
};

TEST_F(UninstallHookFake, RetriesWhileTheServiceReinitialises) {
  for (int reinits : {0, 3, 4}) {
    SCOPED_TRACE(reinits);
    g_tapi = FakeTapi(reinits);
    EXPECT_EQ(Run(fakeTable()), reinits < 4 ? 0 : -1);
    std::vector<std::string> expected;
    for (int i = 0; i < std::min(reinits + 1, 4); ++i) {
      expected.push_back("init setup 131072 options 2 sizes 28/28/28");
      if (i < reinits) expected.push_back("wait 5000");
    }
    if (reinits < 4) expected.insert(expected.end(), {"list 4096", "shutdown 77"});
    EXPECT_EQ(g_tapi.log, expected);
  }
}

TEST_F(UninstallHookFake, RemovesOnlyTheProviderWithThisFileName) {
  struct Row {
    const char* name;
    FakeTapi::Providers providers;
    LONG listResult, removeResult;
    int32_t result;
    std::vector<std::string> log;  // after the initialisation; "list NEEDED": the grown buffer
  } rows[] = {
      {"by path, in a list that needs more room",
       {{3, std::string(5000, 'x')}, {4, "/tk/KVARSP64.TSP"}, {7, "/tk/kvarsp64.tsp"}, {8, "kvarsp64.tsp"}},
       0,
       0,
       0,
       {"list 4096", "list NEEDED", "remove 7 owned", "shutdown 77"}},
      {"by bare name",
       {{2, "kvarsp32.tsp"}, {5, "kvarsp64.tsp"}},
       0,
       0,
       0,
       {"list 4096", "remove 5 owned", "shutdown 77"}},
      {"other letter case only", {{4, "KVARSP64.tsp"}, {6, "kvarsp64.tsp.old"}}, 0, 0, 0, {"list 4096", "shutdown 77"}},
      {"removal refused",
       {{5, "kvarsp64.tsp"}},
       0,
       LINEERR_OPERATIONFAILED,
       -1,
       {"list 4096", "remove 5 owned", "shutdown 77"}},
      {"no provider list", {{5, "kvarsp64.tsp"}}, LINEERR_NOMEM, 0, -1, {"list 4096", "shutdown 77"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_tapi = FakeTapi(0, row.providers, row.listResult, row.removeResult);
    EXPECT_EQ(Run(fakeTable()), row.result);
    std::vector<std::string> expected = row.log;
    for (std::string& call : expected)
      if (call == "list NEEDED") call = "list " + std::to_string(listBytes().size());
    g_tapi.log.erase(g_tapi.log.begin());
    EXPECT_EQ(g_tapi.log, expected);
  }
}

TEST_F(UninstallHookFake, FailsWithoutTheFunctionsItNeeds) {
  void (*drops[])(link::UninstallTapi&) = {[](link::UninstallTapi& t) { t.lineInitializeExA = nullptr; },
                                           [](link::UninstallTapi& t) { t.lineRemoveProvider = nullptr; },
                                           [](link::UninstallTapi& t) { t.lineShutdown = nullptr; },
                                           [](link::UninstallTapi& t) { t.lineGetProviderList = nullptr; }};
  for (auto drop : drops) {
    link::UninstallTapi table = fakeTable();
    drop(table);
    g_tapi = FakeTapi(0, {{5, "kvarsp64.tsp"}});
    EXPECT_EQ(Run(table), -1);
    EXPECT_EQ(g_tapi.log.size(), table.lineGetProviderList ? 0u : 2u);  // without the list: init, shutdown
  }
}

// The hook through libtapi32 against the telephony service of the test's root.
TEST(UninstallHookService, RemovesTheRegisteredProviderOnly) {
  // Kept loaded for the whole run, as in a program linked with it: libtapi32
  // never frees its application table, which a leak check would report once
  // the hook's unload made it unreachable.
  static const platform::ModuleHandle tapi32 = platform::loadLibrary("TAPI32");
  ASSERT_NE(tapi32, nullptr) << platform::lastModuleError();
  for (const char* file : {"kvarsp64.tsp", "KVARSP64.TSP"}) {
    SCOPED_TRACE(file);
    const bool removable = file[0] == 'k';
    const std::string folder = tktest::currentRoot() + "/" + (removable ? "lower" : "upper");
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(TK_FAKE_PROVIDER, folder + "/" + file);
    const uint32_t id = tapihost::AddProvider(folder + "/" + file);
    ASSERT_NE(id, 0u);
    const tktest::ToolRun started = tktest::runTool(TK_TAPISRV, {});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    EXPECT_EQ(link::UninstInitializeHook(nullptr, nullptr), 0);
    EXPECT_EQ(link::UninstUnInitializeHook(), 0);
    const tktest::ToolRun stopped = tktest::runTool(TK_TAPISRV, {"--stop"});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    bool listed = false;
    for (const auto& entry : tapihost::ReadProviderList(nullptr)) listed = listed || entry.permanentProviderId == id;
    EXPECT_EQ(listed, !removable);
    if (listed) tapihost::RemoveProvider(id);
  }
}

}  // namespace
