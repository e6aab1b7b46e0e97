// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <array>
#include <cstdio>

#include "app/qt/velk_logging.h"
#include "common/platform.h"
#include "common/process.h"
#include "session/command_line.h"

namespace {

// The options every Qt program takes (QGuiApplication's, QApplication's and
// those of the X11 platform); Qt takes them out of the arguments itself.
constexpr std::array<velk::ToolkitOption, 22> kQtOptions{{
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"geometry", true},      {"qwindowicon", true},
    {"icon", true},          {"qwindowtitle", true},
    {"title", true},         {"session", true},
    {"display", true},       {"name", true},
    {"style", true},         {"stylesheet", true},
    {"reverse", false},      {"widgetcount", false},
    {"nograb", false},       {"dograb", false},
    {"sync", false},         {"testability", false},
}};

}  // namespace

int main(int argc, char* argv[]) {
  // Read before the toolkit starts, which needs a display.
  const velk::CommandLine command =
      velk::ReadCommandLine({argv + 1, argv + argc}, {"Qt", kQtOptions});
  if (!command.openWindow) {
    std::fputs(command.out.c_str(), stdout);
    std::fputs(command.err.c_str(), stderr);
    return command.exitStatus;
  }
  // Before any thread starts, so that every thread has it.
  velk::platform::IgnoreBrokenPipes();
  velk::platform::CatchEndRequests();
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName("io.github.velk_log.velk_log");
  VELK_Logging window;
  if (window.session().Closing()) return 0;  // another VELK_LOG follows this folder
  // When the display goes (a logout, the X server ending), Qt ends the
  // process with exit() from inside its event loop: the close still runs.
  const auto closeAtExit =
      velk::platform::CloseAtExit([&window] { window.session().CloseWithoutWindow(); });
  window.show();
  return application.exec();
}
