// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One thread for disk work whose caller must not wait on a disk longer than
// it chooses: a folder on a network share that has stopped answering can
// hold a call for minutes, a frozen file system for ever. Tasks run one at a
// time. A task that has not answered keeps the worker busy, and no further
// task is taken until it answers: a stalled disk holds this one thread and
// never a new one.

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <utility>

namespace velk {

// How long the worker's owner waits for its thread to end when it goes.
inline constexpr std::chrono::milliseconds kWorkerEndWait{50};

class DiskWorker {
 public:
  DiskWorker();
  // Asks the thread to end and waits up to kWorkerEndWait for it; a thread
  // still held by a disk is left to end when the disk answers, or with the
  // process.
  ~DiskWorker();
  DiskWorker(const DiskWorker&) = delete;
  DiskWorker& operator=(const DiskWorker&) = delete;

  // Starts `task` on the worker's thread, which is made at the first task.
  // An invalid future when the worker is still busy with an earlier task or
  // no thread can be had. The task must own everything it touches: it may
  // outlive its caller, and the worker.
  template <typename Result>
  std::future<Result> Start(std::function<Result()> task) {
    auto job = std::make_shared<std::packaged_task<Result()>>(std::move(task));
    std::future<Result> result = job->get_future();
    if (!Post([job] { (*job)(); })) return {};
    return result;
  }

  // Runs `task` and waits up to `wait` for its answer; nullopt when the
  // worker is busy, the task threw, or it has not answered in time (it then
  // goes on, and the worker stays busy until it answers).
  template <typename Result>
  std::optional<Result> Run(std::function<Result()> task, std::chrono::milliseconds wait) {
    std::future<Result> result = Start(std::move(task));
    if (!result.valid() || result.wait_for(wait) != std::future_status::ready) return std::nullopt;
    try {
      return result.get();
    } catch (...) {
      return std::nullopt;
    }
  }

  // Whether a task given to the worker has not answered yet.
  bool Busy() const;

 private:
  struct State;
  bool Post(std::function<void()> task);

  // Shared with the thread, which may outlive the worker.
  std::shared_ptr<State> state_;
};

}  // namespace velk
