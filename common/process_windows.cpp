// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>

#include "common/platform.h"
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

// A file in the operator's own folder, named by the claimed folder's
// identity and held open without sharing: the system closes and removes it
// when the process ends, whatever way, and no other user can reach it.
class FileClaim final : public FolderClaim {
 public:
  explicit FileClaim(HANDLE file) : file_(file) {}
  ~FileClaim() override { CloseHandle(file_); }
  FileClaim(const FileClaim&) = delete;
  FileClaim& operator=(const FileClaim&) = delete;

 private:
  HANDLE file_;
};

// "claim-<volume serial>-<file index>": the same for every path to the
// folder (a junction, a mapped drive), different for every other folder.
std::optional<std::wstring> ClaimFileName(const std::string& folder) {
  const HANDLE handle = CreateFileW(Utf16FromUtf8(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(handle, &information) != FALSE;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  const auto index =
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  wchar_t name[64];
  swprintf(name, 64, L"claim-%08lx-%016llx",
           static_cast<unsigned long>(information.dwVolumeSerialNumber),
           static_cast<unsigned long long>(index));
  return name;
}

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
  const std::optional<std::string> privateFolder = PrivateFolder();
  const std::optional<std::wstring> name = ClaimFileName(folder);
  // Nothing to tell by: go ahead.
  if (!privateFolder || !name) return std::make_unique<FolderClaim>();
  const std::wstring path = Utf16FromUtf8(*privateFolder) + L"\\" + *name;
  // Removed by the system when the claim goes, however the process ends.
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) return std::make_unique<FileClaim>(file);
  if (GetLastError() == ERROR_SHARING_VIOLATION) return nullptr;
  return std::make_unique<FolderClaim>();
}

}  // namespace velk::platform
