// SPDX-License-Identifier: GPL-3.0-or-later
// What the command line lets through to the window, and what it refuses
// before any display is needed.

#include "session/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace velk {
namespace {

constexpr std::array<ToolkitOption, 3> kOptions{
    {{"session", true}, {"style", true}, {"reverse", false}}};
constexpr Toolkit kToolkit{"Qt", kOptions};

struct CommandCase {
  std::vector<std::string> arguments;
  bool openWindow;
  int exitStatus;
  std::string errStart;
};

TEST(CommandLineTest, ToolkitOptionsPassAndOthersAreRefused) {
  const std::vector<CommandCase> cases{
      {{}, true, 0, ""},
      {{"-session", "1234_5678"}, true, 0, ""},  // a desktop restoring its session
      {{"--style=fusion", "-reverse"}, true, 0, ""},
      {{"-style"}, false, 2, "VELK_LOG: \"-style\" needs a value"},
      {{"-reverse=1"}, false, 2, "VELK_LOG: unknown argument \"-reverse=1\""},
      {{"-session", "x", "--log"}, false, 2, "VELK_LOG: unknown argument \"--log\""},
      {{"--help"}, false, 0, ""},
  };
  for (const CommandCase& c : cases) {
    const CommandLine command = ReadCommandLine(c.arguments, kToolkit);
    const std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(command.openWindow, c.openWindow) << shown;
    EXPECT_EQ(command.exitStatus, c.exitStatus) << shown;
    EXPECT_TRUE(command.err.starts_with(c.errStart)) << shown << ": " << command.err;
  }
  // A toolkit without options of its own lets none through.
  EXPECT_EQ(ReadCommandLine({"-session", "1"}).exitStatus, 2);
  EXPECT_EQ(ReadCommandLine({"--help"}, kToolkit).out.substr(0, 50),
            "Usage: VELK_LOG [--help | --version] [Qt options]\n");
}

}  // namespace
}  // namespace velk
