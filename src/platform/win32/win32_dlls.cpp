#include "platform/win32/win32_dlls.h"

#include <cstring>

namespace bvx::win32 {

namespace {

// A DLL from the system directory only, never from beside the program:
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the loader knows it, else the full path.
HMODULE LoadSystemLibrary(const wchar_t* name) {
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

// A function of module by name, as the type it has; false (and fn null)
// when the module is missing or lacks it.
template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn) {
  FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
  static_assert(sizeof fn == sizeof proc);
  std::memcpy(&fn, &proc, sizeof fn);
  return fn != nullptr;
}

void Fill(User32Dll& dll) {
  const HMODULE module = GetModuleHandleW(L"user32.dll");
  Resolve(module, "GetDpiForWindow", dll.GetDpiForWindow);
  Resolve(module, "GetSystemMetricsForDpi", dll.GetSystemMetricsForDpi);
  Resolve(module, "AdjustWindowRectExForDpi", dll.AdjustWindowRectExForDpi);
  Resolve(module, "ShutdownBlockReasonCreate", dll.ShutdownBlockReasonCreate);
  Resolve(module, "ShutdownBlockReasonDestroy", dll.ShutdownBlockReasonDestroy);
  Resolve(module, "ChangeWindowMessageFilterEx", dll.ChangeWindowMessageFilterEx);
}

void Fill(UxThemeDll& dll) {
  Resolve(LoadSystemLibrary(L"uxtheme.dll"), "SetWindowTheme", dll.SetWindowTheme);
}

void Fill(WinmmDll& dll) {
  Resolve(LoadSystemLibrary(L"winmm.dll"), "mciSendStringW", dll.mciSendStringW);
}

void Fill(Ole32Dll& dll) {
  Resolve(LoadSystemLibrary(L"ole32.dll"), "CoInitializeEx", dll.CoInitializeEx);
}

void Fill(CommonControls& cc) {
  const HMODULE module = LoadSystemLibrary(L"comctl32.dll");
  decltype(&::InitCommonControlsEx) init = nullptr;
  const bool complete = Resolve(module, "InitCommonControlsEx", init) &&
                        Resolve(module, "ImageList_Create", cc.ImageListCreate) &&
                        Resolve(module, "ImageList_AddMasked", cc.ImageListAddMasked) &&
                        Resolve(module, "ImageList_Destroy", cc.ImageListDestroy) &&
                        Resolve(module, "ImageList_Draw", cc.ImageListDraw) &&
                        Resolve(module, "ImageList_GetIconSize", cc.ImageListGetIconSize) &&
                        Resolve(module, "ImageList_GetImageCount", cc.ImageListGetImageCount) &&
                        Resolve(module, "SetWindowSubclass", cc.SetWindowSubclass) &&
                        Resolve(module, "RemoveWindowSubclass", cc.RemoveWindowSubclass) &&
                        Resolve(module, "DefSubclassProc", cc.DefSubclassProc);
  if (!complete) {
    cc = {};
    return;
  }
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                   ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS;
  init(&controls);
}

}  // namespace

template <typename Dll>
const Dll& Loaded() {
  static const Dll loaded = [] {
    Dll dll;
    Fill(dll);
    return dll;
  }();
  return loaded;
}
template const User32Dll& Loaded<User32Dll>();
template const UxThemeDll& Loaded<UxThemeDll>();
template const WinmmDll& Loaded<WinmmDll>();
template const Ole32Dll& Loaded<Ole32Dll>();
template const CommonControls& Loaded<CommonControls>();

const CommonControls* LoadCommonControls() {
  const CommonControls& cc = Loaded<CommonControls>();
  return cc.DefSubclassProc != nullptr ? &cc : nullptr;
}

}  // namespace bvx::win32
