// Creation, the ui::Form calls and the modal loop of a form.
#include "platform/win32/win32_form.h"

#include <string>

#include "platform/errors.h"
#include "platform/toolkit_rules.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

namespace {

constexpr int kFirstControlId = 1000;

Error NoSuch(std::string_view control, const char* what) {
  return Error("Component '" + std::string(control) + "' has no " + what);
}

}  // namespace

// --- creation and destruction ----------------------------------------------------

Win32Form::Win32Form(Win32Toolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events,
                     ui::MainFormEvents* app_events)
    : toolkit_(toolkit), layout_(desc), events_(events), app_events_(app_events) {
  font_ = desc.FormFont;
  font_.Face = toolkit_.InternFace(desc.FormFont.Face);
  background_.Reset(CreateSolidBrush(desc.Background));
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
  // WM_NCCREATE hands the window to window_.
  CreateWindowExW(ex_style, class_name.c_str(), caption.c_str(), style, 0, 0, 0, 0,
                  toolkit_.AppWindow(), nullptr, toolkit_.Instance(), this);
  if (hwnd_ == nullptr) throw Error("Error creating window");
  toolkit_.AddForm(this);
  try {
    dpi_ = WindowDpi(hwnd_);
    SizeWindow();
    BuildControls();
    if (desc.Flags & ui::kCenterDesktop) CenterOnDesktop();
  } catch (...) {
    // The members free the window, pictures, fonts and brush.
    destroying_ = true;
    toolkit_.RemoveForm(this);
    throw;
  }
}

Win32Form::~Win32Form() {
  destroying_ = true;
  toolkit_.RemoveForm(this);
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
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = name.c_str();
  if (!RegisterClassExW(&wc)) throw Error("Error registering window class");
}

void Win32Form::BuildControls() {
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
  // Parents before their children, whatever the order of the rows; each
  // takes its layout parent's font unless it has its own.
  std::vector<bool> placed(controls_.size(), false);
  while (creation_order_.size() < controls_.size()) {
    const std::size_t before = creation_order_.size();
    for (auto& c : controls_) {
      if (placed[c->index]) continue;
      if (c->parent != nullptr && !placed[c->parent->index]) continue;
      c->own_font = c->desc->ControlFont != nullptr;
      c->font = ui::InitialFont(*c->desc, c->parent != nullptr ? c->parent->font : font_);
      c->font.Face = toolkit_.InternFace(c->font.Face);
      placed[c->index] = true;
      creation_order_.push_back(c.get());
    }
    if (creation_order_.size() == before) throw Error("Control parents form a cycle");
  }
  for (const std::size_t i : ui::TabWalk(layout_)) tab_walk_.push_back(controls_[i].get());
}

void Win32Form::MakeControls() {
  if (controls_made_) return;
  for (Control* c : creation_order_)
    if (c->hwnd == nullptr) CreateControl(*c);
  // Among siblings a later row lies above an earlier one, and a label
  // directly above the field it names (a spin edit's arrows stay with it).
  for (const std::size_t i : ui::SiblingOrder(layout_)) {
    const Control& c = *controls_[i];
    const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(c.hwnd, HWND_TOP, 0, 0, 0, 0, flags);
    if (c.updown != nullptr) SetWindowPos(c.updown, HWND_TOP, 0, 0, 0, 0, flags);
  }
  controls_made_ = true;
  Layout();
}

void Win32Form::CreateControl(Control& c) {
  const ui::ControlRow& s = *c.desc;
  const ControlKindRow& kind = KindRow(s.ControlKind);
  HWND parent = c.parent != nullptr ? c.parent->hwnd : hwnd_;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | kind.style | kind.flag_style(s.Flags);
  if (!(s.Flags & ui::kHidden)) style |= WS_VISIBLE;
  if (s.Flags & ui::kDisabled) style |= WS_DISABLED;
  const std::wstring text = Utf8ToWide(ui::InitialText(s));
  const int id = kind.fixed_id != 0 ? kind.fixed_id : kFirstControlId + static_cast<int>(c.index);

  // The common controls' classes exist once the library is loaded.
  if (kind.common_control) LoadCommonControls();

  // Group boxes find their form through the creation parameter.
  void* create_param = s.ControlKind == ui::Kind::GroupBox ? this : nullptr;
  c.hwnd = CreateWindowExW(kind.ex_style, kind.window_class, text.c_str(), style, 0, 0, 0, 0,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           toolkit_.Instance(), create_param);
  if (c.hwnd == nullptr) throw Error("Error creating window");
  if (kind.setup != nullptr) kind.setup(*this, c);
}

// --- lookup ----------------------------------------------------------------------------

Control& Win32Form::Record(std::string_view name) const {
  for (const auto& c : controls_)
    if (c->desc->Name == name) return *c;
  throw Error("Component '" + std::string(name) + "' not found");
}

Control& Win32Form::Find(std::string_view name) const {
  Control& c = Record(name);
  // Reading a control's state makes the windows; they belong to the form,
  // which is never itself const.
  const_cast<Win32Form*>(this)->MakeControls();
  return c;
}

Control* Win32Form::ControlOf(HWND hwnd) const {
  if (hwnd == nullptr) return nullptr;
  for (const auto& c : controls_)
    if (c->hwnd == hwnd || c->updown == hwnd) return c.get();
  return nullptr;
}

Control* Win32Form::FirstOfKind(ui::Kind kind) const {
  for (const auto& c : controls_)
    if (c->desc->ControlKind == kind) return c.get();
  return nullptr;
}

// --- ui::Form ------------------------------------------------------------------------------

WindowId Win32Form::ControlHandle(std::string_view control) const {
  return FromHwnd(Find(control).hwnd);
}

// The program's icon is given to a window class when a window of it is first
// shown: loading it at registration cost the hidden start-up about 4 ms a
// class under Wine.
namespace {
void GiveClassIcon(HWND hwnd, HINSTANCE instance) {
  if (hwnd == nullptr || GetClassLongPtrW(hwnd, GCLP_HICON) != 0) return;
  SetClassLongPtrW(hwnd, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadIconW(instance, L"MAINICON")));
}
}  // namespace

void Win32Form::BeforeShow() {
  GiveClassIcon(hwnd_, toolkit_.Instance());
  GiveClassIcon(toolkit_.AppWindow(), toolkit_.Instance());
  toolkit_.Guard([&] { events_.OnShow(); });
  if (layout_.Flags & ui::kCenterDesktop) CenterOnDesktop();
}

void Win32Form::Show() {
  MakeControls();
  if (!IsWindowVisible(hwnd_)) BeforeShow();
  ShowWindow(hwnd_, SW_SHOW);
  BringToFront();
}

void Win32Form::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void Win32Form::BringToFront() {
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  SetForegroundWindow(hwnd_);
  BringWindowToTop(hwnd_);
}

int Win32Form::ShowModal() {
  if (IsWindowVisible(hwnd_)) throw Error("Cannot make a visible window modal");
  MakeControls();
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
    // A message that cannot be received is skipped, as in the main loop
    // (Win32Toolkit::Run): ending here would let any program close the
    // dialog (edits lost) or the notice with an oversized WM_DEVICECHANGE.
    if (got < 0) continue;
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

void Win32Form::SetEnabled(std::string_view control, bool enabled) {
  Control& c = Find(control);
  EnableWindow(c.hwnd, enabled);
  if (c.updown != nullptr) EnableWindow(c.updown, enabled);
}

int Win32Form::Value(std::string_view control) const {
  const Control& c = Find(control);
  const ControlKindRow& kind = KindRow(c.desc->ControlKind);
  if (kind.value == nullptr) throw NoSuch(control, "value");
  return kind.value(c);
}

void Win32Form::SetValue(std::string_view control, int value) {
  const Control& c = Find(control);
  const ControlKindRow& kind = KindRow(c.desc->ControlKind);
  if (kind.set_value == nullptr) throw NoSuch(control, "value");
  kind.set_value(c, value);
}

void Win32Form::AddItem(std::string_view control, std::string_view text) {
  const Control& c = Find(control);
  const ControlKindRow& kind = KindRow(c.desc->ControlKind);
  if (kind.add_item == nullptr) throw NoSuch(control, "items");
  std::wstring wide = Utf8ToWide(text);
  kind.add_item(c, wide);
}

std::string Win32Form::Item(std::string_view control, int index) const {
  const Control& c = Find(control);
  const ControlKindRow& kind = KindRow(c.desc->ControlKind);
  if (index < 0 || index >= ItemCount(control))
    throw Error("List index out of bounds (" + std::to_string(index) + ")");
  return WideToUtf8(kind.item(c, index));
}

int Win32Form::ItemCount(std::string_view control) const {
  const Control& c = Find(control);
  const ControlKindRow& kind = KindRow(c.desc->ControlKind);
  if (kind.item_count == nullptr) throw NoSuch(control, "items");
  return kind.item_count(c);
}

void Win32Form::SetFont(std::string_view control, const ui::Font& font) {
  Control& c = Find(control);
  const ui::Font copy = font;  // font may refer to this control's own
  c.own_font = true;
  ChangeFont(c, copy);
}

ui::Font Win32Form::ControlFont(std::string_view control) const { return Record(control).font; }

// --- what the user does ---------------------------------------------------------------------

void Win32Form::Click(const Control& c) {
  if (const int result = ui::ModalResultOfClick(c.desc->ControlKind)) modal_result_ = result;
  const std::string_view name = c.desc->Name;
  toolkit_.Guard([&] { events_.OnClick(name); });
}

void Win32Form::StepSpin(const Control& c, int delta) {
  const std::wstring text = Utf8ToWide(ui::SpinEditStep(WideToUtf8(WindowText(c.hwnd)), delta));
  SetWindowTextW(c.hwnd, text.c_str());
  // The caret after the number, as if it had been typed.
  SendMessageW(c.hwnd, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
}

void Win32Form::OnClose() {
  bool allowed = false;
  toolkit_.Guard([&] { allowed = events_.OnCloseQuery(); });
  switch (ui::AfterCloseQuery(allowed, modal_)) {
    case ui::CloseAction::Stay:
      break;
    case ui::CloseAction::Cancel:
      modal_result_ = ui::kModalCancel;
      break;
    case ui::CloseAction::Hide:
      Hide();
      break;
  }
}

}  // namespace bvx::win32
