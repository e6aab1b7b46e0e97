// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/process.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace velk::platform {

namespace {

// std::atexit takes no context, so the close to run is reached through the
// one guard that is alive; it sets this on its making and clears it when it
// goes.
std::atomic<std::function<void()>*> closeAtExit{nullptr};
std::once_flag atExitRegistered;

void RunCloseAtExit() {
  std::function<void()>* close = closeAtExit.exchange(nullptr);
  if (close == nullptr) return;  // the program ended the way it meant to
  (*close)();
  std::_Exit(0);
}

class AtExitGuard final : public ExitGuard {
 public:
  explicit AtExitGuard(std::function<void()> close) : close_(std::move(close)) {
    std::call_once(atExitRegistered, [] { std::atexit(RunCloseAtExit); });
    closeAtExit = &close_;
  }
  ~AtExitGuard() override { closeAtExit = nullptr; }
  AtExitGuard(const AtExitGuard&) = delete;
  AtExitGuard& operator=(const AtExitGuard&) = delete;

 private:
  std::function<void()> close_;
};

}  // namespace

std::unique_ptr<ExitGuard> CloseAtExit(std::function<void()> close) {
  return std::make_unique<AtExitGuard>(std::move(close));
}

}  // namespace velk::platform
