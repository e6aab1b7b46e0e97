// SPDX-License-Identifier: GPL-3.0-or-later
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/win32/velk_logging.h"
#include "common/process.h"
#include "common/utf16.h"
#include "session/command_line.h"

namespace {

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    arguments.push_back(velk::platform::Utf8FromUtf16(wide[i]));
  }
  LocalFree(wide);
  return arguments;
}

// A program without a console of its own writes to the console it was
// started from, unless its output goes to a file or a pipe.
void WriteTo(DWORD stream, std::FILE* file, const std::string& text) {
  if (text.empty()) return;
  const HANDLE handle = GetStdHandle(stream);
  if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) &&
      AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", file);
  }
  std::fputs(text.c_str(), file);
  std::fflush(file);
}

int RunWindow(HINSTANCE instance, int showCommand) {
  VELK_Logging window(instance);
  if (!window.Create(showCommand)) return 1;
  if (window.session().Closing()) return 0;  // another VELK_LOG follows this folder
  return window.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const velk::CommandLine command = velk::ReadCommandLine(Arguments());
  if (!command.openWindow) {
    WriteTo(STD_OUTPUT_HANDLE, stdout, command.out);
    WriteTo(STD_ERROR_HANDLE, stderr, command.err);
    return command.exitStatus;
  }
  velk::platform::CatchEndRequests();
  // COM for the accessibility services that describe the log box.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = RunWindow(instance, showCommand);
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
