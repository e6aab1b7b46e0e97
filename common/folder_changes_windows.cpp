// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/folder_changes_windows.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "common/disk_worker.h"
#include "common/sync.h"
#include "common/utf16.h"

namespace velk::platform {

namespace {

// Changes in a folder that can mean a file in it grew, appeared or was
// replaced.
constexpr DWORD kFileChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

struct FolderChanges::Shared {
  Shared() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~Shared() {
    if (wake != nullptr) CloseHandle(wake);
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  void* wake;  // an event: the thread looks at what it is asked again

  Mutex mutex;
  ConditionVariable ended;
  // Guarded by mutex.
  std::vector<std::string> folders;
  bool foldersChanged = false;
  bool someUnwatched = false;
  bool stopping = false;
  bool done = false;  // the thread has ended
  void* window = nullptr;
  unsigned message = 0;
  bool posted = false;
};

FolderChanges::FolderChanges() : shared_(std::make_shared<Shared>()) {}

FolderChanges::~FolderChanges() {
  if (!started_) return;
  std::unique_lock lock(shared_->mutex);
  shared_->stopping = true;
  SetEvent(shared_->wake);
  shared_->ended.wait_for(lock, kWorkerEndWait, [&] { return shared_->done; });
}

void FolderChanges::Close(Watched& watched) {
  if (watched.change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(watched.change);
  watched.change = INVALID_HANDLE_VALUE;
}

void FolderChanges::PostTo(void* window, unsigned message) {
  const std::lock_guard lock(shared_->mutex);
  shared_->window = window;
  shared_->message = message;
}

void FolderChanges::MessageHandled() {
  const std::lock_guard lock(shared_->mutex);
  shared_->posted = false;
}

// Called every second with the same folders: the thread is woken only when
// there is something for it to do.
void FolderChanges::Watch(const std::vector<std::string>& folders) {
  {
    const std::lock_guard lock(shared_->mutex);
    if (folders == shared_->folders && !shared_->someUnwatched) return;
    shared_->folders = folders;
    shared_->foldersChanged = true;
  }
  if (shared_->wake == nullptr) return;
  if (!started_) {
    try {
      // Detached from the start: it owns its share, so the watch can go
      // while the thread is still held by a folder.
      std::thread(&FolderChanges::WatchOnThread, shared_).detach();
    } catch (const std::system_error&) {
      return;  // no thread to be had: the poll alone follows the file
    }
    started_ = true;
  }
  SetEvent(shared_->wake);
}

// On the thread: the notification handles are its own.
void FolderChanges::WatchOnThread(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  std::vector<Watched> watched;
  std::vector<HANDLE> handles;
  for (;;) {
    std::optional<std::vector<std::string>> folders;
    {
      const std::lock_guard lock(s.mutex);
      if (s.stopping) break;
      if (std::exchange(s.foldersChanged, false)) folders = s.folders;
    }
    if (folders) watched = Rewatch(s, std::move(watched), *folders);
    handles.assign(1, s.wake);
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
          const std::lock_guard lock(s.mutex);
          s.someUnwatched = true;
        }
      }
      Post(s);
      continue;
    }
    // The wait itself failed: every watch is dropped, to be made afresh at
    // the next call of Watch.
    for (Watched& folder : watched) Close(folder);
    const std::lock_guard lock(s.mutex);
    s.someUnwatched = true;
  }
  for (Watched& folder : watched) Close(folder);
  const std::lock_guard lock(s.mutex);
  s.done = true;
  s.ended.notify_all();
}

std::vector<FolderChanges::Watched> FolderChanges::Rewatch(
    Shared& shared, std::vector<Watched> watched, const std::vector<std::string>& folders) {
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
  const std::lock_guard lock(shared.mutex);
  shared.someUnwatched = someUnwatched;
  return kept;
}

void FolderChanges::Post(Shared& shared) {
  const std::lock_guard lock(shared.mutex);
  if (shared.posted || shared.window == nullptr) return;
  shared.posted = PostMessageW(static_cast<HWND>(shared.window), shared.message, 0, 0) != FALSE;
}

}  // namespace velk::platform
