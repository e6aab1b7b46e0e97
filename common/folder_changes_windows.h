// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Windows only: the system's change notifications on folders, waited for on
// a thread of their own. A change (a file in a watched folder created,
// renamed, grown or written) posts a message to a window, so that the
// window's thread sleeps in GetMessage alone, one call to the system per
// message.

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velk::platform {

class FolderChanges {
 public:
  FolderChanges();
  ~FolderChanges();
  FolderChanges(const FolderChanges&) = delete;
  FolderChanges& operator=(const FolderChanges&) = delete;

  // A change from now on posts `message` (no parameters) to `window`, an
  // HWND. It is posted once until Taken() is called: changes that come in
  // the meantime are told by that one message.
  void PostTo(void* window, unsigned message);

  // Called when the message is handled: the next change posts it again.
  void Taken();

  // Watches exactly these folders from now on; a folder already watched
  // keeps its watch. A folder that cannot be watched (it does not exist) is
  // tried again at the next call. Cheap when nothing is to be done.
  void Watch(const std::vector<std::string>& folders);

 private:
  struct Watched {
    std::string folder;
    void* change;  // the notification handle
  };
  static void Close(Watched& watched);
  void WatchOnThread();
  std::vector<Watched> Rewatch(std::vector<Watched> watched,
                               const std::vector<std::string>& folders);
  void Post();

  void* wake_;  // an event: the thread looks at what it is asked again
  std::thread thread_;

  std::mutex mutex_;
  // Guarded by mutex_.
  std::vector<std::string> folders_;
  bool foldersChanged_ = false;
  bool someUnwatched_ = false;
  bool stopping_ = false;
  void* window_ = nullptr;
  unsigned message_ = 0;
  bool posted_ = false;
};

}  // namespace velk::platform
