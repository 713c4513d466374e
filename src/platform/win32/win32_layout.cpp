// Placement of a form and its controls: sizes at 96 DPI scaled to the
// window's DPI, fonts made per size, labels fitted to their text.
#include <algorithm>
#include <string>

#include "platform/win32/wide.h"
#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_form.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

int Win32Form::Scale(int pixels96) const {
  return MulDiv(pixels96, static_cast<int>(dpi_), 96);
}

HFONT Win32Form::FontHandle(const ui::Font& font) {
  for (const MadeFont& made : fonts_) {
    const ui::Font& f = made.font;
    if (f.Face == font.Face && f.Height == font.Height && f.Bold == font.Bold &&
        f.Underline == font.Underline && f.Charset == font.Charset)
      return made.handle.Get();
  }
  const std::wstring face = Utf8ToWide(font.Face);
  OwnedFont handle(CreateFontW(Scale(font.Height), 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE,
                               font.Underline ? TRUE : FALSE, FALSE,
                               static_cast<DWORD>(font.Charset), OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               face.c_str()));
  if (!handle) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  // Faces are interned by the toolkit: the view stays valid.
  fonts_.push_back(MadeFont{font, std::move(handle)});
  return fonts_.back().handle.Get();
}

void Win32Form::SizeWindow() {
  const int border = Scale(layout_.BorderWidth);
  RECT r{0, 0, Scale(layout_.ClientWidth) + 2 * border, Scale(layout_.ClientHeight) + 2 * border};
  const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE));
  const auto adjust_for_dpi = Loaded<User32Dll>().AdjustWindowRectExForDpi;
  if (adjust_for_dpi != nullptr) {
    adjust_for_dpi(&r, style, FALSE, ex_style, dpi_);
  } else {
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
  }
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::CenterOnDesktop() {
  RECT area{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  RECT window{};
  GetWindowRect(hwnd_, &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::Layout() {
  // Controls were created parents first; place them in the same order:
  // depth by depth, each depth in row order.
  std::vector<std::pair<int, Control*>> order;
  for (auto& c : controls_) {
    int depth = 0;
    for (const Control* p = c->parent; p != nullptr; p = p->parent) ++depth;
    order.emplace_back(depth, c.get());
  }
  bool more = true;
  for (int depth = 0; more; ++depth) {
    more = false;
    for (const auto& [d, c] : order) {
      if (d == depth) PlaceControl(*c);
      more = more || d > depth;
    }
  }
}

void Win32Form::PlaceControl(Control& c) {
  const ui::ControlRow& s = *c.desc;
  const ControlKindRow& kind = KindRow(s.ControlKind);
  int x = Scale(s.Left);
  int y = Scale(s.Top);
  int width = Scale(s.Width);
  int height = Scale(s.Height);
  if (c.parent == nullptr) {
    x += Scale(layout_.BorderWidth);
    y += Scale(layout_.BorderWidth);
  }
  if (kind.size != nullptr) kind.size(*this, c, width, height);
  SetWindowPos(c.hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyFont(c, false);
  if (kind.placed != nullptr) kind.placed(*this, c);
  FitToText(c);
}

void Win32Form::ApplyFont(Control& c, bool redraw) {
  SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(c.font)), redraw);
}

// Labels that size themselves: to the text, or, when they wrap, to the
// height of the wrapped text within their width.
void Win32Form::FitToText(Control& c) {
  const ui::ControlRow& s = *c.desc;
  if (!KindRow(s.ControlKind).fits_text || !(s.Flags & ui::kAutoSize)) return;
  std::wstring text = WindowText(c.hwnd);
  if (text.empty()) text = L" ";
  const bool wrap = (s.Flags & ui::kWordWrap) != 0;
  RECT r{0, 0, wrap ? Scale(s.Width) : 0, 0};
  {
    WindowDc dc(c.hwnd);
    Selection font(dc.Get(), FontHandle(c.font));
    DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
  }
  const int width = wrap ? Scale(s.Width) : r.right - r.left;
  SetWindowPos(c.hwnd, nullptr, 0, 0, width, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::ChangeFont(Control& c, const ui::Font& font) {
  c.font = font;
  c.font.Face = toolkit_.InternFace(font.Face);
  ApplyFont(c, true);
  FitToText(c);
  InvalidateRect(c.hwnd, nullptr, TRUE);
  for (auto& child : controls_)
    if (child->parent == &c && !child->own_font) ChangeFont(*child, c.font);
}

void Win32Form::ChangeDpi(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  // The old fonts stay alive until every control has its new one.
  std::vector<MadeFont> old_fonts;
  old_fonts.swap(fonts_);
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SizeWindow();
  if (controls_made_) Layout();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

}  // namespace bvx::win32
