#include <windows.h>

#include "app/win32/velk_logging.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  VELK_Logging window(instance);
  if (!window.Create(showCommand)) return 1;
  return window.Run();
}
