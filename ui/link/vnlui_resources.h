#pragma once
// vnlui's resources: the string table of the firmware check's message boxes
// (ids 101 to 103) in German (the base language), English (United States)
// and French, registered under the module name "VNLUI.Dll".
#include "platform/ui/resources.h"

namespace ui::link {

inline constexpr char kVnluiModuleName[] = "VNLUI.Dll";

platform::ui::ModuleResources VnluiResources();

}  // namespace ui::link
