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

bool SamePathAsText(const std::string& one, const std::string& other) {
  namespace fs = std::filesystem;
  return fs::path(one).lexically_normal() == fs::path(other).lexically_normal();
}

// Empty when `path` is none of the decode files: the same path once "." and
// ".." are resolved, or, as the disk says, two paths to one existing file.
std::string_view WhyNotALog(const std::string& path, const LogLabelInput& input) {
  for (const std::string& decodeFile : input.decodeFiles) {
    if (SamePathAsText(path, decodeFile)) return kLogIsTheDecodeFile;
  }
  for (const std::string& decodeFile : input.decodeFiles) {
    const std::optional<bool> same = input.sameFile(path, decodeFile);
    if (!same) return kLogFolderDoesNotAnswer;
    if (*same) return kLogIsTheDecodeFile;
  }
  return {};
}

}  // namespace

bool SameFileOnDisk(const std::string& one, const std::string& other) {
  std::error_code error;
  return std::filesystem::equivalent(one, other, error);
}

ArmingStep LogFileChange() {
  ArmingStep step;
  step.caption = kSetItCaption;
  return step;
}

// The button is disabled once a log file is armed, so a second click cannot
// come from the operator; should one arrive anyway, it runs the same steps
// as the first and arms whatever the box then holds.
ArmingStep LogLabelClick(LogSettings& settings, const LogLabelInput& input) {
  ArmingStep step;
  step.showLogFile = true;
  step.caption = kSetLogFileCaption;
  if (input.typed.empty()) return step;  // the operator types the name next

  std::string path = JoinPath(input.workingDirectory, input.upperCase(input.typed));
  AddDefaultExtension(path);
  step.refusal = WhyNotALog(path, input);
  if (!step.refusal.empty()) return step;
  settings.Fi2 = path;
  settings.LogFlag = 1;
  step.armedPath = std::move(path);
  return step;
}

}  // namespace velk
