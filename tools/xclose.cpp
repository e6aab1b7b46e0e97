// velk_xclose WINDOW-ID: sends the window the WM_DELETE_WINDOW message that a
// window manager sends when its close button is clicked.

#include "tools/x_window.h"

namespace {

int Close(Display* display, Window window) {
  return velk::tools::SendProtocolMessage(display, window, "WM_DELETE_WINDOW", CurrentTime, 0) ? 0
                                                                                               : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  return velk::tools::ActOnWindow(argc, argv, "velk_xclose", Close);
}
