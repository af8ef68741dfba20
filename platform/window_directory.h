#pragma once
// The windows every process under the same root can see: each window has a
// small file in <runtime>/windows, named by its handle, holding the owning
// process (id and start time), the creation time and the class name. A
// process that ends without withdrawing its windows leaves files behind;
// they are recognised by the process identity and removed by whoever finds
// them.
#include <string>
#include <string_view>

#include "platform/window.h"

namespace platform::wnd {

// Makes the window visible to other processes (its file, and the receiver
// of messages from other processes under runtimeDir). False on failure.
bool publishWindow(WindowHandle window, std::string_view className, const std::string& runtimeDir);
void unpublishWindow(WindowHandle window, const std::string& runtimeDir);

// The earliest created live window of the class (case-insensitive) under
// the current root; nullptr when none.
WindowHandle findPublishedWindow(std::string_view className);
// True when the window is published under the current root and its process still runs.
bool publishedWindowAlive(WindowHandle window);

}  // namespace platform::wnd
