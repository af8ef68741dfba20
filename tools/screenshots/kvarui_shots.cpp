// Screenshots of KVARUI's configuration dialog, run through its export
// TUISPI_providerConfig against a small scripted provider of this file:
// the dialog collapsed and expanded, with lines open (box 35 and the
// disabled controls), and the error boxes 19 (exchange unreachable) and 23
// (exchange not read). Every dialog is left with Cancel, so nothing is saved.
#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "provider/ui_request_block.h"
#include "tapi/tspi.h"
#include "tools/screenshots/shots.h"

namespace {

namespace pui = platform::ui;
using ConfigFn = LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD);

// What the scripted provider answers.
struct ShotProvider {
  bool inUse = false;
  uint32_t connect = 0;  // request 10's result
  uint32_t read = 0;     // request 12's result
};
ShotProvider g_provider;

struct ShotExtension {
  const char16_t* number;
  bool inUse;
  uint32_t handsfree;
};
constexpr ShotExtension kExtensions[] = {{u"21", true, 0}, {u"22", true, 1}, {u"23", false, 0}, {u"31", true, 2}};
constexpr uint32_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];

void answer(kvarsp::UiRequestBlock& b, std::u16string_view text) {
  const size_t n = std::min(text.size(), kvarsp::kUiOutputChars - 1);
  std::copy_n(text.data(), n, b.outputText);
  b.outputText[n] = u'\0';
}

LONG shotCallback(DWORD_PTR, DWORD, LPVOID params, DWORD size) {
  if (params == nullptr || size != sizeof(kvarsp::UiRequestBlock)) return -1;
  auto& b = *static_cast<kvarsp::UiRequestBlock*>(params);
  const uint32_t x = b.x;
  b.result = 0;
  switch (b.request) {
    case kvarsp::UIREQ_LOCK: b.result = 1; break;
    case kvarsp::UIREQ_GET_EXT_COUNT: b.result = kExtensionCount; break;
    case kvarsp::UIREQ_GET_EXT_ADDRESS:
      if (x < kExtensionCount) answer(b, kExtensions[x].number), b.result = 1;
      break;
    case kvarsp::UIREQ_PBX_CONNECT: b.result = g_provider.connect; break;
    case kvarsp::UIREQ_PBX_READ: b.result = g_provider.read; break;
    case kvarsp::UIREQ_GET_LINE_NAME: answer(b, u"Marlix TK-Anlage"); break;
    case kvarsp::UIREQ_IS_IN_USE: b.result = g_provider.inUse ? 1 : 0; break;
    case kvarsp::UIREQ_GET_OUTSIDE_PREFIX:
    case kvarsp::UIREQ_GET_LONGDIST_PREFIX: answer(b, u"0"), b.result = 1; break;
    case kvarsp::UIREQ_GET_INTL_PREFIX: answer(b, u"00"), b.result = 1; break;
    case kvarsp::UIREQ_GET_EXT_IN_USE: b.result = x < kExtensionCount && kExtensions[x].inUse; break;
    case kvarsp::UIREQ_GET_EXT_LINE_ID: b.result = 100 + x; break;
    case kvarsp::UIREQ_GET_HANDSFREE: b.result = x < kExtensionCount ? kExtensions[x].handsfree : 0; break;
    default: break;  // everything else: result 0, nothing written
  }
  return 0;
}

void click(platform::WindowHandle dialog, int id) { pui::testing::Click(pui::GetDlgItem(dialog, id)); }
void grab(const std::string& dir, platform::WindowHandle window, const std::string& name) {
  pui::GrabDialog(window, dir + "/kvarui-" + name + ".png");
}
// Grabs the next window (a box) and leaves it with OK.
void grabBox(const std::string& dir, const std::string& name) {
  pui::testing::OnNextDialog([dir, name](platform::WindowHandle box) {
    grab(dir, box, name);
    click(box, pui::kIdOk);
  });
}

constexpr int kIdAdvanced = 1005, kIdExtensionList = 1013;

}  // namespace

void ShootKvarui(const std::string& dir) {
  platform::ModuleHandle module = platform::loadLibrary("KVARUI.DLL");
  ConfigFn configure = nullptr;
  if (!module || !platform::getProcAddress(module, "TUISPI_providerConfig", configure)) {
    if (module) platform::freeLibrary(module);
    return;  // no pictures: the caller reports the module
  }
  g_provider = ShotProvider{};
  pui::testing::OnNextDialog([dir](platform::WindowHandle dialog) {
    pui::testing::ChooseItem(pui::GetDlgItem(dialog, kIdExtensionList), 1);
    grab(dir, dialog, "collapsed");
    click(dialog, kIdAdvanced);
    grab(dir, dialog, "expanded");
    click(dialog, pui::kIdCancel);
  });
  configure(shotCallback, nullptr, 1);

  g_provider.inUse = true;
  grabBox(dir, "in-use-box35");
  pui::testing::OnNextDialog([dir](platform::WindowHandle dialog) {
    grab(dir, dialog, "in-use");
    click(dialog, pui::kIdCancel);
  });
  configure(shotCallback, nullptr, 1);

  for (const auto& [connect, read, name] : {std::tuple<uint32_t, uint32_t, const char*>{5, 0, "error19"},
                                            std::tuple<uint32_t, uint32_t, const char*>{0, 7, "error23"}}) {
    g_provider = ShotProvider{};
    g_provider.connect = connect;
    g_provider.read = read;
    grabBox(dir, name);
    pui::testing::OnNextDialog([](platform::WindowHandle dialog) { click(dialog, pui::kIdCancel); });
    configure(shotCallback, nullptr, 1);
  }
  platform::freeLibrary(module);
}
