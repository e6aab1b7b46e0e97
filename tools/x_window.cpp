// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/x_window.h"

#include <poll.h>

#include <cstdio>
#include <cstdlib>

namespace velk::tools {

int ActOnWindow(int argc, char* argv[], const char* program, int (*act)(Display*, Window)) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s WINDOW-ID\n", program);
    return 2;
  }
  const Window window = std::strtoul(argv[1], nullptr, 0);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "%s: cannot open the display\n", program);
    return 1;
  }
  const int status = act(display, window);
  XCloseDisplay(display);
  return status;
}

bool AwaitEvent(Display* display, std::chrono::steady_clock::time_point deadline,
                const std::function<bool(const XEvent&)>& wanted, XEvent& event) {
  using std::chrono::milliseconds;
  while (true) {
    while (XPending(display) > 0) {
      XNextEvent(display, &event);
      if (wanted(event)) return true;
    }
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(left.count()));
  }
}

bool SendProtocolMessage(Display* display, Window window, const char* protocol, long second,
                         long third) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, protocol, False));
  event.xclient.data.l[1] = second;
  event.xclient.data.l[2] = third;
  return XSendEvent(display, window, False, NoEventMask, &event) != 0;
}

}  // namespace velk::tools
