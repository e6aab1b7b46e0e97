// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "common/platform.h"
#include "common/process.h"

namespace velk::platform {

namespace {

// Set by the signal handler, read by the window thread: lock-free, so that
// setting it is safe inside a handler.
std::atomic<bool> endRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnEndSignal(int) {
  endRequested.store(true);
}

// A lock on a file in the operator's own folder, named by the claimed
// folder's identity: the system lets it go when the process ends, whatever
// way, and no other user can reach the file.
// The file is removed when the claim goes, while it is still locked, so
// that the operator's folder keeps no file per folder ever claimed.
class LockClaim final : public FolderClaim {
 public:
  LockClaim(int file, std::string path) : file_(file), path_(std::move(path)) {}
  ~LockClaim() override {
    ::unlink(path_.c_str());
    ::close(file_);
  }
  LockClaim(const LockClaim&) = delete;
  LockClaim& operator=(const LockClaim&) = delete;

 private:
  int file_;
  std::string path_;
};

// Whether the locked `file` is still the one at `path`: a claim that went
// between our open and our lock removed it, and the next claim makes a
// new one there.
bool StillInPlace(int file, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(file, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// "claim-<device>-<inode>": the same for every path to the folder (a link,
// a bind mount), different for every other folder.
std::optional<std::string> ClaimFileName(const std::string& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) return std::nullopt;
  char name[64];
  std::snprintf(name, sizeof name, "claim-%llx-%llx",
                static_cast<unsigned long long>(status.st_dev),
                static_cast<unsigned long long>(status.st_ino));
  return name;
}

}  // namespace

void CatchEndRequests() {
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool EndRequested() {
  return endRequested.load();
}

void EndRequestAnswered() {}

std::unique_ptr<FolderClaim> ClaimFolder(const std::string& folder) {
  const std::optional<std::string> privateFolder = PrivateFolder();
  const std::optional<std::string> name = ClaimFileName(folder);
  // Nothing to tell by: go ahead.
  if (!privateFolder || !name) return std::make_unique<FolderClaim>();
  const std::string path = *privateFolder + "/" + *name;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) break;
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
      const bool held = errno == EWOULDBLOCK;
      ::close(file);
      if (held) return nullptr;
      break;
    }
    if (StillInPlace(file, path)) return std::make_unique<LockClaim>(file, path);
    ::close(file);
  }
  return std::make_unique<FolderClaim>();
}

}  // namespace velk::platform
