// SPDX-License-Identifier: GPL-3.0-or-later
// The least a window can do to follow a file: a 1 ms timer, and at each
// tick the size of ALL.TXT in the working folder asked by its name.
// scripts/bench --windows measures it under Wine beside VELK_LOG.exe, as the
// floor for what watching an idle decode file costs there. Ends when its
// window is closed.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      WIN32_FILE_ATTRIBUTE_DATA data{};
      GetFileAttributesExW(L"ALL.TXT", GetFileExInfoStandard, &data);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int main() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW kind{};
  kind.lpfnWndProc = Procedure;
  kind.hInstance = instance;
  kind.lpszClassName = L"VelkTimerProbe";
  if (!RegisterClassW(&kind)) return 1;
  const HWND window =
      CreateWindowExW(0, kind.lpszClassName, L"VELK timer probe", WS_OVERLAPPEDWINDOW,
                      CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, 1, 1, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
