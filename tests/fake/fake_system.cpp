#include "fake/fake_system.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/errors.h"
#include "platform/toolkit_rules.h"

namespace bvx::fake {

namespace {

std::string Hex(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

std::vector<std::string> CallLog::With(std::string_view prefix) const {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (std::string_view(l).starts_with(prefix)) out.push_back(l);
  return out;
}

std::size_t CallLog::Find(std::string_view prefix, std::size_t from) const {
  for (std::size_t i = from; i < lines.size(); ++i)
    if (std::string_view(lines[i]).starts_with(prefix)) return i;
  return std::string::npos;
}

// --- FakeOs -------------------------------------------------------------------

std::string_view OpName(Op op) {
  switch (op) {
    case Op::CreateNamedMutex: return "CreateNamedMutex";
    case Op::DriveType: return "DriveType";
    case Op::Mci: return "Mci";
    case Op::Broadcast: return "Broadcast";
    case Op::TrayAdd: return "TrayAdd";
    case Op::TrayModifyTip: return "TrayModifyTip";
    case Op::TraySetIcon: return "TraySetIcon";
    case Op::TrayDelete: return "TrayDelete";
    case Op::AllowTaskbarCreated: return "AllowTaskbarCreated";
    case Op::RegisterHotKey: return "RegisterHotKey";
    case Op::UnregisterHotKey: return "UnregisterHotKey";
    case Op::TrackMouse: return "TrackMouse";
    case Op::LoadCursorResource: return "LoadCursorResource";
    case Op::ReadFile: return "ReadFile";
    case Op::ReplaceFile: return "ReplaceFile";
    case Op::RewriteFile: return "RewriteFile";
    case Op::FindFiles: return "FindFiles";
    case Op::DeleteFile: return "DeleteFile";
    case Op::QueryRunValue: return "QueryRunValue";
    case Op::SetRunValue: return "SetRunValue";
    case Op::DeleteRunValue: return "DeleteRunValue";
    case Op::ReadStartupApproved: return "ReadStartupApproved";
    case Op::WriteStartupApproved: return "WriteStartupApproved";
    case Op::ShutdownReasonCreate: return "ShutdownReasonCreate";
    case Op::ShutdownReasonDestroy: return "ShutdownReasonDestroy";
    case Op::Count: break;
  }
  return {};
}

bool FakeOs::Fails(Op op) {
  const int n = ++calls_[op];
  const auto it = fail_.find(op);
  return it != fail_.end() && it->second(n);
}

MutexResult FakeOs::CreateNamedMutex(std::string_view name) {
  log_.Add("CreateNamedMutex " + std::string(name));
  if (Fails(Op::CreateNamedMutex)) return MutexResult::Failed;
  return mutex_result;
}

DriveKind FakeOs::DriveType(std::string_view root) {
  log_.Add("DriveType " + std::string(root));
  if (Fails(Op::DriveType)) return DriveKind::Other;
  return root.size() == 3 && cdroms.count(root[0]) ? DriveKind::CdRom : DriveKind::Other;
}

std::uint32_t FakeOs::MciSendString(std::string_view command, std::size_t reply_size,
                                    std::string* reply, WindowId callback) {
  log_.Add("Mci " + std::string(command) + " | reply " + std::to_string(reply_size) + " | cb " +
           Hex(callback));
  if (Fails(Op::Mci)) return 277;  // MCIERR_INTERNAL
  const std::string_view cmd = command;
  if (cmd.starts_with("info cdaudio!") && cmd.size() > 13) {
    if (discs.count(cmd[13]) == 0) return mci_no_disc_answer;
    if (reply != nullptr) *reply = "disc";
    return 0;
  }
  return mci_door_answer;
}

QueryRemoveAnswer FakeOs::BroadcastQueryRemove(const VolumeRecord& record) {
  std::string bytes;
  for (auto b : record) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", b);
    bytes += buf;
  }
  log_.Add("Broadcast QueryRemove " + bytes);
  broadcasts.push_back(record);
  if (Fails(Op::Broadcast)) return QueryRemoveAnswer::Failed;
  return broadcast_answer;
}

int FakeOs::TrayIconSize(WindowId) { return tray_icon_size; }

// The size of the picture is kept, not logged: the log reads as the calls
// the program makes whatever the display scale.
bool FakeOs::TrayAdd(WindowId window, std::uint32_t id, int icon_resource, int size,
                     std::string_view tip) {
  log_.Add("TrayAdd " + Hex(window) + " id " + std::to_string(id) + " icon " + std::to_string(icon_resource) + " tip " + std::string(tip));
  // Like the notification area, no second icon of the same window and id.
  if (Fails(Op::TrayAdd) || tray_tip) return false;
  tray_tip = std::string(tip);
  tray_picture_size = size;
  return true;
}

bool FakeOs::TrayModifyTip(WindowId window, std::uint32_t id, std::string_view tip) {
  log_.Add("TrayModifyTip " + Hex(window) + " id " + std::to_string(id) + " tip " + std::string(tip));
  if (Fails(Op::TrayModifyTip) || !tray_tip) return false;
  tray_tip = std::string(tip);
  return true;
}

bool FakeOs::TraySetIcon(WindowId window, std::uint32_t id, int icon_resource, int size) {
  log_.Add("TraySetIcon " + Hex(window) + " id " + std::to_string(id) + " icon " + std::to_string(icon_resource) + " size " + std::to_string(size));
  if (Fails(Op::TraySetIcon) || !tray_tip) return false;
  tray_picture_size = size;
  return true;
}

bool FakeOs::TrayDelete(WindowId window, std::uint32_t id) {
  log_.Add("TrayDelete " + Hex(window) + " id " + std::to_string(id));
  if (Fails(Op::TrayDelete) || !tray_tip) return false;
  tray_tip.reset();
  tray_picture_size = 0;
  return true;
}

bool FakeOs::AllowTaskbarCreated(WindowId window) {
  log_.Add("AllowTaskbarCreated " + Hex(window));
  return !Fails(Op::AllowTaskbarCreated);
}

bool FakeOs::RegisterHotKey(WindowId window, int id, std::uint16_t shortcut) {
  log_.Add("RegisterHotKey " + Hex(window) + " id " + std::to_string(id) + " shortcut " + Hex(shortcut));
  if (Fails(Op::RegisterHotKey)) return false;
  const ui::KeyCombination combo = ui::ShortcutCombination(shortcut);
  if (held_hotkeys.count(combo)) return false;
  for (const auto& [other, c] : hotkeys)
    if (c == combo) return false;  // ERROR_HOTKEY_ALREADY_REGISTERED
  if (hotkeys.count(id)) return false;
  hotkeys[id] = combo;
  return true;
}

bool FakeOs::UnregisterHotKey(WindowId window, int id) {
  log_.Add("UnregisterHotKey " + Hex(window) + " id " + std::to_string(id));
  if (Fails(Op::UnregisterHotKey)) return false;
  return hotkeys.erase(id) > 0;
}

std::string FakeOs::KeyName(unsigned vk) {
  const auto it = key_names.find(vk);
  return it == key_names.end() ? std::string() : it->second;
}

unsigned FakeOs::DoubleClickTime() {
  log_.Add("DoubleClickTime");
  return double_click_time;
}

Point FakeOs::CursorPos() {
  log_.Add("CursorPos");
  return cursor;
}

void FakeOs::SetForegroundWindow(WindowId window) { log_.Add("SetForegroundWindow " + Hex(window)); }

bool FakeOs::TrackMouse(WindowId window, unsigned hover_time_ms) {
  log_.Add("TrackMouse " + Hex(window) + " hover " + std::to_string(hover_time_ms));
  return !Fails(Op::TrackMouse);
}

std::uintptr_t FakeOs::LoadCursorResource(std::string_view name) {
  log_.Add("LoadCursorResource " + std::string(name));
  return Fails(Op::LoadCursorResource) ? 0 : cursor_handle;
}

std::optional<std::string> FakeOs::ReadFile(const std::string& path) {
  log_.Add("ReadFile " + path);
  if (Fails(Op::ReadFile)) throw Error("Unable to read " + path);  // exists, cannot be read
  const auto it = files.find(path);
  if (it == files.end()) return std::nullopt;
  return it->second;
}

bool FakeOs::IsReadOnly(const std::string& path) {
  return files.count(path) != 0 && read_only.count(path) != 0;
}

bool FakeOs::Held(const std::string& path) const {
  const auto it = held.find(path);
  return it != held.end() && it->second > (clock != nullptr ? clock->Now() : 0);
}

WriteResult FakeOs::ReplaceFile(const std::string& path, std::string_view contents) {
  log_.Add("ReplaceFile " + path);
  if (Fails(Op::ReplaceFile) || unwritable.count(path)) return WriteResult::Failed;
  if (Held(path)) return WriteResult::Busy;
  files[path] = std::string(contents);
  links.erase(path);
  ++replace_count;
  return WriteResult::Written;
}

FileLinks FakeOs::QueryFileLinks(const std::string& path) {
  log_.Add("QueryFileLinks " + path);
  const auto it = links.find(path);
  if (it != links.end()) return it->second;
  return {files.count(path) != 0 ? 1u : 0u, NameKind::Plain};
}

RewriteResult FakeOs::RewriteFile(const std::string& path, const std::string& copy,
                                  std::string_view contents) {
  log_.Add("RewriteFile " + path + " via " + copy);
  if (files.count(copy) != 0) return {WriteResult::Failed, false};  // never over a file
  if (Fails(Op::RewriteFile) || unwritable.count(path)) return {WriteResult::Failed, false};
  files[copy] = std::string(contents);
  if (torn.count(path)) {
    files[path] = std::string(contents.substr(0, contents.size() / 2));
    return {WriteResult::Torn, true};
  }
  const WriteResult write = Held(path) ? WriteResult::Busy : WriteResult::Written;
  if (write == WriteResult::Written) files[path] = std::string(contents);
  return {write, !DeleteFile(copy)};
}

namespace {

// Windows' wildcard match of a file name: "*" any run, "?" one character,
// letters without regard to case.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern.front() == '*') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip)
      if (Matches(pattern.substr(1), name.substr(skip))) return true;
    return false;
  }
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return !name.empty() && (pattern.front() == '?' || fold(pattern.front()) == fold(name.front())) &&
         Matches(pattern.substr(1), name.substr(1));
}

}  // namespace

std::vector<std::string> FakeOs::FindFiles(const std::string& pattern) {
  log_.Add("FindFiles " + pattern);
  if (Fails(Op::FindFiles)) return {};
  const std::size_t slash = pattern.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  std::vector<std::string> names;
  for (const auto& [path, contents] : files) {
    if (!path.starts_with(folder)) continue;
    const std::string name = path.substr(folder.size());
    if (name.find_first_of("\\/") == std::string::npos && Matches(pattern.substr(folder.size()), name))
      names.push_back(name);
  }
  return names;
}

bool FakeOs::DeleteFile(const std::string& path) {
  log_.Add("DeleteFile " + path);
  if (Fails(Op::DeleteFile) || Held(path)) return false;
  return files.erase(path) != 0;
}

void FakeOs::Sleep(unsigned ms) {
  log_.Add("Sleep " + std::to_string(ms));
  if (clock != nullptr) clock->Elapse(ms);
}

RegResult FakeOs::QueryRunValue(std::string_view name) {
  log_.Add("QueryRunValue " + std::string(name));
  if (Fails(Op::QueryRunValue)) return RegResult::Failed;
  return run_key_exists && run_values.count(std::string(name)) ? RegResult::Ok : RegResult::Missing;
}

RegResult FakeOs::SetRunValue(std::string_view name, std::string_view command) {
  log_.Add("SetRunValue " + std::string(name) + " = " + std::string(command));
  if (Fails(Op::SetRunValue)) return RegResult::Failed;
  if (!run_key_exists) return RegResult::Missing;
  run_values[std::string(name)] = std::string(command);
  return RegResult::Ok;
}

RegResult FakeOs::DeleteRunValue(std::string_view name) {
  log_.Add("DeleteRunValue " + std::string(name));
  if (Fails(Op::DeleteRunValue)) return RegResult::Failed;
  return run_key_exists && run_values.erase(std::string(name)) ? RegResult::Ok : RegResult::Missing;
}

RegResult FakeOs::ReadStartupApproved(std::string_view name, std::string* data) {
  log_.Add("ReadStartupApproved " + std::string(name));
  if (Fails(Op::ReadStartupApproved)) return RegResult::Failed;
  const auto it = startup_approved.find(std::string(name));
  if (!approved_key_exists || it == startup_approved.end()) return RegResult::Missing;
  *data = it->second;
  return RegResult::Ok;
}

RegResult FakeOs::WriteStartupApproved(std::string_view name, std::string_view data) {
  std::string bytes;
  for (const char c : data) bytes += Hex(static_cast<unsigned char>(c)).substr(2) + " ";
  log_.Add("WriteStartupApproved " + std::string(name) + " = " + bytes);
  if (Fails(Op::WriteStartupApproved)) return RegResult::Failed;
  if (!approved_key_exists) return RegResult::Missing;
  startup_approved[std::string(name)] = std::string(data);
  return RegResult::Ok;
}

void FakeOs::ShellOpen(WindowId owner, std::string_view target, ShowAs show) {
  log_.Add("ShellOpen " + Hex(owner) + " " + std::string(target) +
           (show == ShowAs::Maximized ? " maximized" : " normal"));
}

bool FakeOs::ShutdownReasonCreate(WindowId window, std::string_view reason) {
  log_.Add("ShutdownReasonCreate " + Hex(window) + " " + std::string(reason));
  if (!shutdown_reason_supported || Fails(Op::ShutdownReasonCreate)) return false;
  shutdown_reason = std::string(reason);
  return true;
}

bool FakeOs::ShutdownReasonDestroy(WindowId window) {
  log_.Add("ShutdownReasonDestroy " + Hex(window));
  if (!shutdown_reason_supported || Fails(Op::ShutdownReasonDestroy)) return false;
  shutdown_reason.reset();
  return true;
}

// --- FakeForm -------------------------------------------------------------------

FakeForm::FakeForm(FakeToolkit& toolkit, const ui::FormLayout& desc, ui::FormEvents& events,
                   ui::MainFormEvents* app_events, WindowId handle)
    : toolkit_(toolkit), layout_(desc), events_(events), app_events_(app_events), handle_(handle) {
  WindowId next = handle + 1;
  for (const ui::ControlRow& c : desc.Controls) {
    FakeControl control;
    control.desc = c;
    control.text = std::string(ui::InitialText(c));
    control.visible = (c.Flags & ui::kHidden) == 0;
    control.enabled = (c.Flags & ui::kDisabled) == 0;
    const auto parent = controls_.find(c.Parent);
    control.font = ui::InitialFont(c, parent != controls_.end() ? parent->second.font : desc.FormFont);
    if (c.ControlKind == ui::Kind::TabControl && !c.Text.empty()) control.items.emplace_back(c.Text);
    if (c.ControlKind == ui::Kind::DropDownList) control.value = -1;
    control.handle = next++;
    controls_.emplace(std::string(c.Name), std::move(control));
  }
  for (const std::size_t i : ui::SiblingOrder(desc)) z_order_.emplace_back(desc.Controls[i].Name);
}

FakeForm::~FakeForm() { toolkit_.Forget(this); }

FakeControl& FakeForm::Find(std::string_view control) {
  const auto it = controls_.find(control);
  if (it == controls_.end()) throw Error("Control '" + std::string(control) + "' not found");
  return it->second;
}

const FakeControl& FakeForm::Control(std::string_view control) const {
  return const_cast<FakeForm*>(this)->Find(control);
}

std::vector<std::string> FakeForm::Above(std::string_view control) const {
  const std::string_view parent = Control(control).desc.Parent;
  const auto at = std::find(z_order_.begin(), z_order_.end(), control);
  std::vector<std::string> above;
  for (auto it = at + 1; it != z_order_.end(); ++it)
    if (Control(*it).desc.Parent == parent) above.push_back(*it);
  return above;
}

WindowId FakeForm::ControlHandle(std::string_view control) const { return Control(control).handle; }

void FakeForm::Show() {
  toolkit_.log_.Add("Show " + std::string(layout_.ClassName));
  const bool was = visible_;
  visible_ = true;
  in_front_ = true;
  if (!was) toolkit_.Guard([this] { events_.OnShow(); });
}

void FakeForm::Hide() {
  if (visible_) toolkit_.log_.Add("Hide " + std::string(layout_.ClassName));
  visible_ = false;
  in_front_ = false;
}

void FakeForm::BringToFront() {
  toolkit_.log_.Add("BringToFront " + std::string(layout_.ClassName));
  in_front_ = true;
}

int FakeForm::ShowModal() {
  toolkit_.log_.Add("ShowModal " + std::string(layout_.ClassName));
  modal_result_ = 0;
  in_modal_ = true;
  Show();
  if (!toolkit_.on_modal.empty()) {
    auto hook = std::move(toolkit_.on_modal.front());
    toolkit_.on_modal.erase(toolkit_.on_modal.begin());
    toolkit_.Guard([&] { hook(*this); });
  }
  try {
    toolkit_.RunUntil([this] { return modal_result_ != 0 || toolkit_.terminated_; });
  } catch (...) {
    in_modal_ = false;
    throw;
  }
  in_modal_ = false;
  Hide();
  toolkit_.log_.Add("EndModal " + std::string(layout_.ClassName) + " " + std::to_string(modal_result_));
  return modal_result_;
}

void FakeForm::SetText(std::string_view control, std::string_view text) { Find(control).text = text; }

std::string FakeForm::Text(std::string_view control) const { return Control(control).text; }

void FakeForm::SetVisible(std::string_view control, bool visible) { Find(control).visible = visible; }

bool FakeForm::IsControlVisible(std::string_view control) const {
  // Hidden when it or any of its parents is hidden.
  for (const FakeControl* c = &Control(control);;) {
    if (!c->visible) return false;
    if (c->desc.Parent.empty()) return true;
    c = &Control(c->desc.Parent);
  }
}

void FakeForm::SetEnabled(std::string_view control, bool enabled) { Find(control).enabled = enabled; }


int FakeForm::Value(std::string_view control) const {
  const FakeControl& c = Control(control);
  if (c.desc.ControlKind == ui::Kind::SpinEdit) return ui::SpinEditValue(c.text);
  return c.value;
}

void FakeForm::SetValue(std::string_view control, int value) {
  FakeControl& c = Find(control);
  c.value = value;
  if (c.desc.ControlKind == ui::Kind::SpinEdit) c.text = std::to_string(value);
}

void FakeForm::AddItem(std::string_view control, std::string_view text) {
  Find(control).items.emplace_back(text);
}

std::string FakeForm::Item(std::string_view control, int index) const {
  const FakeControl& c = Control(control);
  if (index < 0 || static_cast<std::size_t>(index) >= c.items.size()) throw Error("List index out of bounds (" + std::to_string(index) + ")");
  return c.items[static_cast<std::size_t>(index)];
}

int FakeForm::ItemCount(std::string_view control) const {
  return static_cast<int>(Control(control).items.size());
}

void FakeForm::SetFont(std::string_view control, const ui::Font& font) { Find(control).font = font; }

ui::Font FakeForm::ControlFont(std::string_view control) const { return Control(control).font; }

void FakeForm::Click(std::string_view control) {
  const ui::Kind kind = Control(control).desc.ControlKind;
  if (const int result = ui::ModalResultOfClick(kind)) modal_result_ = result;
  if (kind == ui::Kind::CheckBox) Find(control).value = !Find(control).value;
  toolkit_.Guard([&] { events_.OnClick(control); });
}

void FakeForm::Close() {
  toolkit_.Guard([this] {
    switch (ui::AfterCloseQuery(events_.OnCloseQuery(), in_modal_)) {
      case ui::CloseAction::Stay:
        break;
      case ui::CloseAction::Cancel:
        modal_result_ = ui::kModalCancel;
        break;
      case ui::CloseAction::Hide:
        Hide();
        break;
    }
  });
}

void FakeForm::SelectTab(std::string_view control, int tab) {
  toolkit_.Guard([&] {
    if (!events_.OnTabChanging(control)) return;
    Find(control).value = tab;
    events_.OnTabChanged(control);
  });
}

void FakeForm::TypeText(std::string_view control, std::string_view text) { Find(control).text = text; }

void FakeForm::MouseMove(std::string_view control) {
  toolkit_.Guard([&] { events_.OnMouseMove(control); });
}

void FakeForm::MouseHover(std::string_view control) {
  toolkit_.Guard([&] { events_.OnMouseHover(control); });
}

void FakeForm::MouseLeave(std::string_view control) {
  toolkit_.Guard([&] { events_.OnMouseLeave(control); });
}

namespace {

// Records what is drawn; text is 6 pixels a byte wide and 13 pixels high.
class RecordingCanvas : public ui::Canvas {
 public:
  std::vector<std::string> ops;
  void FillBackground(const ui::Rect& r) override {
    ops.push_back("Fill " + std::to_string(r.Left) + "," + std::to_string(r.Top) + "," +
                  std::to_string(r.Right) + "," + std::to_string(r.Bottom));
  }
  ui::Size TextExtent(std::string_view text) override {
    int chars = 0;
    for (unsigned char c : text)
      if ((c & 0xC0) != 0x80) ++chars;
    return {6 * chars, 13};
  }
  void TextOut(int x, int y, std::string_view text) override {
    ops.push_back("Text " + std::to_string(x) + "," + std::to_string(y) + " " + std::string(text));
  }
};

}  // namespace

std::vector<std::string> FakeForm::DrawTab(std::string_view control, int tab, const ui::Rect& rect) {
  RecordingCanvas canvas;
  toolkit_.Guard([&] { events_.OnDrawTab(control, canvas, tab, rect, Value(control) == tab); });
  return canvas.ops;
}

// --- FakeTimer ----------------------------------------------------------------------

FakeTimer::FakeTimer(FakeToolkit& toolkit, unsigned interval, bool enabled,
                     std::function<void()> on_tick)
    : toolkit_(toolkit), interval_(interval), enabled_(false), on_tick_(std::move(on_tick)) {
  toolkit_.timers_.push_back(this);
  SetEnabled(enabled);
}

FakeTimer::~FakeTimer() { std::erase(toolkit_.timers_, this); }

void FakeTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled_) due_ = toolkit_.now_ + interval_;
}

void FakeTimer::SetInterval(unsigned ms) {
  interval_ = ms;
  if (enabled_) due_ = toolkit_.now_ + interval_;
}

// --- FakeToolkit ------------------------------------------------------------------------

FakeToolkit::~FakeToolkit() = default;

void FakeToolkit::Initialize() { log_.Add("Initialize"); }

void FakeToolkit::SetTitle(std::string_view title) {
  log_.Add("SetTitle " + std::string(title));
  title_ = title;
}

void FakeToolkit::SetShowMainForm(bool show) {
  log_.Add(std::string("SetShowMainForm ") + (show ? "1" : "0"));
  show_main_form = show;
}

void FakeToolkit::HideAppFromTaskbar() {
  log_.Add("HideAppFromTaskbar");
  app_hidden_from_taskbar = true;
}

std::unique_ptr<ui::Form> FakeToolkit::CreateMainForm(const ui::FormLayout& desc,
                                                      ui::MainFormEvents& events) {
  return MakeForm(desc, events, &events);
}

std::unique_ptr<ui::Form> FakeToolkit::CreateForm(const ui::FormLayout& desc, ui::FormEvents& events) {
  return MakeForm(desc, events, nullptr);
}

std::unique_ptr<ui::Form> FakeToolkit::MakeForm(const ui::FormLayout& desc, ui::FormEvents& events,
                                                ui::MainFormEvents* app_events) {
  log_.Add("CreateForm " + std::string(desc.ClassName));
  auto form = std::make_unique<FakeForm>(*this, desc, events, app_events, next_handle_);
  next_handle_ += 0x100;
  forms_.push_back(form.get());
  return form;
}

std::unique_ptr<ui::Timer> FakeToolkit::CreateTimer(ui::Form&, unsigned interval_ms, bool enabled,
                                                    std::function<void()> on_tick) {
  log_.Add("CreateTimer " + std::to_string(interval_ms) + (enabled ? " on" : " off"));
  return std::make_unique<FakeTimer>(*this, interval_ms, enabled, std::move(on_tick));
}

void FakeToolkit::Popup(ui::PopupMenu& menu, ui::Form&, Point at) {
  const std::vector<ui::ShownItem> shown = menu.Prepare();
  Popped p;
  p.at = at;
  p.time = now_;
  for (const ui::ShownItem& s : shown) {
    if (s.Separator) {
      p.lines.emplace_back("-");
    } else {
      p.lines.push_back(s.ShortCutText.empty() ? s.Caption : s.Caption + "\t" + s.ShortCutText);
    }
  }
  popups.push_back(std::move(p));
  log_.Add("Popup " + std::to_string(at.x) + "," + std::to_string(at.y));
  if (!menu_choice) return;
  const int command = menu_choice(shown);
  if (command == 0) return;
  // The choice reaches the owner through the queue, after the menu has closed.
  At(0, [&menu, command] {
    if (ui::MenuItem* item = menu.FindCommand(command)) item->Click();
  });
}

void FakeToolkit::AttachMenu(ui::PopupMenu& menu, ui::Form& owner) {
  log_.Add("AttachMenu");
  menus_[&owner] = &menu;
}

bool FakeToolkit::Command(ui::Form& owner, int command) {
  const auto it = menus_.find(&owner);
  if (it == menus_.end()) return false;
  ui::MenuItem* item = it->second->FindCommand(command);
  if (item == nullptr) return false;
  Guard([item] { item->Click(); });
  return true;
}

void FakeToolkit::MessageBox(std::string_view text, std::string_view caption, ui::MessageIcon icon) {
  log_.Add("MessageBox " + std::string(caption) + ": " + std::string(text));
  boxes.push_back(Box{std::string(text), std::string(caption), icon});
}

void FakeToolkit::SetScreenCursor(int id, std::uintptr_t cursor) {
  log_.Add("SetScreenCursor " + std::to_string(id));
  screen_cursors[id] = cursor;
}

void FakeToolkit::Run() {
  log_.Add("Run");
  while (!terminated_ && Step(UINT64_MAX)) {
  }
}

void FakeToolkit::Terminate() {
  log_.Add("Terminate");
  terminated_ = true;
}

void FakeToolkit::At(std::uint64_t delay_ms, std::function<void()> fn) {
  events_.push_back(Event{now_ + delay_ms, seq_++, std::move(fn)});
}

void FakeToolkit::Advance(std::uint64_t ms) {
  const std::uint64_t until = now_ + ms;
  while (Step(until)) {
  }
  now_ = std::max(now_, until);
}

bool FakeToolkit::Step(std::uint64_t limit) {
  // The earliest scripted or posted event, or the earliest timer tick; on a
  // tie, events queued earlier first, then timers.
  auto ev = std::min_element(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
    return a.time != b.time ? a.time < b.time : a.seq < b.seq;
  });
  FakeTimer* timer = nullptr;
  for (FakeTimer* t : timers_)
    if (t->enabled_ && (timer == nullptr || t->due_ < timer->due_)) timer = t;
  const std::uint64_t ev_time = ev == events_.end() ? UINT64_MAX : ev->time;
  const std::uint64_t tm_time = timer == nullptr ? UINT64_MAX : timer->due_;
  const std::uint64_t next = std::min(ev_time, tm_time);
  if (next == UINT64_MAX || next > limit) return false;
  now_ = std::max(now_, next);
  if (ev_time <= tm_time) {
    auto fn = std::move(ev->fn);
    events_.erase(ev);
    Guard(fn);
  } else {
    timer->due_ = now_ + std::max(1u, timer->interval_);
    auto tick = timer->on_tick_;
    Guard(tick);
  }
  return true;
}

void FakeToolkit::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    if (!Step(UINT64_MAX)) throw WaitsForever();
  }
}

void FakeToolkit::TrayMouse(FakeForm& form, ui::TrayMouse action) {
  if (ui::MainFormEvents* events = form.AppEvents()) Guard([&] { events->OnTrayMouse(action); });
}

void FakeToolkit::DisplayScaleChanged(FakeForm& form) {
  if (ui::MainFormEvents* events = form.AppEvents()) Guard([&] { events->OnDisplayScaleChanged(); });
}

void FakeToolkit::HotKey(FakeForm& form, int id) {
  if (ui::MainFormEvents* events = form.AppEvents()) Guard([&] { events->OnHotKey(id); });
}

ui::DeviceAnswer FakeToolkit::DeviceChange(FakeForm& form, ui::DeviceEvent event,
                                           std::span<const std::uint8_t> record) {
  ui::DeviceAnswer answer = ui::DeviceAnswer::Default;
  if (ui::MainFormEvents* events = form.AppEvents())
    Guard([&] { answer = events->OnDeviceChange(ui::DeviceNotice{event, record}); });
  return answer;
}

std::optional<bool> FakeToolkit::QueryEndSession(FakeForm& form, const ui::SessionEndQuery& query) {
  std::optional<bool> answer;
  if (ui::MainFormEvents* events = form.AppEvents())
    Guard([&] { answer = events->OnQueryEndSession(query); });
  return answer;
}

std::size_t FakeToolkit::RunningTimers() const {
  return static_cast<std::size_t>(
      std::count_if(timers_.begin(), timers_.end(), [](const FakeTimer* t) { return t->Enabled(); }));
}

FakeForm* FakeToolkit::FindForm(std::string_view class_name) const {
  for (FakeForm* f : forms_)
    if (f->Description().ClassName == class_name) return f;
  return nullptr;
}

void FakeToolkit::Guard(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const WaitsForever&) {
    throw;  // a test script error, not a program error
  } catch (const std::exception& e) {
    ui::ShowStandardError(*this, e.what());
  }
}

void FakeToolkit::Forget(FakeForm* form) {
  log_.Add("DestroyForm " + std::string(form->Description().ClassName));
  menus_.erase(form);
  std::erase(forms_, form);
}

}  // namespace bvx::fake
