// The check-list box's two bitmap strips, drawn as text: three cells side by
// side (unchecked, checked, indeterminate). The 11-pixel strip is the one the
// box uses; the 13-pixel strip is kept for old systems.
#include <string>

#include "ui/provider/check_list_box.h"

namespace ui::provider {
namespace {

namespace pui = platform::ui;

constexpr uint32_t kBlack = 0xFF000000, kWhite = 0xFFFFFFFF, kGrey = 0xFF808080, kSilver = 0xFFC0C0C0;

// A tick in a 9x9 interior ('x'), below a frame row and beside a frame column.
const char* const kTick[9] = {
    ".........", ".......x.", "......xx.", ".x...xxx.", ".xx.xxx..", ".xxxxx...", "..xxx....", "...x.....",
    ".........",
};

// One strip row from three cells' rows.
std::vector<std::string> joinCells(const std::vector<std::string> (&cells)[3]) {
  std::vector<std::string> rows(cells[0].size());
  for (size_t y = 0; y < rows.size(); ++y) rows[y] = cells[0][y] + cells[1][y] + cells[2][y];
  return rows;
}

// The 11x11 cells: white box with a grey frame ('f'); 'k' the black tick; cell 2
// a grey tick ('f') on silver ('s').
pui::Picture newStrip() {
  std::vector<std::string> cells[3];
  for (int c = 0; c < 3; ++c) {
    cells[c].push_back(std::string(11, 'f'));
    for (const char* tick : kTick) {
      std::string row = "f";
      for (int x = 0; x < 9; ++x) {
        const bool on = c > 0 && tick[x] == 'x';
        row += c == 2 ? (on ? 'f' : 's') : (on ? 'k' : 'w');
      }
      cells[c].push_back(row + "f");
    }
    cells[c].push_back(std::string(11, 'f'));
  }
  return pui::pictureFromRows(joinCells(cells), {{'f', kGrey}, {'w', kWhite}, {'k', kBlack}, {'s', kSilver}});
}

// The 13x13 cells: white box with a black frame; a cross in cell 1, a grey and
// white hatch in cell 2.
pui::Picture oldStrip() {
  std::vector<std::string> cells[3];
  for (int c = 0; c < 3; ++c) {
    cells[c].push_back(std::string(13, 'k'));
    for (int y = 0; y < 11; ++y) {
      std::string row = "k";
      for (int x = 0; x < 11; ++x) {
        if (c == 1) {
          row += (x == y || x == 10 - y) && x > 0 && x < 10 ? 'k' : 'w';
        } else {
          row += c == 2 && (x + y) % 2 == 0 ? 'g' : 'w';
        }
      }
      cells[c].push_back(row + "k");
    }
    cells[c].push_back(std::string(13, 'k'));
  }
  return pui::pictureFromRows(joinCells(cells), {{'k', kBlack}, {'w', kWhite}, {'g', kGrey}});
}

}  // namespace

std::vector<std::pair<int, platform::ui::Picture>> CheckListBoxBitmaps() {
  return {{kCheckBitmapNew, newStrip()}, {kCheckBitmapOld, oldStrip()}};
}

}  // namespace ui::provider
