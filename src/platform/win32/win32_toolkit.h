// bvx::ui::Toolkit with real windows: a hidden application window that owns
// every form, forms built from their layout tables as real child controls,
// menus built from the PopupMenu model, WM_TIMER timers and nested modal
// loops. Every call into the core (form events, timer ticks, menu clicks)
// passes the dispatch boundary in Guard(), which turns an escaping exception
// into the standard error box.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_handles.h"

namespace bvx::win32 {

class Win32Form;
class Win32Timer;

class Win32Toolkit final : public ui::Toolkit {
 public:
  explicit Win32Toolkit(HINSTANCE instance);
  ~Win32Toolkit() override;
  Win32Toolkit(const Win32Toolkit&) = delete;
  Win32Toolkit& operator=(const Win32Toolkit&) = delete;

  // --- ui::Toolkit ---------------------------------------------------------
  void Initialize() override;
  void SetTitle(std::string_view title) override;
  std::string Title() const override { return title_; }
  void SetShowMainForm(bool show) override { show_main_form_ = show; }
  void HideAppFromTaskbar() override;
  std::unique_ptr<ui::Form> CreateMainForm(const ui::FormLayout& desc,
                                           ui::MainFormEvents& events) override;
  std::unique_ptr<ui::Form> CreateForm(const ui::FormLayout& desc, ui::FormEvents& events) override;
  std::unique_ptr<ui::Timer> CreateTimer(ui::Form& owner, unsigned interval_ms, bool enabled,
                                         std::function<void()> on_tick) override;
  void Popup(ui::PopupMenu& menu, ui::Form& owner, Point at) override;
  void AttachMenu(ui::PopupMenu& menu, ui::Form& owner) override;
  void PrepareMenu(ui::PopupMenu& menu) override;
  void MessageBox(std::string_view text, std::string_view caption, ui::MessageIcon icon) override;
  void SetScreenCursor(int id, std::uintptr_t cursor) override;
  void Run() override;
  void Terminate() override;

  // --- for the forms -----------------------------------------------------------
  HINSTANCE Instance() const { return instance_; }
  HWND AppWindow() const { return app_window_.Get(); }
  UINT TaskbarCreatedMessage() const { return taskbar_created_; }
  HCURSOR ScreenCursor(int id) const;
  // The glyph of OK (true) or Cancel (false) bitmap buttons; null when missing.
  HIMAGELIST ButtonGlyphs(bool ok);
  // A face name that stays valid as long as the toolkit lives.
  std::string_view InternFace(std::string_view face);

  // The dispatch boundary around every call into the core.
  template <typename F>
  void Guard(F&& call) {
    try {
      call();
    } catch (const std::exception& e) {
      ReportError(e.what());
    } catch (...) {
      ReportError("Unknown error");
    }
  }

  // Handles one message of a message loop: the forms' keyboard interface
  // first, then TranslateMessage / DispatchMessage.
  void ProcessMessage(MSG& msg);

  // Menu commands and owner-drawn menu images, for the owner form.
  bool MenuCommand(HWND owner, int command);
  bool MeasureMenuItem(MEASUREITEMSTRUCT& item);
  bool DrawMenuItem(const DRAWITEMSTRUCT& item);

  // Timers tick on their owner form's window.
  bool TimerTick(HWND owner, UINT_PTR id);
  UINT_PTR NewTimerId() { return next_timer_id_++; }
  void AddTimer(UINT_PTR id, Win32Timer* timer) { timers_[id] = timer; }
  void RemoveTimer(UINT_PTR id) { timers_.erase(id); }

  void AddForm(Win32Form* form);
  void RemoveForm(Win32Form* form);
  Win32Form* FormOf(HWND hwnd) const;  // the form a window belongs to, or null

  // Disables the thread's visible, enabled top-level windows except keep;
  // returns them for EnableWindows.
  std::vector<HWND> DisableThreadWindows(HWND keep);
  static void EnableWindows(const std::vector<HWND>& windows);

 private:
  void ReportError(const char* message);
  void RegisterClasses();
  HIMAGELIST MenuImages(const std::string& resource);

  HINSTANCE instance_;
  std::string title_;
  bool show_main_form_ = true;
  bool reporting_ = false;
  UINT taskbar_created_ = 0;

  std::vector<Win32Form*> forms_;
  std::map<int, HCURSOR> cursors_;
  std::map<UINT_PTR, Win32Timer*> timers_;
  UINT_PTR next_timer_id_ = 1;

  // Menus attached or shown through Popup, per owner window: their items'
  // WM_COMMAND may arrive at any later time.
  std::map<HWND, std::vector<ui::PopupMenu*>> menus_;
  std::map<std::string, OwnedImageList> menu_images_;
  HIMAGELIST shown_menu_images_ = nullptr;
  OwnedImageList ok_glyph_;
  OwnedImageList cancel_glyph_;
  bool glyphs_tried_ = false;

  std::deque<std::string> faces_;
  // Last: the window goes before what its forms use.
  OwnedWindow app_window_;
};

class Win32Timer final : public ui::Timer {
 public:
  Win32Timer(Win32Toolkit& toolkit, HWND owner, unsigned interval_ms, bool enabled,
             std::function<void()> on_tick);
  ~Win32Timer() override;
  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetInterval(unsigned ms) override;

  HWND Owner() const { return owner_; }
  std::function<void()> Callback() const { return on_tick_; }

 private:
  void Update();

  Win32Toolkit& toolkit_;
  HWND owner_;
  UINT_PTR id_;
  unsigned interval_;
  bool enabled_;
  bool running_ = false;
  std::function<void()> on_tick_;
};

}  // namespace bvx::win32
