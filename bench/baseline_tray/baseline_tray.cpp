// The floor: the least a Win32 tray program can be. One hidden top-level
// window, one tray icon with a tip, a message loop; command 1 (a tray menu's
// Exit item would send it) removes the icon and ends the program.
//
// Built with the same compiler and flags as BVX.exe (bench/wine/CMakeLists.txt)
// and measured beside it: start-up to the tray icon, resident memory, idle
// CPU time and wake-ups.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT kTrayCallback = WM_USER + 1;
constexpr UINT kTrayId = 1;
constexpr WPARAM kCmdExit = 1;

NOTIFYICONDATAW IconRecord(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data.hWnd = window;
  data.uID = kTrayId;
  return data;
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wparam) == kCmdExit) DestroyWindow(window);
      return 0;
    case WM_DESTROY: {
      NOTIFYICONDATAW data = IconRecord(window);
      Shell_NotifyIconW(NIM_DELETE, &data);
      PostQuitMessage(0);
      return 0;
    }
    default:
      return DefWindowProcW(window, msg, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"BaselineTray";
  if (!RegisterClassW(&wc)) return 1;
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"Baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;

  NOTIFYICONDATAW data = IconRecord(window);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallback;
  data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpynW(data.szTip, L"Baseline", 64);
  Shell_NotifyIconW(NIM_ADD, &data);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
