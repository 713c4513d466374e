#include "platform/win32/win32_dpi.h"

#include "platform/win32/win32_handles.h"

namespace bvx::win32 {

UINT WindowDpi(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn get_dpi = ProcAddress<Fn>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi != nullptr && hwnd != nullptr) {
    const UINT dpi = get_dpi(hwnd);
    if (dpi != 0) return dpi;
  }
  WindowDc screen(nullptr);
  const int dpi = GetDeviceCaps(screen.Get(), LOGPIXELSY);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT NotificationAreaDpi(HWND own) {
  const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  return WindowDpi(taskbar != nullptr ? taskbar : own);
}

int SmallIconSize(UINT dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  static const Fn for_dpi = ProcAddress<Fn>(L"user32.dll", "GetSystemMetricsForDpi");
  const int size = for_dpi != nullptr ? for_dpi(SM_CXSMICON, dpi) : 0;
  return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

}  // namespace bvx::win32
