// velk_xping WINDOW-ID: sends the window the _NET_WM_PING message a window
// manager sends to see whether a program still responds, and waits up to ten
// seconds for the answer. A program answers once it has handled the events
// queued before the ping, so the scripts that drive the window with xdotool
// use this to wait until a click or typed text has taken effect. Exit status
// 1 when no answer came.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "tools/x_window.h"

namespace {

using Clock = std::chrono::steady_clock;

bool IsAnswer(const XEvent& event, Atom ping, long token, Window window) {
  return event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == ping &&
         event.xclient.data.l[1] == token && static_cast<Window>(event.xclient.data.l[2]) == window;
}

// The answer arrives on the root window, where this client listens.
bool AwaitAnswer(Display* display, Atom ping, long token, Window window) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (true) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (IsAnswer(event, ping, token, window)) return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(left.count()));
  }
}

int Ping(Display* display, Window window) {
  // The answer comes to those who listen for structure changes of the root
  // window (Qt sends it with that mask).
  XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | SubstructureNotifyMask);
  const long token = static_cast<long>(getpid());
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  if (velk::tools::SendProtocolMessage(display, window, "_NET_WM_PING", token,
                                       static_cast<long>(window)) &&
      AwaitAnswer(display, ping, token, window)) {
    return 0;
  }
  std::fprintf(stderr, "velk_xping: the window did not answer\n");
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  return velk::tools::ActOnWindow(argc, argv, "velk_xping", Ping);
}
