// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The process's own life: being asked to end from outside, being ended by
// the toolkit, and being the one VELK_LOG of its working folder. One
// implementation per platform (process_posix.cpp, process_windows.cpp).

#include <functional>
#include <memory>
#include <string>

namespace velk::platform {

// From now on, a request to end the process from outside (SIGTERM, SIGINT,
// SIGHUP: a terminal closed, a shutdown; on Windows the console's close,
// Ctrl+C, logoff and shutdown) no longer ends it at once: it sets a flag (an
// atomic, which a signal handler may set) that the window thread reads at
// its next tick, to close as its close button would. Call it once at start,
// before any thread is started.
void CatchEndRequests();

// Whether such a request has come.
bool EndRequested();

// The close that such a request asked for is done: on Windows the console
// handler, which the system lets run for a few seconds before it ends the
// process, returns now instead of waiting on. Nothing to do elsewhere.
void EndRequestAnswered();

// While the returned guard lives, an end of the process through exit() that
// the program did not ask for (Qt calls it when its display connection
// breaks) first runs `close` and then ends the process with status 0. The
// guard withdraws it; one guard at a time.
class ExitGuard {
 public:
  virtual ~ExitGuard() = default;
};
std::unique_ptr<ExitGuard> CloseAtExit(std::function<void()> close);

// Holds a folder for this process: while it lives, no other process can
// claim the same folder. Ends with the process, however it ends.
class FolderClaim {
 public:
  virtual ~FolderClaim() = default;
};

// Claims `folder`; nullptr when another process holds it.
std::unique_ptr<FolderClaim> ClaimFolder(const std::string& folder);

}  // namespace velk::platform
