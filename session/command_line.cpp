// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/command_line.h"

namespace velk {

namespace {

constexpr char kUsage[] = "Usage: VELK_LOG [--help | --version]\n";

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
    "VELK_LOG-unsaved-<date>-<time>.TXT, and written to the log as soon as it\n"
    "takes them; what still waits at the end stays there, and its path is\n"
    "printed on standard error. See man VELK_LOG.\n";

}  // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  if (arguments.size() == 1 && arguments[0] == "--help") {
    return {false, 0, std::string(kUsage) + kHelp, ""};
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    return {false, 0, "VELK_LOG " VELK_VERSION "\n", ""};
  }
  return {false, 2, "", "VELK_LOG: unknown argument \"" + arguments[0] + "\"; " + kUsage};
}

}  // namespace velk
