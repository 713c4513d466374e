// A form built from its layout table: a top-level window owned by the hidden
// application window, with every ControlRow as a real child control.
//
// Controls are children of their layout parent (group box, tab control), so
// hiding a parent hides what lies on it, and positions are relative to the
// parent's client area exactly as the tables give them. Among siblings a
// later row lies above an earlier one: every control is raised to the top of
// its siblings in table order and has WS_CLIPSIBLINGS, and group boxes and
// the tab control have WS_CLIPCHILDREN and paint their whole client area, so
// a covered control can never paint over the one covering it. Group boxes are
// windows of this layer's own class "TGroupBox" that paint their frame and
// caption themselves (no theme, no click-through); the tab control is the
// common control in its classic look. Containers forward the notifications of
// their children (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM) to the
// form. Because z-order runs against the
// tab order here, the form does its own keyboard interface (Tab, Enter, Esc,
// mnemonics) from the TabOrder column instead of IsDialogMessage.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"

namespace bvx::win32 {

class Win32Toolkit;

class Win32Form final : public ui::Form {
 public:
  Win32Form(Win32Toolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  // --- ui::Form ---------------------------------------------------------------
  WindowId Handle() const override { return FromHwnd(hwnd_); }
  WindowId ControlHandle(std::string_view control) const override;
  const ui::FormLayout& Description() const override { return layout_; }
  void Show() override;
  void Hide() override;
  bool IsVisible() const override;
  void BringToFront() override;
  int ShowModal() override;
  void SetModalResult(int result) override { modal_result_ = result; }
  void SetCaption(std::string_view caption) override;
  void SetText(std::string_view control, std::string_view text) override;
  std::string Text(std::string_view control) const override;
  void SetVisible(std::string_view control, bool visible) override;
  bool IsControlVisible(std::string_view control) const override;
  void SetEnabled(std::string_view control, bool enabled) override;
  bool IsEnabled(std::string_view control) const override;
  int Value(std::string_view control) const override;
  void SetValue(std::string_view control, int value) override;
  void AddItem(std::string_view control, std::string_view text) override;
  std::string Item(std::string_view control, int index) const override;
  int ItemCount(std::string_view control) const override;
  void SetFont(std::string_view control, const ui::Font& font) override;
  ui::Font ControlFont(std::string_view control) const override;

  // --- for the toolkit -------------------------------------------------------------
  HWND Hwnd() const { return hwnd_; }
  // The keyboard interface; true when the message was used up.
  bool HandleKey(const MSG& msg);

 private:
  struct Control {
    const ui::ControlRow* desc = nullptr;
    std::size_t index = 0;
    Control* parent = nullptr;  // layout parent; null: the form
    HWND hwnd = nullptr;        // the control (the edit of a spin edit)
    HWND updown = nullptr;      // the arrows of a spin edit
    ui::Font font;              // current font, face interned
    HBITMAP bitmap = nullptr;   // picture of an image
    bool own_font = false;      // false: follows its layout parent's font
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK SpinEditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);
  LRESULT Proc(UINT msg, WPARAM wparam, LPARAM lparam);

  void RegisterWindowClass();
  void PaintGroupBox(HWND hwnd);
  // Notifications of a container's children, and the background it paints.
  bool ForwardFromContainer(HWND container, UINT msg, WPARAM wparam, LPARAM lparam,
                            LRESULT* result);
  void CreateControls();
  void CreateControl(Control& c);
  void Layout();
  void PlaceControl(Control& c);
  void LoadPicture(Control& c);
  void FitToText(Control& c);
  void ApplyFont(Control& c, bool redraw);
  void SizeWindow();
  void CenterOnDesktop();
  int Scale(int pixels96) const;
  HFONT FontHandle(const ui::Font& font);

  Control& Find(std::string_view name) const;
  Control* ControlOf(HWND hwnd) const;

  bool OnCommand(WPARAM wparam, LPARAM lparam);
  bool OnNotify(const NMHDR& header, LRESULT* result);
  LRESULT OnCtlColor(UINT msg, HDC dc, HWND control);
  bool OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnClose();
  void ClickButton(Control& c);
  void StepSpin(Control& c, int delta);

  // Keyboard interface.
  std::vector<Control*> TabList() const;
  void CollectTabs(const Control* parent, std::vector<Control*>& out) const;
  bool WantsKey(const MSG& msg, LRESULT mask) const;
  void ChangeFont(Control& c, const ui::Font& font);
  bool CanFocus(const Control& c) const;
  void SelectNext(bool forward);
  void FocusFirst(Control* within);
  void RestoreFocus();
  bool Mnemonic(wchar_t ch);
  Control* Focused() const;
  Control* FirstOfKind(ui::Kind kind) const;

  void BeforeShow();

  Win32Toolkit& toolkit_;
  const ui::FormLayout& layout_;
  ui::FormEvents& events_;
  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  HBRUSH background_ = nullptr;
  ui::Font font_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<std::string, HFONT> fonts_;
  HWND saved_focus_ = nullptr;
  int modal_result_ = 0;
  bool modal_ = false;
  bool destroying_ = false;
};

}  // namespace bvx::win32
