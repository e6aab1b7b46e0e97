// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Arming a log file: the two-click exchange between the "Set Log File"
// button (LogLabel) and the LogFile text box that turns a typed name into a
// full path and arms logging, once per run. Each step returns what it
// changes on the window; it knows no window itself.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

inline constexpr std::string_view kSetLogFileCaption = "Set Log File";
inline constexpr std::string_view kSetItCaption = "Set It";
inline constexpr std::string_view kLogFileCaption = "Log File";

// Why a log that would be a decode file is not armed.
inline constexpr std::string_view kLogIsTheDecodeFile =
    "VELK_LOG reads the decodes from this file: give the log another name";
// Why a log is not armed when the disk did not say in time whether it is a
// decode file.
inline constexpr std::string_view kLogFolderDoesNotAnswer =
    "the log's folder does not answer: try again";

// How long arming waits for the disk to say whether two paths are one file.
inline constexpr std::chrono::milliseconds kSameFileWait{100};

// The window's two fields that arming writes.
struct LogSettings {
  int LogFlag = 0;  // 1 once a log file is armed
  std::string Fi2;  // the armed log file's full path
};

// What an arming step changes on the window, in this order: LogFile shown,
// LogLabel's caption, then either the reason the name typed was refused or
// the armed path in LogFile (a change of its text, which raises
// LogFile_Change), after which LogLabel reads kLogFileCaption and is
// disabled.
struct ArmingStep {
  bool showLogFile = false;
  std::string_view caption;
  std::string_view refusal;  // empty unless refused
  std::string armedPath;     // empty unless armed
};

// The Unicode-aware upper-case form of a text (UTF-8 in and out).
using UpperCaseFunction = std::function<std::string(std::string_view)>;
// Whether two paths name one existing file; nullopt when the disk did not
// answer in time.
using SameFileCheck = std::function<std::optional<bool>(const std::string&, const std::string&)>;

// Asks the disk whether two paths name one existing file. Can wait as long
// as the disk does: run it where a wait does no harm.
bool SameFileOnDisk(const std::string& one, const std::string& other);

// Any change of LogFile's text, typed or set by the program.
ArmingStep LogFileChange();

// What LogLabel_Click works from.
struct LogLabelInput {
  std::string typed;  // LogFile's text
  std::string workingDirectory;
  std::vector<std::string> decodeFiles;
  UpperCaseFunction upperCase;
  SameFileCheck sameFile;  // asked only when the paths differ as text
};

// A click on LogLabel: shows the box; with a name typed, arms the log file
// in the working directory and shows its full path. A name that makes the
// log one of the decode files, or whose folder does not say in time whether
// it does, is refused: records must never go into the file the decodes are
// read from.
ArmingStep LogLabelClick(LogSettings& settings, const LogLabelInput& input);

}  // namespace velk
