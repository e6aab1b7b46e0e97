// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One thread for disk work whose caller must not wait on a disk longer than
// it chooses: a folder on a network share that has stopped answering can
// hold a call for minutes, a frozen file system for ever. Tasks run one at a
// time. A task that has not answered keeps the worker busy, and no further
// task is taken until it answers: a stalled disk holds this one thread and
// never a new one.

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <type_traits>
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
    return Give(std::move(task), Waiting::kRefused);
  }

  // Starts `task` as Start does; while the worker is busy, it is started
  // once the worker has answered. One task may wait so; an invalid future
  // when one already does or no thread can be had.
  template <typename Result>
  std::future<Result> StartWhenFree(std::function<Result()> task) {
    return Give(std::move(task), Waiting::kAllowed);
  }

  // Runs `task` and waits up to `wait` for its answer, and meanwhile for an
  // earlier task to answer first; nullopt when the worker stayed busy, the
  // task threw, or it has not answered in time (it then goes on, and the
  // worker stays busy until it answers).
  template <typename Result>
  std::optional<Result> Run(std::function<Result()> task, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    if (!FreeBy(deadline)) return std::nullopt;
    std::future<Result> result = Start(std::move(task));
    if (!result.valid() || result.wait_until(deadline) != std::future_status::ready) {
      return std::nullopt;
    }
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
  // A task runs the disk call and hands back what gives its answer, which
  // the thread calls once the worker is free again: a caller that has its
  // answer can give the worker the next task at once.
  using Answering = std::function<void()>;
  using Task = std::function<Answering()>;

  template <typename Result>
  static Answering Answer(const std::function<Result()>& task,
                          const std::shared_ptr<std::promise<Result>>& answer) {
    try {
      if constexpr (std::is_void_v<Result>) {
        task();
        return [answer] { answer->set_value(); };
      } else {
        return [answer, value = task()] { answer->set_value(value); };
      }
    } catch (...) {
      return [answer, error = std::current_exception()] { answer->set_exception(error); };
    }
  }

  enum class Waiting { kRefused, kAllowed };

  template <typename Result>
  std::future<Result> Give(std::function<Result()> task, Waiting waiting) {
    auto answer = std::make_shared<std::promise<Result>>();
    std::future<Result> result = answer->get_future();
    if (!Post([task = std::move(task), answer] { return Answer(task, answer); }, waiting)) {
      return {};
    }
    return result;
  }

  bool Post(Task task, Waiting waiting);
  // Whether the worker is free, or becomes free by `deadline`.
  bool FreeBy(std::chrono::steady_clock::time_point deadline) const;

  // Shared with the thread, which may outlive the worker.
  std::shared_ptr<State> state_;
};

}  // namespace velk
