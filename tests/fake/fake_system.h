// A recording fake of the operating system and the window toolkit.
//
// FakeOs answers as a test scripts it and writes every call to a shared log;
// FakeToolkit keeps forms as plain control states built from their layout
// tables and runs timers, posted messages and modal loops in virtual time.
// Use FakeSystem, which holds both over one log.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/toolkit_rules.h"
#include "platform/ui.h"

namespace bvx::fake {

// A modal loop with nothing left that could end it: the test's script is
// incomplete. It passes the dispatch boundary and fails the test.
struct WaitsForever : std::runtime_error {
  WaitsForever() : std::runtime_error("modal loop would wait forever") {}
};

// Every call in order, as text: "Mci Set cdaudio!d: door open wait", ...
struct CallLog {
  std::vector<std::string> lines;
  void Add(std::string line) { lines.push_back(std::move(line)); }
  // Lines that start with prefix, in order.
  std::vector<std::string> With(std::string_view prefix) const;
  std::size_t Count(std::string_view prefix) const { return With(prefix).size(); }
  // Index of the first line starting with prefix at or after from; npos if none.
  std::size_t Find(std::string_view prefix, std::size_t from = 0) const;
  void Clear() { lines.clear(); }
};

class FakeToolkit;

// The operations of FakeOs that a test can make fail (FakeOs::FailWhen),
// in the order of the Os interface; each call of one writes a log line that
// starts with OpName(op) and a space. The other Os calls have no failure of
// their own to script: the test sets their answer (TrayIconSize, KeyName,
// DoubleClickTime, CursorPos, ModulePath, IsReadOnly, QueryFileLinks), or
// they answer nothing (SetForegroundWindow, Sleep, ShellOpen).
enum class Op {
  CreateNamedMutex,
  DriveType,
  Mci,
  Broadcast,
  TrayAdd,
  TrayModifyTip,
  TraySetIcon,
  TrayDelete,
  AllowTaskbarCreated,
  RegisterHotKey,
  UnregisterHotKey,
  TrackMouse,
  LoadCursorResource,
  ReadFile,
  ReplaceFile,
  RewriteFile,
  FindFiles,
  DeleteFile,
  QueryRunValue,
  SetRunValue,
  DeleteRunValue,
  ReadStartupApproved,
  WriteStartupApproved,
  ShutdownReasonCreate,
  ShutdownReasonDestroy,
  Count  // not an operation: how many there are; new ones go above
};
std::string_view OpName(Op op);

class FakeOs : public Os {
 public:
  explicit FakeOs(CallLog& log) : log_(log) {}

  // --- script ------------------------------------------------------------
  // Makes the operation fail while the predicate says so; the predicate
  // gets the 1-based number of that operation's call.
  void FailWhen(Op op, std::function<bool(int call)> when) { fail_[op] = std::move(when); }
  void FailAlways(Op op) { FailWhen(op, [](int) { return true; }); }
  void FailNever(Op op) { fail_.erase(op); }

  MutexResult mutex_result = MutexResult::Created;  // AlreadyExists: another copy runs
  std::set<char> cdroms;                // letters answered with DRIVE_CDROM
  std::set<char> discs;                 // letters whose disc query answers 0
  std::uint32_t mci_door_answer = 0;    // answer to door commands
  std::uint32_t mci_no_disc_answer = 263;
  QueryRemoveAnswer broadcast_answer = QueryRemoveAnswer::Granted;
  std::vector<VolumeRecord> broadcasts;
  // Combinations held by other programs.
  std::set<ui::KeyCombination> held_hotkeys;
  // This program's registrations by id.
  std::map<int, ui::KeyCombination> hotkeys;
  std::map<unsigned, std::string> key_names;
  unsigned double_click_time = 500;
  Point cursor{100, 200};
  std::uintptr_t cursor_handle = 0x1234;

  std::string module_path = "C:\\Program Files\\Brimvex\\BVX.exe";
  std::map<std::string, std::string> files;
  // Files marked read-only.
  std::set<std::string> read_only;
  // Files whose replace or rewrite fails (a read-only folder, a full disk)
  // with the file left as it was.
  std::set<std::string> unwritable;
  // Files whose rewrite in place stops half-way: the file is left with the
  // first half of the new text, the copy is kept.
  std::set<std::string> torn;
  // Files that another program holds open (no delete or write sharing)
  // until the virtual time given, in ms (UINT64_MAX: for good): a replace or
  // rewrite of them, or a delete, is refused as busy. A rewrite's copy may
  // be held too.
  std::map<std::string, std::uint64_t> held;
  // Names that are one of several names of a file, or symbolic links; a
  // name not here is the only name of its file. A replace makes the name a
  // new file of its own.
  std::map<std::string, FileLinks> links;
  int replace_count = 0;
  // The virtual clock that Sleep runs on and that held files are timed by
  // (FakeSystem sets it to its toolkit); without it, time stands at 0.
  FakeToolkit* clock = nullptr;

  bool run_key_exists = true;
  std::map<std::string, std::string> run_values;
  bool approved_key_exists = true;
  std::map<std::string, std::string> startup_approved;  // Task Manager's marks

  bool shutdown_reason_supported = true;
  std::optional<std::string> shutdown_reason;

  std::optional<std::string> tray_tip;  // the icon's tip while it exists
  // The notification area's small-icon size (follows the display scale),
  // and the size of the picture the icon shows while it exists.
  int tray_icon_size = 16;
  int tray_picture_size = 0;

  // --- Os ------------------------------------------------------------------
  MutexResult CreateNamedMutex(std::string_view name) override;
  DriveKind DriveType(std::string_view root) override;
  std::uint32_t MciSendString(std::string_view command, std::size_t reply_size, std::string* reply,
                              WindowId callback) override;
  QueryRemoveAnswer BroadcastQueryRemove(const VolumeRecord& record) override;
  int TrayIconSize(WindowId window) override;
  bool TrayAdd(WindowId window, std::uint32_t id, int icon_resource, int size,
               std::string_view tip) override;
  bool TrayModifyTip(WindowId window, std::uint32_t id, std::string_view tip) override;
  bool TraySetIcon(WindowId window, std::uint32_t id, int icon_resource, int size) override;
  bool TrayDelete(WindowId window, std::uint32_t id) override;
  bool AllowTaskbarCreated(WindowId window) override;
  bool RegisterHotKey(WindowId window, int id, std::uint16_t shortcut) override;
  bool UnregisterHotKey(WindowId window, int id) override;
  std::string KeyName(unsigned vk) override;
  unsigned DoubleClickTime() override;
  Point CursorPos() override;
  void SetForegroundWindow(WindowId window) override;
  bool TrackMouse(WindowId window, unsigned hover_time_ms) override;
  std::uintptr_t LoadCursorResource(std::string_view name) override;
  std::string ModulePath() override { return module_path; }
  std::optional<std::string> ReadFile(const std::string& path) override;
  bool IsReadOnly(const std::string& path) override;
  WriteResult ReplaceFile(const std::string& path, std::string_view contents) override;
  FileLinks QueryFileLinks(const std::string& path) override;
  RewriteResult RewriteFile(const std::string& path, const std::string& copy,
                            std::string_view contents) override;
  std::vector<std::string> FindFiles(const std::string& pattern) override;
  bool DeleteFile(const std::string& path) override;
  // Moves the virtual clock on without running anything: the program's only
  // thread is held.
  void Sleep(unsigned ms) override;
  RegResult QueryRunValue(std::string_view name) override;
  RegResult SetRunValue(std::string_view name, std::string_view command) override;
  RegResult DeleteRunValue(std::string_view name) override;
  RegResult ReadStartupApproved(std::string_view name, std::string* data) override;
  RegResult WriteStartupApproved(std::string_view name, std::string_view data) override;
  void ShellOpen(WindowId owner, std::string_view target, ShowAs show) override;
  bool ShutdownReasonCreate(WindowId window, std::string_view reason) override;
  bool ShutdownReasonDestroy(WindowId window) override;

 private:
  bool Fails(Op op);
  bool Held(const std::string& path) const;
  CallLog& log_;
  std::map<Op, std::function<bool(int)>> fail_;
  std::map<Op, int> calls_;
};

// One control's state.
struct FakeControl {
  ui::ControlRow desc;
  std::string text;
  bool visible = true;
  bool enabled = true;
  int value = 0;
  std::vector<std::string> items;
  ui::Font font;
  WindowId handle = 0;
};

class FakeForm : public ui::Form {
 public:
  // app_events: the main form's (the application's events reach it); null
  // for any other form.
  FakeForm(FakeToolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events,
           ui::MainFormEvents* app_events, WindowId handle);
  ~FakeForm() override;

  WindowId Handle() const override { return handle_; }
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

  // --- what a user does (each behind the dispatch boundary) ------------------
  // A button click: an OK button sets modal result 1 and then clicks, a
  // Cancel button sets modal result 2; any other control just clicks.
  void Click(std::string_view control);
  // The close box, system menu or Alt+F4.
  void Close();
  // The user picks a tab: before-change handler, selection, after-change handler.
  void SelectTab(std::string_view control, int tab);
  // Types into a spin edit (its value is the text read as an integer, else 0).
  void TypeText(std::string_view control, std::string_view text);
  void MouseMove(std::string_view control);
  void MouseHover(std::string_view control);
  void MouseLeave(std::string_view control);
  // Draws one tab through the owner-draw handler on a recording canvas.
  std::vector<std::string> DrawTab(std::string_view control, int tab, const ui::Rect& rect);

  // --- what a test reads ---------------------------------------------------------
  const ui::FormLayout& Description() const { return layout_; }
  bool IsVisible() const { return visible_; }
  // Shown: the control and every parent of it visible (as IsWindowVisible
  // tells of a window).
  bool IsControlVisible(std::string_view control) const;
  bool IsEnabled(std::string_view control) const { return Control(control).enabled; }
  std::string_view Caption() const { return layout_.Caption; }
  int ModalResult() const { return modal_result_; }
  bool InModal() const { return in_modal_; }
  bool InFront() const { return in_front_; }
  ui::FormEvents& Events() { return events_; }
  ui::MainFormEvents* AppEvents() { return app_events_; }
  const FakeControl& Control(std::string_view control) const;
  // The control's siblings that lie above it, the nearest first, as
  // GetWindow with GW_HWNDPREV walks their windows.
  std::vector<std::string> Above(std::string_view control) const;

 private:
  FakeControl& Find(std::string_view control);
  FakeToolkit& toolkit_;
  const ui::FormLayout& layout_;
  ui::FormEvents& events_;
  ui::MainFormEvents* app_events_;
  WindowId handle_;
  std::map<std::string, FakeControl, std::less<>> controls_;
  std::vector<std::string> z_order_;  // every control, the bottom one first
  bool visible_ = false;
  bool in_front_ = false;
  bool in_modal_ = false;
  int modal_result_ = 0;
};

class FakeTimer;

class FakeToolkit : public ui::Toolkit {
 public:
  explicit FakeToolkit(CallLog& log) : log_(log) {}
  ~FakeToolkit() override;

  // --- script --------------------------------------------------------------
  // Called when a modal loop starts (first in, first out), with the form.
  std::vector<std::function<void(FakeForm&)>> on_modal;
  // Chooses the item to click when a pop-up menu opens: returns a command id
  // or 0 for none. Unset: the menu closes with no choice.
  std::function<int(const std::vector<ui::ShownItem>&)> menu_choice;

  struct Box {
    std::string text;
    std::string caption;
    ui::MessageIcon icon = ui::MessageIcon::None;
  };
  std::vector<Box> boxes;
  struct Popped {
    std::vector<std::string> lines;  // caption [TAB shortcut], "-" for a separator
    Point at;
    std::uint64_t time = 0;
  };
  std::vector<Popped> popups;

  // Virtual time in milliseconds.
  std::uint64_t Now() const { return now_; }
  // Moves the clock on by ms and runs nothing (a thread that sleeps).
  void Elapse(std::uint64_t ms) { now_ += ms; }
  // Runs fn at now + delay_ms (behind the dispatch boundary).
  void At(std::uint64_t delay_ms, std::function<void()> fn);
  // Runs what falls due within the next ms milliseconds, then sets the clock there.
  void Advance(std::uint64_t ms);
  // Runs what is due now.
  void RunPending() { Advance(0); }
  // What the system reports to a form, now and behind the dispatch
  // boundary; only the main form (CreateMainForm) gets it.
  void TrayMouse(FakeForm& form, ui::TrayMouse action);
  void DisplayScaleChanged(FakeForm& form);
  void HotKey(FakeForm& form, int id);
  // The form's answer.
  ui::DeviceAnswer DeviceChange(FakeForm& form, ui::DeviceEvent event,
                                std::span<const std::uint8_t> record = {});
  // The form's answer; nothing when it leaves it to the default.
  std::optional<bool> QueryEndSession(FakeForm& form, const ui::SessionEndQuery& query = {});
  // The first form created (the main form, where the program made one) and
  // every live form.
  FakeForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front(); }
  const std::vector<FakeForm*>& Forms() const { return forms_; }
  FakeForm* FindForm(std::string_view class_name) const;
  bool Terminated() const { return terminated_; }
  // Timers that are switched on: each costs the program a wake-up.
  std::size_t RunningTimers() const;
  // Runs fn behind the dispatch boundary (the standard error box on an escape).
  void Guard(const std::function<void()>& fn);
  std::map<int, std::uintptr_t> screen_cursors;
  bool app_hidden_from_taskbar = false;
  bool show_main_form = true;

  // --- Toolkit ---------------------------------------------------------------
  void Initialize() override;
  void SetTitle(std::string_view title) override;
  std::string Title() const override { return title_; }
  void SetShowMainForm(bool show) override;
  void HideAppFromTaskbar() override;
  std::unique_ptr<ui::Form> CreateMainForm(const ui::FormLayout& desc,
                                           ui::MainFormEvents& events) override;
  std::unique_ptr<ui::Form> CreateForm(const ui::FormLayout& desc, ui::FormEvents& events) override;
  std::unique_ptr<ui::Timer> CreateTimer(ui::Form& owner, unsigned interval_ms, bool enabled,
                                         std::function<void()> on_tick) override;
  void Popup(ui::PopupMenu& menu, ui::Form& owner, Point at) override;
  void AttachMenu(ui::PopupMenu& menu, ui::Form& owner) override;
  // WM_COMMAND of a menu item sent to the form: clicks the item of an attached
  // menu with that command id; false when none has it.
  bool Command(ui::Form& owner, int command);
  void MessageBox(std::string_view text, std::string_view caption, ui::MessageIcon icon) override;
  void SetScreenCursor(int id, std::uintptr_t cursor) override;
  void Run() override;
  void Terminate() override;

 private:
  friend class FakeForm;
  friend class FakeTimer;
  struct Event {
    std::uint64_t time;
    std::uint64_t seq;
    std::function<void()> fn;
  };
  // Runs the next event (scripted, posted or a timer tick) no later than
  // limit; false when there is none.
  bool Step(std::uint64_t limit);
  // Runs events until done() holds; raises WaitsForever when nothing is
  // left that could make it hold (a modal loop that would wait forever).
  void RunUntil(const std::function<bool()>& done);
  void Forget(FakeForm* form);
  std::unique_ptr<ui::Form> MakeForm(const ui::FormLayout& desc, ui::FormEvents& events,
                                     ui::MainFormEvents* app_events);

  CallLog& log_;
  std::string title_;
  std::uint64_t now_ = 0;
  std::uint64_t seq_ = 0;
  std::vector<Event> events_;
  std::vector<FakeTimer*> timers_;
  std::vector<FakeForm*> forms_;
  std::map<ui::Form*, ui::PopupMenu*> menus_;
  WindowId next_handle_ = 0x100;
  bool terminated_ = false;
};

class FakeTimer : public ui::Timer {
 public:
  FakeTimer(FakeToolkit& toolkit, unsigned interval, bool enabled, std::function<void()> on_tick);
  ~FakeTimer() override;
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetInterval(unsigned ms) override;
  unsigned Interval() const { return interval_; }
  std::uint64_t Due() const { return due_; }

 private:
  friend class FakeToolkit;
  FakeToolkit& toolkit_;
  unsigned interval_;
  bool enabled_;
  std::uint64_t due_ = 0;
  std::function<void()> on_tick_;
};

// Both fakes over one log and one virtual clock.
struct FakeSystem {
  CallLog log;
  FakeOs os{log};
  FakeToolkit ui{log};
  FakeSystem() { os.clock = &ui; }
  FakeSystem(const FakeSystem&) = delete;
  FakeSystem& operator=(const FakeSystem&) = delete;
};

}  // namespace bvx::fake
