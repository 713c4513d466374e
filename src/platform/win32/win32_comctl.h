// comctl32.dll, loaded from the system directory when a window first needs
// it (the tray menu's images, the options window's controls, the About
// window's links), not at start: the program spends its life idle in the
// tray, and under Wine the library costs about 3 MB of resident memory and
// 30 ms of start-up. The manifest's Common Controls 6 dependency still picks
// version 6 (the loader redirects the name), and creating a BUTTON or STATIC
// window under that manifest loads it too; this is why a form's controls
// are made when it is first shown (Win32Form).
#pragma once

#include "platform/win32/win32_api.h"

namespace bvx::win32 {

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

// The library with every function above, its classes registered
// (InitCommonControlsEx); loaded on the first call, kept for the process's
// life. Null when it cannot be loaded or lacks one of them.
const CommonControls* LoadCommonControls();

}  // namespace bvx::win32
