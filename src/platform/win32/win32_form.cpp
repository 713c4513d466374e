#include "platform/win32/win32_form.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "platform/toolkit_rules.h"
#include "platform/errors.h"
#include "platform/menu.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

namespace {

using ui::Kind;

constexpr int kFirstControlId = 1000;
constexpr wchar_t kGroupBoxClass[] = L"TGroupBox";
constexpr UINT_PTR kSubclassId = 1;

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

// The character after a caption's single "&", or 0.
wchar_t AcceleratorChar(const std::wstring& caption) {
  const std::string text = WideToUtf8(caption);
  const std::size_t pos = ui::AcceleratorPos(text);
  if (pos == std::string::npos) return 0;
  std::size_t length = 1;
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead >= 0xF0) length = 4;
  else if (lead >= 0xE0) length = 3;
  else if (lead >= 0xC0) length = 2;
  const std::wstring ch = Utf8ToWide(std::string_view(text).substr(pos, length));
  return ch.empty() ? 0 : ch.front();
}

wchar_t UpperChar(wchar_t ch) {
  return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(
      CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(ch)))));
}

bool IsLabelKind(Kind k) {
  return k == Kind::Label || k == Kind::StaticText || k == Kind::LinkLabel;
}
bool IsPushButton(Kind k) {
  return k == Kind::Button || k == Kind::OkButton || k == Kind::CancelButton;
}
bool IsTabStopKind(Kind k) {
  switch (k) {
    case Kind::Button: case Kind::OkButton: case Kind::CancelButton: case Kind::CheckBox:
    case Kind::HotKey: case Kind::SpinEdit: case Kind::DropDownList: case Kind::TabControl:
      return true;
    default:
      return false;
  }
}

UINT WindowDpi(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn get_dpi = ProcAddress<Fn>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi != nullptr) {
    const UINT dpi = get_dpi(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// Containers keep the classic look: the tab control's bottom tabs and body,
// and the group boxes' frames and captions, take the form's colours, and each
// box paints its whole background over whatever it covers. uxtheme.dll comes
// from the system directory only; without it there are no themes to turn off.
void UseClassicLook(HWND hwnd) {
  using Fn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static const Fn set_theme = [] {
    HMODULE uxtheme = LoadSystemLibrary(L"uxtheme.dll");
    Fn fn = nullptr;
    if (uxtheme != nullptr) {
      FARPROC proc = GetProcAddress(uxtheme, "SetWindowTheme");
      std::memcpy(&fn, &proc, sizeof fn);
    }
    return fn;
  }();
  // A class list that names no class: no theme data, the classic look.
  if (set_theme != nullptr) set_theme(hwnd, L" ", L" ");
}

// The drawing surface of an owner-drawn tab.
class DcCanvas final : public ui::Canvas {
 public:
  DcCanvas(HDC dc, HBRUSH brush, HFONT font, COLORREF color)
      : dc_(dc), brush_(brush), color_(color), old_font_(SelectObject(dc, font)) {}
  ~DcCanvas() override { SelectObject(dc_, old_font_); }
  DcCanvas(const DcCanvas&) = delete;
  DcCanvas& operator=(const DcCanvas&) = delete;

  void FillBackground(const ui::Rect& r) override {
    const RECT rect{r.Left, r.Top, r.Right, r.Bottom};
    FillRect(dc_, &rect, brush_);
  }
  ui::Size TextExtent(std::string_view text) override {
    const std::wstring wide = Utf8ToWide(text);
    SIZE size{};
    GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &size);
    return ui::Size{size.cx, size.cy};
  }
  void TextOut(int x, int y, std::string_view text) override {
    const std::wstring wide = Utf8ToWide(text);
    SetBkMode(dc_, TRANSPARENT);
    SetTextColor(dc_, color_);
    TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
  }

 private:
  HDC dc_;
  HBRUSH brush_;
  COLORREF color_;
  HGDIOBJ old_font_;
};

}  // namespace

// --- creation and destruction ----------------------------------------------------

Win32Form::Win32Form(Win32Toolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events)
    : toolkit_(toolkit), layout_(desc), events_(events) {
  font_ = desc.FormFont;
  font_.Face = toolkit_.InternFace(desc.FormFont.Face);
  background_ = CreateSolidBrush(desc.Background);
  RegisterWindowClass();

  DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  DWORD ex_style = WS_EX_CONTROLPARENT;
  if (desc.Flags & ui::kDialogFrame) {
    style |= WS_CAPTION | WS_SYSMENU;  // fixed frame; the close box only
    ex_style |= WS_EX_DLGMODALFRAME;
  } else {
    style |= WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    if (!(desc.Flags & ui::kCloseBoxOnly)) style |= WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  }
  if (desc.Flags & ui::kStayOnTop) ex_style |= WS_EX_TOPMOST;

  const std::wstring class_name = Utf8ToWide(desc.ClassName);
  const std::wstring caption = Utf8ToWide(desc.Caption);
  CreateWindowExW(ex_style, class_name.c_str(), caption.c_str(), style, 0, 0, 0, 0,
                  toolkit_.AppWindow(), nullptr, toolkit_.Instance(), this);
  if (hwnd_ == nullptr) {
    DeleteObject(background_);
    throw Error("Error creating window");
  }
  toolkit_.AddForm(this);
  try {
    dpi_ = WindowDpi(hwnd_);
    SizeWindow();
    CreateControls();
    Layout();
    if (desc.Flags & ui::kCenterDesktop) CenterOnDesktop();
  } catch (...) {
    destroying_ = true;
    toolkit_.RemoveForm(this);
    DestroyWindow(hwnd_);
    for (auto& [key, font] : fonts_) DeleteObject(font);
    DeleteObject(background_);
    throw;
  }
}

Win32Form::~Win32Form() {
  destroying_ = true;
  toolkit_.RemoveForm(this);
  DestroyWindow(hwnd_);
  for (const auto& c : controls_)
    if (c->bitmap != nullptr) DeleteObject(c->bitmap);
  for (auto& [key, font] : fonts_) DeleteObject(font);
  DeleteObject(background_);
}

void Win32Form::RegisterWindowClass() {
  const std::wstring name = Utf8ToWide(layout_.ClassName);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(toolkit_.Instance(), kGroupBoxClass, &existing)) {
    WNDCLASSEXW box{};
    box.cbSize = sizeof box;
    box.style = CS_HREDRAW | CS_VREDRAW;
    box.lpfnWndProc = &Win32Form::GroupBoxProc;
    box.hInstance = toolkit_.Instance();
    box.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    box.lpszClassName = kGroupBoxClass;
    if (!RegisterClassExW(&box)) throw Error("Error registering window class");
  }
  if (GetClassInfoExW(toolkit_.Instance(), name.c_str(), &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Form::WindowProc;
  wc.hInstance = toolkit_.Instance();
  wc.hIcon = LoadIconW(toolkit_.Instance(), L"MAINICON");
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = name.c_str();
  if (!RegisterClassExW(&wc)) throw Error("Error registering window class");
}

void Win32Form::CreateControls() {
  for (std::size_t i = 0; i < layout_.Controls.size(); ++i) {
    auto c = std::make_unique<Control>();
    c->desc = &layout_.Controls[i];
    c->index = i;
    controls_.push_back(std::move(c));
  }
  for (auto& c : controls_) {
    if (c->desc->Parent.empty()) continue;
    for (auto& p : controls_)
      if (p->desc->Name == c->desc->Parent) c->parent = p.get();
    if (c->parent == nullptr || c->parent == c.get())
      throw Error("Control '" + std::string(c->desc->Parent) + "' not found");
  }
  // Parents before their children, whatever the order of the rows.
  std::size_t made = 0;
  while (made < controls_.size()) {
    const std::size_t before = made;
    for (auto& c : controls_) {
      if (c->hwnd != nullptr) continue;
      if (c->parent != nullptr && c->parent->hwnd == nullptr) continue;
      CreateControl(*c);
      ++made;
    }
    if (made == before) throw Error("Control parents form a cycle");
  }
  // A later row lies above an earlier one among its siblings.
  for (auto& c : controls_) {
    const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(c->hwnd, HWND_TOP, 0, 0, 0, 0, flags);
    if (c->updown != nullptr) SetWindowPos(c->updown, HWND_TOP, 0, 0, 0, 0, flags);
  }
}

void Win32Form::CreateControl(Control& c) {
  const ui::ControlRow& s = *c.desc;
  HWND parent = c.parent != nullptr ? c.parent->hwnd : hwnd_;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (!(s.Flags & ui::kHidden)) style |= WS_VISIBLE;
  if (s.Flags & ui::kDisabled) style |= WS_DISABLED;
  DWORD ex_style = 0;
  const wchar_t* window_class = L"STATIC";
  std::wstring text = Utf8ToWide(s.Text);
  int id = kFirstControlId + static_cast<int>(c.index);

  switch (s.ControlKind) {
    case Kind::Label:
    case Kind::StaticText:
    case Kind::LinkLabel:
      style |= (s.Flags & ui::kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
      if (s.ControlKind == Kind::LinkLabel) style |= SS_NOTIFY;
      break;
    case Kind::Button:
      window_class = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case Kind::OkButton:
      window_class = L"BUTTON";
      style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
      id = IDOK;
      break;
    case Kind::CancelButton:
      window_class = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      id = IDCANCEL;
      break;
    case Kind::GroupBox:
      window_class = kGroupBoxClass;
      style |= WS_CLIPCHILDREN;
      ex_style |= WS_EX_CONTROLPARENT;
      break;
    case Kind::CheckBox:
      window_class = L"BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case Kind::HotKey:
      window_class = HOTKEY_CLASSW;
      style |= WS_TABSTOP;
      ex_style |= WS_EX_CLIENTEDGE;
      text.clear();
      break;
    case Kind::SpinEdit:
      window_class = L"EDIT";
      style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
      ex_style |= WS_EX_CLIENTEDGE;
      if (text.empty()) text = L"0";
      break;
    case Kind::DropDownList:
      window_class = WC_COMBOBOXW;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      text.clear();
      break;
    case Kind::TabControl:
      window_class = WC_TABCONTROLW;
      style |= WS_TABSTOP | WS_CLIPCHILDREN;
      if (s.Flags & ui::kTabsBottom) style |= TCS_BOTTOM;
      if (s.Flags & ui::kOwnerDrawTabs) style |= TCS_OWNERDRAWFIXED;
      ex_style |= WS_EX_CONTROLPARENT;
      text.clear();
      break;
    case Kind::Image:
      style |= SS_BITMAP;
      text.clear();
      break;
    case Kind::Bevel:
      style |= SS_ETCHEDHORZ;
      text.clear();
      break;
  }

  c.own_font = s.ControlFont != nullptr;
  c.font = s.ControlFont != nullptr ? *s.ControlFont
                                    : (c.parent != nullptr ? c.parent->font : font_);
  c.font.Face = toolkit_.InternFace(c.font.Face);

  // Group boxes find their form through the creation parameter.
  void* create_param = s.ControlKind == Kind::GroupBox ? this : nullptr;
  c.hwnd = CreateWindowExW(ex_style, window_class, text.c_str(), style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           toolkit_.Instance(), create_param);
  if (c.hwnd == nullptr) throw Error("Error creating window");

  const auto self = reinterpret_cast<DWORD_PTR>(this);
  switch (s.ControlKind) {
    case Kind::TabControl: {
      SetWindowSubclass(c.hwnd, &Win32Form::ContainerProc, kSubclassId, self);
      UseClassicLook(c.hwnd);
      if (!s.Text.empty()) {
        std::wstring caption = Utf8ToWide(s.Text);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(c.hwnd, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        SendMessageW(c.hwnd, TCM_SETCURSEL, 0, 0);
      }
      break;
    }
    case Kind::LinkLabel:
      SetWindowSubclass(c.hwnd, &Win32Form::LinkProc, kSubclassId, self);
      break;
    case Kind::HotKey:
      // Every combination is taken as pressed; no modifier is added.
      SendMessageW(c.hwnd, HKM_SETRULES, 0, 0);
      break;
    case Kind::SpinEdit: {
      DWORD arrows = WS_CHILD | WS_CLIPSIBLINGS | UDS_ALIGNRIGHT;
      if (style & WS_VISIBLE) arrows |= WS_VISIBLE;
      if (style & WS_DISABLED) arrows |= WS_DISABLED;
      c.updown = CreateWindowExW(0, UPDOWN_CLASSW, nullptr, arrows, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id + 500)),
                                 toolkit_.Instance(), nullptr);
      if (c.updown == nullptr) throw Error("Error creating window");
      // The arrows only ask (UDN_DELTAPOS, always refused); the value lives
      // in the text, so no range applies.
      SendMessageW(c.updown, UDM_SETRANGE32, static_cast<WPARAM>(-1000000), 1000000);
      SendMessageW(c.updown, UDM_SETPOS32, 0, 0);
      SetWindowSubclass(c.hwnd, &Win32Form::SpinEditProc, kSubclassId, self);
      break;
    }
    case Kind::OkButton:
    case Kind::CancelButton:
      if (HIMAGELIST glyphs = toolkit_.ButtonGlyphs(s.ControlKind == Kind::OkButton)) {
        BUTTON_IMAGELIST list{};
        list.himl = glyphs;
        list.margin.right = s.GlyphSpacing;
        list.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
        SendMessageW(c.hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
      }
      break;
    default:
      break;
  }
}

// --- layout ------------------------------------------------------------------------

int Win32Form::Scale(int pixels96) const {
  return MulDiv(pixels96, static_cast<int>(dpi_), 96);
}

HFONT Win32Form::FontHandle(const ui::Font& font) {
  std::string key(font.Face);
  key += '|' + std::to_string(font.Height) + '|' + std::to_string(font.Bold) + '|' +
         std::to_string(font.Underline) + '|' + std::to_string(font.Charset);
  const auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second;
  const std::wstring face = Utf8ToWide(font.Face);
  HFONT handle = CreateFontW(Scale(font.Height), 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE,
                             font.Underline ? TRUE : FALSE, FALSE,
                             static_cast<DWORD>(font.Charset), OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                             face.c_str());
  if (handle == nullptr) handle = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  else fonts_.emplace(std::move(key), handle);
  return handle;
}

void Win32Form::SizeWindow() {
  const int border = Scale(layout_.BorderWidth);
  RECT r{0, 0, Scale(layout_.ClientWidth) + 2 * border, Scale(layout_.ClientHeight) + 2 * border};
  const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE));
  using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const Fn adjust_for_dpi = ProcAddress<Fn>(L"user32.dll", "AdjustWindowRectExForDpi");
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
  // Controls were created parents first; place them in the same order.
  std::vector<Control*> order;
  for (auto& c : controls_) order.push_back(c.get());
  std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    auto depth = [](const Control* c) {
      int d = 0;
      for (const Control* p = c->parent; p != nullptr; p = p->parent) ++d;
      return d;
    };
    return depth(a) < depth(b);
  });
  for (Control* c : order) PlaceControl(*c);
}

void Win32Form::PlaceControl(Control& c) {
  const ui::ControlRow& s = *c.desc;
  int x = Scale(s.Left);
  int y = Scale(s.Top);
  int width = Scale(s.Width);
  int height = Scale(s.Height);
  if (c.parent == nullptr) {
    x += Scale(layout_.BorderWidth);
    y += Scale(layout_.BorderWidth);
  }
  switch (s.ControlKind) {
    case Kind::DropDownList:
      // The window's height includes the dropped-down list.
      height += Scale(s.ItemHeight > 0 ? s.ItemHeight : 16) * 8;
      break;
    case Kind::Image:
      LoadPicture(c);
      if (c.bitmap != nullptr) {
        BITMAP info{};
        GetObjectW(c.bitmap, sizeof info, &info);
        width = info.bmWidth;
        height = info.bmHeight;
      }
      break;
    default:
      break;
  }
  SetWindowPos(c.hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyFont(c, false);
  if (c.updown != nullptr) {
    // Re-attaching makes the arrows take their place inside the given width.
    SendMessageW(c.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(c.hwnd), 0);
  }
  if (s.ControlKind == Kind::DropDownList && s.ItemHeight > 0) {
    SendMessageW(c.hwnd, CB_SETITEMHEIGHT, 0, Scale(s.ItemHeight));
  }
  FitToText(c);
}

void Win32Form::LoadPicture(Control& c) {
  const std::wstring name = Utf8ToWide(c.desc->Text);
  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageW(toolkit_.Instance(), name.c_str(), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  if (picture == nullptr) return;
  if (dpi_ != 96) {
    BITMAP info{};
    GetObjectW(picture, sizeof info, &info);
    HBITMAP scaled = static_cast<HBITMAP>(LoadImageW(toolkit_.Instance(), name.c_str(),
                                                     IMAGE_BITMAP, Scale(info.bmWidth),
                                                     Scale(info.bmHeight), LR_DEFAULTCOLOR));
    if (scaled != nullptr) {
      DeleteObject(picture);
      picture = scaled;
    }
  }
  HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(
      SendMessageW(c.hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture)));
  if (previous != nullptr && previous != c.bitmap && previous != picture) DeleteObject(previous);
  if (c.bitmap != nullptr && c.bitmap != picture) DeleteObject(c.bitmap);
  c.bitmap = picture;
}

void Win32Form::ApplyFont(Control& c, bool redraw) {
  SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(c.font)), redraw);
}

// Labels that size themselves: to the text, or, when they wrap, to the
// height of the wrapped text within their width.
void Win32Form::FitToText(Control& c) {
  const ui::ControlRow& s = *c.desc;
  if (!IsLabelKind(s.ControlKind) || !(s.Flags & ui::kAutoSize)) return;
  std::wstring text = WindowText(c.hwnd);
  if (text.empty()) text = L" ";
  const bool wrap = (s.Flags & ui::kWordWrap) != 0;
  HDC dc = GetDC(c.hwnd);
  HGDIOBJ old = SelectObject(dc, FontHandle(c.font));
  RECT r{0, 0, wrap ? Scale(s.Width) : 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(c.hwnd, dc);
  const int width = wrap ? Scale(s.Width) : r.right - r.left;
  SetWindowPos(c.hwnd, nullptr, 0, 0, width, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- lookup ----------------------------------------------------------------------------

Win32Form::Control& Win32Form::Find(std::string_view name) const {
  for (const auto& c : controls_)
    if (c->desc->Name == name) return *c;
  throw Error("Component '" + std::string(name) + "' not found");
}

Win32Form::Control* Win32Form::ControlOf(HWND hwnd) const {
  if (hwnd == nullptr) return nullptr;
  for (const auto& c : controls_)
    if (c->hwnd == hwnd || c->updown == hwnd) return c.get();
  return nullptr;
}

Win32Form::Control* Win32Form::FirstOfKind(Kind kind) const {
  for (const auto& c : controls_)
    if (c->desc->ControlKind == kind) return c.get();
  return nullptr;
}

// --- ui::Form ------------------------------------------------------------------------------

WindowId Win32Form::ControlHandle(std::string_view control) const {
  return FromHwnd(Find(control).hwnd);
}

void Win32Form::BeforeShow() {
  toolkit_.Guard([&] { events_.OnShow(); });
  if (layout_.Flags & ui::kCenterDesktop) CenterOnDesktop();
}

void Win32Form::Show() {
  if (!IsWindowVisible(hwnd_)) BeforeShow();
  ShowWindow(hwnd_, SW_SHOW);
  BringToFront();
}

void Win32Form::Hide() { ShowWindow(hwnd_, SW_HIDE); }

bool Win32Form::IsVisible() const { return IsWindowVisible(hwnd_) != FALSE; }

void Win32Form::BringToFront() {
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  SetForegroundWindow(hwnd_);
  BringWindowToTop(hwnd_);
}

int Win32Form::ShowModal() {
  if (IsWindowVisible(hwnd_)) throw Error("Cannot make a visible window modal");
  HWND previous = GetActiveWindow();
  const std::vector<HWND> disabled = toolkit_.DisableThreadWindows(hwnd_);
  modal_ = true;
  modal_result_ = 0;
  BeforeShow();
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  MSG msg{};
  while (modal_result_ == 0) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The application is ending: hand the quit on to the outer loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      modal_result_ = ui::kModalCancel;
      break;
    }
    if (got == -1) {
      modal_result_ = ui::kModalCancel;
      break;
    }
    toolkit_.ProcessMessage(msg);
  }
  const int result = modal_result_;
  modal_ = false;
  // Enabled again before hiding, so that activation returns to them.
  Win32Toolkit::EnableWindows(disabled);
  ShowWindow(hwnd_, SW_HIDE);
  if (previous != nullptr && previous != hwnd_ && IsWindow(previous) && IsWindowVisible(previous))
    SetActiveWindow(previous);
  return result;
}

void Win32Form::SetCaption(std::string_view caption) {
  SetWindowTextW(hwnd_, Utf8ToWide(caption).c_str());
}

void Win32Form::SetText(std::string_view control, std::string_view text) {
  Control& c = Find(control);
  SetWindowTextW(c.hwnd, Utf8ToWide(text).c_str());
  FitToText(c);
}

std::string Win32Form::Text(std::string_view control) const {
  return WideToUtf8(WindowText(Find(control).hwnd));
}

void Win32Form::SetVisible(std::string_view control, bool visible) {
  Control& c = Find(control);
  ShowWindow(c.hwnd, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
  if (c.updown != nullptr) ShowWindow(c.updown, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
  if (!visible) {
    HWND focus = GetFocus();
    if (focus != nullptr && (focus == c.hwnd || IsChild(c.hwnd, focus))) SelectNext(true);
  }
}

bool Win32Form::IsControlVisible(std::string_view control) const {
  return (GetWindowLongW(Find(control).hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32Form::SetEnabled(std::string_view control, bool enabled) {
  Control& c = Find(control);
  EnableWindow(c.hwnd, enabled);
  if (c.updown != nullptr) EnableWindow(c.updown, enabled);
}

bool Win32Form::IsEnabled(std::string_view control) const {
  return (GetWindowLongW(Find(control).hwnd, GWL_STYLE) & WS_DISABLED) == 0;
}

int Win32Form::Value(std::string_view control) const {
  const Control& c = Find(control);
  switch (c.desc->ControlKind) {
    case Kind::HotKey:
      return ui::HotKeyWordToShortcut(
          static_cast<std::uint16_t>(SendMessageW(c.hwnd, HKM_GETHOTKEY, 0, 0)));
    case Kind::SpinEdit:
      return ui::SpinEditValue(WideToUtf8(WindowText(c.hwnd)));
    case Kind::CheckBox:
      return SendMessageW(c.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    case Kind::DropDownList:
      return static_cast<int>(SendMessageW(c.hwnd, CB_GETCURSEL, 0, 0));
    case Kind::TabControl:
      return static_cast<int>(SendMessageW(c.hwnd, TCM_GETCURSEL, 0, 0));
    default:
      throw Error("Component '" + std::string(control) + "' has no value");
  }
}

void Win32Form::SetValue(std::string_view control, int value) {
  const Control& c = Find(control);
  switch (c.desc->ControlKind) {
    case Kind::HotKey:
      SendMessageW(c.hwnd, HKM_SETHOTKEY,
                   ui::ShortcutToHotKeyWord(static_cast<std::uint16_t>(value)), 0);
      break;
    case Kind::SpinEdit:
      SetWindowTextW(c.hwnd, Utf8ToWide(std::to_string(value)).c_str());
      break;
    case Kind::CheckBox:
      SendMessageW(c.hwnd, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Kind::DropDownList:
      SendMessageW(c.hwnd, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
      break;
    case Kind::TabControl:
      SendMessageW(c.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(value), 0);
      break;
    default:
      throw Error("Component '" + std::string(control) + "' has no value");
  }
}

void Win32Form::AddItem(std::string_view control, std::string_view text) {
  const Control& c = Find(control);
  std::wstring wide = Utf8ToWide(text);
  switch (c.desc->ControlKind) {
    case Kind::DropDownList:
      SendMessageW(c.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
      break;
    case Kind::TabControl: {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = wide.data();
      const LRESULT count = SendMessageW(c.hwnd, TCM_GETITEMCOUNT, 0, 0);
      SendMessageW(c.hwnd, TCM_INSERTITEMW, static_cast<WPARAM>(count),
                   reinterpret_cast<LPARAM>(&item));
      break;
    }
    default:
      throw Error("Component '" + std::string(control) + "' has no items");
  }
}

std::string Win32Form::Item(std::string_view control, int index) const {
  const Control& c = Find(control);
  if (index < 0 || index >= ItemCount(control))
    throw Error("List index out of bounds (" + std::to_string(index) + ")");
  if (c.desc->ControlKind == Kind::DropDownList) {
    const LRESULT length = SendMessageW(c.hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(c.hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
    return WideToUtf8(text);
  }
  wchar_t buffer[256] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buffer;
  item.cchTextMax = 256;
  SendMessageW(c.hwnd, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  return WideToUtf8(item.pszText);
}

int Win32Form::ItemCount(std::string_view control) const {
  const Control& c = Find(control);
  switch (c.desc->ControlKind) {
    case Kind::DropDownList:
      return static_cast<int>(SendMessageW(c.hwnd, CB_GETCOUNT, 0, 0));
    case Kind::TabControl:
      return static_cast<int>(SendMessageW(c.hwnd, TCM_GETITEMCOUNT, 0, 0));
    default:
      throw Error("Component '" + std::string(control) + "' has no items");
  }
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

void Win32Form::SetFont(std::string_view control, const ui::Font& font) {
  Control& c = Find(control);
  const ui::Font copy = font;  // font may refer to this control's own
  c.own_font = true;
  ChangeFont(c, copy);
}

ui::Font Win32Form::ControlFont(std::string_view control) const { return Find(control).font; }

// --- messages ---------------------------------------------------------------------------------

LRESULT CALLBACK Win32Form::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Win32Form* self = nullptr;
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    self = static_cast<Win32Form*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  return self->Proc(msg, wparam, lparam);
}

LRESULT Win32Form::Proc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (destroying_) return DefWindowProcW(hwnd_, msg, wparam, lparam);
  switch (msg) {
    case WM_COMMAND:
      if (OnCommand(wparam, lparam)) return 0;
      break;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(*reinterpret_cast<const NMHDR*>(lparam), &result)) return result;
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return OnCtlColor(msg, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM:
      if (OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) return TRUE;
      break;
    case WM_MEASUREITEM:
      if (toolkit_.MeasureMenuItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lparam))) return TRUE;
      break;
    case WM_TIMER:
      if (toolkit_.TimerTick(hwnd_, wparam)) return 0;
      break;
    case WM_SETCURSOR: {
      const Control* c = ControlOf(reinterpret_cast<HWND>(wparam));
      if (c != nullptr && c->desc->CursorId != 0 && LOWORD(lparam) == HTCLIENT) {
        if (HCURSOR cursor = toolkit_.ScreenCursor(c->desc->CursorId)) {
          SetCursor(cursor);
          return TRUE;
        }
      }
      break;
    }
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ERASEBKGND: {
      RECT r{};
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wparam), &r, background_);
      return 1;
    }
    default:
      break;
  }
  if (msg == toolkit_.TaskbarCreatedMessage() && msg != 0) {
    toolkit_.Guard([&] { events_.OnTaskbarCreated(); });
    return 0;
  }

  std::optional<std::intptr_t> handled;
  toolkit_.Guard([&] { handled = events_.OnMessage(msg, wparam, lparam); });
  if (handled) return *handled;

  switch (msg) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) saved_focus_ = focus;
      } else if (!IsIconic(hwnd_)) {
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      std::map<std::string, HFONT> old_fonts;
      old_fonts.swap(fonts_);
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      SizeWindow();
      Layout();
      for (auto& [key, font] : old_fonts) DeleteObject(font);
      InvalidateRect(hwnd_, nullptr, TRUE);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd_, msg, wparam, lparam);
  }
}

bool Win32Form::ForwardFromContainer(HWND container, UINT msg, WPARAM wparam, LPARAM lparam,
                                     LRESULT* result) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_DRAWITEM:
      // What the children report belongs to the form.
      *result = SendMessageW(hwnd_, msg, wparam, lparam);
      return true;
    case WM_ERASEBKGND: {
      // The whole client area, so that a covering box hides what it covers.
      RECT r{};
      GetClientRect(container, &r);
      FillRect(reinterpret_cast<HDC>(wparam), &r, background_);
      *result = 1;
      return true;
    }
    default:
      return false;
  }
}

LRESULT CALLBACK Win32Form::ContainerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32Form*>(data);
  LRESULT result = 0;
  if (self->ForwardFromContainer(hwnd, msg, wparam, lparam, &result)) return result;
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &Win32Form::ContainerProc, kSubclassId);
  return DefSubclassProc(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK Win32Form::GroupBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  LRESULT result = 0;
  if (self->ForwardFromContainer(hwnd, msg, wparam, lparam, &result)) return result;
  switch (msg) {
    case WM_PAINT:
      self->PaintGroupBox(hwnd);
      return 0;
    case WM_SETTEXT:
    case WM_ENABLE:
      result = DefWindowProcW(hwnd, msg, wparam, lparam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    case WM_SETFONT:
      if (LOWORD(lparam) != 0) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      if (const Control* c = self->ControlOf(hwnd))
        return reinterpret_cast<LRESULT>(self->FontHandle(c->font));
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

// A group box: an etched frame from half the caption's height down, and the
// caption on the background at the left.
void Win32Form::PaintGroupBox(HWND hwnd) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(hwnd, &paint);
  const Control* c = ControlOf(hwnd);
  HGDIOBJ old_font = SelectObject(dc, FontHandle(c != nullptr ? c->font : font_));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int text_height = static_cast<int>(metrics.tmHeight);
  RECT client{};
  GetClientRect(hwnd, &client);
  RECT frame{1, text_height / 2, client.right, client.bottom};
  FrameRect(dc, &frame, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
  OffsetRect(&frame, -1, -1);
  FrameRect(dc, &frame, GetSysColorBrush(COLOR_BTNSHADOW));
  const std::wstring caption = WindowText(hwnd);
  if (!caption.empty()) {
    RECT text{Scale(8), 0, Scale(8), text_height};
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_SINGLELINE | DT_CALCRECT);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, layout_.Background);
    const bool enabled = IsWindowEnabled(hwnd) != FALSE;
    SetTextColor(dc, enabled ? (c != nullptr ? c->font.TextColor : font_.TextColor)
                             : GetSysColor(COLOR_GRAYTEXT));
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_SINGLELINE);
  }
  SelectObject(dc, old_font);
  EndPaint(hwnd, &paint);
}

LRESULT CALLBACK Win32Form::LinkProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32Form*>(data);
  if (!self->destroying_) {
    if (const Control* c = self->ControlOf(hwnd)) {
      const std::string_view name = c->desc->Name;
      switch (msg) {
        case WM_MOUSEMOVE:
          self->toolkit_.Guard([&] { self->events_.OnMouseMove(name); });
          return 0;
        case WM_MOUSEHOVER:
          self->toolkit_.Guard([&] { self->events_.OnMouseHover(name); });
          return 0;
        case WM_MOUSELEAVE:
          self->toolkit_.Guard([&] { self->events_.OnMouseLeave(name); });
          return 0;
        default:
          break;
      }
    }
  }
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &Win32Form::LinkProc, kSubclassId);
  return DefSubclassProc(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK Win32Form::SpinEditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32Form*>(data);
  switch (msg) {
    case WM_CHAR: {
      // Digits, "+" and "-", and the editing keys.
      if (!ui::IsSpinEditChar(static_cast<char32_t>(wparam))) {
        MessageBeep(0);
        return 0;
      }
      break;
    }
    case WM_KEYDOWN:
      if (wparam == VK_UP || wparam == VK_DOWN) {
        if (Control* c = self->ControlOf(hwnd)) self->StepSpin(*c, wparam == VK_UP ? 1 : -1);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &Win32Form::SpinEditProc, kSubclassId);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wparam, lparam);
}

bool Win32Form::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (lparam != 0) {
    Control* c = ControlOf(reinterpret_cast<HWND>(lparam));
    if (c == nullptr) return false;
    const UINT code = HIWORD(wparam);
    const std::string_view name = c->desc->Name;
    switch (c->desc->ControlKind) {
      case Kind::Button:
      case Kind::OkButton:
      case Kind::CancelButton:
        if (code == BN_CLICKED) ClickButton(*c);
        break;
      case Kind::CheckBox:
        if (code == BN_CLICKED) toolkit_.Guard([&] { events_.OnClick(name); });
        break;
      case Kind::LinkLabel:
        if (code == STN_CLICKED) toolkit_.Guard([&] { events_.OnClick(name); });
        break;
      default:
        break;
    }
    return true;
  }
  // A menu command: from a menu this form showed, or sent by anyone.
  if (HIWORD(wparam) == 0) return toolkit_.MenuCommand(hwnd_, LOWORD(wparam));
  return false;
}

void Win32Form::ClickButton(Control& c) {
  // Bitmap buttons of the OK and Cancel kinds set the modal result first.
  if (c.desc->ControlKind == Kind::OkButton) modal_result_ = ui::kModalOk;
  if (c.desc->ControlKind == Kind::CancelButton) modal_result_ = ui::kModalCancel;
  const std::string_view name = c.desc->Name;
  toolkit_.Guard([&] { events_.OnClick(name); });
}

void Win32Form::StepSpin(Control& c, int delta) {
  const std::wstring text = Utf8ToWide(ui::SpinEditStep(WideToUtf8(WindowText(c.hwnd)), delta));
  SetWindowTextW(c.hwnd, text.c_str());
  // The caret after the number, as if it had been typed.
  SendMessageW(c.hwnd, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
}

bool Win32Form::OnNotify(const NMHDR& header, LRESULT* result) {
  Control* c = ControlOf(header.hwndFrom);
  if (c == nullptr) return false;
  const std::string_view name = c->desc->Name;
  *result = 0;
  if (c->updown != nullptr && header.hwndFrom == c->updown) {
    if (header.code == UDN_DELTAPOS) {
      const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
      if (change.iDelta != 0) StepSpin(*c, change.iDelta > 0 ? 1 : -1);
      *result = TRUE;  // the arrows keep no position of their own
    }
    return true;
  }
  if (c->desc->ControlKind == Kind::TabControl) {
    if (header.code == TCN_SELCHANGING) {
      bool allow = true;
      toolkit_.Guard([&] { allow = events_.OnTabChanging(name); });
      *result = allow ? FALSE : TRUE;
    } else if (header.code == TCN_SELCHANGE) {
      toolkit_.Guard([&] { events_.OnTabChanged(name); });
    }
  }
  return true;
}

LRESULT Win32Form::OnCtlColor(UINT msg, HDC dc, HWND control) {
  const Control* c = ControlOf(control);
  COLORREF text = c != nullptr ? c->font.TextColor : font_.TextColor;
  if (control != nullptr && !IsWindowEnabled(control)) text = GetSysColor(COLOR_GRAYTEXT);
  SetTextColor(dc, text);
  const bool field = c != nullptr &&
                     (c->desc->ControlKind == Kind::HotKey ||
                      c->desc->ControlKind == Kind::SpinEdit ||
                      c->desc->ControlKind == Kind::DropDownList) &&
                     (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX);
  if (field || (c == nullptr && msg == WM_CTLCOLORLISTBOX)) {
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
  }
  SetBkColor(dc, layout_.Background);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(background_);
}

bool Win32Form::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_MENU) return toolkit_.DrawMenuItem(item);
  if (item.CtlType != ODT_TAB) return false;
  Control* c = ControlOf(item.hwndItem);
  if (c == nullptr) return false;
  DcCanvas canvas(item.hDC, background_, FontHandle(c->font), c->font.TextColor);
  const ui::Rect rect{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
  const int tab = static_cast<int>(item.itemID);
  const bool active = (item.itemState & ODS_SELECTED) != 0;
  const std::string_view name = c->desc->Name;
  toolkit_.Guard([&] { events_.OnDrawTab(name, canvas, tab, rect, active); });
  return true;
}

void Win32Form::OnClose() {
  bool can_close = false;
  toolkit_.Guard([&] { can_close = events_.OnCloseQuery(); });
  if (!can_close) return;
  if (modal_) {
    modal_result_ = ui::kModalCancel;
  } else {
    Hide();
  }
}

// --- keyboard interface ---------------------------------------------------------------------

void Win32Form::CollectTabs(const Control* parent, std::vector<Control*>& out) const {
  std::vector<Control*> children;
  for (const auto& c : controls_)
    if (c->parent == parent) children.push_back(c.get());
  std::stable_sort(children.begin(), children.end(), [](const Control* a, const Control* b) {
    const int ka = a->desc->TabOrder < 0 ? INT_MAX : a->desc->TabOrder;
    const int kb = b->desc->TabOrder < 0 ? INT_MAX : b->desc->TabOrder;
    return ka < kb;
  });
  for (Control* c : children) {
    out.push_back(c);
    CollectTabs(c, out);
  }
}

std::vector<Win32Form::Control*> Win32Form::TabList() const {
  std::vector<Control*> out;
  CollectTabs(nullptr, out);
  return out;
}

namespace {

// True when a visible window that lies above the control, or above one of
// its containers, hides it entirely (a group box covering another one).
bool IsCovered(HWND control, HWND form) {
  RECT own{};
  GetWindowRect(control, &own);
  for (HWND h = control; h != nullptr && h != form; h = GetParent(h)) {
    for (HWND above = GetWindow(h, GW_HWNDPREV); above != nullptr;
         above = GetWindow(above, GW_HWNDPREV)) {
      if (!IsWindowVisible(above)) continue;
      RECT cover{};
      GetWindowRect(above, &cover);
      if (cover.left <= own.left && cover.top <= own.top && cover.right >= own.right &&
          cover.bottom >= own.bottom)
        return true;
    }
  }
  return false;
}

}  // namespace

bool Win32Form::CanFocus(const Control& c) const {
  if (!IsTabStopKind(c.desc->ControlKind)) return false;
  if (!IsWindowVisible(c.hwnd)) return false;
  for (HWND h = c.hwnd; h != nullptr && h != hwnd_; h = GetParent(h))
    if (!IsWindowEnabled(h)) return false;
  // Tab and the accelerators skip what the user cannot see.
  return !IsCovered(c.hwnd, hwnd_);
}

Win32Form::Control* Win32Form::Focused() const {
  for (HWND h = GetFocus(); h != nullptr && h != hwnd_; h = GetParent(h))
    if (Control* c = ControlOf(h)) return c;
  return nullptr;
}

void Win32Form::SelectNext(bool forward) {
  const std::vector<Control*> list = TabList();
  const int n = static_cast<int>(list.size());
  if (n == 0) return;
  const Control* current = Focused();
  int pos = forward ? -1 : n;
  for (int i = 0; i < n; ++i)
    if (list[static_cast<std::size_t>(i)] == current) pos = i;
  for (int step = 0; step < n; ++step) {
    pos = forward ? (pos + 1) % n : (pos - 1 + n) % n;
    Control* candidate = list[static_cast<std::size_t>(pos)];
    if (candidate != current && CanFocus(*candidate)) {
      SetFocus(candidate->hwnd);
      if (candidate->desc->ControlKind == Kind::SpinEdit)
        SendMessageW(candidate->hwnd, EM_SETSEL, 0, -1);
      return;
    }
  }
}

void Win32Form::FocusFirst(Control* within) {
  for (Control* c : TabList()) {
    bool inside = within == nullptr;
    for (const Control* p = c->parent; p != nullptr && !inside; p = p->parent)
      inside = p == within;
    if (inside && CanFocus(*c)) {
      SetFocus(c->hwnd);
      return;
    }
  }
  if (within == nullptr) SetFocus(hwnd_);
}

void Win32Form::RestoreFocus() {
  if (saved_focus_ != nullptr && IsWindow(saved_focus_) && IsChild(hwnd_, saved_focus_) &&
      IsWindowVisible(saved_focus_) && IsWindowEnabled(saved_focus_)) {
    SetFocus(saved_focus_);
    return;
  }
  saved_focus_ = nullptr;
  FocusFirst(nullptr);
}

bool Win32Form::WantsKey(const MSG& msg, LRESULT mask) const {
  HWND focus = GetFocus();
  if (focus == nullptr || focus == hwnd_) return false;
  const LRESULT code = SendMessageW(focus, WM_GETDLGCODE, msg.wParam,
                                    reinterpret_cast<LPARAM>(&msg));
  return (code & mask) != 0;
}

bool Win32Form::Mnemonic(wchar_t ch) {
  const wchar_t wanted = UpperChar(ch);
  for (auto& owned : controls_) {
    Control& c = *owned;
    const Kind kind = c.desc->ControlKind;
    if (!IsPushButton(kind) && kind != Kind::CheckBox && kind != Kind::GroupBox &&
        !IsLabelKind(kind))
      continue;
    const wchar_t accel = AcceleratorChar(WindowText(c.hwnd));
    if (accel == 0 || UpperChar(accel) != wanted) continue;
    if (!IsWindowVisible(c.hwnd) || !IsWindowEnabled(c.hwnd)) continue;
    if (IsPushButton(kind)) {
      if (!CanFocus(c)) continue;
      ClickButton(c);
      return true;
    }
    if (kind == Kind::CheckBox) {
      if (!CanFocus(c)) continue;
      SetFocus(c.hwnd);
      SendMessageW(c.hwnd, BM_CLICK, 0, 0);
      return true;
    }
    if (kind == Kind::GroupBox) {
      FocusFirst(&c);
      return true;
    }
    // A label hands its accelerator to its focus control.
    if (c.desc->FocusControl.empty()) continue;
    Control& target = Find(c.desc->FocusControl);
    if (!CanFocus(target)) continue;
    SetFocus(target.hwnd);
    return true;
  }
  return false;
}

bool Win32Form::HandleKey(const MSG& msg) {
  if (!IsWindowEnabled(hwnd_)) return false;
  switch (msg.message) {
    case WM_KEYDOWN:
      switch (msg.wParam) {
        case VK_TAB:
          if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
          if (WantsKey(msg, DLGC_WANTTAB | DLGC_WANTALLKEYS)) return false;
          SelectNext(GetKeyState(VK_SHIFT) >= 0);
          return true;
        case VK_RETURN: {
          if (WantsKey(msg, DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
          Control* focused = Focused();
          if (focused != nullptr && IsPushButton(focused->desc->ControlKind)) {
            ClickButton(*focused);
            return true;
          }
          Control* ok = FirstOfKind(Kind::OkButton);
          if (ok != nullptr && CanFocus(*ok)) {
            ClickButton(*ok);
            return true;
          }
          return false;
        }
        case VK_ESCAPE: {
          if (WantsKey(msg, DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
          Control* cancel = FirstOfKind(Kind::CancelButton);
          if (cancel != nullptr && CanFocus(*cancel)) {
            ClickButton(*cancel);
            return true;
          }
          return false;
        }
        default:
          return false;
      }
    case WM_SYSCHAR:
      return Mnemonic(static_cast<wchar_t>(msg.wParam));
    case WM_CHAR:
      if (msg.wParam < L' ' || WantsKey(msg, DLGC_WANTCHARS)) return false;
      return Mnemonic(static_cast<wchar_t>(msg.wParam));
    default:
      return false;
  }
}

}  // namespace bvx::win32
