// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The command line, read before the window's toolkit starts, so that --help
// and --version work without a display. Started without arguments, the
// program opens its window as always.

#include <string>
#include <vector>

namespace velk {

struct CommandLine {
  bool openWindow = true;  // no arguments: the program runs
  int exitStatus = 0;      // otherwise: print, then end with this status
  std::string out;         // for standard output
  std::string err;         // for standard error
};

// `arguments` without the program's own name.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

}  // namespace velk
