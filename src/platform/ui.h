// The small window toolkit the program is written against.
//
// Forms are built from declarative layout tables (FormLayout + ControlRow);
// their controls are addressed by component name. A form's handlers live in a
// FormEvents object the core provides. Timers tick through the message loop;
// modal loops nest inside handlers; every handler runs behind the toolkit's
// one dispatch boundary, which turns an escaping exception into the standard
// error box. src/platform/win32 implements it with real windows; the tests
// use a fake that runs in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/menu.h"
#include "platform/os.h"

namespace bvx::ui {

using Color = std::uint32_t;  // 0x00BBGGRR, as a COLORREF
constexpr Color Rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }

// The grey all of the program's windows write their text in.
inline constexpr Color kTextGrey = Rgb(90, 90, 90);

inline constexpr int kRussianCharset = 204;  // RUSSIAN_CHARSET
inline constexpr int kDefaultCharset = 1;    // DEFAULT_CHARSET

struct Font {
  std::string_view Face;
  int Height = -11;  // negative: character height in pixels at 96 DPI
  bool Bold = false;
  bool Underline = false;
  Color TextColor = 0;
  int Charset = kRussianCharset;
  friend bool operator==(const Font&, const Font&) = default;
};

enum class Kind : std::uint8_t {
  Label,         // static text (a STATIC window)
  StaticText,    // windowed static text
  LinkLabel,     // static text with hand cursor and hover font (mouse events reach the form)
  Button,        // push button
  OkButton,      // bitmap button of the OK kind: default, sets modal result 1, then clicks
  CancelButton,  // bitmap button of the Cancel kind: Esc, sets modal result 2
  GroupBox,
  CheckBox,
  HotKey,        // value: shortcut (0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt, key in 0x1FFF)
  SpinEdit,      // value: integer (SpinEditValue); text that is no integer reads 0; no bounds
  DropDownList,  // value: selected index or -1; items added with AddItem
  TabControl,    // value: selected tab; tabs added with AddItem
  Image,         // Text names the bitmap resource; sizes itself to the picture
  Bevel,         // a horizontal separator line (top edge only)
};

enum ControlFlag : std::uint32_t {
  kTransparent = 1u << 0,
  kWordWrap = 1u << 1,
  kAutoSize = 1u << 2,      // labels: size to the (wrapped) text
  kTabsBottom = 1u << 3,    // tab control: tabs at the bottom
  kOwnerDrawTabs = 1u << 4, // tab control: OnDrawTab draws each tab
  kHidden = 1u << 5,        // created hidden
  kDisabled = 1u << 6,      // created disabled
};

struct ControlRow {
  std::string_view Name;
  Kind ControlKind = Kind::Label;
  std::string_view Parent;  // empty: the form itself
  int Left = 0, Top = 0, Width = 0, Height = 0;  // pixels at 96 DPI, in the parent's client area
  std::string_view Text;    // caption, first tab, or bitmap resource name
  const Font* ControlFont = nullptr;  // null: the parent's font
  int TabOrder = -1;        // -1: not a tab stop
  std::uint32_t Flags = 0;
  int ItemHeight = 0;       // drop-down list item height
  int GlyphSpacing = 0;     // bitmap buttons: pixels between glyph and caption
  int CursorId = 0;         // screen cursor number shown over the control (0: arrow)
  const Font* HoverFont = nullptr;  // link label
  std::string_view Hint;    // never shown; link targets
  std::string_view FocusControl;  // a label's accelerator focuses this control
  // A label or static text: the field (a sibling) it names. It lies
  // directly above that field among its siblings, where a screen reader
  // looks for a field's name (SiblingOrder). What its accelerator does is
  // still FocusControl's alone.
  std::string_view Labels;
};

enum FormFlag : std::uint32_t {
  kDialogFrame = 1u << 0,    // fixed-size dialog frame
  kCloseBoxOnly = 1u << 1,   // system menu with only the close box
  kStayOnTop = 1u << 2,
  kCenterDesktop = 1u << 3,
};

struct FormLayout {
  std::string_view ClassName;  // window class name, e.g. "TAboutForm"
  std::string_view Caption;
  int ClientWidth = 0, ClientHeight = 0;  // at 96 DPI
  Color Background = Rgb(240, 240, 240);
  Font FormFont;
  std::uint32_t Flags = 0;
  int BorderWidth = 0;
  std::span<const ControlRow> Controls;
};

inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

struct Rect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};
struct Size {
  int Width = 0, Height = 0;
};

// The drawing surface handed to an owner-draw handler.
class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void FillBackground(const Rect& r) = 0;  // with the control's background brush
  virtual Size TextExtent(std::string_view text) = 0;
  virtual void TextOut(int x, int y, std::string_view text) = 0;
};

// The mouse over the program's notification-area icon.
enum class TrayMouse : std::uint8_t { LeftDoubleClick, RightDown, RightDoubleClick, Other };

// A device-change notice: what happened, and the record that came with it
// (empty: none), exactly as many bytes as its header declares.
enum class DeviceEvent : std::uint8_t { Arrival, QueryRemove, RemoveComplete, Other };
struct DeviceNotice {
  DeviceEvent Event = DeviceEvent::Other;
  std::span<const std::uint8_t> Record;
};

// The system asks whether the session may end.
struct SessionEndQuery {
  bool CloseApp = false;  // only this program is asked to close (an installer, a restart manager)
  bool Critical = false;  // the session ends whatever the answer
  bool Logoff = false;    // the user logs off; the system goes on
};

// The answer to a device-change notice.
enum class DeviceAnswer : std::uint8_t {
  Default,  // left to the toolkit
  Granted,  // taken; a removal request is granted, never refused
};

// A form's handlers. Every call reaches the core behind the dispatch boundary.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  virtual void OnShow() {}
  // Close box, system menu or Alt+F4. False keeps the form open.
  virtual bool OnCloseQuery() { return true; }
  virtual void OnClick(std::string_view /*control*/) {}
  // Tab control: before the selection changes (old tab still selected).
  virtual bool OnTabChanging(std::string_view /*control*/) { return true; }
  // Tab control: after the user changed the selection.
  virtual void OnTabChanged(std::string_view /*control*/) {}
  virtual void OnDrawTab(std::string_view /*control*/, Canvas& /*canvas*/, int /*tab*/,
                         const Rect& /*rect*/, bool /*active*/) {}
  // Link labels: WM_MOUSEMOVE, WM_MOUSEHOVER, WM_MOUSELEAVE over the control.
  virtual void OnMouseMove(std::string_view /*control*/) {}
  virtual void OnMouseHover(std::string_view /*control*/) {}
  virtual void OnMouseLeave(std::string_view /*control*/) {}
};

// The main form's handlers: besides a form's, what the system tells the
// application. Only the main form (Toolkit::CreateMainForm) receives these.
class MainFormEvents : public FormEvents {
 public:
  // The notification-area icon the form added (Os::TrayAdd).
  virtual void OnTrayMouse(TrayMouse /*action*/) {}
  // A hotkey the form registered (Os::RegisterHotKey), by its id.
  virtual void OnHotKey(int /*id*/) {}
  // A device change, and the answer to its sender.
  virtual DeviceAnswer OnDeviceChange(const DeviceNotice& /*notice*/) { return DeviceAnswer::Default; }
  // True lets the session end; nothing leaves it to the toolkit's default.
  virtual std::optional<bool> OnQueryEndSession(const SessionEndQuery& /*query*/) {
    return std::nullopt;
  }
  // Explorer re-created the notification area ("TaskbarCreated"). It also
  // says so when the display scale changes, with the icons still in place.
  virtual void OnTaskbarCreated() {}
  // The display scale may have changed: the form's window moved to a
  // screen of another scale, or the scale or the screens changed.
  virtual void OnDisplayScaleChanged() {}
};

class Form {
 public:
  virtual ~Form() = default;  // destroys the window
  virtual WindowId Handle() const = 0;
  // The window of one control (link labels track the mouse on their own window).
  virtual WindowId ControlHandle(std::string_view control) const = 0;

  virtual void Show() = 0;          // visible and in front
  virtual void Hide() = 0;
  virtual void BringToFront() = 0;
  // Shows the form modally (owner disabled) and runs a nested loop until a
  // modal result is set; hides the form again and returns the result.
  virtual int ShowModal() = 0;
  virtual void SetModalResult(int result) = 0;

  // Controls by component name. An unknown name raises Error.
  virtual void SetText(std::string_view control, std::string_view text) = 0;
  virtual std::string Text(std::string_view control) const = 0;
  virtual void SetVisible(std::string_view control, bool visible) = 0;
  virtual void SetEnabled(std::string_view control, bool enabled) = 0;
  // Hotkey: shortcut; spin edit: integer; check box: 0/1; list: selected
  // index (-1 none); tab control: selected tab.
  virtual int Value(std::string_view control) const = 0;
  virtual void SetValue(std::string_view control, int value) = 0;
  // List items and tabs.
  virtual void AddItem(std::string_view control, std::string_view text) = 0;
  virtual std::string Item(std::string_view control, int index) const = 0;
  virtual int ItemCount(std::string_view control) const = 0;
  virtual void SetFont(std::string_view control, const Font& font) = 0;
  virtual Font ControlFont(std::string_view control) const = 0;
};

// A message-based timer owned by a form. Its tick may destroy the timer
// itself (the handler runs from a copy).
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(unsigned ms) = 0;
};

// The icon of a message box.
enum class MessageIcon { None, Error };

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // Application object: title (caption of the standard error box and text of
  // the hidden application window) and whether Run() shows the main form.
  virtual void Initialize() = 0;
  virtual void SetTitle(std::string_view title) = 0;
  virtual std::string Title() const = 0;
  virtual void SetShowMainForm(bool show) = 0;
  // Makes the hidden application window a tool window: the program gets no
  // taskbar button and no Alt+Tab entry.
  virtual void HideAppFromTaskbar() = 0;

  // Creates the main form hidden: the first form, the one Run() shows when
  // told to, and the only one the application's events reach.
  virtual std::unique_ptr<Form> CreateMainForm(const FormLayout& desc, MainFormEvents& events) = 0;
  // Creates another form hidden.
  virtual std::unique_ptr<Form> CreateForm(const FormLayout& desc, FormEvents& events) = 0;
  // A timer owned by the form; it starts as told.
  virtual std::unique_ptr<Timer> CreateTimer(Form& owner, unsigned interval_ms, bool enabled,
                                             std::function<void()> on_tick) = 0;
  // Opens the menu with its left edge at the point, items selectable with
  // either button; returns when it has closed. A chosen item's click reaches
  // the owner through the message queue, after this returns. The owner
  // should be in the foreground (Os::SetForegroundWindow) before.
  virtual void Popup(PopupMenu& menu, Form& owner, Point at) = 0;
  // Makes the menu's items answer WM_COMMAND with their command ids at the
  // owner at any time, also before the menu was first shown (a menu passed
  // to Popup is attached as well). The menu must stay alive as long as the
  // owner form exists.
  virtual void AttachMenu(PopupMenu& /*menu*/, Form& /*owner*/) {}
  // Loads what showing the menu will need (its images) ahead of a wait
  // after which it is shown, so that the wait hides the loading.
  virtual void PrepareMenu(PopupMenu& /*menu*/) {}
  // A box with one OK button, modal to the application.
  virtual void MessageBox(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
  // Installs a cursor handle as screen cursor number id.
  virtual void SetScreenCursor(int id, std::uintptr_t cursor) = 0;

  // The message loop; returns after Terminate().
  virtual void Run() = 0;
  // PostQuitMessage(0).
  virtual void Terminate() = 0;
};

// The standard error box, shown by both toolkits at their dispatch boundary.
void ShowStandardError(Toolkit& toolkit, std::string_view message);

}  // namespace bvx::ui
