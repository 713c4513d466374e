// Every function the program finds at run time, one struct per DLL, each
// filled on its first use and kept for the process's life.
//
// user32.dll is imported; what it lacks on older systems (the per-monitor
// DPI functions, the shutdown reason, the message filter) is looked up in
// it. The other DLLs come from the system directory only, never from beside
// the program, and only when first needed: the program spends its life idle
// in the tray, and each costs memory and start-up time (comctl32 under Wine
// about 3 MB of resident memory and 30 ms). uxtheme.dll comes with the first
// tab control or group box, winmm.dll with the first MCI command, ole32.dll
// with the first link, comctl32.dll with the first tray menu or shown form.
// The manifest's Common Controls 6 dependency still picks version 6 (the
// loader redirects the name), and creating a BUTTON or STATIC window under
// that manifest loads it too; this is why a form's controls are made when
// it is first shown (Win32Form).
#pragma once

#include "platform/win32/win32_api.h"

namespace bvx::win32 {

// user32.dll: each function null where the system lacks it.
struct User32Dll {
  // Windows 10 (1607): the DPI of a window, metrics and frames at a DPI.
  UINT(WINAPI* GetDpiForWindow)(HWND) = nullptr;
  int(WINAPI* GetSystemMetricsForDpi)(int, UINT) = nullptr;
  BOOL(WINAPI* AdjustWindowRectExForDpi)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;
  // Windows Vista: the reason shown while the program holds the session's end.
  BOOL(WINAPI* ShutdownBlockReasonCreate)(HWND, LPCWSTR) = nullptr;
  BOOL(WINAPI* ShutdownBlockReasonDestroy)(HWND) = nullptr;
  // Windows 7: a message let through to one window.
  BOOL(WINAPI* ChangeWindowMessageFilterEx)(HWND, UINT, DWORD, void*) = nullptr;
};

// uxtheme.dll: null without it (then there are no themes to turn off).
struct UxThemeDll {
  HRESULT(WINAPI* SetWindowTheme)(HWND, LPCWSTR, LPCWSTR) = nullptr;
};

// winmm.dll: null when it cannot be loaded.
struct WinmmDll {
  DWORD(WINAPI* mciSendStringW)(LPCWSTR, LPWSTR, UINT, HWND) = nullptr;
};

// ole32.dll: null when it cannot be loaded. Never freed: COM stays
// initialised on the thread until the program ends.
struct Ole32Dll {
  HRESULT(WINAPI* CoInitializeEx)(void*, DWORD) = nullptr;
};

// comctl32.dll, whole or not at all: every member null when it cannot be
// loaded or lacks one of them. Its classes are registered
// (InitCommonControlsEx) when it is loaded.
struct CommonControls {
  decltype(&::ImageList_Create) ImageListCreate = nullptr;
  decltype(&::ImageList_AddMasked) ImageListAddMasked = nullptr;
  decltype(&::ImageList_Destroy) ImageListDestroy = nullptr;
  decltype(&::ImageList_Draw) ImageListDraw = nullptr;
  decltype(&::ImageList_GetIconSize) ImageListGetIconSize = nullptr;
  decltype(&::ImageList_GetImageCount) ImageListGetImageCount = nullptr;
  decltype(&::SetWindowSubclass) SetWindowSubclass = nullptr;
  decltype(&::RemoveWindowSubclass) RemoveWindowSubclass = nullptr;
  decltype(&::DefSubclassProc) DefSubclassProc = nullptr;
};
// The functions of one of the DLLs above (User32Dll ... CommonControls),
// found on the first call and kept for the process's life.
template <typename Dll>
const Dll& Loaded();

// The common controls, or null without them.
const CommonControls* LoadCommonControls();

}  // namespace bvx::win32
