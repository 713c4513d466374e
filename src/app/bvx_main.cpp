// The main window: start-up and shut-down, the tray callback, the delayed
// pop-up of the tray menu, and the program entry.
#include "app/bvx_main.h"

#include <exception>

#include "about/LinkLabel.h"
#include "about/about_form.h"
#include "platform/errors.h"
#include "settings/bvx_options.h"

namespace bvx {

TAboutForm::TAboutForm(Os& os_, ui::Toolkit& toolkit_)
    : os(os_),
      toolkit(toolkit_),
      window(toolkit.CreateForm(kAboutFormLayout, *this)),
      TrayIcon(os, toolkit, *window),
      doors_(os, *window, drives),
      hotkeys_(os, toolkit, *window, drives),
      guard_(os, toolkit, *window, drives, *this),
      autostart_(os, toolkit),
      settings_(os, drives) {
  CreateLinkLabels();
  BuildTrayMenu();
  // Menu commands reach the window even before the menu was first shown.
  toolkit.AttachMenu(TrayPopup, *window);
  try {
    FormCreate();
  } catch (const std::exception& e) {
    // FormCreate ends at the failing step; the program runs on with what was done.
    ui::ShowStandardError(toolkit, e.what());
  }
}

TAboutForm::~TAboutForm() {
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    ui::ShowStandardError(toolkit, e.what());
  }
  PopupTimer.reset();
  LinkLabel1.reset();
  LinkLabel2.reset();
  window.reset();
}

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

void TAboutForm::FormCreate() {
  DiscoverDrives();

  PopupTimer = toolkit.CreateTimer(*window, 1000, false, [this] { OutDelay(); });
  PopupTimer->SetEnabled(false);
  PopupTimer->SetInterval(os.DoubleClickTime());

  // No taskbar button and no Alt+Tab entry.
  toolkit.HideAppFromTaskbar();

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

void TAboutForm::DiscoverDrives() {
  doors_.Discover();
  for (int k = 1; k <= drives.DriveCount; ++k) AddDriveItems(k);
}

void TAboutForm::AddDriveItems(int k) {
  const char letter = drives.DriveTable[k].Letter;
  DriveItemPair& items = drives.DriveItems[k];
  items.OpenItem = &TrayPopup.Insert(DoorCommand{k, true}.Index(), {}, DoorItemCaption(true, letter));
  items.CloseItem = &TrayPopup.Insert(DoorCommand{k, false}.Index(), {}, DoorItemCaption(false, letter));
  for (const bool open : {true, false}) {
    ui::MenuItem& item = open ? *items.OpenItem : *items.CloseItem;
    item.Tag = k;
    item.OnClick = [this, open](ui::MenuItem& clicked) { open ? OpenCD(clicked) : CloseCD(clicked); };
  }
}

void TAboutForm::OpenCD(ui::MenuItem& item) { doors_.Open(item.Tag); }

void TAboutForm::CloseCD(ui::MenuItem& item) { doors_.Close(item.Tag); }

bool TAboutForm::QueryMediaPresent(std::uint8_t k) { return doors_.QueryMediaPresent(k); }

std::intptr_t TAboutForm::WMDeviceChange(const ui::DeviceNotice& notice) {
  if (doors_.DeviceChange(notice)) TrayIcon.SetTip(doors_.TrayTip());
  return -1;
}

void TAboutForm::AddTrayIcon() { TrayIcon.Add(doors_.TrayTip()); }

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
        toolkit.PrepareMenu(TrayPopup);
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
    os.SetForegroundWindow(window->Handle());
    const Point at = os.CursorPos();
    toolkit.Popup(TrayPopup, *window, at);
  }
  SuppressPopup = false;
}

void TAboutForm::OpenDefaultDrive() { RunDoorCommand({drives.DefaultDrive, true}); }

void TAboutForm::CloseDefaultDrive() { RunDoorCommand({drives.DefaultDrive, false}); }

void TAboutForm::RunDoorCommand(DoorCommand command) {
  ui::MenuItem& item = TrayPopup.Items(command.Index());
  command.Open ? OpenCD(item) : CloseCD(item);
}

void TAboutForm::RegisterDriveHotKeys() { hotkeys_.Register(); }

void TAboutForm::UnregisterDriveHotKeys() { hotkeys_.Unregister(); }

void TAboutForm::WMHotKey(int id) {
  if (const std::optional<DoorCommand> door = HotKeyDoor(id, drives.DriveCount)) RunDoorCommand(*door);
}

void TAboutForm::mnuiOptionsClick() {
  if (frmOptions != nullptr) return frmOptions->form->BringToFront();  // only one dialog
  TfrmOptions dialog(os, toolkit, SettingsFile(), drives, frmOptions);
  if (dialog.ShowModal() == ui::kModalOk) SettingsSaved();
}

std::string TAboutForm::SettingsFile() const { return settings_.File(); }

void TAboutForm::LoadSettings() {
  settings_.Load();
  ShowDriveShortCuts();
}

void TAboutForm::ShowDriveShortCuts() {
  const auto key_name = [this](unsigned vk) { return os.KeyName(vk); };
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

void TAboutForm::N1Click() { toolkit.Terminate(); }

void TAboutForm::N4Click() { window->Show(); }

void TAboutForm::Button1Click() { window->Hide(); }

bool TAboutForm::OnCloseQuery() {
  // Closing the About window only hides it; the program never ends this way.
  window->Hide();
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

namespace {
TLinkLabel* FindLink(TAboutForm& f, std::string_view control) {
  if (f.LinkLabel1 && f.LinkLabel1->Name() == control) return f.LinkLabel1.get();
  if (f.LinkLabel2 && f.LinkLabel2->Name() == control) return f.LinkLabel2.get();
  return nullptr;
}
}  // namespace

void TAboutForm::OnMouseMove(std::string_view control) {
  if (TLinkLabel* link = FindLink(*this, control)) link->WMMouseMove();
}

void TAboutForm::OnMouseHover(std::string_view control) {
  if (TLinkLabel* link = FindLink(*this, control)) link->WMMouseHover();
}

void TAboutForm::OnMouseLeave(std::string_view control) {
  if (TLinkLabel* link = FindLink(*this, control)) link->WMMouseLeave();
}

void TAboutForm::OnTrayMouse(ui::TrayMouse action) { WMTrayNotify(action); }

void TAboutForm::OnHotKey(int id) { WMHotKey(id); }

std::optional<std::intptr_t> TAboutForm::OnDeviceChange(const ui::DeviceNotice& notice) {
  return WMDeviceChange(notice);
}

std::optional<bool> TAboutForm::OnQueryEndSession(const ui::SessionEndQuery& query) {
  return ShutdownGuard(query);
}

bool TAboutForm::ShutdownGuard(const ui::SessionEndQuery& query) { return guard_.Query(query); }

void TAboutForm::OnTaskbarCreated() {
  // Explorer came (back): the notification area is new and empty, or the
  // display scale changed.
  TrayIcon.AddAgain();
}

void TAboutForm::OnDisplayScaleChanged() { TrayIcon.ScaleChanged(); }

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
