// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/folder_watch.h"

#include <QDeadlineTimer>
#include <QFileSystemWatcher>
#include <QThread>

#include "common/disk_worker.h"

FolderWatch::FolderWatch(QObject* parent)
    : QObject(parent), renewing_(std::make_shared<std::atomic<bool>>(false)) {}

FolderWatch::~FolderWatch() {
  if (thread_ == nullptr) return;
  thread_->quit();
  if (thread_->wait(QDeadlineTimer(velk::kWorkerEndWait.count()))) {
    delete thread_;  // the watcher went with the thread's end
    return;
  }
  // Held by a disk: the thread and its watcher end with the process, since a
  // running QThread may not be destroyed.
}

// The watcher is made here and moved to the thread before it starts; it is
// deleted on that thread as the thread ends.
void FolderWatch::Renew(const QStringList& paths) {
  if (renewing_->exchange(true)) return;
  if (thread_ == nullptr) {
    thread_ = new QThread;
    thread_->setObjectName("folder watch");
    watcher_ = new QFileSystemWatcher;
    watcher_->moveToThread(thread_);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &FolderWatch::Changed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderWatch::Changed);
    connect(thread_, &QThread::finished, watcher_, &QObject::deleteLater);
    thread_->start();
  }
  // Watched afresh each time, since a watch on a replaced file can be lost.
  QMetaObject::invokeMethod(
      watcher_,
      [watcher = watcher_, paths, renewing = renewing_] {
        const QStringList watched = watcher->files() + watcher->directories();
        if (!watched.isEmpty()) watcher->removePaths(watched);
        watcher->addPaths(paths);
        renewing->store(false);
      },
      Qt::QueuedConnection);
}
