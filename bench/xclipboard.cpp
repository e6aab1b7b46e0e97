// SPDX-License-Identifier: GPL-3.0-or-later
// velk_xclipboard: prints the text on the X clipboard (the CLIPBOARD
// selection as UTF-8) to standard output, also when its owner hands it over
// in pieces (INCR). The end-to-end benchmark copies the window's list with
// Ctrl+A Ctrl+C and reads it back with this. Exit status 1 when there is no
// text or the owner does not answer within five seconds.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>

#include "tools/x_window.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Atoms {
  Atom clipboard;
  Atom utf8;
  Atom property;
  Atom incr;
};

// The next event of `type` for `window`; false after the deadline.
bool NextEvent(Display* display, Window window, int type, XEvent& event,
               Clock::time_point deadline) {
  return velk::tools::AwaitEvent(
      display, deadline,
      [&](const XEvent& next) { return next.type == type && next.xany.window == window; }, event);
}

// Takes the property off the window; its type and its bytes.
Atom TakeProperty(Display* display, Window window, Atom property, std::string& bytes) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType, &type,
                         &format, &items, &after, &data) != Success) {
    return None;
  }
  if (data != nullptr) {
    bytes.assign(reinterpret_cast<const char*>(data), items * static_cast<unsigned>(format / 8));
    XFree(data);
  }
  return type;
}

// The pieces of an INCR transfer, each announced by a new value of the
// property, until an empty one.
bool TakePieces(Display* display, Window window, Atom property, std::string& text,
                Clock::time_point deadline) {
  XEvent event;
  while (NextEvent(display, window, PropertyNotify, event, deadline)) {
    if (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue) continue;
    std::string piece;
    TakeProperty(display, window, property, piece);
    if (piece.empty()) return true;
    text += piece;
  }
  return false;
}

bool ReadClipboard(Display* display, Window window, const Atoms& atoms, std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  XConvertSelection(display, atoms.clipboard, atoms.utf8, atoms.property, window, CurrentTime);
  XEvent event;
  if (!NextEvent(display, window, SelectionNotify, event, deadline)) return false;
  if (event.xselection.property == None) return false;
  const Atom type = TakeProperty(display, window, atoms.property, text);
  if (type != atoms.incr) return type != None;
  text.clear();
  return TakePieces(display, window, atoms.property, text, deadline);
}

}  // namespace

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "velk_xclipboard: cannot open the display\n");
    return 1;
  }
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  const Atoms atoms{
      XInternAtom(display, "CLIPBOARD", False), XInternAtom(display, "UTF8_STRING", False),
      XInternAtom(display, "VELK_CLIPBOARD", False), XInternAtom(display, "INCR", False)};
  std::string text;
  const bool read = ReadClipboard(display, window, atoms, text);
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  if (!read) {
    std::fprintf(stderr, "velk_xclipboard: no text on the clipboard\n");
    return 1;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
