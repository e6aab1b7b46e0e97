// SPDX-License-Identifier: GPL-3.0-or-later
// velk_xping WINDOW-ID: sends the window the _NET_WM_PING message a window
// manager sends to see whether a program still responds, and waits up to ten
// seconds for the answer. A program answers once it has handled the events
// queued before the ping, so the scripts that drive the window with xdotool
// use this to wait until a click or typed text has taken effect. Exit status
// 1 when no answer came.

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "tools/x_window.h"

namespace {

bool IsAnswer(const XEvent& event, Atom ping, long token, Window window) {
  return event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == ping &&
         event.xclient.data.l[1] == token && static_cast<Window>(event.xclient.data.l[2]) == window;
}

int Ping(Display* display, Window window) {
  // The answer comes on the root window, to those who listen for its
  // structure changes (Qt sends it with that mask).
  XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | SubstructureNotifyMask);
  const long token = static_cast<long>(getpid());
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const auto isAnswer = [&](const XEvent& event) { return IsAnswer(event, ping, token, window); };
  XEvent answer;
  if (velk::tools::SendProtocolMessage(display, window, "_NET_WM_PING", token,
                                       static_cast<long>(window)) &&
      velk::tools::AwaitEvent(display, deadline, isAnswer, answer)) {
    return 0;
  }
  std::fprintf(stderr, "velk_xping: the window did not answer\n");
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  return velk::tools::ActOnWindow(argc, argv, "velk_xping", Ping);
}
