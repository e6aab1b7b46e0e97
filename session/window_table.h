// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window VELK_Logging as data: its title, its client area and its six
// controls in tab order, with their kinds, places, sizes, first texts, first
// visibility, fonts and how each follows an enlarged window. Each toolkit's
// window builds its controls from this table alone.
// Plain C++: no toolkit in here.

#include <array>
#include <cstddef>
#include <string_view>

#include "logfile/log_arming.h"
#include "watch/watcher.h"

namespace velk::window {

inline constexpr std::string_view kTitle = "VELK Logger  TANDO";

// The client area in pixels at 96 dots per inch; every place and size below
// is on the same scale, measured from the client area's top left corner.
inline constexpr int kClientWidth = 480;
inline constexpr int kClientHeight = 248;
inline constexpr int kDesignDotsPerInch = 96;

struct Font {
  std::string_view family;
  int points;
  bool bold;
};

// The form's font, which every control takes unless it names its own.
inline constexpr Font kFormFont{"MS Sans Serif", 8, false};
inline constexpr Font kClockFont{"MS Sans Serif", 12, true};

enum class Kind {
  kTextBox,           // single line, editable
  kMultiLineTextBox,  // with a vertical scroll bar
  kPushButton,
  kLabel,
};

struct Box {
  int left;
  int top;
  int width;
  int height;
};

// How a control follows the window when the operator enlarges it: the
// places in the table are for the client area's first size.
enum class Anchor {
  kTop,          // stays where it is
  kBottom,       // keeps its distance to the bottom edge
  kBottomRight,  // keeps its distances to the bottom and right edges
  kBottomWide,   // keeps its distance to the bottom edge and grows as wide
  kFill,         // grows with the window
};

struct Control {
  std::string_view name;
  Kind kind;
  Box box;
  std::string_view text;  // first caption or text
  bool visible;           // at start
  bool centred;           // text centred in its box
  const Font* font;       // the form's font when null
  // What a screen reader calls the control; empty where its caption says it.
  std::string_view accessibleName;
  Anchor anchor;
};

// The controls' places in kControls, which is also the tab order.
enum Id : std::size_t { TimeNow, Go, LogLabel, LogFile, Info, StartMsg, kControlCount };

inline constexpr std::array<Control, kControlCount> kControls{{
    {"TimeNow",
     Kind::kTextBox,
     {8, 8, 89, 25},
     "",
     false,
     true,
     &kClockFont,
     "Clock",
     Anchor::kTop},
    {"Go",
     Kind::kPushButton,
     {408, 216, 65, 25},
     "Go",
     true,
     false,
     nullptr,
     "",
     Anchor::kBottomRight},
    {"LogLabel",
     Kind::kPushButton,
     {8, 216, 73, 25},
     kSetLogFileCaption,
     true,
     false,
     nullptr,
     "",
     Anchor::kBottom},
    {"LogFile",
     Kind::kTextBox,
     {88, 216, 321, 21},
     "",
     false,
     false,
     nullptr,
     "Log file path",
     Anchor::kBottomWide},
    {"Info",
     Kind::kMultiLineTextBox,
     {8, 32, 449, 185},
     "",
     false,
     false,
     nullptr,
     "Decodes",
     Anchor::kFill},
    {"StartMsg",
     Kind::kLabel,
     {112, 8, 329, 25},
     kWaitingCaption,
     false,
     false,
     nullptr,
     "",
     Anchor::kTop},
}};

// The font a control is drawn with.
constexpr const Font& FontOf(const Control& control) {
  return control.font != nullptr ? *control.font : kFormFont;
}

// A control's place in a client area of `width` x `height` (in the table's
// pixels), no smaller than the first.
constexpr Box PlaceIn(const Control& control, int width, int height) {
  const int wider = width > kClientWidth ? width - kClientWidth : 0;
  const int taller = height > kClientHeight ? height - kClientHeight : 0;
  Box box = control.box;
  if (control.anchor == Anchor::kBottomRight) box.left += wider;
  if (control.anchor == Anchor::kBottom || control.anchor == Anchor::kBottomRight ||
      control.anchor == Anchor::kBottomWide) {
    box.top += taller;
  }
  if (control.anchor == Anchor::kFill || control.anchor == Anchor::kBottomWide) {
    box.width += wider;
  }
  if (control.anchor == Anchor::kFill) box.height += taller;
  return box;
}

// The width of the amber band drawn around a control in its warning state.
inline constexpr int kWarningBand = 3;

// The band's outer edge around a control placed at `box`.
constexpr Box WarningBandAround(const Box& box) {
  return {box.left - kWarningBand, box.top - kWarningBand, box.width + 2 * kWarningBand,
          box.height + 2 * kWarningBand};
}

// The list keeps the newest decodes up to this many lines, a few days of a
// busy decoder, dropping the oldest: its memory stays flat on a run of
// weeks. The log file keeps everything.
inline constexpr int kListLines = 100'000;

}  // namespace velk::window
