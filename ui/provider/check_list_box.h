#pragma once
// The check-list box: an owner-drawn list box (kListOwnerDrawFixed) with a
// three-state check mark, an enabled flag and a checkable flag per entry,
// the mark drawn from a bitmap strip of three cells (unchecked, checked,
// indeterminate). The configuration dialog shows its extension list with it.
//
// In: MakeCheckListBox subclasses the list (its window procedure becomes
// CheckListBoxProc); the parent dialog forwards WM_DRAWITEM, WM_MEASUREITEM,
// WM_DELETEITEM and WM_COMPAREITEM of the list to CheckListBoxOwnerDraw.
// Mouse clicks in an entry's check area and the space bar toggle the mark
// (0 -> 1, 1 or 2 -> 0); the setters below change it from code.
// Out: after every toggle by the user the parent gets WM_COMMAND with the
// list's id in the low word and kClnCheckChange in the high word, lParam the
// list window. Each entry owns an ItemCheckRecord kept as its item data,
// made on first need and freed on WM_DELETEITEM; LB_GETITEMDATA and
// LB_SETITEMDATA reach the caller's data inside it.
//
// Shared state (the bitmap strip, the one saved list procedure) is set up by
// CheckListBoxAttach and released by CheckListBoxDetach, as the module's load
// and unload do. Threads: the dialogs' thread only, like the dialog layer.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/drawing.h"
#include "platform/ui/resources.h"
#include "platform/window.h"

namespace ui::provider {

constexpr uint16_t kClnCheckChange = 40;  // WM_COMMAND notification after every user toggle
constexpr int kCheckBitmapNew = 105, kCheckBitmapOld = 106;
constexpr uint32_t kWmCompareItem = 0x0039;

// The two check bitmap strips, for the module's resources (ModuleResources::bitmaps):
// kCheckBitmapNew 33x11 (cells 11x11), kCheckBitmapOld 39x13 (cells 13x13).
std::vector<std::pair<int, platform::ui::Picture>> CheckListBoxBitmaps();

// Shared set-up/tear-down (the module's attach/detach): takes the bitmap
// (kCheckBitmapNew; kCheckBitmapOld on systems whose major version is below
// 4, which this system never is) from the resources of `moduleName`. Without
// the bitmap the boxes draw without marks. Counted: the last detach releases.
void CheckListBoxAttach(std::string_view moduleName);
void CheckListBoxDetach();

// Makes the owner-drawn list box `id` of `dialog` a check-list box (subclasses it); false when missing.
bool MakeCheckListBox(platform::WindowHandle dialog, int id);

// The parent's owner-draw handler for WM_DRAWITEM / WM_MEASUREITEM / WM_DELETEITEM / WM_COMPAREITEM:
// 1 after drawing, measuring or deleting; 0 for comparing (all entries compare equal) and anything else.
intptr_t CheckListBoxOwnerDraw(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam,
                               platform::LParam lParam);

int32_t CheckListBoxGetState(platform::WindowHandle list, int index);              // 0,1,2; -1 bad index
void CheckListBoxSetState(platform::WindowHandle list, int index, int32_t state);  // only 0 and 1; 2 ignored
void CheckListBoxSetEnabled(platform::WindowHandle list, int index, bool enabled);
void CheckListBoxSetCheckable(platform::WindowHandle list, int index, bool checkable);
// Read-back of the flags (an entry without a record is enabled and checkable; false for a bad index).
bool CheckListBoxIsEnabled(platform::WindowHandle list, int index);
bool CheckListBoxIsCheckable(platform::WindowHandle list, int index);

// The window procedure of a check-list box (exported as lCheckListBoxProc).
platform::LResult CheckListBoxProc(platform::WindowHandle list, uint32_t message, platform::WParam wParam,
                                   platform::LParam lParam);

namespace testing {
// Puts an entry into any state (the indeterminate one too, which the setters refuse).
void ForceState(platform::WindowHandle list, int index, int32_t state);
// How many entry records exist (made and not yet freed).
size_t LiveRecords();
}  // namespace testing

}  // namespace ui::provider
