#include "platform/win32/win32_toolkit.h"

#include <algorithm>
#include <utility>

#include "platform/errors.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_form.h"
#include "platform/win32/win32_menus.h"

namespace bvx::win32 {

namespace {

constexpr wchar_t kAppWindowClass[] = L"TApplication";
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

// The toolkit finds itself through the window's user data.
LRESULT CALLBACK AppWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (msg == WM_CLOSE) {
    // Closing the application window closes the main form, as a user would.
    const auto* toolkit = reinterpret_cast<const Win32Toolkit*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (toolkit != nullptr) {
      if (Win32Form* main = toolkit->FormOf(nullptr)) PostMessageW(main->Hwnd(), WM_CLOSE, 0, 0);
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

Win32Toolkit::Win32Toolkit(HINSTANCE instance) : instance_(instance) {}

Win32Toolkit::~Win32Toolkit() = default;

void Win32Toolkit::RegisterClasses() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &AppWindowProc;
  wc.hInstance = instance_;
  // The icon comes with the first window shown (Win32Form::BeforeShow).
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = kAppWindowClass;
  RegisterClassExW(&wc);
}

void Win32Toolkit::Initialize() {
  if (app_window_) return;
  RegisterClasses();
  app_window_.Reset(CreateWindowExW(0, kAppWindowClass, Utf8ToWide(title_).c_str(),
                                    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU |
                                        WS_MINIMIZEBOX,
                                    GetSystemMetrics(SM_CXSCREEN) / 2,
                                    GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr,
                                    instance_, this));
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
}

void Win32Toolkit::SetTitle(std::string_view title) {
  title_ = title;
  if (app_window_) SetWindowTextW(app_window_.Get(), Utf8ToWide(title_).c_str());
}

void Win32Toolkit::HideAppFromTaskbar() {
  if (!app_window_) return;
  const LONG style = GetWindowLongW(app_window_.Get(), GWL_EXSTYLE);
  SetWindowLongW(app_window_.Get(), GWL_EXSTYLE, style | WS_EX_TOOLWINDOW);
}

std::unique_ptr<ui::Form> Win32Toolkit::CreateMainForm(const ui::FormLayout& desc,
                                                       ui::MainFormEvents& events) {
  if (!app_window_) Initialize();
  return std::make_unique<Win32Form>(*this, desc, events, &events);
}

std::unique_ptr<ui::Form> Win32Toolkit::CreateForm(const ui::FormLayout& desc,
                                                   ui::FormEvents& events) {
  if (!app_window_) Initialize();
  return std::make_unique<Win32Form>(*this, desc, events, nullptr);
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
    ok_glyph_.Reset(LoadStrip(instance_, L"BTNOK"));
    cancel_glyph_.Reset(LoadStrip(instance_, L"BTNCANCEL"));
  }
  return ok ? ok_glyph_.Get() : cancel_glyph_.Get();
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
  // Only WM_QUIT ends the loop. A message that cannot be received is
  // skipped: Wine fails GetMessageW for a WM_DEVICECHANGE whose record
  // declares 2 MB or more, which any other program may send, and answers
  // -1 or the fault's status (0xC0000005, negative too) with msg left as
  // it was: dispatching it would run the last message (a hotkey) again.
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got < 0) continue;
    ProcessMessage(msg);
  }
}

void Win32Toolkit::Terminate() { PostQuitMessage(0); }

void Win32Toolkit::MessageBox(std::string_view text, std::string_view caption, ui::MessageIcon icon) {
  HWND active = GetActiveWindow();
  HWND owner = (active != nullptr && FormOf(active) != nullptr) ? active : app_window_.Get();
  // Modal to the whole application, like a modal form.
  const std::vector<HWND> disabled = DisableThreadWindows(nullptr);
  MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(),
              icon == ui::MessageIcon::Error ? MB_OK | MB_ICONERROR : MB_OK);
  EnableWindows(disabled);
  if (active != nullptr && IsWindow(active) && IsWindowVisible(active)) SetActiveWindow(active);
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
