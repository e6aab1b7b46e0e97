// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Arming a log file: the two-click exchange between the "Set Log File"
// button (LogLabel) and the LogFile text box that turns a typed name into a
// full path and arms logging, once per run.

#include <string>
#include <string_view>
#include <vector>

namespace velk {

inline constexpr std::string_view kSetLogFileCaption = "Set Log File";
inline constexpr std::string_view kSetItCaption = "Set It";
inline constexpr std::string_view kLogFileCaption = "Log File";

// What the exchange does to the window.
class LogControls {
 public:
  virtual ~LogControls() = default;

  virtual void ShowLogFile() = 0;
  virtual void SetLogLabelCaption(std::string_view caption) = 0;
  virtual std::string LogFileText() const = 0;
  // Sets the box's text; a different text raises its change event (and so
  // LogFileChange) before this returns, exactly as typing does.
  virtual void SetLogFileText(const std::string& text) = 0;
  virtual void DisableLogLabel() = 0;
  // The Unicode-aware upper-case form of a text (UTF-8 in and out).
  virtual std::string UpperCase(const std::string& text) const = 0;
  // Tells the operator why the name typed was not armed.
  virtual void ShowWhyNotArmed(std::string_view reason) = 0;
};

// Why a log that would be a decode file is not armed.
inline constexpr std::string_view kLogIsTheDecodeFile =
    "VELK_LOG reads the decodes from this file: give the log another name";

// The window's two fields that arming writes.
struct LogSettings {
  int LogFlag = 0;  // 1 once a log file is armed
  std::string Fi2;  // the armed log file's full path
};

// Any change of LogFile's text, typed or set by the program.
void LogFileChange(LogControls& controls);

// A click on LogLabel: shows the box; with a name typed, arms the log file
// in `workingDirectory` and shows its full path. A name that makes the log
// one of `decodeFiles` is refused: records must never go into the file the
// decodes are read from.
void LogLabelClick(LogControls& controls, LogSettings& settings,
                   const std::string& workingDirectory,
                   const std::vector<std::string>& decodeFiles = {});

}  // namespace velk
