// The display scale as this layer reads it, with user32 and gdi32 alone:
// the DPI of a window, of the notification area, and the size of small
// icons at a DPI. The functions that know per-monitor DPI came with Windows
// 10 (1607); where they are missing, the system DPI stands for every screen.
#pragma once

#include "platform/win32/win32_api.h"

namespace bvx::win32 {

// The DPI of a window (any process's): GetDpiForWindow, else the system DPI.
UINT WindowDpi(HWND hwnd);

// The DPI the notification area draws at: that of the taskbar that holds
// it; while there is none (explorer not running yet), that of the given
// window of the program's own.
UINT NotificationAreaDpi(HWND own);

// The size of small icons (SM_CXSMICON) at a DPI: 16 at 96, 24 at 144.
int SmallIconSize(UINT dpi);

}  // namespace bvx::win32
