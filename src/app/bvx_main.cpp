// The main window: the rooms put together, the start-up and shut-down
// sequences, the tray menu, the tray callback with the delayed pop-up, the
// handlers that hand their work to a room, and the program entry.
#include "app/bvx_main.h"

#include <exception>

#include "about/LinkLabel.h"
#include "about/about_form.h"
#include "platform/errors.h"
#include "settings/bvx_options.h"

namespace bvx {

TAboutForm::TAboutForm(Os& os, ui::Toolkit& toolkit)
    : os_(os),
      toolkit_(toolkit),
      window_(toolkit.CreateMainForm(kAboutFormLayout, *this)),
      TrayIcon(os, toolkit, *window_),
      doors_(os, *window_, drives),
      hotkeys_(os, toolkit, *window_, drives),
      guard_(os, toolkit, *window_, drives, *this),
      autostart_(os, toolkit),
      settings_(os, drives) {
  CreateLinkLabels();
  BuildTrayMenu();
  // Menu commands reach the window even before the menu was first shown.
  toolkit_.AttachMenu(TrayPopup, *window_);
  try {
    FormCreate();
  } catch (const std::exception& e) {
    // FormCreate ends at the failing step; the program runs on with what was done.
    ui::ShowStandardError(toolkit_, e.what());
  }
}

TAboutForm::~TAboutForm() {
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    ui::ShowStandardError(toolkit_, e.what());
  }
  PopupTimer.reset();
  LinkLabel1.reset();
  LinkLabel2.reset();
  window_.reset();
}

// --- start-up and shut-down ----------------------------------------------------------

void TAboutForm::FormCreate() {
  DiscoverDrives();

  PopupTimer = toolkit_.CreateTimer(*window_, 1000, false, [this] { OutDelay(); });
  PopupTimer->SetEnabled(false);
  PopupTimer->SetInterval(os_.DoubleClickTime());

  // No taskbar button and no Alt+Tab entry.
  toolkit_.HideAppFromTaskbar();

  ShowAutostart();

  LoadSettings();
  RegisterDriveHotKeys();
  AddTrayIcon();
}

void TAboutForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  TrayIcon.Delete();
  UnregisterDriveHotKeys();
  for (int k = 1; k <= drives.DriveCount; ++k) {
    TrayPopup.Remove(drives.DriveItems[k].OpenItem);
    drives.DriveItems[k].OpenItem = nullptr;
    TrayPopup.Remove(drives.DriveItems[k].CloseItem);
    drives.DriveItems[k].CloseItem = nullptr;
  }
}

// --- the tray menu ----------------------------------------------------------------------

// The static items of the tray menu, created with the form in declaration
// order (N1, N2, N3, N4, N5, mnuiStartup, mnuiOptions: command ids 1..7) and
// placed so that the menu reads N5, mnuiStartup, N2, mnuiOptions, N4, N3, N1.
void TAboutForm::BuildTrayMenu() {
  TrayPopup.ImageListResource = "IMGLMAIN";
  acAddToStartup.Caption = "Добавить в автозагрузку";
  acAddToStartup.OnExecute = [this] { acAddToStartupExecute(); };
  acDeletFromStartup.Caption = "Удалить из автозагрузки";
  acDeletFromStartup.OnExecute = [this] { acDeletFromStartupExecute(); };

  N1 = &TrayPopup.Insert(0, "N1", "Выход");
  N2 = &TrayPopup.Insert(0, "N2", "-");
  N3 = &TrayPopup.Insert(1, "N3", "-");
  N4 = &TrayPopup.Insert(1, "N4", "О программе...");
  N5 = &TrayPopup.Insert(0, "N5", "-");
  mnuiStartup = &TrayPopup.Insert(1, "mnuiStartup", "");
  mnuiOptions = &TrayPopup.Insert(3, "mnuiOptions", "Параметры...");
  N1->ImageIndex = 1;
  N4->ImageIndex = 0;
  mnuiOptions->ImageIndex = 2;
  N1->OnClick = [this](ui::MenuItem&) { N1Click(); };
  N4->OnClick = [this](ui::MenuItem&) { N4Click(); };
  mnuiOptions->OnClick = [this](ui::MenuItem&) { mnuiOptionsClick(); };
  mnuiStartup->BoundAction = &acAddToStartup;
}

namespace {

// Drive k's two tray items, at 2k-2 (open) and 2k-1 (close), handed to
// OpenCD or CloseCD when clicked.
void AddDriveItems(TAboutForm& form, int k) {
  Drives& drives = form.drives;
  const char letter = drives.DriveTable[k].Letter;
  DriveItemPair& items = drives.DriveItems[k];
  items.OpenItem = &form.TrayPopup.Insert(DoorCommand{k, true}.Index(), {}, DoorItemCaption(true, letter));
  items.CloseItem = &form.TrayPopup.Insert(DoorCommand{k, false}.Index(), {}, DoorItemCaption(false, letter));
  for (const bool open : {true, false}) {
    ui::MenuItem& item = open ? *items.OpenItem : *items.CloseItem;
    item.Tag = k;
    item.OnClick = [&form, open](ui::MenuItem& clicked) { open ? form.OpenCD(clicked) : form.CloseCD(clicked); };
  }
}

// The combination shown beside each drive item.
void ShowDriveShortCuts(Drives& drives, Os& os) {
  const auto key_name = [&os](unsigned vk) { return os.KeyName(vk); };
  for (int k = 1; k <= drives.DriveCount; ++k) {
    const TCDROM& d = drives.DriveTable[k];
    ui::MenuItem* open = drives.DriveItems[k].OpenItem;
    ui::MenuItem* close = drives.DriveItems[k].CloseItem;
    open->ShortCut = d.OpenShortCut;
    open->ShortCutText = ShortCutToText(d.OpenShortCut, key_name);
    close->ShortCut = d.CloseShortCut;
    close->ShortCutText = ShortCutToText(d.CloseShortCut, key_name);
  }
}

}  // namespace

// --- tray callback and pop-up ---------------------------------------------------------

void TAboutForm::WMTrayNotify(ui::TrayMouse action) {
  switch (action) {
    case ui::TrayMouse::LeftDoubleClick:
      OpenDefaultDrive();
      break;
    case ui::TrayMouse::RightDown:
      // A second press while a pop-up is pending keeps its due time. The
      // menu's images load during the double-click wait, not after it.
      if (!PopupTimer->Enabled()) {
        PopupTimer->SetEnabled(true);
        toolkit_.PrepareMenu(TrayPopup);
      }
      break;
    case ui::TrayMouse::RightDoubleClick:
      SuppressPopup = true;
      CloseDefaultDrive();
      break;
    case ui::TrayMouse::Other:
      break;
  }
}

void TAboutForm::OutDelay() {
  PopupTimer->SetEnabled(false);
  if (!SuppressPopup) {
    os_.SetForegroundWindow(window_->Handle());
    const Point at = os_.CursorPos();
    toolkit_.Popup(TrayPopup, *window_, at);
  }
  SuppressPopup = false;
}

void TAboutForm::OpenDefaultDrive() { RunDoorCommand({drives.DefaultDrive, true}); }

void TAboutForm::CloseDefaultDrive() { RunDoorCommand({drives.DefaultDrive, false}); }

void TAboutForm::N1Click() { toolkit_.Terminate(); }

void TAboutForm::N4Click() { window_->Show(); }

void TAboutForm::Button1Click() { window_->Hide(); }

// --- drives and doors: TDoors -----------------------------------------------------------

void TAboutForm::DiscoverDrives() {
  doors_.Discover();
  for (int k = 1; k <= drives.DriveCount; ++k) AddDriveItems(*this, k);
}

void TAboutForm::RunDoorCommand(DoorCommand command) {
  ui::MenuItem& item = TrayPopup.Items(command.Index());
  command.Open ? OpenCD(item) : CloseCD(item);
}

void TAboutForm::OpenCD(ui::MenuItem& item) { doors_.Open(item.Tag); }

void TAboutForm::CloseCD(ui::MenuItem& item) { doors_.Close(item.Tag); }

bool TAboutForm::QueryMediaPresent(std::uint8_t k) { return doors_.QueryMediaPresent(k); }

ui::DeviceAnswer TAboutForm::WMDeviceChange(const ui::DeviceNotice& notice) {
  if (doors_.DeviceChange(notice)) TrayIcon.SetTip(doors_.TrayTip());
  return ui::DeviceAnswer::Granted;
}

void TAboutForm::AddTrayIcon() { TrayIcon.Add(doors_.TrayTip()); }

// --- hotkeys: TDriveHotKeys ---------------------------------------------------------------

void TAboutForm::RegisterDriveHotKeys() { hotkeys_.Register(); }

void TAboutForm::UnregisterDriveHotKeys() { hotkeys_.Unregister(); }

void TAboutForm::WMHotKey(int id) {
  if (const std::optional<DoorCommand> door = HotKeyDoor(id, drives.DriveCount)) RunDoorCommand(*door);
}

// --- settings: TSettings and TfrmOptions ----------------------------------------------

std::string TAboutForm::SettingsFile() const { return settings_.File(); }

void TAboutForm::LoadSettings() {
  settings_.Load();
  ShowDriveShortCuts(drives, os_);
}

void TAboutForm::mnuiOptionsClick() {
  if (frmOptions != nullptr) return frmOptions->form->BringToFront();  // only one dialog
  TfrmOptions dialog(os_, toolkit_, SettingsFile(), drives, frmOptions);
  if (dialog.ShowModal() == ui::kModalOk) SettingsSaved();
}

// --- shutdown: TShutdownGuard -----------------------------------------------------------

bool TAboutForm::ShutdownGuard(const ui::SessionEndQuery& query) { return guard_.Query(query); }

// --- autostart: TAutostart ---------------------------------------------------------------

bool TAboutForm::IsInAutostart() { return autostart_.IsInAutostart(); }

void TAboutForm::ShowAutostart() {
  mnuiStartup->BoundAction = IsInAutostart() ? &acDeletFromStartup : &acAddToStartup;
}

void TAboutForm::acAddToStartupExecute() {
  autostart_.Add();
  ShowAutostart();  // the item tells what the registry holds now, whatever failed
}

void TAboutForm::acDeletFromStartupExecute() {
  autostart_.Remove();  // a failure is not reported: the item keeps offering it
  ShowAutostart();
}

// --- ui::FormEvents ---------------------------------------------------------------------

bool TAboutForm::OnCloseQuery() {
  // Closing the About window only hides it; the program never ends this way.
  window_->Hide();
  return false;
}

void TAboutForm::OnClick(std::string_view control) {
  if (control == "Button1") {
    Button1Click();
  } else if (control == "LinkLabel1") {
    LinkLabel1Click();
  } else if (control == "LinkLabel2") {
    LinkLabel2Click();
  }
}

TLinkLabel* TAboutForm::Link(std::string_view control) {
  if (LinkLabel1 && LinkLabel1->Name() == control) return LinkLabel1.get();
  if (LinkLabel2 && LinkLabel2->Name() == control) return LinkLabel2.get();
  return nullptr;
}

void TAboutForm::OnMouseMove(std::string_view control) {
  if (TLinkLabel* link = Link(control)) link->WMMouseMove();
}

void TAboutForm::OnMouseHover(std::string_view control) {
  if (TLinkLabel* link = Link(control)) link->WMMouseHover();
}

void TAboutForm::OnMouseLeave(std::string_view control) {
  if (TLinkLabel* link = Link(control)) link->WMMouseLeave();
}

void TAboutForm::OnTrayMouse(ui::TrayMouse action) { WMTrayNotify(action); }

void TAboutForm::OnHotKey(int id) { WMHotKey(id); }

ui::DeviceAnswer TAboutForm::OnDeviceChange(const ui::DeviceNotice& notice) {
  return WMDeviceChange(notice);
}

std::optional<bool> TAboutForm::OnQueryEndSession(const ui::SessionEndQuery& query) {
  return ShutdownGuard(query);
}

void TAboutForm::OnTaskbarCreated() {
  // Explorer came (back): the notification area is new and empty, or the
  // display scale changed.
  TrayIcon.AddAgain();
}

void TAboutForm::OnDisplayScaleChanged() { TrayIcon.ScaleChanged(); }

// --- the program entry --------------------------------------------------------------------

int BVX(Os& os, ui::Toolkit& toolkit) {
  try {
    LinkLabelInitialization(os, toolkit);
  } catch (const std::exception& e) {
    toolkit.SetTitle("Brimvex");
    ui::ShowStandardError(toolkit, e.what());
    return 1;
  }
  if (os.CreateNamedMutex("BVX_STARTED_MUTEX") == MutexResult::AlreadyExists) return 0;
  toolkit.Initialize();
  toolkit.SetTitle("Brimvex");
  toolkit.SetShowMainForm(false);
  TAboutForm form(os, toolkit);
  toolkit.Run();
  return 0;
}

}  // namespace bvx
