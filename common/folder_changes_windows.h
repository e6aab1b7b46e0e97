// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Windows only: the system's change notifications on folders, waited for on
// a thread of their own. A change (a file in a watched folder created,
// renamed, grown or written) posts a message to a window, so that the
// window's thread sleeps in GetMessage alone, one call to the system per
// message.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velk::platform {

class FolderChanges {
 public:
  FolderChanges();
  // Asks the thread to end and waits up to kWorkerEndWait for it: a folder
  // on a share that does not answer can hold it in the system's call, and it
  // is then left to end when the share answers, or with the process.
  ~FolderChanges();
  FolderChanges(const FolderChanges&) = delete;
  FolderChanges& operator=(const FolderChanges&) = delete;

  // A change from now on posts `message` (no parameters) to `window`, an
  // HWND. It is posted once until MessageHandled() is called: changes that come in
  // the meantime are told by that one message.
  void PostTo(void* window, unsigned message);

  // Called once the message is handled: the next change posts it again.
  void MessageHandled();

  // Watches exactly these folders from now on; a folder already watched
  // keeps its watch. A folder that cannot be watched (it does not exist) is
  // tried again at the next call. Cheap when nothing is to be done.
  void Watch(const std::vector<std::string>& folders);

 private:
  // Shared with the thread, which may outlive the watch.
  struct Shared;
  struct Watched {
    std::string folder;
    void* change;  // the notification handle
  };
  static void Close(Watched& watched);
  static void WatchOnThread(const std::shared_ptr<Shared>& shared);
  static std::vector<Watched> Rewatch(Shared& shared, std::vector<Watched> watched,
                                      const std::vector<std::string>& folders);
  static void Post(Shared& shared);

  std::shared_ptr<Shared> shared_;
  bool started_ = false;
};

}  // namespace velk::platform
