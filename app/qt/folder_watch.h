// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Qt window's watch on the decode file and its folders, kept on a thread
// of its own: a QFileSystemWatcher looks at every path it is given (its
// status, its inotify watch) on the thread that gives it, and a folder on a
// share that does not answer would hold the window there. A change is told
// through Changed() on the window's thread. A renewal asked for while the one
// before has not answered is passed over; the session asks again a second
// later. A share that never answers holds this one thread.

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

class QFileSystemWatcher;
class QThread;

class FolderWatch final : public QObject {
  Q_OBJECT

 public:
  explicit FolderWatch(QObject* parent = nullptr);
  // Asks the thread to end and waits up to kWorkerEndWait for it; a thread
  // still held by a disk is left to end with the process.
  ~FolderWatch() override;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches exactly `paths` from now on; returns at once. The thread is made
  // at the first call. A path that does not exist yet fails quietly and is
  // tried again at the next call.
  void Renew(const QStringList& paths);

 signals:
  void Changed();

 private:
  QThread* thread_ = nullptr;
  QFileSystemWatcher* watcher_ = nullptr;  // lives on thread_
  // A renewal was handed to the thread and has not answered; shared with it.
  std::shared_ptr<std::atomic<bool>> renewing_;
};
