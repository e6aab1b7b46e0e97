// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/disk_worker.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace velk {

struct DiskWorker::State {
  Mutex mutex;
  ConditionVariable changed;
  Task task;          // the next task, taken by the thread
  Task afterBusy;     // a task to start once the busy one has answered
  bool busy = false;  // a task was given and has not answered
  bool started = false;
  bool stop = false;
  bool done = false;  // the thread has ended

  static void Serve(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
      state->changed.wait(lock, [&] { return state->stop || state->task; });
      if (!state->task) break;
      Task task = std::move(state->task);
      state->task = nullptr;
      lock.unlock();
      Answering answer = task();
      task = nullptr;  // what it owns goes before the worker is free again
      lock.lock();
      state->task = std::move(state->afterBusy);
      state->afterBusy = nullptr;
      state->busy = static_cast<bool>(state->task);
      state->changed.notify_all();
      lock.unlock();
      answer();
      answer = nullptr;
      lock.lock();
    }
    state->done = true;
    state->changed.notify_all();
  }
};

DiskWorker::DiskWorker() : state_(std::make_shared<State>()) {}

DiskWorker::~DiskWorker() {
  std::unique_lock lock(state_->mutex);
  if (!state_->started) return;
  state_->stop = true;
  state_->changed.notify_all();
  state_->changed.wait_for(lock, kWorkerEndWait, [&] { return state_->done; });
}

bool DiskWorker::Busy() const {
  const std::lock_guard lock(state_->mutex);
  return state_->busy;
}

bool DiskWorker::FreeBy(std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_until(lock, deadline, [&] { return !state_->busy; });
}

bool DiskWorker::Post(Task task, Waiting waiting) {
  std::unique_lock lock(state_->mutex);
  if (state_->stop) return false;
  if (state_->busy) {
    if (waiting == Waiting::kRefused || state_->afterBusy) return false;
    state_->afterBusy = std::move(task);
    return true;
  }
  if (!state_->started) {
    try {
      // Detached from the start: the thread owns its share of the state, so
      // a worker can go while its thread is still held by a disk.
      std::thread(&State::Serve, state_).detach();
    } catch (const std::system_error&) {
      return false;
    }
    state_->started = true;
  }
  state_->busy = true;
  state_->task = std::move(task);
  state_->changed.notify_all();
  return true;
}

}  // namespace velk
