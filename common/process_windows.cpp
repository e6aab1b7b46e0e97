// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/process.h"
#include "common/utf16.h"

namespace velk::platform {

namespace {

// The system gives a console handler 5 s after a close, logoff or shutdown
// before it ends the process; the handler waits a little less for the close.
constexpr DWORD kCloseAnswerWait = 4500;

// The console handler runs on a thread of the system's: it sets the flag
// that the window thread reads at its next tick, and for the events after
// which the system ends the process, waits until the window has closed.
std::atomic<bool> endRequested{false};
HANDLE endAnswered = nullptr;  // an event, set once the close is done

BOOL WINAPI OnConsoleEvent(DWORD event) {
  endRequested = true;
  const bool processEnds =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (processEnds && endAnswered != nullptr) WaitForSingleObject(endAnswered, kCloseAnswerWait);
  return TRUE;
}

// A named mutex for the folder, named by a hash of its path (names have a
// length limit and no backslashes): the system frees it when the process
// ends, whatever way.
class MutexClaim final : public FolderClaim {
 public:
  explicit MutexClaim(HANDLE mutex) : mutex_(mutex) {}
  ~MutexClaim() override { CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

}  // namespace

void CatchEndRequests() {
  endAnswered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool EndRequested() {
  return endRequested;
}

void EndRequestAnswered() {
  if (endAnswered != nullptr) SetEvent(endAnswered);
}

std::unique_ptr<FolderClaim> ClaimFolder(const std::string& folder) {
  // Windows' folder names ignore case.
  std::wstring path = Utf16FromUtf8(folder);
  CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const wchar_t unit : path)
    hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
  wchar_t name[64];
  swprintf(name, 64, L"Local\\VELK_LOG-%016llx", static_cast<unsigned long long>(hash));
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return std::make_unique<FolderClaim>();  // nothing to tell by: go ahead
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexClaim>(mutex);
}

}  // namespace velk::platform
