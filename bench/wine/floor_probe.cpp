// The floor plus one piece of what BVX.exe does at start, to tell where its
// start-up time and memory above the baseline go. The same hidden window,
// tray icon and message loop as baseline_tray.exe; before the icon is
// added it does what the arguments name:
//   mci     loads winmm.dll from the system directory and asks every
//           optical drive for its disc ("info cdaudio!d: identity wait"),
//           as the program's drive discovery does
//   free    with mci: frees winmm.dll again once the drives have answered
//   comctl  loads comctl32.dll and registers the common controls
//           (InitCommonControlsEx), as the program's toolkit does
// The window class is FloorProbe.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace {

constexpr UINT kTrayCallback = WM_USER + 1;

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof proc);
  std::memcpy(&fn, &proc, sizeof fn);
  return fn;
}

void QueryDiscs(bool free_after) {
  using SendFn = DWORD(WINAPI*)(LPCWSTR, LPWSTR, UINT, HWND);
  HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const SendFn send = Proc<SendFn>(winmm, "mciSendStringW");
  if (send == nullptr) return;
  for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_CDROM) continue;
    wchar_t command[64];
    std::swprintf(command, 64, L"info cdaudio!%lc: identity wait", letter);
    wchar_t reply[300];
    send(command, reply, 300, nullptr);
  }
  if (free_after) FreeLibrary(winmm);
}

void InitControls() {
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const InitFn init = Proc<InitFn>(comctl, "InitCommonControlsEx");
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_HOTKEY_CLASS |
                   ICC_UPDOWN_CLASS;
  init(&controls);
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY) {
    NOTIFYICONDATAW data{};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = window;
    data.uID = 1;
    Shell_NotifyIconW(NIM_DELETE, &data);
    PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_COMMAND && LOWORD(wparam) == 1) {
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, msg, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  if (std::wcsstr(command_line, L"comctl") != nullptr) InitControls();
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"FloorProbe";
  if (!RegisterClassW(&wc)) return 1;
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"Probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  if (std::wcsstr(command_line, L"mci") != nullptr) QueryDiscs(std::wcsstr(command_line, L"free") != nullptr);

  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data.hWnd = window;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallback;
  data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpynW(data.szTip, L"Probe", 64);
  Shell_NotifyIconW(NIM_ADD, &data);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
