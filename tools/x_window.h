// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The frame shared by the small X tools that act on one window, named by its
// id on the command line, on behalf of the scripts that drive VELK_LOG under
// Xvfb.

#include <X11/Xlib.h>

#include <chrono>
#include <functional>

namespace velk::tools {

// Runs `act` on the window named by "PROGRAM WINDOW-ID" on the default
// display. Returns `act`'s exit status; 2 for a wrong command line, 1 when
// the display cannot be opened.
int ActOnWindow(int argc, char* argv[], const char* program, int (*act)(Display*, Window));

// Takes events off the connection until one that `wanted` accepts, which is
// left in `event`; false when none came by `deadline`.
bool AwaitEvent(Display* display, std::chrono::steady_clock::time_point deadline,
                const std::function<bool(const XEvent&)>& wanted, XEvent& event);

// Sends `window` the WM_PROTOCOLS client message for `protocol`, as a window
// manager does; `second` and `third` are its next two data words.
bool SendProtocolMessage(Display* display, Window window, const char* protocol, long second,
                         long third);

}  // namespace velk::tools
