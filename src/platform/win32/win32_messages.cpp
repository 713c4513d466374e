// The window procedures of a form and its controls. Containers (group boxes,
// the tab control) forward what their children report (WM_COMMAND,
// WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM) to the form, which hands it on to
// the control's kind row and the form's events.
#include <cstring>
#include <span>
#include <string>

#include "platform/toolkit_rules.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_form.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

namespace {

// The drawing surface of an owner-drawn tab.
class DcCanvas final : public ui::Canvas {
 public:
  DcCanvas(HDC dc, HBRUSH brush, HFONT font, COLORREF color)
      : dc_(dc), brush_(brush), color_(color), font_(dc, font) {}

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
  Selection font_;
};

}  // namespace

LRESULT CALLBACK Win32Form::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Win32Form* self = nullptr;
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    self = static_cast<Win32Form*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    self->window_.Reset(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->window_.Release();  // gone already
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
      FillRect(reinterpret_cast<HDC>(wparam), &r, background_.Get());
      return 1;
    }
    default:
      break;
  }
  if (app_events_ != nullptr) {
    if (const std::optional<LRESULT> handled = OnApplicationMessage(msg, wparam, lparam))
      return *handled;
  }

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
    case WM_DPICHANGED:
      ChangeDpi(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      if (app_events_ != nullptr) toolkit_.Guard([&] { app_events_->OnDisplayScaleChanged(); });
      return 0;
    default:
      return DefWindowProcW(hwnd_, msg, wparam, lparam);
  }
}

namespace {

ui::TrayMouse TrayMouseOf(LPARAM mouse_message) {
  switch (mouse_message) {
    case WM_LBUTTONDBLCLK:
      return ui::TrayMouse::LeftDoubleClick;
    case WM_RBUTTONDOWN:
      return ui::TrayMouse::RightDown;
    case WM_RBUTTONDBLCLK:
      return ui::TrayMouse::RightDoubleClick;
    default:
      return ui::TrayMouse::Other;
  }
}

// Only event codes with bit 15 carry a record in lParam; for the others
// lParam is a plain number (DBT_MONITORCHANGE passes a screen size there)
// that the system does not copy between processes, and it is never read.
// The record is handed on with the size its header declares.
ui::DeviceNotice DeviceNoticeOf(WPARAM event, LPARAM lparam) {
  ui::DeviceNotice notice;
  switch (event) {
    case DBT_DEVICEARRIVAL:
      notice.Event = ui::DeviceEvent::Arrival;
      break;
    case DBT_DEVICEQUERYREMOVE:
      notice.Event = ui::DeviceEvent::QueryRemove;
      break;
    case DBT_DEVICEREMOVECOMPLETE:
      notice.Event = ui::DeviceEvent::RemoveComplete;
      break;
    default:
      break;
  }
  if ((event & 0x8000) == 0 || lparam == 0) return notice;
  const auto* record = reinterpret_cast<const std::uint8_t*>(lparam);
  DWORD declared = 0;
  std::memcpy(&declared, record, sizeof declared);
  notice.Record = std::span<const std::uint8_t>(record, declared);
  return notice;
}

}  // namespace

// The messages that are the application's events, which only the main form
// hands on: the tray icon's mouse, hotkeys, device changes, the end of the
// session, the notification area made again ("TaskbarCreated"), and a change
// of the screens (WM_DISPLAYCHANGE: their resolution, or which one is the
// primary screen with the taskbar, and with it maybe the display scale of the
// notification area; a change of the scale alone comes to the window as
// WM_DPICHANGED, and as "TaskbarCreated").
std::optional<LRESULT> Win32Form::OnApplicationMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  ui::MainFormEvents& events = *app_events_;
  if (msg == toolkit_.TaskbarCreatedMessage() && msg != 0) {
    toolkit_.Guard([&] { events.OnTaskbarCreated(); });
    return 0;
  }
  switch (msg) {
    case WM_DISPLAYCHANGE:
      toolkit_.Guard([&] { events.OnDisplayScaleChanged(); });
      return std::nullopt;
    case kTrayCallbackMessage:
      toolkit_.Guard([&] { events.OnTrayMouse(TrayMouseOf(lparam)); });
      return 0;
    case WM_HOTKEY:
      toolkit_.Guard([&] { events.OnHotKey(static_cast<int>(wparam)); });
      return 0;
    case WM_DEVICECHANGE: {
      const ui::DeviceNotice notice = DeviceNoticeOf(wparam, lparam);
      ui::DeviceAnswer answer = ui::DeviceAnswer::Default;
      toolkit_.Guard([&] { answer = events.OnDeviceChange(notice); });
      // Taken: -1, the program's answer ever since; any value but
      // BROADCAST_QUERY_DENY grants a removal request.
      if (answer == ui::DeviceAnswer::Granted) return -1;
      return std::nullopt;
    }
    case WM_QUERYENDSESSION: {
      ui::SessionEndQuery query;
      query.CloseApp = (lparam & ENDSESSION_CLOSEAPP) != 0;
      query.Critical = (lparam & ENDSESSION_CRITICAL) != 0;
      query.Logoff = (lparam & ENDSESSION_LOGOFF) != 0;
      std::optional<bool> may_end;
      toolkit_.Guard([&] { may_end = events.OnQueryEndSession(query); });
      if (may_end) return *may_end ? TRUE : FALSE;
      return std::nullopt;
    }
    default:
      return std::nullopt;
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
      FillRect(reinterpret_cast<HDC>(wparam), &r, background_.Get());
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
  return DefSubclass(hwnd, msg, wparam, lparam, &Win32Form::ContainerProc);
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
  PaintDc dc(hwnd);
  const Control* c = ControlOf(hwnd);
  const Selection font(dc.Get(), FontHandle(c != nullptr ? c->font : font_));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc.Get(), &metrics);
  const int text_height = static_cast<int>(metrics.tmHeight);
  RECT client{};
  GetClientRect(hwnd, &client);
  RECT frame{1, text_height / 2, client.right, client.bottom};
  FrameRect(dc.Get(), &frame, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
  OffsetRect(&frame, -1, -1);
  FrameRect(dc.Get(), &frame, GetSysColorBrush(COLOR_BTNSHADOW));
  const std::wstring caption = WindowText(hwnd);
  if (caption.empty()) return;
  RECT text{Scale(8), 0, Scale(8), text_height};
  DrawTextW(dc.Get(), caption.c_str(), static_cast<int>(caption.size()), &text,
            DT_SINGLELINE | DT_CALCRECT);
  SetBkMode(dc.Get(), OPAQUE);
  SetBkColor(dc.Get(), layout_.Background);
  const bool enabled = IsWindowEnabled(hwnd) != FALSE;
  SetTextColor(dc.Get(), enabled ? (c != nullptr ? c->font.TextColor : font_.TextColor)
                                 : GetSysColor(COLOR_GRAYTEXT));
  DrawTextW(dc.Get(), caption.c_str(), static_cast<int>(caption.size()), &text, DT_SINGLELINE);
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
  return DefSubclass(hwnd, msg, wparam, lparam, &Win32Form::LinkProc);
}

LRESULT CALLBACK Win32Form::SpinEditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32Form*>(data);
  switch (msg) {
    case WM_CHAR:
      // Digits, "+" and "-", and the editing keys.
      if (!ui::IsSpinEditChar(static_cast<char32_t>(wparam))) {
        MessageBeep(0);
        return 0;
      }
      break;
    case WM_KEYDOWN:
      if (wparam == VK_UP || wparam == VK_DOWN) {
        if (const Control* c = self->ControlOf(hwnd)) StepSpin(*c, wparam == VK_UP ? 1 : -1);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefSubclass(hwnd, msg, wparam, lparam, &Win32Form::SpinEditProc);
}

bool Win32Form::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (lparam != 0) {
    const Control* c = ControlOf(reinterpret_cast<HWND>(lparam));
    if (c == nullptr) return false;
    if (static_cast<int>(HIWORD(wparam)) == KindRow(c->desc->ControlKind).click_code) Click(*c);
    return true;
  }
  // A menu command: from a menu this form showed, or sent by anyone.
  if (HIWORD(wparam) == 0) return toolkit_.MenuCommand(hwnd_, LOWORD(wparam));
  return false;
}

bool Win32Form::OnNotify(const NMHDR& header, LRESULT* result) {
  const Control* c = ControlOf(header.hwndFrom);
  if (c == nullptr) return false;
  *result = 0;
  const ControlKindRow& kind = KindRow(c->desc->ControlKind);
  if (kind.notify != nullptr) kind.notify(*this, *c, header, result);
  return true;
}

LRESULT Win32Form::OnCtlColor(UINT msg, HDC dc, HWND control) {
  const Control* c = ControlOf(control);
  COLORREF text = c != nullptr ? c->font.TextColor : font_.TextColor;
  if (control != nullptr && !IsWindowEnabled(control)) text = GetSysColor(COLOR_GRAYTEXT);
  SetTextColor(dc, text);
  const bool field = c != nullptr && KindRow(c->desc->ControlKind).field &&
                     (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX);
  if (field || (c == nullptr && msg == WM_CTLCOLORLISTBOX)) {
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
  }
  SetBkColor(dc, layout_.Background);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(background_.Get());
}

bool Win32Form::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_MENU) return toolkit_.DrawMenuItem(item);
  if (item.CtlType != ODT_TAB) return false;
  const Control* c = ControlOf(item.hwndItem);
  if (c == nullptr) return false;
  DcCanvas canvas(item.hDC, background_.Get(), FontHandle(c->font), c->font.TextColor);
  const ui::Rect rect{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
  const int tab = static_cast<int>(item.itemID);
  const bool active = (item.itemState & ODS_SELECTED) != 0;
  const std::string_view name = c->desc->Name;
  toolkit_.Guard([&] { events_.OnDrawTab(name, canvas, tab, rect, active); });
  return true;
}

}  // namespace bvx::win32
