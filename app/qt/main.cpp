// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/qt/velk_logging.h"
#include "common/platform.h"
#include "common/process.h"
#include "session/command_line.h"

int main(int argc, char* argv[]) {
  // Read before the toolkit starts, which needs a display.
  const velk::CommandLine command = velk::ReadCommandLine({argv + 1, argv + argc});
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
  static VELK_Logging* window = nullptr;
  VELK_Logging shown;
  if (shown.session().Closing()) return 0;  // another VELK_LOG follows this folder
  // When the display goes (a logout, the X server ending), the toolkit ends
  // the process from inside its event loop: the window's close still runs.
  window = &shown;
  std::atexit([] {
    if (window == nullptr || window->session().Closing()) return;
    window->session().CloseWithoutWindow();
    std::_Exit(0);
  });
  shown.show();
  const int status = application.exec();
  window = nullptr;
  return status;
}
