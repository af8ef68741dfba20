// gwProbe's resources: its two dialogs, its string table (English, United
// Kingdom, the only language), the bitmap beside the status line and the clip
// the search dialog plays, registered under "gwprobe.dll" while the module is
// loaded.
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "discovery/gwprobe_dialogs.h"
#include "platform/ui/resources.h"

namespace discovery {
namespace {
namespace ui = platform::ui;
using K = ui::ControlKind;


ui::DialogTemplate tcpSettingDialog() {
  ui::DialogTemplate t;
  t.id = kDlgTcpSetting;
  t.name = "gwprobe-tcp-settings";
  t.caption = "TCP/IP settings";
  t.rect = {0, 0, 186, 95};
  const uint32_t tab = ui::kCtlTabStop;
  t.controls = {
      ui::makeControl(ui::kIdOk, K::DefPushButton, "OK", {129, 7, 50, 14}, tab | ui::kCtlGroup),
      ui::makeControl(ui::kIdCancel, K::PushButton, "Cancel", {129, 24, 50, 14}, tab),
      ui::makeControl(-1, K::Static, "IP address:", {13, 16, 37, 8}, 0),
      ui::makeControl(kIdcOctet1, K::Edit, "", {13, 29, 25, 14}, tab | ui::kCtlBorder),
      ui::makeControl(kIdcOctet1 + 1, K::Edit, "", {40, 29, 25, 14}, tab | ui::kCtlBorder),
      ui::makeControl(kIdcOctet1 + 2, K::Edit, "", {68, 29, 25, 14}, tab | ui::kCtlBorder),
      ui::makeControl(kIdcOctet1 + 3, K::Edit, "", {96, 29, 25, 14}, tab | ui::kCtlBorder),
      ui::makeControl(-1, K::GroupBox, "Search for PABX in the LAN", {14, 53, 108, 28}, 0),
      ui::makeControl(kIdcSearch, K::PushButton, "Search", {66, 64, 50, 14}, tab),
  };
  return t;
}

ui::DialogTemplate selectListDialog() {
  ui::DialogTemplate t;
  t.id = kDlgSelectList;
  t.name = "gwprobe-search";
  t.caption = "Search for routers in the local network ...";
  t.rect = {0, 0, 202, 143};
  const uint32_t tab = ui::kCtlTabStop;
  ui::ControlTemplate bitmap = ui::makeControl(-1, K::Image, "", {17, 14, 18, 18}, ui::kImageBitmap);
  bitmap.imageId = kBitmapPabx;
  t.controls = {
      ui::makeControl(ui::kIdOk, K::DefPushButton, "OK", {42, 122, 50, 14}, tab | ui::kCtlGroup),
      ui::makeControl(ui::kIdCancel, K::PushButton, "Cancel", {106, 122, 50, 14}, tab),
      bitmap,
      ui::makeControl(kIdcStatus, K::Static, "Search for PABXs in the local network ...", {40, 14, 143, 18},
              ui::kStaticCenter | ui::kStaticSunken),
      ui::makeControl(kIdcAnimation, K::Animation, "", {19, 39, 165, 70},
              ui::kAnimCenter | ui::kAnimTransparent | ui::kAnimAutoPlay),
      ui::makeControl(-1, K::Static, "", {7, 7, 187, 106}, ui::kStaticEtchedFrame),
      ui::makeControl(kIdcRouterList, K::ListBox, "", {18, 38, 165, 70},
              tab | ui::kListNotify | ui::kListSort | ui::kListNoIntegralHeight | ui::kListVScroll |
                  ui::kCtlBorder | ui::kListHasStrings),
  };
  return t;
}

const std::vector<std::pair<char, uint32_t>> kPalette = {
    {'k', 0xFF202020},  // outline
    {'g', 0xFFC0C0C0},  // case
    {'d', 0xFF808080},  // shade
    {'w', 0xFFFFFFFF},  // light
    {'b', 0xFF2050C0},  // screen, waves
    {'l', 0xFF70A0F0},  // fading waves
    {'r', 0xFFE03020},  // lamp, off
    {'G', 0xFF20C040},  // lamp, on
};

// The exchange: a box with a row of ports and two lamps.
ui::Picture pabxBitmap() {
  return ui::pictureFromRows({
                                 "                        ",
                                 "                        ",
                                 "                        ",
                                 "                        ",
                                 "   kkkkkkkkkkkkkkkkkk   ",
                                 "  kwwwwwwwwwwwwwwwwwwk  ",
                                 "  kwggggggggggggggggdk  ",
                                 "  kwgGgrggggggggggggdk  ",
                                 "  kwggggggggggggggggdk  ",
                                 "  kwggggggggggggggggdk  ",
                                 "  kwgkkgkkgkkgkkgkkgdk  ",
                                 "  kwgkbgkbgkbgkbgkbgdk  ",
                                 "  kwggggggggggggggggdk  ",
                                 "  kwggggggggggggggggdk  ",
                                 "  kddddddddddddddddddk  ",
                                 "   kkkkkkkkkkkkkkkkkk   ",
                                 "    kk            kk    ",
                             },
                             kPalette);
}

// One frame of the search clip: a computer on the left sends waves that
// travel over to the exchange on the right.
ui::Picture searchFrame(int frame) {
  constexpr int kWidth = 120, kHeight = 48;
  std::vector<std::string> rows(kHeight, std::string(kWidth, ' '));
  auto put = [&](int x, int y, char c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = c;
  };
  auto box = [&](int x0, int y0, int x1, int y1, char fill) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) put(x, y, (x == x0 || x == x1 || y == y0 || y == y1) ? 'k' : fill);
  };
  // The computer: screen on a stand.
  box(2, 12, 22, 28, 'g');
  box(5, 15, 19, 25, 'b');
  box(9, 29, 15, 31, 'd');
  box(5, 32, 19, 34, 'g');
  // The exchange: a box with ports; its lamp lights up when a wave arrives.
  box(96, 16, 117, 30, 'g');
  for (int port = 0; port < 5; ++port) box(99 + port * 3, 25, 100 + port * 3, 27, 'b');
  put(99, 19, frame >= 6 ? 'G' : 'r');
  // Three arcs around the computer's screen, moving outwards by frame.
  const int cx = 22, cy = 20;
  for (int ring = 0; ring < 3; ++ring) {
    const int radius = 8 + ((frame * 9 + ring * 24) % 72);
    const char colour = radius > 56 ? 'l' : 'b';
    for (int y = cy - radius; y <= cy + radius; ++y) {
      for (int x = cx; x <= cx + radius; ++x) {
        const int dx = x - cx, dy = y - cy;
        const int d2 = dx * dx + dy * dy;
        if (d2 >= radius * radius - radius && d2 <= radius * radius + radius && std::abs(dy) * 3 <= dx * 2)
          put(x, y, colour);
      }
    }
  }
  return ui::pictureFromRows(rows, kPalette);
}

ui::Animation searchClip() {
  ui::Animation clip;
  for (int frame = 0; frame < 8; ++frame) clip.frames.push_back(searchFrame(frame));
  clip.frameMs = 125;
  return clip;
}

ui::ModuleResources resources() {
  ui::ModuleResources module;
  module.moduleName = kModuleName;
  module.baseLanguage = ui::kLangEnglishUk;
  ui::LanguageResources english;
  english.language = ui::kLangEnglishUk;
  english.dialogs = {tcpSettingDialog(), selectListDialog()};
  english.strings = {
      {kIdsSocketsFailed, "Error initializing the Windows sockets."},
      {kIdsNotInNetwork, "The IP address %s does not exist in the local network. \nDo you really want to use it?"},
      {kIdsConfigError, "Configuration error"},
      {kIdsIncomplete, "The IP address has been entered incomplete!"},
      {kIdsNoRouter, "No router has been found ..."},
      {kIdsRoutersFound, "The following routers have been found ..."},
  };
  module.languages = {english};
  module.bitmaps = {{kBitmapPabx, pabxBitmap()}};
  module.animations = {{kClipSearch, searchClip()}};
  return module;
}

const ui::ResourceRegistration g_registration(resources());

}  // namespace
}  // namespace discovery
