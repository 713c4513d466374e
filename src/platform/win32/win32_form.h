// A form built from its layout table: a top-level window owned by the hidden
// application window, with every ControlRow as a real child control. The
// child windows are made when the form is first shown or one of them is
// first used: the main window lives hidden from start, and under the
// manifest's Common Controls 6 a BUTTON or STATIC window loads comctl32.dll.
//
// Controls are children of their layout parent (group box, tab control), so
// hiding a parent hides what lies on it, and positions are relative to the
// parent's client area exactly as the tables give them. Among siblings a
// later row lies above an earlier one, and a label directly above the field
// it names, where a screen reader looks for the field's name
// (ui::SiblingOrder): every control is raised to the top of its siblings in
// that order and has WS_CLIPSIBLINGS, and group boxes and the tab control
// have WS_CLIPCHILDREN and paint their whole client area, so a covered
// control can never paint over the one covering it. Because
// z-order runs against the tab order here, the form does its own keyboard
// interface (Tab, Enter, Esc, mnemonics) from the TabOrder column instead of
// IsDialogMessage.
//
// The form's code is kept by concern:
//   win32_form.cpp      creation, the ui::Form calls, the modal loop
//   win32_controls.cpp  one table row per control kind: its window, values,
//                       items, clicks, notifications, mnemonic
//   win32_layout.cpp    placement, DPI, fonts, pictures
//   win32_messages.cpp  the window procedures
//   win32_keyboard.cpp  Tab, Enter, Esc and mnemonics
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_handles.h"

namespace bvx::win32 {

class Win32Toolkit;

// One control of a form.
struct Control {
  const ui::ControlRow* desc = nullptr;
  std::size_t index = 0;
  Control* parent = nullptr;  // layout parent; null: the form
  HWND hwnd = nullptr;        // the control (the edit of a spin edit)
  HWND updown = nullptr;      // the arrows of a spin edit
  ui::Font font;              // current font, face interned
  OwnedBitmap bitmap;         // picture of an image
  bool own_font = false;      // false: follows its layout parent's font
};

class Win32Form final : public ui::Form {
 public:
  // app_events: the main form's, which the application's messages reach;
  // null for any other form.
  Win32Form(Win32Toolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events,
            ui::MainFormEvents* app_events);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  // --- ui::Form ---------------------------------------------------------------
  WindowId Handle() const override { return FromHwnd(hwnd_); }
  WindowId ControlHandle(std::string_view control) const override;
  void Show() override;
  void Hide() override;
  void BringToFront() override;
  int ShowModal() override;
  void SetModalResult(int result) override { modal_result_ = result; }
  void SetText(std::string_view control, std::string_view text) override;
  std::string Text(std::string_view control) const override;
  void SetVisible(std::string_view control, bool visible) override;
  void SetEnabled(std::string_view control, bool enabled) override;
  int Value(std::string_view control) const override;
  void SetValue(std::string_view control, int value) override;
  void AddItem(std::string_view control, std::string_view text) override;
  std::string Item(std::string_view control, int index) const override;
  int ItemCount(std::string_view control) const override;
  void SetFont(std::string_view control, const ui::Font& font) override;
  ui::Font ControlFont(std::string_view control) const override;

  // --- for the toolkit and the control kinds ---------------------------------------
  HWND Hwnd() const { return hwnd_; }
  Win32Toolkit& Toolkit() const { return toolkit_; }
  ui::FormEvents& Events() const { return events_; }
  // The keyboard interface; true when the message was used up.
  bool HandleKey(const MSG& msg);
  // A click: the modal result of its kind first, then the click handler.
  void Click(const Control& c);
  // A spin edit's arrow (Up/Down key or the arrows control).
  static void StepSpin(const Control& c, int delta);
  int Scale(int pixels96) const;
  HFONT FontHandle(const ui::Font& font);

  // Window procedures (win32_messages.cpp).
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK SpinEditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);

 private:
  LRESULT Proc(UINT msg, WPARAM wparam, LPARAM lparam);

  // Creation (win32_form.cpp).
  void RegisterWindowClass();
  void BuildControls();  // the records, in creation order, and their fonts
  void MakeControls();   // the windows, once
  void CreateControl(Control& c);
  void BeforeShow();

  // Layout (win32_layout.cpp).
  void Layout();
  void PlaceControl(Control& c);
  void FitToText(Control& c);
  void ApplyFont(Control& c, bool redraw);
  void ChangeFont(Control& c, const ui::Font& font);
  void SizeWindow();
  void CenterOnDesktop();
  void ChangeDpi(UINT dpi, const RECT& suggested);

  Control& Record(std::string_view name) const;  // without making the windows
  Control& Find(std::string_view name) const;
  Control* ControlOf(HWND hwnd) const;

  // Messages (win32_messages.cpp).
  void PaintGroupBox(HWND hwnd);
  // Notifications of a container's children, and the background it paints.
  bool ForwardFromContainer(HWND container, UINT msg, WPARAM wparam, LPARAM lparam,
                            LRESULT* result);
  bool OnCommand(WPARAM wparam, LPARAM lparam);
  bool OnNotify(const NMHDR& header, LRESULT* result);
  LRESULT OnCtlColor(UINT msg, HDC dc, HWND control);
  bool OnDrawItem(const DRAWITEMSTRUCT& item);
  // The application's messages, to the main form's app_events_.
  std::optional<LRESULT> OnApplicationMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void OnClose();

  // Keyboard interface (win32_keyboard.cpp).
  bool CanFocus(const Control& c) const;
  void SelectNext(bool forward);
  void FocusFirst(const Control* within);
  void RestoreFocus();
  bool Mnemonic(wchar_t ch);
  bool WantsKey(const MSG& msg, LRESULT mask) const;
  Control* Focused() const;
  Control* FirstOfKind(ui::Kind kind) const;

  Win32Toolkit& toolkit_;
  const ui::FormLayout& layout_;
  ui::FormEvents& events_;
  ui::MainFormEvents* app_events_;
  UINT dpi_ = 96;
  OwnedBrush background_;
  ui::Font font_;
  // The fonts made so far, at the current DPI: a form uses a handful.
  struct MadeFont {
    ui::Font font;  // the text colour plays no part
    OwnedFont handle;
  };
  std::vector<MadeFont> fonts_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<Control*> creation_order_;  // parents before their children
  std::vector<Control*> tab_walk_;        // the controls in the keyboard's order
  bool controls_made_ = false;
  HWND saved_focus_ = nullptr;
  int modal_result_ = 0;
  bool modal_ = false;
  bool destroying_ = false;
  // Last: the window goes first, before the fonts, brush and pictures it uses.
  HWND hwnd_ = nullptr;
  OwnedWindow window_;
};

}  // namespace bvx::win32
