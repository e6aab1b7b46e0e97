// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/folder_changes_windows.h"

#include <windows.h>

#include <algorithm>

#include "common/utf16.h"

namespace velk::platform {

namespace {

// Changes in a folder that can mean a file in it grew, appeared or was
// replaced.
constexpr DWORD kFileChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

FolderChanges::~FolderChanges() {
  for (Watched& watched : watched_) Close(watched);
}

void FolderChanges::Close(Watched& watched) {
  if (watched.change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(watched.change);
  watched.change = INVALID_HANDLE_VALUE;
}

void FolderChanges::Watch(const std::vector<std::string>& folders) {
  std::vector<Watched> kept;
  for (const std::string& folder : folders) {
    auto same = std::find_if(watched_.begin(), watched_.end(),
                             [&](const Watched& watched) { return watched.folder == folder; });
    if (same != watched_.end() && same->change != INVALID_HANDLE_VALUE) {
      kept.push_back(*same);
      same->change = INVALID_HANDLE_VALUE;
    } else {
      kept.push_back({folder, FindFirstChangeNotificationW(Utf16FromUtf8(folder).c_str(), FALSE,
                                                           kFileChanges)});
    }
  }
  for (Watched& watched : watched_) Close(watched);
  watched_ = std::move(kept);
}

// Never a spin: a window's timer wakes it in any case.
bool FolderChanges::WaitForMessageOrChange() {
  std::vector<HANDLE> changes;
  for (const Watched& watched : watched_) {
    if (watched.change != INVALID_HANDLE_VALUE) changes.push_back(watched.change);
  }
  const auto count = static_cast<DWORD>(changes.size());
  const DWORD woke = MsgWaitForMultipleObjectsEx(count, changes.data(), INFINITE, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
  if (woke >= WAIT_OBJECT_0 + count) return false;
  // Asks for the next change in that folder.
  for (Watched& watched : watched_) {
    if (watched.change == changes[woke - WAIT_OBJECT_0] &&
        !FindNextChangeNotification(watched.change)) {
      Close(watched);
    }
  }
  return true;
}

}  // namespace velk::platform
