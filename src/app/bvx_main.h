// TAboutForm: the hidden main window and, when shown, the About window; the
// program's composition root.
//
// It holds the drive table, the tray menu with its items, and one object per
// room, each built from the platform interfaces and the data it needs:
//   TTrayIcon       app/tray_icon            the notification-area icon
//   TDoors          drives/doors             discovery, disc query, doors, disc flags
//   TDriveHotKeys   hotkeys/hotkeys          the drives' hotkeys
//   TSettings       settings/settings        reading the settings file
//   TfrmOptions     settings/bvx_options     the options dialog, made at each opening
//   TShutdownGuard  shutdown/shutdown_guard  the end of a session
//   TAutostart      about/autostart          the autostart entry
//   TLinkLabel      about/LinkLabel          the About window's two links
// Every handler the program's design names is a member of a few lines that
// hands the work to its room; FormCreate and FormDestroy run the start-up
// and shut-down sequences. The members are defined in app/bvx_main.cpp, the
// About window's in about/about_form.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "about/autostart.h"
#include "app/tray_icon.h"
#include "drives/doors.h"
#include "drives/drive_table.h"
#include "hotkeys/hotkeys.h"
#include "platform/menu.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "shutdown/shutdown_guard.h"

namespace bvx {

class TfrmOptions;
class TLinkLabel;

// Command ids of the static tray items: they are created first, in the
// form's declaration order, so a test driver can send WM_COMMAND with them.
inline constexpr int kCmdExit = 1;     // N1 "Выход"
inline constexpr int kCmdAbout = 4;    // N4 "О программе..."
inline constexpr int kCmdStartup = 6;  // mnuiStartup
inline constexpr int kCmdOptions = 7;  // mnuiOptions

class TAboutForm : public ui::MainFormEvents, public DoorRoad {
  // The platform and the window, which every room is built on; first in the
  // object, where they are reached with the shortest code.
  Os& os_;
  ui::Toolkit& toolkit_;
  std::unique_ptr<ui::Form> window_;

 public:
  // Creates the window hidden (class TAboutForm) and runs FormCreate behind
  // the dispatch boundary: an error ends FormCreate at that step, is shown in
  // the standard error box, and the program runs on.
  TAboutForm(Os& os, ui::Toolkit& toolkit);
  // FormDestroy, then the window.
  ~TAboutForm() override;
  TAboutForm(const TAboutForm&) = delete;
  TAboutForm& operator=(const TAboutForm&) = delete;

  // --- start-up and shut-down ------------------------------------------
  void FormCreate();
  void FormDestroy();

  // --- drives and doors -------------------------------------------------
  void DiscoverDrives();
  void OpenCD(ui::MenuItem& item);
  void CloseCD(ui::MenuItem& item);
  bool QueryMediaPresent(std::uint8_t k);
  // Always taken: a removal request is never refused.
  ui::DeviceAnswer WMDeviceChange(const ui::DeviceNotice& notice);
  // Adds the tray icon with the current tooltip (TrayIcon retries a refused add).
  void AddTrayIcon();

  // --- tray callback and menu -------------------------------------------
  void WMTrayNotify(ui::TrayMouse action);
  void OutDelay();
  void OpenDefaultDrive();
  void CloseDefaultDrive();
  void N1Click();
  void N4Click();
  void Button1Click();

  // --- hotkeys ------------------------------------------------------------
  void RegisterDriveHotKeys();
  void UnregisterDriveHotKeys();
  void WMHotKey(int id);

  // --- settings -------------------------------------------------------------
  // The settings file: the executable's path with its extension replaced.
  std::string SettingsFile() const;
  void LoadSettings();
  void mnuiOptionsClick();

  // --- shutdown ------------------------------------------------------------------
  // The answer to an end-of-session query: always true, the session may end.
  bool ShutdownGuard(const ui::SessionEndQuery& query);

  // --- autostart and about ------------------------------------------------------
  bool IsInAutostart();
  // Binds mnuiStartup to the action that fits what the registry holds.
  void ShowAutostart();
  void acAddToStartupExecute();
  void acDeletFromStartupExecute();
  void LinkLabel1Click();
  void LinkLabel2Click();

  // --- ui::MainFormEvents ------------------------------------------------------------
  bool OnCloseQuery() override;
  void OnClick(std::string_view control) override;
  void OnMouseMove(std::string_view control) override;
  void OnMouseHover(std::string_view control) override;
  void OnMouseLeave(std::string_view control) override;
  void OnTrayMouse(ui::TrayMouse action) override;
  void OnHotKey(int id) override;
  ui::DeviceAnswer OnDeviceChange(const ui::DeviceNotice& notice) override;
  std::optional<bool> OnQueryEndSession(const ui::SessionEndQuery& query) override;
  void OnTaskbarCreated() override;
  void OnDisplayScaleChanged() override;

  // --- what the rooms share ---------------------------------------------------
  Drives drives;

  ui::PopupMenu TrayPopup;
  ui::MenuItem* N1 = nullptr;
  ui::MenuItem* N4 = nullptr;
  ui::MenuItem* mnuiStartup = nullptr;
  ui::MenuItem* mnuiOptions = nullptr;

  std::unique_ptr<ui::Timer> PopupTimer;
  bool SuppressPopup = false;

 private:
  void BuildTrayMenu();
  // The two link labels of the About window, made with the window.
  void CreateLinkLabels();
  // The link label with that component name, if it is one.
  TLinkLabel* Link(std::string_view control);
  // Hands the command's tray item to OpenCD or CloseCD.
  void RunDoorCommand(DoorCommand command) override;
  // The options dialog wrote the settings file: read back, hotkeys registered again.
  void SettingsSaved() {
    LoadSettings();
    RegisterDriveHotKeys();
  }

  ui::MenuItem* N2 = nullptr;
  ui::MenuItem* N3 = nullptr;
  ui::MenuItem* N5 = nullptr;
  ui::Action acAddToStartup;
  ui::Action acDeletFromStartup;

  // The notification-area icon, made with the window.
  TTrayIcon TrayIcon;
  std::unique_ptr<TLinkLabel> LinkLabel1;
  std::unique_ptr<TLinkLabel> LinkLabel2;

  // The options dialog while it is open.
  TfrmOptions* frmOptions = nullptr;

  TDoors doors_;
  TDriveHotKeys hotkeys_;
  TShutdownGuard guard_;
  TAutostart autostart_;
  TSettings settings_;
  bool destroyed_ = false;
};

// The program entry: single instance, application object, main window,
// message loop. Returns the exit code.
int BVX(Os& os, ui::Toolkit& toolkit);

}  // namespace bvx
