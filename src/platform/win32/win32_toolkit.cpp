#include "platform/win32/win32_toolkit.h"

#include <algorithm>
#include <utility>

#include "platform/errors.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_form.h"

namespace bvx::win32 {

namespace {

constexpr wchar_t kAppWindowClass[] = L"TApplication";
constexpr COLORREF kImageKeyColor = RGB(255, 0, 255);  // transparent in image strips
constexpr int kMenuImageSize = 16;

HIMAGELIST LoadStrip(HINSTANCE instance, const wchar_t* name) {
  return ImageList_LoadImageW(instance, name, kMenuImageSize, 0, kImageKeyColor, IMAGE_BITMAP,
                              LR_CREATEDIBSECTION);
}

struct ThreadWindows {
  HWND keep = nullptr;
  std::vector<HWND> disabled;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM data) {
  auto* state = reinterpret_cast<ThreadWindows*>(data);
  if (hwnd != state->keep && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    state->disabled.push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

// --- the hidden application window ------------------------------------------------

namespace {

Win32Toolkit* g_toolkit = nullptr;

LRESULT CALLBACK AppWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CLOSE) {
    // Closing the application window closes the main form, as a user would.
    if (g_toolkit != nullptr) {
      if (Win32Form* main = g_toolkit->FormOf(nullptr)) PostMessageW(main->Hwnd(), WM_CLOSE, 0, 0);
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

Win32Toolkit::Win32Toolkit(HINSTANCE instance) : instance_(instance) { g_toolkit = this; }

Win32Toolkit::~Win32Toolkit() {
  for (auto& [name, list] : menu_images_)
    if (list != nullptr) ImageList_Destroy(list);
  if (ok_glyph_ != nullptr) ImageList_Destroy(ok_glyph_);
  if (cancel_glyph_ != nullptr) ImageList_Destroy(cancel_glyph_);
  if (app_window_ != nullptr) DestroyWindow(app_window_);
  if (g_toolkit == this) g_toolkit = nullptr;
}

void Win32Toolkit::RegisterClasses() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &AppWindowProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, L"MAINICON");
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = kAppWindowClass;
  RegisterClassExW(&wc);
}

void Win32Toolkit::Initialize() {
  if (app_window_ != nullptr) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                   ICC_HOTKEY_CLASS | ICC_UPDOWN_CLASS;
  InitCommonControlsEx(&controls);
  RegisterClasses();
  app_window_ = CreateWindowExW(0, kAppWindowClass, Utf8ToWide(title_).c_str(),
                                WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU |
                                    WS_MINIMIZEBOX,
                                GetSystemMetrics(SM_CXSCREEN) / 2,
                                GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr,
                                instance_, nullptr);
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
}

void Win32Toolkit::SetTitle(std::string_view title) {
  title_ = title;
  if (app_window_ != nullptr) SetWindowTextW(app_window_, Utf8ToWide(title_).c_str());
}

void Win32Toolkit::AddAppWindowExStyle(std::uint32_t bits) {
  if (app_window_ == nullptr) return;
  const LONG style = GetWindowLongW(app_window_, GWL_EXSTYLE);
  SetWindowLongW(app_window_, GWL_EXSTYLE, style | static_cast<LONG>(bits));
}

std::unique_ptr<ui::Form> Win32Toolkit::CreateForm(const ui::FormLayout& desc,
                                                   ui::FormEvents& events) {
  if (app_window_ == nullptr) Initialize();
  return std::make_unique<Win32Form>(*this, desc, events);
}

std::unique_ptr<ui::Timer> Win32Toolkit::CreateTimer(ui::Form& owner, unsigned interval_ms,
                                                     bool enabled,
                                                     std::function<void()> on_tick) {
  return std::make_unique<Win32Timer>(*this, ToHwnd(owner.Handle()), interval_ms, enabled,
                                      std::move(on_tick));
}

// --- forms -------------------------------------------------------------------------------

void Win32Toolkit::AddForm(Win32Form* form) { forms_.push_back(form); }

void Win32Toolkit::RemoveForm(Win32Form* form) {
  std::erase(forms_, form);
  if (form->Hwnd() != nullptr) menus_.erase(form->Hwnd());
}

Win32Form* Win32Toolkit::FormOf(HWND hwnd) const {
  if (hwnd == nullptr) return forms_.empty() ? nullptr : forms_.front();
  for (Win32Form* form : forms_)
    if (form->Hwnd() == hwnd) return form;
  return nullptr;
}

std::vector<HWND> Win32Toolkit::DisableThreadWindows(HWND keep) {
  ThreadWindows state;
  state.keep = keep;
  EnumThreadWindows(GetCurrentThreadId(), &DisableOne, reinterpret_cast<LPARAM>(&state));
  return std::move(state.disabled);
}

void Win32Toolkit::EnableWindows(const std::vector<HWND>& windows) {
  for (HWND hwnd : windows)
    if (IsWindow(hwnd)) EnableWindow(hwnd, TRUE);
}

std::string_view Win32Toolkit::InternFace(std::string_view face) {
  for (const std::string& known : faces_)
    if (known == face) return known;
  faces_.emplace_back(face);
  return faces_.back();
}

HCURSOR Win32Toolkit::ScreenCursor(int id) const {
  const auto found = cursors_.find(id);
  return found != cursors_.end() ? found->second : nullptr;
}

void Win32Toolkit::SetScreenCursor(int id, std::uintptr_t cursor) {
  cursors_[id] = reinterpret_cast<HCURSOR>(cursor);
}

HIMAGELIST Win32Toolkit::ButtonGlyphs(bool ok) {
  if (!glyphs_tried_) {
    glyphs_tried_ = true;
    ok_glyph_ = LoadStrip(instance_, L"BTNOK");
    cancel_glyph_ = LoadStrip(instance_, L"BTNCANCEL");
  }
  return ok ? ok_glyph_ : cancel_glyph_;
}

// --- the dispatch boundary and the message loops -------------------------------------------

void Win32Toolkit::ReportError(const char* message) {
  try {
    ui::ShowStandardError(*this, message);
  } catch (...) {
    // Nothing more can be reported.
  }
}

void Win32Toolkit::ProcessMessage(MSG& msg) {
  if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && msg.hwnd != nullptr) {
    if (Win32Form* form = FormOf(GetAncestor(msg.hwnd, GA_ROOT))) {
      if (form->HandleKey(msg)) return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void Win32Toolkit::Run() {
  if (show_main_form_) {
    if (Win32Form* main = FormOf(nullptr)) main->Show();
  }
  MSG msg{};
  // Only WM_QUIT ends the loop. A message that cannot be received (-1) is
  // skipped: Wine fails GetMessageW for a WM_DEVICECHANGE whose record
  // declares 2 MB or more, which any other program may send.
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) continue;
    ProcessMessage(msg);
  }
}

void Win32Toolkit::Terminate() { PostQuitMessage(0); }

void Win32Toolkit::PostMessage(ui::Form& target, std::uint32_t msg, std::uintptr_t wparam,
                               std::intptr_t lparam) {
  PostMessageW(ToHwnd(target.Handle()), msg, wparam, lparam);
}

int Win32Toolkit::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  HWND active = GetActiveWindow();
  HWND owner = (active != nullptr && FormOf(active) != nullptr) ? active : app_window_;
  // Modal to the whole application, like a modal form.
  const std::vector<HWND> disabled = DisableThreadWindows(nullptr);
  const int answer = MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(),
                                 flags);
  EnableWindows(disabled);
  if (active != nullptr && IsWindow(active) && IsWindowVisible(active)) SetActiveWindow(active);
  return answer;
}

// --- menus -----------------------------------------------------------------------------------

HIMAGELIST Win32Toolkit::MenuImages(const std::string& resource) {
  const auto found = menu_images_.find(resource);
  if (found != menu_images_.end()) return found->second;
  HIMAGELIST list = LoadStrip(instance_, Utf8ToWide(resource).c_str());
  menu_images_.emplace(resource, list);
  return list;
}

void Win32Toolkit::AttachMenu(ui::PopupMenu& menu, ui::Form& owner) {
  auto& known = menus_[ToHwnd(owner.Handle())];
  if (std::find(known.begin(), known.end(), &menu) == known.end()) known.push_back(&menu);
}

void Win32Toolkit::Popup(ui::PopupMenu& menu, ui::Form& owner, Point at) {
  HWND owner_window = ToHwnd(owner.Handle());
  AttachMenu(menu, owner);

  HIMAGELIST images =
      menu.ImageListResource.empty() ? nullptr : MenuImages(menu.ImageListResource);
  const int image_count = images != nullptr ? ImageList_GetImageCount(images) : 0;

  HMENU handle = CreatePopupMenu();
  if (handle == nullptr) throw Error("Out of system resources");
  UINT position = 0;
  for (const ui::ShownItem& shown : menu.Prepare()) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID;
    info.wID = static_cast<UINT>(shown.Command);
    std::wstring text;
    if (shown.Separator) {
      info.fType = MFT_SEPARATOR;
    } else {
      text = Utf8ToWide(shown.Caption);
      if (!shown.ShortCutText.empty()) text += L'\t' + Utf8ToWide(shown.ShortCutText);
      info.fMask |= MIIM_STRING | MIIM_STATE;
      info.fType = MFT_STRING;
      info.dwTypeData = text.data();
      info.fState = shown.Enabled ? MFS_ENABLED : MFS_DISABLED;
      if (shown.ImageIndex >= 0 && shown.ImageIndex < image_count) {
        // The image is drawn on request (WM_MEASUREITEM / WM_DRAWITEM).
        info.fMask |= MIIM_BITMAP | MIIM_DATA;
        info.hbmpItem = HBMMENU_CALLBACK;
        info.dwItemData = static_cast<ULONG_PTR>(shown.ImageIndex);
      }
    }
    InsertMenuItemW(handle, position++, TRUE, &info);
  }
  shown_menu_images_ = images;
  // No TPM_RETURNCMD: the chosen item's WM_COMMAND comes through the queue.
  TrackPopupMenu(handle, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner_window, nullptr);
  shown_menu_images_ = nullptr;
  DestroyMenu(handle);
}

bool Win32Toolkit::MenuCommand(HWND owner, int command) {
  const auto found = menus_.find(owner);
  if (found == menus_.end()) return false;
  for (ui::PopupMenu* menu : found->second) {
    if (ui::MenuItem* item = menu->FindCommand(command)) {
      Guard([&] { item->Click(); });
      return true;
    }
  }
  return false;
}

bool Win32Toolkit::MeasureMenuItem(MEASUREITEMSTRUCT& item) {
  if (item.CtlType != ODT_MENU || shown_menu_images_ == nullptr) return false;
  int width = kMenuImageSize;
  int height = kMenuImageSize;
  ImageList_GetIconSize(shown_menu_images_, &width, &height);
  item.itemWidth = static_cast<UINT>(width);
  item.itemHeight = static_cast<UINT>(height);
  return true;
}

bool Win32Toolkit::DrawMenuItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_MENU || shown_menu_images_ == nullptr) return false;
  int width = kMenuImageSize;
  int height = kMenuImageSize;
  ImageList_GetIconSize(shown_menu_images_, &width, &height);
  const int room_x = static_cast<int>(item.rcItem.right - item.rcItem.left) - width;
  const int room_y = static_cast<int>(item.rcItem.bottom - item.rcItem.top) - height;
  const int x = static_cast<int>(item.rcItem.left) + std::max(0, room_x / 2);
  const int y = static_cast<int>(item.rcItem.top) + std::max(0, room_y / 2);
  ImageList_Draw(shown_menu_images_, static_cast<int>(item.itemData), item.hDC, x, y,
                 (item.itemState & ODS_GRAYED) ? ILD_BLEND50 : ILD_TRANSPARENT);
  return true;
}

// --- timers ------------------------------------------------------------------------------------

bool Win32Toolkit::TimerTick(HWND owner, UINT_PTR id) {
  const auto found = timers_.find(id);
  if (found == timers_.end() || found->second->Owner() != owner) return false;
  if (!found->second->Enabled()) return true;
  // A copy: the tick may free its own timer.
  const std::function<void()> tick = found->second->Callback();
  if (tick) Guard(tick);
  return true;
}

Win32Timer::Win32Timer(Win32Toolkit& toolkit, HWND owner, unsigned interval_ms, bool enabled,
                       std::function<void()> on_tick)
    : toolkit_(toolkit),
      owner_(owner),
      id_(toolkit.NewTimerId()),
      interval_(interval_ms),
      enabled_(enabled),
      on_tick_(std::move(on_tick)) {
  toolkit_.AddTimer(id_, this);
  Update();
}

Win32Timer::~Win32Timer() {
  if (running_) KillTimer(owner_, id_);
  toolkit_.RemoveTimer(id_);
}

void Win32Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void Win32Timer::SetInterval(unsigned ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void Win32Timer::Update() {
  if (running_) {
    KillTimer(owner_, id_);
    running_ = false;
  }
  if (enabled_ && interval_ > 0 && owner_ != nullptr)
    running_ = SetTimer(owner_, id_, interval_, nullptr) != 0;
}

}  // namespace bvx::win32
