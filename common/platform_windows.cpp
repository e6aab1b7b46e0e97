#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <filesystem>

#include "common/platform.h"

namespace velk::platform {

char PathSeparator() {
  return '\\';
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  localtime_s(&local, &moment);
  return local;
}

namespace {

std::wstring Wide(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

std::uint64_t Combined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{info.dwVolumeSerialNumber, Combined(info.nFileIndexHigh, info.nFileIndexLow)};
}

class WindowsReadOnlyFile final : public ReadOnlyFile {
 public:
  explicit WindowsReadOnlyFile(HANDLE handle) : handle_(handle) {}
  ~WindowsReadOnlyFile() override { CloseHandle(handle_); }
  WindowsReadOnlyFile(const WindowsReadOnlyFile&) = delete;
  WindowsReadOnlyFile& operator=(const WindowsReadOnlyFile&) = delete;

  std::optional<std::uint64_t> Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  std::optional<FileIdentity> Identity() override {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle_, &info)) return std::nullopt;
    return IdentityOf(info);
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    std::size_t done = 0;
    while (done < count) {
      OVERLAPPED at{};
      const std::uint64_t position = offset + done;
      at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(handle_, buffer + done, ask, &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return std::nullopt;
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  HANDLE handle_;
};

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffsetSeconds = 11644473600LL;
constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000ULL;

// Whole seconds since 1970 (negative before it) of a FILETIME.
std::time_t TimeOfFileTime(const FILETIME& time) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const auto seconds = static_cast<std::int64_t>(ticks / kFileTimeTicksPerSecond);
  return static_cast<std::time_t>(seconds - kFileTimeEpochOffsetSeconds);
}

}  // namespace

std::optional<FileStatus> StatusOf(const std::string& path) {
  // Attributes only, shared for everything: looking never gets in the
  // decoder's way, and the size comes from the file, not its directory entry.
  const HANDLE handle = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileType(handle) == FILE_TYPE_DISK &&
                     GetFileInformationByHandle(handle, &info) != 0 &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return FileStatus{Combined(info.nFileSizeHigh, info.nFileSizeLow),
                    TimeOfFileTime(info.ftLastWriteTime), IdentityOf(info)};
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
  // Shared for reading, writing and deletion: the decoder keeps writing,
  // renaming or deleting its file while we read it.
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<WindowsReadOnlyFile>(handle);
}

namespace {

// The system's message for `error`, in UTF-8, without the line end the
// system puts after it.
std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length > 0 && text ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) {
    wide.pop_back();
  }
  if (wide.empty()) return "error " + std::to_string(error);
  const int wideLength = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), size, nullptr, nullptr);
  }
  return utf8;
}

// Cuts the file at `path` back to `length` bytes.
void CutBack(const std::wstring& path, std::uint64_t length) {
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(length);
  if (SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
  CloseHandle(handle);
}

}  // namespace

AppendOutcome AppendWhole(const std::string& path, std::string_view bytes) {
  const std::wstring widePath = Wide(path);
  // Opened with append access only, so that every write lands at the end of
  // the file in one piece, whoever else appends.
  const HANDLE handle = CreateFileW(widePath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {false, SystemMessage(GetLastError())};
  const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
  DWORD wrote = 0;
  const bool called =
      bytes.size() <= MAXDWORD &&
      WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  // A write that stops short sets no error: the disk is full.
  DWORD error = called ? ERROR_DISK_FULL : GetLastError();
  if (bytes.size() > MAXDWORD) error = ERROR_INVALID_PARAMETER;
  const bool written = called && wrote == bytes.size();
  // Only the bytes this call put there are ever cut off again.
  LARGE_INTEGER end{};
  const bool sized = regular && wrote > 0 && GetFileSizeEx(handle, &end) != 0 &&
                     static_cast<std::uint64_t>(end.QuadPart) >= wrote;
  const std::uint64_t start = sized ? static_cast<std::uint64_t>(end.QuadPart) - wrote : 0;
  const bool closed = CloseHandle(handle) != 0;
  if (written && !closed) error = GetLastError();
  // A short write, or a close that failed after a write, leaves the record
  // incomplete or in doubt: take it out so it can be written again whole.
  if (sized && (!written || !closed)) CutBack(widePath, start);
  if (written && closed) return {true, {}};
  return {false, SystemMessage(error)};
}

}  // namespace velk::platform
