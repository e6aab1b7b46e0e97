// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The command line, read before the window's toolkit starts, so that --help
// and --version work without a display. Started without arguments, or with
// only the toolkit's own options (Qt's -platform, -style, -session, ...,
// which the toolkit then takes), the program opens its window as always.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// An option of the window's toolkit, written "-name" or "--name"; one that
// takes a value has it in the next argument or after "=".
struct ToolkitOption {
  std::string_view name;
  bool takesValue;
};

struct CommandLine {
  bool openWindow = true;  // no arguments of VELK_LOG's own: the program runs
  int exitStatus = 0;      // otherwise: print, then end with this status
  std::string out;         // for standard output
  std::string err;         // for standard error
};

// The window's toolkit, by the name its options go by in the usage line
// ("Qt"), and the options it takes from the command line itself.
struct Toolkit {
  std::string_view name;
  std::span<const ToolkitOption> options;
};

// `arguments` without the program's own name; the toolkit's options pass.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments, const Toolkit& toolkit = {});

}  // namespace velk
