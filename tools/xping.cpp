// velk_xping WINDOW-ID: sends the window the _NET_WM_PING message a window
// manager sends to see whether a program still responds, and waits up to ten
// seconds for the answer. A program answers once it has handled the events
// queued before the ping, so the scripts that drive the window with xdotool
// use this to wait until a click or typed text has taken effect. Exit status
// 1 when no answer came.

#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

bool IsAnswer(const XEvent& event, Atom ping, long token, Window window) {
  return event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == ping &&
         event.xclient.data.l[1] == token && static_cast<Window>(event.xclient.data.l[2]) == window;
}

// The answer arrives on the root window, where this client listens (Qt
// sends it to those who listen for structure changes of the root window).
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

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velk_xping WINDOW-ID\n");
    return 2;
  }
  const Window window = std::strtoul(argv[1], nullptr, 0);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "velk_xping: cannot open the display\n");
    return 1;
  }
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  const long token = static_cast<long>(getpid());
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(ping);
  event.xclient.data.l[1] = token;
  event.xclient.data.l[2] = static_cast<long>(window);
  const bool answered = XSendEvent(display, window, False, NoEventMask, &event) &&
                        AwaitAnswer(display, ping, token, window);
  XCloseDisplay(display);
  if (!answered) std::fprintf(stderr, "velk_xping: the window did not answer\n");
  return answered ? 0 : 1;
}
