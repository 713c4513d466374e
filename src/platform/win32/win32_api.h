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

// The message the notification area sends about the mouse over the icon
// (lParam: the mouse message).
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;

inline HWND ToHwnd(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
inline std::uintptr_t FromHwnd(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

}  // namespace bvx::win32
