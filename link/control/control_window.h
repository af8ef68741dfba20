#pragma once
// The hidden control window Vnl2Wnd: the one target of the interface
// library's messages (outbound blocks, close requests) and of the timers.
// It hands its four events (create, close, copy-data, timer) and its
// destruction to the LinkController, all on the thread that created it.
#include <string>

#include "link/control/link_controller.h"
#include "platform/window.h"

inline constexpr char kControlWindowClass[] = "VnL2ControlProg";
inline constexpr char kControlWindowCaption[] = "Ondra CTI Layer II Control";

// Registers the window class for the controller. False when the class
// cannot be registered.
bool RegisterControlWindowClass(LinkController& controller);

// Creates the window; its creation opens the link named linkName (empty:
// the configured one). nullptr when the link could not be opened.
platform::WindowHandle CreateControlWindow(const std::string& linkName);
