// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/process.h"
#include "common/utf16.h"

namespace velk::platform {

namespace {

std::atomic<bool> endRequested{false};

// The console's close, logoff and shutdown end the process once the handler
// returns: it gives the window a moment to run its close first.
BOOL WINAPI NoteEndRequest(DWORD event) {
  endRequested = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(2000);
  }
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
  SetConsoleCtrlHandler(NoteEndRequest, TRUE);
}

bool EndRequested() {
  return endRequested;
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
