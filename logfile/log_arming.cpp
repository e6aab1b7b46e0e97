#include "logfile/log_arming.h"

#include "common/path.h"

namespace velk {

namespace {

inline constexpr std::string_view kDefaultExtension = ".TXT";

// ".TXT" is added only when no "." stands anywhere in the path, the
// directory part included.
void AddDefaultExtension(std::string& path) {
  if (path.find('.') == std::string::npos) path += kDefaultExtension;
}

}  // namespace

void LogFileChange(LogControls& controls) {
  controls.SetLogLabelCaption(kSetItCaption);
}

// The button is disabled once a log file is armed, so a second click cannot
// come from the operator; should one arrive anyway, it runs the same steps
// as the first and arms whatever the box then holds.
void LogLabelClick(LogControls& controls, LogSettings& settings,
                   const std::string& workingDirectory) {
  controls.ShowLogFile();
  controls.SetLogLabelCaption(kSetLogFileCaption);
  const std::string typed = controls.LogFileText();
  if (typed.empty()) return;  // the operator types the name next

  settings.Fi2 = JoinPath(workingDirectory, controls.UpperCase(typed));
  settings.LogFlag = 1;
  AddDefaultExtension(settings.Fi2);
  // Showing the path is a change of the box's text and so briefly sets the
  // caption to "Set It".
  controls.SetLogFileText(settings.Fi2);
  controls.SetLogLabelCaption(kLogFileCaption);
  controls.DisableLogLabel();
}

}  // namespace velk
