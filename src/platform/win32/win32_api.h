// The Win32 headers as this layer uses them: Unicode, no min/max macros, and
// without the A/W name macros that clash with the portable interfaces
// (Toolkit::MessageBox, Toolkit::PostMessage, Canvas::TextOut,
// Os::ReplaceFile, Os::DeleteFile ...). Code here calls the W functions by
// their full names.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#undef MessageBox
#undef PostMessage
#undef TextOut
#undef ReplaceFile
#undef DeleteFile
#undef RegOpenKey
#undef RegDeleteValue
#undef RegQueryValue
#undef LoadCursor
#undef LoadIcon
#undef DrawText
#undef GetObject

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bvx::win32 {

// A function of a system DLL looked up at run time (absent on older
// systems): null when the DLL is not loaded or lacks it.
template <typename Fn>
Fn ProcAddress(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (handle == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(handle, name);
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof proc);
  std::memcpy(&fn, &proc, sizeof fn);
  return fn;
}

// A DLL from the system directory only, never from beside the program:
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the loader knows it, else the full path.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) return module;
  wchar_t path[MAX_PATH + 32];
  const UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  path[n] = L'\\';
  std::size_t i = n + 1;
  for (const wchar_t* p = name; *p != L'\0' && i + 1 < MAX_PATH + 32; ++p) path[i++] = *p;
  path[i] = L'\0';
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The message the notification area sends about the mouse over the icon
// (lParam: the mouse message).
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;

inline HWND ToHwnd(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
inline std::uintptr_t FromHwnd(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

}  // namespace bvx::win32
