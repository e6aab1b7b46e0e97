// SPDX-License-Identifier: GPL-3.0-or-later
// velk_xclose [--destroy] WINDOW-ID: sends the window the WM_DELETE_WINDOW
// message that a window manager sends when its close button is clicked; with
// --destroy, destroys the window from outside instead, as another X client
// can.

#include <cstring>

#include "tools/x_window.h"

namespace {

int Close(Display* display, Window window) {
  return velk::tools::SendProtocolMessage(display, window, "WM_DELETE_WINDOW", CurrentTime, 0) ? 0
                                                                                               : 1;
}

int Destroy(Display* display, Window window) {
  XDestroyWindow(display, window);
  XSync(display, False);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::strcmp(argv[1], "--destroy") == 0) {
    return velk::tools::ActOnWindow(argc - 1, argv + 1, "velk_xclose --destroy", Destroy);
  }
  return velk::tools::ActOnWindow(argc, argv, "velk_xclose", Close);
}
