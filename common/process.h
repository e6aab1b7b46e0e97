// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The process's own life: being asked to end from outside, and being the one
// VELK_LOG of its working folder. One implementation per platform
// (process_posix.cpp, process_windows.cpp).

#include <memory>
#include <string>

namespace velk::platform {

// From now on, a request to end the process from outside (SIGTERM, SIGINT,
// SIGHUP: a terminal closed, a shutdown; on Windows the console's close,
// Ctrl+C and logoff) no longer ends it at once but is noted, for the window
// to close as its close button would.
void CatchEndRequests();

// Whether such a request has come.
bool EndRequested();

// Holds a folder for this process: while it lives, no other process can
// claim the same folder. Ends with the process, however it ends.
class FolderClaim {
 public:
  virtual ~FolderClaim() = default;
};

// Claims `folder`; nullptr when another process holds it.
std::unique_ptr<FolderClaim> ClaimFolder(const std::string& folder);

}  // namespace velk::platform
