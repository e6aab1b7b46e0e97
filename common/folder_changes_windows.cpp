// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/folder_changes_windows.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "common/utf16.h"

namespace velk::platform {

namespace {

// Changes in a folder that can mean a file in it grew, appeared or was
// replaced.
constexpr DWORD kFileChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

FolderChanges::FolderChanges() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FolderChanges::~FolderChanges() {
  if (thread_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    SetEvent(wake_);
    thread_.join();
  }
  if (wake_ != nullptr) CloseHandle(wake_);
}

void FolderChanges::Close(Watched& watched) {
  if (watched.change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(watched.change);
  watched.change = INVALID_HANDLE_VALUE;
}

void FolderChanges::PostTo(void* window, unsigned message) {
  const std::lock_guard lock(mutex_);
  window_ = window;
  message_ = message;
}

void FolderChanges::Taken() {
  const std::lock_guard lock(mutex_);
  posted_ = false;
}

// Called every second with the same folders: the thread is woken only when
// there is something for it to do.
void FolderChanges::Watch(const std::vector<std::string>& folders) {
  {
    const std::lock_guard lock(mutex_);
    if (folders == folders_ && !someUnwatched_) return;
    folders_ = folders;
    foldersChanged_ = true;
  }
  if (wake_ == nullptr) return;
  if (!thread_.joinable()) thread_ = std::thread(&FolderChanges::WatchOnThread, this);
  SetEvent(wake_);
}

// On the thread: the notification handles are its own.
void FolderChanges::WatchOnThread() {
  std::vector<Watched> watched;
  std::vector<HANDLE> handles;
  for (;;) {
    std::optional<std::vector<std::string>> folders;
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) break;
      if (std::exchange(foldersChanged_, false)) folders = folders_;
    }
    if (folders) watched = Rewatch(std::move(watched), *folders);
    handles.assign(1, wake_);
    for (const Watched& folder : watched) {
      if (folder.change != INVALID_HANDLE_VALUE) handles.push_back(folder.change);
    }
    const auto count = static_cast<DWORD>(handles.size());
    const DWORD woke = WaitForMultipleObjects(count, handles.data(), FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) continue;
    if (woke > WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + count) {
      // Asks for the next change in that folder before telling of this one,
      // so that none is missed in between.
      for (Watched& folder : watched) {
        if (folder.change == handles[woke - WAIT_OBJECT_0] &&
            !FindNextChangeNotification(folder.change)) {
          Close(folder);
          const std::lock_guard lock(mutex_);
          someUnwatched_ = true;
        }
      }
      Post();
      continue;
    }
    // The wait itself failed: every watch is dropped, to be made afresh at
    // the next call of Watch.
    for (Watched& folder : watched) Close(folder);
    const std::lock_guard lock(mutex_);
    someUnwatched_ = true;
  }
  for (Watched& folder : watched) Close(folder);
}

std::vector<FolderChanges::Watched> FolderChanges::Rewatch(
    std::vector<Watched> watched, const std::vector<std::string>& folders) {
  std::vector<Watched> kept;
  bool someUnwatched = false;
  for (const std::string& folder : folders) {
    auto same = std::find_if(watched.begin(), watched.end(),
                             [&](const Watched& other) { return other.folder == folder; });
    if (same != watched.end() && same->change != INVALID_HANDLE_VALUE) {
      kept.push_back(*same);
      same->change = INVALID_HANDLE_VALUE;
    } else {
      kept.push_back({folder, FindFirstChangeNotificationW(Utf16FromUtf8(folder).c_str(), FALSE,
                                                           kFileChanges)});
    }
    someUnwatched = someUnwatched || kept.back().change == INVALID_HANDLE_VALUE;
  }
  for (Watched& folder : watched) Close(folder);
  const std::lock_guard lock(mutex_);
  someUnwatched_ = someUnwatched;
  return kept;
}

void FolderChanges::Post() {
  const std::lock_guard lock(mutex_);
  if (posted_ || window_ == nullptr) return;
  posted_ = PostMessageW(static_cast<HWND>(window_), message_, 0, 0) != FALSE;
}

}  // namespace velk::platform
