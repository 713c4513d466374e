// Global hotkeys of the drives: the shortcut value, its text shown beside a
// tray item, the failure report and ErrorBox; TDriveHotKeys, which registers
// and releases the drives' hotkeys for the main window; and which door
// command a hotkey id stands for.
//
// Shortcut value: 16 bits, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt, the
// virtual-key code in the other 13 bits; 0 means no combination. Drive k's
// hotkey ids are 2k-2 (open) and 2k-1 (close).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "drives/drive_table.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

inline constexpr std::uint16_t kScShift = 0x2000;
inline constexpr std::uint16_t kScCtrl = 0x4000;
inline constexpr std::uint16_t kScAlt = 0x8000;
inline constexpr std::uint16_t kScKeyMask = 0x1FFF;

// The virtual-key code of a shortcut: the value without its modifier bits.
unsigned ShortCutKey(std::uint16_t shortcut);

// The name of a key when the keyboard layout gives none: letters, digits,
// F1..F24, the editing and cursor keys, the numeric pad and the punctuation
// keys of a US layout. Empty for a key it does not know.
std::string BuiltInKeyName(unsigned vk);

// The combination as the tray menu shows it: "Ctrl+Alt+[". Modifiers in the
// order Ctrl, Shift, Alt, then the key's name: key_name(vk) when that is not
// empty, else BuiltInKeyName(vk). Empty for 0 and for a key without a name.
std::string ShortCutToText(std::uint16_t shortcut, const std::function<std::string(unsigned)>& key_name);

// The two-line report shown when the open (or close) combination of the
// drive with that letter cannot be registered.
std::string HotKeyFailureText(bool open, char letter);

// Caption of the failure reports.
inline constexpr std::string_view kHotKeyErrorCaption = "BVX";

// A modal message box with the error icon and one OK button.
void ErrorBox(ui::Toolkit& toolkit, std::string_view text, std::string_view caption);

// The door command of hotkey id: drive k's open (2k-2) or close (2k-1)
// command; none for an id of no drive.
inline std::optional<DoorCommand> HotKeyDoor(int id, int drive_count) {
  if (id < 0 || id >= 2 * drive_count) return std::nullopt;
  return DoorCommand{id / 2 + 1, id % 2 == 0};
}

// The drives' hotkeys, registered for the main window from the shortcuts
// the drive table holds.
class TDriveHotKeys {
 public:
  TDriveHotKeys(Os& os, ui::Toolkit& toolkit, ui::Form& window, const Drives& drives)
      : os_(os), toolkit_(toolkit), window_(window), drives_(drives) {}

  // Drive by drive: both ids released first, whatever the shortcuts are,
  // then each combination that is set registered; each one that cannot be
  // registered is reported in an ErrorBox before the next is tried.
  void Register();
  // Releases the ids of the shortcuts the table holds now, whether their
  // registration succeeded or not.
  void Unregister();

 private:
  Os& os_;
  ui::Toolkit& toolkit_;
  ui::Form& window_;
  const Drives& drives_;
};

}  // namespace bvx
