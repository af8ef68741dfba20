// The firmware check: the answer rule, the sequence over a fake layer-2
// table (waits recorded, not slept), vnlui's box, and the real check over the
// LAN chain (VNL2D32 -> VNL2C64 -> tksim) with each kind of answer.
#include "ui/link/firmware_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "ui/link/vnlui_resources.h"

namespace {

namespace link = ui::link;
const std::vector<uint8_t> kAccepted = {0x01, 0xE4, 0x00, 0x06, 0xD0, 0x01, 0x00, 0x00, 0x01, 0x30};

TEST(FirmwareAnswer, NeedsTenBytesAndVersion0x30OrLaterInPlace) {
  struct Row {
    size_t at;
    uint8_t value;
    bool accepted;
  } rows[] = {{9, 0x30, true},  {9, 0x31, true},  {6, 0x7F, true},  {0, 0xFF, true}, {9, 0x2F, false},
              {4, 0xD1, false}, {5, 0x02, false}, {7, 0x01, false}, {8, 0x02, false}};
  for (const Row& row : rows) {
    std::vector<uint8_t> block = kAccepted;
    block[row.at] = row.value;
    EXPECT_EQ(link::IsAcceptedFirmwareAnswer(block), row.accepted) << row.at << " = " << int{row.value};
  }
  EXPECT_FALSE(link::IsAcceptedFirmwareAnswer(std::span(kAccepted).first(9)));
}

// A layer-2 interface that logs its calls and answers at one poll (0: never).
struct FakeLink {
  explicit FakeLink(int32_t o = 1, std::vector<uint8_t> a = kAccepted, int at = 0)
      : open(o), answer(std::move(a)), answerAt(at) {}
  int32_t open;
  std::vector<uint8_t> answer;
  int answerAt;
  int polls = 0;
  std::vector<std::string> log;
} g_link;

std::string hex(const void* data, uint32_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (auto* b = static_cast<const uint8_t*>(data); size-- > 0; ++b) text += {kDigits[*b >> 4], kDigits[*b & 15]};
  return text;
}

vnl2::Entries fakeEntries() {
  vnl2::Entries e;
  e.openConnection = [](uint32_t s) {
    g_link.log.push_back("open " + std::to_string(s));
    return g_link.open;
  };
  e.closeConnection = [](uint32_t s) {
    g_link.log.push_back("close " + std::to_string(s));
    return 1;
  };
  e.sendData = [](uint32_t s, const void* data, uint32_t size) {
    g_link.log.push_back("send " + std::to_string(s) + " " + hex(data, size));
    return 1;
  };
  e.receiveData = [](uint32_t s, void* buffer, uint32_t size) -> int32_t {
    g_link.log.push_back("receive " + std::to_string(s) + " " + std::to_string(size));
    if (++g_link.polls != g_link.answerAt) return 0;
    std::memcpy(buffer, g_link.answer.data(), g_link.answer.size());
    return static_cast<int32_t>(g_link.answer.size());
  };
  e.enableNotification = [](uint32_t, platform::WindowHandle) { return 0; };
  e.getState = [](uint32_t, VNL2_STATE*) {};
  e.openConnectionExA = [](uint32_t, const char*) { return 0; };
  e.openConnectionExW = [](uint32_t, const char16_t*) { return 0; };
  return e;
}

link::FirmwareCheckHooks logging() {
  link::FirmwareCheckHooks hooks;
  hooks.wait = [](std::chrono::milliseconds ms) { g_link.log.push_back("wait " + std::to_string(ms.count())); };
  hooks.showBox = [](int id) { g_link.log.push_back("box " + std::to_string(id)); };
  return hooks;
}

TEST(FirmwareCheck, SendsTheRequestPollsAndCloses) {
  std::vector<uint8_t> old = kAccepted;
  old[9] = 0x2F;
  struct Row {
    const char* name;
    int32_t open;
    std::vector<uint8_t> answer;
    int answerAt;
    int polls;
    int32_t result;
  } rows[] = {{"accepted at the third poll", 1, kAccepted, 3, 3, 1},
              {"old firmware", 1, old, 1, 1, 0},
              {"no answer in ten polls", 1, kAccepted, 11, 10, 0},
              {"open refused: no check", 0, kAccepted, 1, 0, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_link = FakeLink(row.open, row.answer, row.answerAt);
    EXPECT_EQ(link::RunFirmwareCheck(fakeEntries(), logging()), row.result);
    std::vector<std::string> expected = {"open 32"};
    if (row.open) expected.push_back("send 32 00E40006000130010110");
    for (int i = 0; i < row.polls; ++i) expected.insert(expected.end(), {"wait 100", "receive 32 256"});
    if (row.open) expected.insert(expected.end(), {"send 32 04E600030F0100", "wait 200", "close 32", "wait 100"});
    if (!row.result) expected.push_back("box 101");
    EXPECT_EQ(g_link.log, expected);
  }
  vnl2::Entries incomplete = fakeEntries();
  incomplete.getState = nullptr;
  g_link = FakeLink();
  EXPECT_EQ(link::RunFirmwareCheck(incomplete, logging()), 0);
  EXPECT_TRUE(g_link.log.empty());  // no call, no box
}

TEST(FirmwareCheck, AFailedCheckShowsVnluisBox) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("TK_UI_LANGUAGE", "de_DE", 1);
  platform::ui::testing::SetDialogTimeout(10000);
  const platform::ui::ResourceRegistration strings(link::VnluiResources());
  std::string caption, text;
  platform::ui::testing::OnNextDialog([&](platform::WindowHandle box) {
    caption = platform::ui::GetWindowText(box);
    text = platform::ui::GetDlgItemText(box, 0xFFFF);
    platform::ui::testing::Click(platform::ui::GetDlgItem(box, platform::ui::kIdOk));
  });
  link::FirmwareCheckHooks hooks = logging();
  hooks.showBox = nullptr;
  g_link = FakeLink();
  EXPECT_EQ(link::RunFirmwareCheck(fakeEntries(), hooks), 0);
  EXPECT_EQ(caption, "Fehler");
  EXPECT_EQ(text.rfind("Ihre Ger\xE4tesoftware ist nicht kompatibel", 0), 0u) << text;
  unsetenv("TK_UI_LANGUAGE");
}

// The real check through VNL2D32 and the link control process against tksim.
TEST(FirmwareCheckChain, AcceptsOnlyAnExchangeWithVersion0x30) {
  tktest::InstallLinkControl(TK_VNL2C64_PATH);
  const std::string oldExchange = tktest::currentRoot() + "/old.conf";
  tktest::writeFile(oldExchange, "protocol-version 0x2F\n");
  struct Row {
    const char* name;
    std::vector<std::string> options;
    int32_t result;
  } rows[] = {
      {"version 0x30", {"--engine", "vnl"}, 1},
      // The engine refuses the start (RESULT with a detail byte) and names its version.
      {"version 0x2F", {"--engine", "vnl", "--exchange-config", oldExchange}, 0},
      {"version 0x2F, RESULT ok", {"--engine", "script", "--rule", "00e4* 01[1]0006d0010000012f"}, 0},
      {"9 bytes", {"--engine", "script", "--rule", "00e4* 01[1]0005d001000001"}, 0},
      {"no answer", {"--engine", "script", "--rule", "00e4*"}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    tktest::TksimPeer tksim;
    std::vector<std::string> options = {"--keepalive-ms", "0"};
    options.insert(options.end(), row.options.begin(), row.options.end());
    ASSERT_TRUE(tksim.Start(options));
    ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(tksim.port()));
    std::vector<int> boxes;
    link::FirmwareCheckHooks hooks;
    hooks.showBox = [&boxes](int id) { boxes.push_back(id); };
    EXPECT_EQ(link::CheckFirmware(hooks), row.result);
    EXPECT_EQ(boxes, row.result ? std::vector<int>{} : std::vector<int>{101});
    EXPECT_TRUE(tksim.WaitEvent("block 00e40006000130010110"));
    EXPECT_TRUE(tksim.WaitEvent("block 04e600030f0100"));
    tktest::EndLinkControlProcesses();
  }
  link::ReleaseFirmwareCheckLibrary();
}

}  // namespace
