// SPDX-License-Identifier: GPL-3.0-or-later
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winternl.h>

#include <array>
#include <limits>

#include "common/platform.h"
#include "common/utf16.h"

namespace velk::platform {

std::wstring Utf16FromCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length) != length) {
    return {};
  }
  return wide;
}

// Bytes that are no UTF-8 become U+FFFD, so such a name never opens a file of
// another name.
std::wstring Utf16FromUtf8(std::string_view utf8) {
  return Utf16FromCodePage(utf8, CP_UTF8);
}

std::string Utf8FromUtf16(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int size = static_cast<int>(utf16.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, utf8.data(), length, nullptr, nullptr) !=
      length) {
    return {};
  }
  return utf8;
}

namespace {

// A UTF-8 name as UTF-16 for the wide calls. A name holding a NUL gives an
// empty name, which no call accepts, rather than the name cut at the NUL.
std::wstring Wide(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) return {};
  return Utf16FromUtf8(utf8);
}

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffsetSeconds = 11644473600LL;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;

// Whole seconds since 1970 (negative before it) of a FILETIME.
std::time_t TimeOfFileTime(const FILETIME& time) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const auto seconds = static_cast<std::int64_t>(ticks / kFileTimeTicksPerSecond);
  return static_cast<std::time_t>(seconds - kFileTimeEpochOffsetSeconds);
}

// The FILETIME of a moment; nullopt before 1601 or past what a FILETIME
// holds.
std::optional<FILETIME> FileTimeOf(std::time_t moment) {
  constexpr std::int64_t kLast =
      std::numeric_limits<std::int64_t>::max() / kFileTimeTicksPerSecond -
      kFileTimeEpochOffsetSeconds;
  const auto seconds = static_cast<std::int64_t>(moment);
  if (seconds < -kFileTimeEpochOffsetSeconds || seconds > kLast) return std::nullopt;
  const auto ticks =
      static_cast<std::uint64_t>((seconds + kFileTimeEpochOffsetSeconds) * kFileTimeTicksPerSecond);
  FILETIME time{};
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

// The day's number in its year, 0 for the first of January.
int DayOfYear(const SYSTEMTIME& date) {
  static constexpr std::array<int, 12> kDaysBeforeMonth = {0,   31,  59,  90,  120, 151,
                                                           181, 212, 243, 273, 304, 334};
  const int year = date.wYear;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDaysBeforeMonth[date.wMonth - 1] + (leap && date.wMonth > 2 ? 1 : 0) + date.wDay - 1;
}

}  // namespace

char PathSeparator() {
  return '\\';
}

// From the system's time zone settings (the active zone, with its daylight
// saving rule applied to the moment's year), not from the C library: that
// one reads a TZ variable when there is one, applying the United States'
// daylight saving rules to it, and knows no moment before 1970.
std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  const std::optional<FILETIME> utc = FileTimeOf(moment);
  SYSTEMTIME utcDate{};
  SYSTEMTIME localDate{};
  if (!utc || !FileTimeToSystemTime(&*utc, &utcDate) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utcDate, &localDate)) {
    return local;
  }
  local.tm_year = localDate.wYear - 1900;
  local.tm_mon = localDate.wMonth - 1;
  local.tm_mday = localDate.wDay;
  local.tm_hour = localDate.wHour;
  local.tm_min = localDate.wMinute;
  local.tm_sec = localDate.wSecond;
  local.tm_wday = localDate.wDayOfWeek;
  local.tm_yday = DayOfYear(localDate);
  local.tm_isdst = -1;
  return local;
}

std::optional<std::string> WorkingDirectory() {
  // The first answer is the size with the terminating NUL. The directory may
  // change between two calls, so ask again while the answer does not fit.
  std::wstring wide;
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  while (needed > 0) {
    wide.resize(needed);
    const DWORD length = GetCurrentDirectoryW(needed, wide.data());
    if (length == 0) return std::nullopt;
    if (length < needed) {
      wide.resize(length);
      return Utf8FromUtf16(wide);
    }
    needed = length;
  }
  return std::nullopt;
}

namespace {

std::uint64_t Combined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// FILE_INTERNAL_INFORMATION's class, which the user-mode headers leave out.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

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

  // The file's internal index, the one GetFileInformationByHandle tells,
  // without the volume query that comes with it there.
  std::optional<std::uint64_t> Index() override {
    struct {
      LARGE_INTEGER number;
    } internal{};
    IO_STATUS_BLOCK status{};
    if (!NT_SUCCESS(NtQueryInformationFile(handle_, &status, &internal, sizeof internal,
                                           kFileInternalInformation))) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(internal.number.QuadPart);
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

// The attributes as the file system keeps them for the file itself (the query
// by name opens nothing the caller sees, and the length is the file's, not a
// directory entry's that may lag behind a write); under Wine a stat() of the
// host's file, without a round trip to the Wine server.
std::optional<NamedFileStatus> NamedStatusOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return std::nullopt;
  }
  return NamedFileStatus{Combined(data.nFileSizeHigh, data.nFileSizeLow),
                         TimeOfFileTime(data.ftLastWriteTime), std::nullopt};
}

namespace {

std::optional<std::string> EnvironmentText(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed <= 1) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  value.resize(length);
  return Utf8FromUtf16(value);
}

}  // namespace

std::optional<std::string> LocalAppDataFolder() {
  return EnvironmentText(L"LOCALAPPDATA");
}

unsigned long ProcessId() {
  return GetCurrentProcessId();
}

std::optional<std::string> PrivateFolderPath() {
  const std::optional<std::string> localAppData = LocalAppDataFolder();
  if (!localAppData || localAppData->empty()) return std::nullopt;
  return *localAppData + "\\VELK_LOG";
}

bool MakePrivateFolder(const std::string& folder) {
  if (!CreateDirectoryW(Wide(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

Creation CreateNewFile(const std::string& path) {
  // CREATE_NEW fails on any name already there, a link or junction included.
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE)
    return CloseHandle(handle) ? Creation::kMade : Creation::kFailed;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Creation::kNameTaken
                                                                     : Creation::kFailed;
}

bool IsOwnFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

std::optional<std::string> SystemDrive() {
  // The Windows folder's drive, "C:" of "C:\Windows".
  std::array<wchar_t, MAX_PATH + 1> folder{};
  const UINT length = GetSystemWindowsDirectoryW(folder.data(), MAX_PATH);
  if (length >= 2 && length <= MAX_PATH && folder[1] == L':') {
    return Utf8FromUtf16(std::wstring_view(folder.data(), 2));
  }
  return EnvironmentText(L"SystemDrive");
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
  return Utf8FromUtf16(wide);
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

AppendOutcome Append(const std::string& path, std::string_view bytes, Durability durability,
                     AppendTarget target) {
  const std::wstring widePath = Wide(path);
  // A file of the program's own is opened as the name itself, never through
  // a link or junction put in its place, and never made anew.
  const bool own = target == AppendTarget::kOwnFile;
  // Opened with append access only, so that every write lands at the end of
  // the file in one piece, whoever else appends. Shared with everyone, so
  // that no other program is ever refused the file for the moment it is
  // open here; a program that holds it without sharing writes makes the open
  // fail, and the record is kept.
  const HANDLE handle =
      CreateFileW(widePath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  own ? OPEN_EXISTING : OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | (own ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {false, SystemMessage(GetLastError())};
  const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
  DWORD wrote = 0;
  const bool called =
      bytes.size() <= MAXDWORD &&
      WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  // A write that stops short sets no error: the disk is full.
  DWORD error = called ? ERROR_DISK_FULL : GetLastError();
  if (bytes.size() > MAXDWORD) error = ERROR_INVALID_PARAMETER;
  bool written = called && wrote == bytes.size();
  if (written && durability == Durability::kOnDisk && regular && !FlushFileBuffers(handle)) {
    written = false;
    error = GetLastError();
  }
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

void FlushToDisk(const std::string& path) {
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  if (GetFileType(handle) == FILE_TYPE_DISK) FlushFileBuffers(handle);
  CloseHandle(handle);
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void IgnoreBrokenPipes() {}

}  // namespace velk::platform
