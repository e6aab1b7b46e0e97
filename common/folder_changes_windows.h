// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Windows only: the system's change notifications on folders, waited for
// together with a window's messages, so that a window sleeps until either a
// message arrives or a file in a watched folder is created, renamed, grown
// or written.

#include <string>
#include <vector>

namespace velk::platform {

class FolderChanges {
 public:
  FolderChanges() = default;
  ~FolderChanges();
  FolderChanges(const FolderChanges&) = delete;
  FolderChanges& operator=(const FolderChanges&) = delete;

  // Watches exactly these folders from now on; a folder already watched
  // keeps its watch. A folder that cannot be watched (it does not exist) is
  // tried again at the next call.
  void Watch(const std::vector<std::string>& folders);

  // Sleeps until the calling thread has a message or a watched folder
  // changes. True when a folder changed.
  bool WaitForMessageOrChange();

 private:
  struct Watched {
    std::string folder;
    void* change;  // the notification handle
  };
  void Close(Watched& watched);

  std::vector<Watched> watched_;
};

}  // namespace velk::platform
