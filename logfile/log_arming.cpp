// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_arming.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "common/path.h"

namespace velk {

namespace {

inline constexpr std::string_view kDefaultExtension = ".TXT";

// ".TXT" is added only when no "." stands anywhere in the path, the
// directory part included.
void AddDefaultExtension(std::string& path) {
  if (path.find('.') == std::string::npos) path += kDefaultExtension;
}

// The same file: the same path once "." and ".." are resolved, or two paths
// to one existing file.
bool SameFile(const std::string& one, const std::string& other) {
  namespace fs = std::filesystem;
  if (fs::path(one).lexically_normal() == fs::path(other).lexically_normal()) return true;
  std::error_code error;
  return fs::equivalent(one, other, error);
}

bool IsADecodeFile(const std::string& path, const std::vector<std::string>& decodeFiles) {
  for (const std::string& decodeFile : decodeFiles) {
    if (SameFile(path, decodeFile)) return true;
  }
  return false;
}

}  // namespace

void LogFileChange(LogControls& controls) {
  controls.SetLogLabelCaption(kSetItCaption);
}

// The button is disabled once a log file is armed, so a second click cannot
// come from the operator; should one arrive anyway, it runs the same steps
// as the first and arms whatever the box then holds.
void LogLabelClick(LogControls& controls, LogSettings& settings,
                   const std::string& workingDirectory,
                   const std::vector<std::string>& decodeFiles) {
  controls.ShowLogFile();
  controls.SetLogLabelCaption(kSetLogFileCaption);
  const std::string typed = controls.LogFileText();
  if (typed.empty()) return;  // the operator types the name next

  std::string path = JoinPath(workingDirectory, controls.UpperCase(typed));
  AddDefaultExtension(path);
  if (IsADecodeFile(path, decodeFiles)) {
    controls.ShowWhyNotArmed(kLogIsTheDecodeFile);
    return;
  }
  settings.Fi2 = std::move(path);
  settings.LogFlag = 1;
  // Showing the path is a change of the box's text and so briefly sets the
  // caption to "Set It".
  controls.SetLogFileText(settings.Fi2);
  controls.SetLogLabelCaption(kLogFileCaption);
  controls.DisableLogLabel();
}

}  // namespace velk
