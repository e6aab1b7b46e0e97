// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Qt window's watch on the decode file and its folders, through the
// system's change notifications (inotify). The changes come through one
// descriptor, read on the window's thread when it has something: reading it
// never waits on a disk. Adding a watch looks its path up, which a folder on
// a share that does not answer can hold for minutes, so the watches are
// renewed on a disk worker of their own (QFileSystemWatcher looks every path
// up on the thread that gives it). A renewal asked for while the one before
// has not answered is passed over: the session asks again a second later.
// A share that never answers holds that one thread.

#include <QObject>
#include <memory>

#include "common/disk_worker.h"
#include "session/session.h"

class QSocketNotifier;

class FolderWatch final : public QObject {
  Q_OBJECT

 public:
  explicit FolderWatch(QObject* parent = nullptr);
  // The disk worker is waited for at most kWorkerEndWait.
  ~FolderWatch() override;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches exactly these paths from now on; returns at once. A path that
  // does not exist yet is tried again at the next renewal.
  void Renew(const velk::WakePaths& paths);

 signals:
  // Something changed in a watched path.
  void Changed();

 private:
  // The descriptor and the watches on it, shared with the worker's task.
  struct Watches;

  void TakeChanges();

  std::shared_ptr<Watches> watches_;
  QSocketNotifier* notifier_ = nullptr;
  velk::DiskWorker worker_;
};
