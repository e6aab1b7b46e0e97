// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The only place that talks to the operating system directly. Everything
// here has one implementation per platform (platform_posix.cpp,
// platform_windows.cpp).

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velk::platform {

// The separator between a directory and a file name: "\" on Windows, "/"
// elsewhere.
char PathSeparator();

// The broken-down local time of a moment (seconds since 1970, negative
// before it). On Windows in the system's time zone, with the daylight saving
// rules of the moment's year.
std::tm LocalTime(std::time_t moment);

// The process's working directory as UTF-8 text; nullopt when it has no name
// (it was removed). Paths are UTF-8 throughout the program; on Windows this
// layer turns them into UTF-16 for the system's wide calls, so that every
// character of a name is kept, whatever the system's code page.
std::optional<std::string> WorkingDirectory();

// Which file a path names, whatever its name: two statuses with the same
// identity describe the same file. Device and inode on POSIX; volume serial
// number and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// A regular file's length, last modification and identity, all taken from
// the file itself at one moment (on Windows from an open handle, not from the
// directory entry, which may lag behind a file that is being written).
struct FileStatus {
  std::uint64_t size = 0;
  std::time_t modified = 0;
  FileIdentity identity;
};

// The status of the file at `path`; nullopt when it is missing, cannot be
// looked at, or is not a regular file (a directory, a FIFO, a device).
std::optional<FileStatus> StatusOf(const std::string& path);

// A file's length and modification time asked by its name, without opening
// it: on Windows each open is a round trip to the system (and under Wine to
// its server), a query by name is not. The identity comes with it where the
// system tells it by name (POSIX); on Windows only an open handle tells it,
// so it is left out there and StatusOf gives it.
struct NamedFileStatus {
  std::uint64_t size = 0;
  std::time_t modified = 0;
  std::optional<FileIdentity> identity;
};

// The status of the file at `path` by its name; nullopt when it is missing,
// cannot be looked at, or is known to be no regular file.
std::optional<NamedFileStatus> NamedStatusOf(const std::string& path);

// The current user's local application data folder (%LOCALAPPDATA%) and the
// drive Windows is installed on ("C:"), where legacy programs' writes into
// protected folders are redirected; nullopt on systems without them.
std::optional<std::string> LocalAppDataFolder();
std::optional<std::string> SystemDrive();

// This process's id.
unsigned long ProcessId();

// The operator's own folder, for what is theirs alone (rescue files, the
// claim on a working folder): on POSIX $XDG_STATE_HOME/VELK_LOG (by default
// ~/.local/state/VELK_LOG), on Windows %LOCALAPPDATA%\VELK_LOG. Read from
// the environment alone; nullopt when it names none.
std::optional<std::string> PrivateFolderPath();

// Makes `folder` (the private folder) when missing, with room for its owner
// alone (0700 on POSIX; on Windows the profile's rights keep it private).
// False when it cannot be made, or is a link or another user's folder.
// Touches the disk: not for the window thread.
bool MakePrivateFolder(const std::string& folder);

// The private folder, made: both of the above.
inline std::optional<std::string> PrivateFolder() {
  std::optional<std::string> folder = PrivateFolderPath();
  if (!folder || !MakePrivateFolder(*folder)) return std::nullopt;
  return folder;
}

// What became of making a file under a name of our own.
enum class Creation { kMade, kNameTaken, kFailed };

// Makes a new, empty file at `path` that only its owner can read or write,
// never over anything already there and never through a link
// (O_CREAT|O_EXCL|O_NOFOLLOW; CREATE_NEW). kNameTaken when something, a link
// included, already has the name.
Creation CreateNewFile(const std::string& path);

// Whether `path` is a regular file (not a link) that this user owns; on
// Windows, a regular file that is no reparse point.
bool IsOwnFile(const std::string& path);

// A regular file opened for reading without ever blocking: FIFOs, devices
// and directories are refused at open. On Windows the file is shared for
// reading, writing and deletion, so the program writing it is never held up.
class ReadOnlyFile {
 public:
  virtual ~ReadOnlyFile() = default;

  // Opens the file; nullptr when it is missing, unreadable or not a regular
  // file.
  static std::unique_ptr<ReadOnlyFile> Open(const std::string& path);

  // The file's length now, or nullopt when it cannot be read.
  virtual std::optional<std::uint64_t> Size() = 0;

  // Which file was opened (see FileIdentity), or nullopt when it cannot be
  // told.
  virtual std::optional<FileIdentity> Identity() = 0;

  // The identity's index alone, or nullopt when it cannot be told. On Windows
  // a fraction of the whole identity's cost: the volume's serial number takes
  // the system (under Wine its mount manager) a long round trip.
  virtual std::optional<std::uint64_t> Index() {
    const std::optional<FileIdentity> identity = Identity();
    if (!identity) return std::nullopt;
    return identity->index;
  }

  // Reads up to `count` bytes at `offset`; the number read (fewer at the end
  // of the file), or nullopt on a read error.
  virtual std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                            std::size_t count) = 0;
};

// What became of an append: written in full, or the system's message for
// why not (for example "No such file or directory"), in UTF-8.
struct AppendOutcome {
  bool written = false;
  std::string failure;

  explicit operator bool() const { return written; }
};

// Whether an append waits until its bytes are on the disk itself, not only
// in the system's cache: what a power cut right after it cannot take back.
enum class Durability { kCached, kOnDisk };

// Which file an append may write to.
enum class AppendTarget {
  kAnyFile,  // the file at the path, made when missing (the operator's log)
  kOwnFile,  // a file the program made itself (CreateNewFile): never made
             // anew, never reached through a link
};

// Appends `bytes` to the file at `path`, creating it when absent, with one
// unbuffered write on a file opened for appending, so that readers never see
// half of it and other appenders never interleave inside it. When only part
// could be written (a full disk) the file is cut back to the length it had
// before, so it always ends where a whole append ended. Written when every
// byte was written (and, kOnDisk, is on the disk) and the file closed without
// error.
AppendOutcome Append(const std::string& path, std::string_view bytes, Durability durability,
                     AppendTarget target = AppendTarget::kAnyFile);

inline AppendOutcome AppendWhole(const std::string& path, std::string_view bytes) {
  return Append(path, bytes, Durability::kCached);
}

inline AppendOutcome AppendDurably(const std::string& path, std::string_view bytes) {
  return Append(path, bytes, Durability::kOnDisk);
}

inline AppendOutcome AppendDurablyToOwnFile(const std::string& path, std::string_view bytes) {
  return Append(path, bytes, Durability::kOnDisk, AppendTarget::kOwnFile);
}

// Asks the system to put what has been written to the file at `path` on the
// disk itself, and waits for it. Nothing happens when the file cannot be
// opened for writing without creating it or without blocking (a FIFO with no
// reader).
void FlushToDisk(const std::string& path);

// Puts the file at `from` in the place of the file at `to` in one step:
// whoever looks finds the one or the other, whole. False when it could not.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// A write to a pipe or FIFO whose reader has gone fails like any other write
// instead of ending the process. Call it once at start, before any thread is
// started. Nothing to do where the system has no such signal.
void IgnoreBrokenPipes();

}  // namespace velk::platform
