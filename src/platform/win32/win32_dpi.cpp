#include "platform/win32/win32_dpi.h"

#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_handles.h"

namespace bvx::win32 {

UINT WindowDpi(HWND hwnd) {
  const auto get_dpi = Loaded<User32Dll>().GetDpiForWindow;
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
  const auto for_dpi = Loaded<User32Dll>().GetSystemMetricsForDpi;
  const int size = for_dpi != nullptr ? for_dpi(SM_CXSMICON, dpi) : 0;
  return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

}  // namespace bvx::win32
