// SPDX-License-Identifier: GPL-3.0-or-later
// velk_window_points: prints the window table's client area and controls, one
// a line, as
//   NAME LEFT TOP WIDTH HEIGHT
// in pixels at 96 dots per inch from the client area's top left corner; the
// client area comes first, named "Client". The scripts that drive the real
// window (on Linux and under Wine) compute the points they click from these
// lines, so a control that moves in the table moves in the scripts too.

#include <cstdio>
#include <string_view>

#include "session/window_table.h"

namespace {

void Print(std::string_view name, const velk::window::Box& box) {
  std::printf("%.*s %d %d %d %d\n", static_cast<int>(name.size()), name.data(), box.left, box.top,
              box.width, box.height);
}

}  // namespace

int main() {
  Print("Client", {0, 0, velk::window::kClientWidth, velk::window::kClientHeight});
  for (const auto& control : velk::window::kControls) Print(control.name, control.box);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
