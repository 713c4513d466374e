// One owning type per kind of Win32 handle: each frees its handle exactly
// once, on every path, and can be moved but not copied.
#pragma once

#include <utility>

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_dlls.h"

namespace bvx::win32 {

// Traits: Handle, Null() (the value that owns nothing) and Free(handle).
template <typename Traits>
class Owned {
 public:
  using Handle = typename Traits::Handle;

  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : handle_(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Null(); }
  Handle Release() { return std::exchange(handle_, Traits::Null()); }
  void Reset(Handle handle = Traits::Null()) {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::Null() && old != handle) Traits::Free(old);
  }

 private:
  Handle handle_ = Traits::Null();
};

namespace traits {

struct File {
  using Handle = HANDLE;
  static Handle Null() { return INVALID_HANDLE_VALUE; }
  static void Free(Handle h) { CloseHandle(h); }
};
struct Find {
  using Handle = HANDLE;
  static Handle Null() { return INVALID_HANDLE_VALUE; }
  static void Free(Handle h) { FindClose(h); }
};
template <typename H>
struct Gdi {
  using Handle = H;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { DeleteObject(h); }
};
struct Menu {
  using Handle = HMENU;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { DestroyMenu(h); }
};
// An icon of the program's own making (LoadImageW without LR_SHARED).
struct Icon {
  using Handle = HICON;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { DestroyIcon(h); }
};
struct Key {
  using Handle = HKEY;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { RegCloseKey(h); }
};
// An image list exists only where the common controls were loaded.
struct ImageList {
  using Handle = HIMAGELIST;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { LoadCommonControls()->ImageListDestroy(h); }
};
struct Window {
  using Handle = HWND;
  static Handle Null() { return nullptr; }
  static void Free(Handle h) { DestroyWindow(h); }
};

}  // namespace traits

using OwnedFile = Owned<traits::File>;
using OwnedFind = Owned<traits::Find>;
using OwnedFont = Owned<traits::Gdi<HFONT>>;
using OwnedBrush = Owned<traits::Gdi<HBRUSH>>;
using OwnedBitmap = Owned<traits::Gdi<HBITMAP>>;
using OwnedMenu = Owned<traits::Menu>;
using OwnedIcon = Owned<traits::Icon>;
using OwnedKey = Owned<traits::Key>;
using OwnedImageList = Owned<traits::ImageList>;
using OwnedWindow = Owned<traits::Window>;

// A window's device context from GetDC, released again.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// BeginPaint ... EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
  ~PaintDc() { EndPaint(hwnd_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// An object selected into a device context, the previous one selected back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selection() { SelectObject(dc_, old_); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace bvx::win32
