// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One thread for disk work whose caller must not wait on a disk longer than
// it chooses: a folder on a network share that has stopped answering can
// hold a call for minutes, a frozen file system for ever. Tasks run one at a
// time. A task that has not answered keeps the worker busy, and no further
// task is taken until it answers: a stalled disk holds this one thread and
// never a new one.

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/sync.h"

namespace velk {

// How long the worker's owner waits for its thread to end when it goes.
inline constexpr std::chrono::milliseconds kWorkerEndWait{50};

// The answer to a task given to a DiskWorker, once it comes: its result, or
// what it threw. Like std::future, over the lock the hand-offs use.
template <typename Result>
class DiskReply {
 public:
  // No task: not valid.
  DiskReply() = default;

  bool valid() const { return static_cast<bool>(state_); }

  // Whether the answer has come; for a valid reply.
  bool Ready() const { return state_->ready.load(std::memory_order_acquire); }

  // Whether the answer has come by `deadline`; for a valid reply.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(state_->mutex);
    return state_->answered.wait_until(lock, deadline, [this] { return Ready(); });
  }

  // The answer, once Ready(): the result, or what the task threw, rethrown.
  // The reply is not valid afterwards.
  Result get() {
    const std::shared_ptr<State> state = std::move(state_);
    if (state->error) std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<Result>) return std::move(*state->value);
  }

 private:
  friend class DiskWorker;
  using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

  struct State {
    Mutex mutex;
    ConditionVariable answered;
    std::atomic<bool> ready{false};
    std::optional<Value> value;
    std::exception_ptr error;

    void Give(std::optional<Value> given, std::exception_ptr thrown) {
      const std::lock_guard lock(mutex);
      value = std::move(given);
      error = std::move(thrown);
      ready.store(true, std::memory_order_release);
      answered.notify_all();
    }
  };

  explicit DiskReply(std::shared_ptr<State> state) : state_(std::move(state)) {}

  std::shared_ptr<State> state_;
};

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
  // An invalid reply when the worker is still busy with an earlier task or
  // no thread can be had. The task must own everything it touches: it may
  // outlive its caller, and the worker.
  template <typename Result>
  DiskReply<Result> Start(std::function<Result()> task) {
    return Give(std::move(task), Waiting::kRefused);
  }

  // Starts `task` as Start does; while the worker is busy, it is started
  // once the worker has answered. One task may wait so; an invalid reply
  // when one already does or no thread can be had.
  template <typename Result>
  DiskReply<Result> StartWhenFree(std::function<Result()> task) {
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
    DiskReply<Result> result = Start(std::move(task));
    if (!result.valid() || !result.WaitUntil(deadline)) return std::nullopt;
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
                          const std::shared_ptr<typename DiskReply<Result>::State>& reply) {
    using Value = typename DiskReply<Result>::Value;
    try {
      if constexpr (std::is_void_v<Result>) {
        task();
        return [reply] { reply->Give(Value{}, nullptr); };
      } else {
        return [reply, value = task()] { reply->Give(value, nullptr); };
      }
    } catch (...) {
      return [reply, error = std::current_exception()] { reply->Give({}, error); };
    }
  }

  enum class Waiting { kRefused, kAllowed };

  template <typename Result>
  DiskReply<Result> Give(std::function<Result()> task, Waiting waiting) {
    auto reply = std::make_shared<typename DiskReply<Result>::State>();
    if (!Post([task = std::move(task), reply] { return Answer(task, reply); }, waiting)) return {};
    return DiskReply<Result>(std::move(reply));
  }

  bool Post(Task task, Waiting waiting);
  // Whether the worker is free, or becomes free by `deadline`.
  bool FreeBy(std::chrono::steady_clock::time_point deadline) const;

  // Shared with the thread, which may outlive the worker.
  std::shared_ptr<State> state_;
};

}  // namespace velk
