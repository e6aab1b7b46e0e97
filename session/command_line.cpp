// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/command_line.h"

#include <algorithm>

namespace velk {

namespace {

constexpr char kHelp[] =
    "Follows the decoder's ALL.TXT in the current directory (else\n"
    "C:\\Program Files\\VELK\\ALL.TXT) and lists every decode with a sync marker \"*\";\n"
    "with a log file armed (\"Set Log File\"), appends each as a comma-separated\n"
    "record to it, in the current directory. Start it in the decoder's folder.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Records the log file does not take are kept on disk at once, in\n"
    "VELK_LOG-unsaved-<date>-<time>-<pid>.TXT in the current directory (if it\n"
    "cannot be written: in $XDG_STATE_HOME/VELK_LOG, by default\n"
    "~/.local/state/VELK_LOG; on Windows in %LOCALAPPDATA%\\VELK_LOG), and\n"
    "written to the log as soon as it takes them; what still waits at the end\n"
    "stays there, and its path is printed on standard error. See man VELK_LOG.\n";

std::string Usage(const Toolkit& toolkit) {
  std::string usage = "Usage: VELK_LOG [--help | --version]";
  if (!toolkit.options.empty()) usage += " [" + std::string(toolkit.name) + " options]";
  return usage + "\n";
}

// The toolkit's option that `argument` is ("-style", "--style",
// "-style=fusion"), if it is one.
const ToolkitOption* ToolkitOptionOf(std::string_view argument,
                                     std::span<const ToolkitOption> toolkit) {
  if (!argument.starts_with('-')) return nullptr;
  argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
  const std::string_view name = argument.substr(0, argument.find('='));
  const auto found = std::find_if(toolkit.begin(), toolkit.end(),
                                  [&](const ToolkitOption& option) { return option.name == name; });
  if (found == toolkit.end() || (!found->takesValue && name.size() != argument.size())) {
    return nullptr;
  }
  return &*found;
}

CommandLine Refused(const std::string& why, const Toolkit& toolkit) {
  return {false, 2, "", "VELK_LOG: " + why + "; " + Usage(toolkit)};
}

}  // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& arguments, const Toolkit& toolkit) {
  if (arguments.size() == 1 && arguments[0] == "--help") {
    return {false, 0, Usage(toolkit) + kHelp, ""};
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    return {false, 0, "VELK_LOG " VELK_VERSION "\n", ""};
  }
  for (std::size_t next = 0; next < arguments.size(); ++next) {
    const std::string& argument = arguments[next];
    const ToolkitOption* option = ToolkitOptionOf(argument, toolkit.options);
    if (option == nullptr) return Refused("unknown argument \"" + argument + "\"", toolkit);
    const bool valueFollows = option->takesValue && argument.find('=') == std::string::npos;
    if (valueFollows && ++next == arguments.size()) {
      return Refused("\"" + argument + "\" needs a value", toolkit);
    }
  }
  return {};
}

}  // namespace velk
