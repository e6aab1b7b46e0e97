// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The lock and the condition that the program's threads hand work over
// with. Elsewhere they are the C++ library's. On Windows they are the
// system's slim reader/writer lock and condition variable: the library's
// there (winpthreads) make each wait and each wake-up a kernel object's,
// under Wine a round trip to its server, hundreds of microseconds for each
// hand-off between the window's thread and a worker.

#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef _WIN32
#include <algorithm>
#include <cstdint>
#include <utility>
#endif

namespace velk {

#ifdef _WIN32

// Meets the standard's Lockable, for std::unique_lock and std::lock_guard.
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();
  bool try_lock();

 private:
  friend class ConditionVariable;
  void* slim_ = nullptr;  // an SRWLOCK, whose initial state is all zero
};

// As std::condition_variable, with velk::Mutex.
class ConditionVariable {
 public:
  ConditionVariable() = default;
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  void notify_one();
  void notify_all();

  void wait(std::unique_lock<Mutex>& lock) { SleepFor(lock, kForever); }

  template <typename Predicate>
  void wait(std::unique_lock<Mutex>& lock, Predicate ready) {
    while (!ready()) wait(lock);
  }

  template <typename Clock, typename Duration>
  std::cv_status wait_until(std::unique_lock<Mutex>& lock,
                            const std::chrono::time_point<Clock, Duration>& deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0)
      SleepFor(lock, static_cast<std::uint32_t>(std::min(left.count(), kLongest)));
    return Clock::now() < deadline ? std::cv_status::no_timeout : std::cv_status::timeout;
  }

  template <typename Clock, typename Duration, typename Predicate>
  bool wait_until(std::unique_lock<Mutex>& lock,
                  const std::chrono::time_point<Clock, Duration>& deadline, Predicate ready) {
    while (!ready()) {
      if (wait_until(lock, deadline) == std::cv_status::timeout) return ready();
    }
    return true;
  }

  template <typename Rep, typename Period, typename Predicate>
  bool wait_for(std::unique_lock<Mutex>& lock, const std::chrono::duration<Rep, Period>& wait,
                Predicate ready) {
    return wait_until(lock, std::chrono::steady_clock::now() + wait, std::move(ready));
  }

 private:
  static constexpr std::uint32_t kForever = 0xFFFFFFFFu;
  // Below kForever, which a computed wait must never become.
  static constexpr std::chrono::milliseconds::rep kLongest = 0x7FFFFFFF;

  // Sleeps until notified, `milliseconds` have passed, or a spurious wake.
  void SleepFor(std::unique_lock<Mutex>& lock, std::uint32_t milliseconds);

  void* slim_ = nullptr;  // a CONDITION_VARIABLE, whose initial state is all zero
};

#else

using Mutex = std::mutex;
using ConditionVariable = std::condition_variable;

#endif

}  // namespace velk
