#pragma once

// The window VELK_Logging as data: its title, its client area and its six
// controls in tab order, with their kinds, places, sizes, first texts, first
// visibility and fonts. Each toolkit's window builds its controls from this
// table alone, so the Linux and the Windows window cannot drift apart.
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
};

// The controls' places in kControls, which is also the tab order.
enum Id : std::size_t { TimeNow, Go, LogLabel, LogFile, Info, StartMsg, kControlCount };

inline constexpr std::array<Control, kControlCount> kControls{{
    {"TimeNow", Kind::kTextBox, {8, 8, 89, 25}, "", false, true, &kClockFont, "Clock"},
    {"Go", Kind::kPushButton, {408, 216, 65, 25}, "Go", true, false, nullptr, ""},
    {"LogLabel", Kind::kPushButton, {8, 216, 73, 25}, kSetLogFileCaption, true, false, nullptr, ""},
    {"LogFile", Kind::kTextBox, {88, 216, 321, 21}, "", false, false, nullptr, "Log file path"},
    {"Info", Kind::kMultiLineTextBox, {8, 32, 449, 185}, "", false, false, nullptr, "Decodes"},
    {"StartMsg", Kind::kLabel, {112, 8, 329, 25}, kWaitingCaption, false, false, nullptr, ""},
}};

// The font a control is drawn with.
constexpr const Font& FontOf(const Control& control) {
  return control.font != nullptr ? *control.font : kFormFont;
}

// Timer1's interval, set at load: as often as the toolkit allows.
inline constexpr int kTimer1IntervalMs = 1;

}  // namespace velk::window
