// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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

// A name no file can have, from the folder's path: a hash of it, so that
// paths of any length fit.
std::string ClaimName(const std::string& folder) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char byte : folder) hash = (hash ^ byte) * 1099511628211ull;
  char name[48];
  std::snprintf(name, sizeof name, "VELK_LOG/%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// A socket bound to a name in the abstract namespace: the system frees the
// name when the process ends, whatever way.
class SocketClaim final : public FolderClaim {
 public:
  explicit SocketClaim(int socket) : socket_(socket) {}
  ~SocketClaim() override { ::close(socket_); }

 private:
  int socket_;
};

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
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return std::make_unique<FolderClaim>();  // nothing to tell by: go ahead
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = ClaimName(folder);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    ::close(socket);
    return nullptr;
  }
  return std::make_unique<SocketClaim>(socket);
}

}  // namespace velk::platform
