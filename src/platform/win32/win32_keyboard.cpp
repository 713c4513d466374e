// The form's keyboard interface: Tab and Shift+Tab walk the controls in the
// layout's tab order (containers where they stand, their children right
// after them), Enter clicks the focused push button or else the OK button,
// Esc clicks the Cancel button, and a caption's "&" letter (with or without
// Alt) acts on its control, except while a hotkey edit has the focus.
// Controls that cannot be seen are skipped: hidden or disabled ones, and
// those a covering control hides entirely.
#include <optional>
#include <string>

#include "platform/menu.h"
#include "platform/toolkit_rules.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_form.h"

namespace bvx::win32 {

namespace {

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
  if (!ui::IsTabStopKind(c.desc->ControlKind)) return false;
  if (!IsWindowVisible(c.hwnd)) return false;
  for (HWND h = c.hwnd; h != nullptr && h != hwnd_; h = GetParent(h))
    if (!IsWindowEnabled(h)) return false;
  // Tab and the accelerators skip what the user cannot see.
  return !IsCovered(c.hwnd, hwnd_);
}

Control* Win32Form::Focused() const {
  for (HWND h = GetFocus(); h != nullptr && h != hwnd_; h = GetParent(h))
    if (Control* c = ControlOf(h)) return c;
  return nullptr;
}

void Win32Form::SelectNext(bool forward) {
  const int n = static_cast<int>(tab_walk_.size());
  if (n == 0) return;
  const Control* current = Focused();
  int pos = forward ? -1 : n;
  for (int i = 0; i < n; ++i)
    if (tab_walk_[static_cast<std::size_t>(i)] == current) pos = i;
  for (int step = 0; step < n; ++step) {
    pos = forward ? (pos + 1) % n : (pos - 1 + n) % n;
    Control* candidate = tab_walk_[static_cast<std::size_t>(pos)];
    if (candidate != current && CanFocus(*candidate)) {
      SetFocus(candidate->hwnd);
      if (KindRow(candidate->desc->ControlKind).select_all)
        SendMessageW(candidate->hwnd, EM_SETSEL, 0, -1);
      return;
    }
  }
}

void Win32Form::FocusFirst(const Control* within) {
  for (Control* c : tab_walk_) {
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
    const MnemonicAction action = KindRow(c.desc->ControlKind).mnemonic;
    if (action == MnemonicAction::None) continue;
    const wchar_t accel = AcceleratorChar(WindowText(c.hwnd));
    if (accel == 0 || UpperChar(accel) != wanted) continue;
    if (!IsWindowVisible(c.hwnd) || !IsWindowEnabled(c.hwnd)) continue;
    switch (action) {
      case MnemonicAction::Click:
        if (!CanFocus(c)) continue;
        Click(c);
        return true;
      case MnemonicAction::Toggle:
        if (!CanFocus(c)) continue;
        SetFocus(c.hwnd);
        SendMessageW(c.hwnd, BM_CLICK, 0, 0);
        return true;
      case MnemonicAction::FocusInside:
        FocusFirst(&c);
        return true;
      case MnemonicAction::FocusTarget: {
        // A label hands its accelerator to its focus control.
        if (c.desc->FocusControl.empty()) continue;
        const Control& target = Find(c.desc->FocusControl);
        if (!CanFocus(target)) continue;
        SetFocus(target.hwnd);
        return true;
      }
      case MnemonicAction::None:
        break;
    }
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
          const Control* focused = Focused();
          if (focused != nullptr &&
              KindRow(focused->desc->ControlKind).mnemonic == MnemonicAction::Click) {
            Click(*focused);
            return true;
          }
          const Control* ok = FirstOfKind(ui::Kind::OkButton);
          if (ok != nullptr && CanFocus(*ok)) {
            Click(*ok);
            return true;
          }
          return false;
        }
        case VK_ESCAPE: {
          if (WantsKey(msg, DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
          const Control* cancel = FirstOfKind(ui::Kind::CancelButton);
          if (cancel != nullptr && CanFocus(*cancel)) {
            Click(*cancel);
            return true;
          }
          return false;
        }
        default:
          return false;
      }
    case WM_SYSCHAR:
    case WM_CHAR: {
      const bool alt = msg.message == WM_SYSCHAR;
      const auto ch = static_cast<wchar_t>(msg.wParam);
      if (!alt && ch < L' ') return false;
      const Control* focused = Focused();
      const std::optional<ui::Kind> kind =
          focused != nullptr ? std::optional(focused->desc->ControlKind) : std::nullopt;
      if (ui::IsMnemonicKey(kind, alt, !alt && WantsKey(msg, DLGC_WANTCHARS))) return Mnemonic(ch);
      // A hotkey edit took Alt+key at its key-down. The character goes no
      // further, or the default handling would beep or look for a menu;
      // Alt+Space, which the edit does not take, still opens the window menu.
      return alt && ch != L' ';
    }
    default:
      return false;
  }
}

}  // namespace bvx::win32
