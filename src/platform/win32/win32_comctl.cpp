#include "platform/win32/win32_comctl.h"

namespace bvx::win32 {

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn) {
  FARPROC proc = GetProcAddress(module, name);
  static_assert(sizeof fn == sizeof proc);
  std::memcpy(&fn, &proc, sizeof fn);
  return fn != nullptr;
}

CommonControls Load() {
  HMODULE module = LoadSystemLibrary(L"comctl32.dll");
  if (module == nullptr) return {};
  CommonControls cc;
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
  if (!complete) return {};
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                   ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS;
  init(&controls);
  return cc;
}

}  // namespace

const CommonControls* LoadCommonControls() {
  static const CommonControls loaded = Load();
  return loaded.DefSubclassProc != nullptr ? &loaded : nullptr;
}

}  // namespace bvx::win32
