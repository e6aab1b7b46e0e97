// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace velk {

// A 24-bit red-green-blue colour.
struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  friend constexpr bool operator==(Colour, Colour) = default;
};

inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kBrightGreen{0, 255, 0};
inline constexpr Colour kClockGreen{0, 128, 64};
// The band around the log box while records wait to be written or a log
// was refused. The box keeps its own background, so that the colour of its
// text reads as well as ever.
inline constexpr Colour kWarningAmber{255, 160, 0};

}  // namespace velk
