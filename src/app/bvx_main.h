// TAboutForm: the hidden main window and, when shown, the About window.
//
// It runs the start-up and shut-down sequences, owns the tray icon and the
// tray menu, and handles the tray callback, hotkeys, device changes and the
// end-of-session query. The handlers of each subsystem are defined in that
// subsystem's folder:
//   app/bvx_main.cpp        start-up, shut-down, tray callback, pop-up, menu,
//                           mnuiOptionsClick (the dialog: settings/bvx_options),
//                           the hotkeys (TDriveHotKeys: hotkeys/hotkeys),
//                           ShutdownGuard (TShutdownGuard: shutdown/),
//                           the doors (TDoors: drives/doors)
//   app/tray_icon.cpp       TTrayIcon, the notification-area icon itself
//   about/about_form.cpp    the About layout, link clicks
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

class TAboutForm : public ui::FormEvents, public DoorRoad {
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
  std::intptr_t WMDeviceChange(const ui::DeviceNotice& notice);
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
  // The two link labels of the About window, made with the window.
  void CreateLinkLabels();

  // --- ui::FormEvents ----------------------------------------------------------------
  bool OnCloseQuery() override;
  void OnClick(std::string_view control) override;
  void OnMouseMove(std::string_view control) override;
  void OnMouseHover(std::string_view control) override;
  void OnMouseLeave(std::string_view control) override;
  void OnTrayMouse(ui::TrayMouse action) override;
  void OnHotKey(int id) override;
  std::optional<std::intptr_t> OnDeviceChange(const ui::DeviceNotice& notice) override;
  std::optional<bool> OnQueryEndSession(const ui::SessionEndQuery& query) override;
  void OnTaskbarCreated() override;
  void OnDisplayScaleChanged() override;

  // --- state -------------------------------------------------------------------
  Os& os;
  ui::Toolkit& toolkit;
  std::unique_ptr<ui::Form> window;

  Drives drives;

  ui::PopupMenu TrayPopup;
  ui::MenuItem* N1 = nullptr;
  ui::MenuItem* N2 = nullptr;
  ui::MenuItem* N3 = nullptr;
  ui::MenuItem* N4 = nullptr;
  ui::MenuItem* N5 = nullptr;
  ui::MenuItem* mnuiStartup = nullptr;
  ui::MenuItem* mnuiOptions = nullptr;
  ui::Action acAddToStartup;
  ui::Action acDeletFromStartup;

  // The notification-area icon, made with the window.
  TTrayIcon TrayIcon;

  std::unique_ptr<ui::Timer> PopupTimer;
  bool SuppressPopup = false;

  std::unique_ptr<TLinkLabel> LinkLabel1;
  std::unique_ptr<TLinkLabel> LinkLabel2;

 private:
  void BuildTrayMenu();
  // Drive k's two tray items, at 2k-2 (open) and 2k-1 (close).
  void AddDriveItems(int k);
  // The combination shown beside each drive item.
  void ShowDriveShortCuts();
  // Hands the command's tray item to OpenCD or CloseCD.
  void RunDoorCommand(DoorCommand command) override;
  // The options dialog wrote the settings file: read back, hotkeys registered again.
  void SettingsSaved() {
    LoadSettings();
    RegisterDriveHotKeys();
  }

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
