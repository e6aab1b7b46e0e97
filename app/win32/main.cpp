#include <objbase.h>
#include <windows.h>

#include "app/win32/velk_logging.h"

namespace {

int RunWindow(HINSTANCE instance, int showCommand) {
  VELK_Logging window(instance);
  if (!window.Create(showCommand)) return 1;
  return window.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // COM for the accessibility services that describe the log box.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = RunWindow(instance, showCommand);
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
