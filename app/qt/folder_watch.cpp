// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What can mean that the decode file grew, appeared or was replaced: in the
// file itself, and among the names of a folder.
constexpr std::uint32_t kFileChanges =
    IN_ATTRIB | IN_MODIFY | IN_MOVE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t kFolderChanges =
    IN_ATTRIB | IN_MOVE | IN_CREATE | IN_DELETE | IN_DELETE_SELF;

}  // namespace

struct FolderWatch::Watches {
  explicit Watches(int opened) : descriptor(opened) {}
  ~Watches() { ::close(descriptor); }
  Watches(const Watches&) = delete;
  Watches& operator=(const Watches&) = delete;

  // On the worker. A path watched already keeps its watch; a watch on a file
  // since replaced or taken away goes.
  void Rewatch(const velk::WakePaths& paths) {
    std::vector<int> kept;
    const auto add = [&](const std::string& path, std::uint32_t changes) {
      const int watch = ::inotify_add_watch(descriptor, path.c_str(), changes);
      if (watch >= 0) kept.push_back(watch);
    };
    add(paths.decodeFile, kFileChanges);
    for (const std::string& folder : paths.folders) add(folder, kFolderChanges);
    for (const int watch : watched) {
      if (std::find(kept.begin(), kept.end(), watch) == kept.end()) {
        ::inotify_rm_watch(descriptor, watch);
      }
    }
    watched = std::move(kept);
  }

  const int descriptor;
  std::vector<int> watched;  // touched by the worker's tasks alone
};

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
  const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (descriptor < 0) return;  // the poll alone follows the file
  watches_ = std::make_shared<Watches>(descriptor);
  notifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &FolderWatch::TakeChanges);
}

// The notifier goes before the descriptor, which the worker's task may still
// hold.
FolderWatch::~FolderWatch() {
  delete notifier_;
}

void FolderWatch::Renew(const velk::WakePaths& paths) {
  if (!watches_) return;
  worker_.Start<void>([watches = watches_, paths] { watches->Rewatch(paths); });
}

// A watch that went (its file was taken away) tells nothing new.
void FolderWatch::TakeChanges() {
  alignas(inotify_event) std::array<char, 4096> events;
  bool changed = false;
  for (;;) {
    const ssize_t got = ::read(watches_->descriptor, events.data(), events.size());
    if (got <= 0) break;
    for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(got);) {
      inotify_event event;
      std::memcpy(&event, events.data() + at, sizeof event);
      changed = changed || (event.mask & IN_IGNORED) == 0;
      at += sizeof event + event.len;
    }
  }
  if (changed) emit Changed();
}
