// Global hotkeys of the drives: registration, failure reports, dispatch.
#include "hotkeys/hotkeys.h"

#include <cctype>

namespace bvx {

unsigned ShortCutKey(std::uint16_t shortcut) { return shortcut & kScKeyMask; }

std::string BuiltInKeyName(unsigned vk) {
  if (vk >= 'A' && vk <= 'Z') return std::string(1, static_cast<char>(vk));
  if (vk >= '0' && vk <= '9') return std::string(1, static_cast<char>(vk));
  if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x6F);
  if (vk >= 0x60 && vk <= 0x69) return "Num " + std::to_string(vk - 0x60);
  switch (vk) {
    case 0x08: return "Backspace";
    case 0x09: return "Tab";
    case 0x0D: return "Enter";
    case 0x13: return "Pause";
    case 0x1B: return "Esc";
    case 0x20: return "Space";
    case 0x21: return "PgUp";
    case 0x22: return "PgDn";
    case 0x23: return "End";
    case 0x24: return "Home";
    case 0x25: return "Left";
    case 0x26: return "Up";
    case 0x27: return "Right";
    case 0x28: return "Down";
    case 0x2D: return "Ins";
    case 0x2E: return "Del";
    case 0x6A: return "Num *";
    case 0x6B: return "Num +";
    case 0x6D: return "Num -";
    case 0x6E: return "Num .";
    case 0x6F: return "Num /";
    // Punctuation keys as a US layout labels them.
    case 0xBA: return ";";
    case 0xBB: return "=";
    case 0xBC: return ",";
    case 0xBD: return "-";
    case 0xBE: return ".";
    case 0xBF: return "/";
    case 0xC0: return "`";
    case 0xDB: return "[";
    case 0xDC: return "\\";
    case 0xDD: return "]";
    case 0xDE: return "'";
    default: return {};
  }
}

std::string ShortCutToText(std::uint16_t shortcut, const std::function<std::string(unsigned)>& key_name) {
  if (shortcut == 0) return {};
  const unsigned vk = ShortCutKey(shortcut);
  std::string name = key_name ? key_name(vk) : std::string();
  if (name.empty()) name = BuiltInKeyName(vk);
  if (name.empty()) return {};
  std::string text;
  if (shortcut & kScCtrl) text += "Ctrl+";
  if (shortcut & kScShift) text += "Shift+";
  if (shortcut & kScAlt) text += "Alt+";
  return text + name;
}

std::string HotKeyFailureText(bool open, char letter) {
  std::string text = open ? "Не удалось зарегестрировать комбинацию горячих клавиш для открытия привода"
                          : "Не удалось зарегестрировать комбинацию горячих клавиш для закрытия привода";
  text += static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  text += ":.";
  text += "\r\n";
  text += "Выберите, пожалуйста, другую комбинацию клавиш.";
  return text;
}

void ErrorBox(ui::Toolkit& toolkit, std::string_view text, std::string_view caption) {
  toolkit.MessageBox(text, caption, ui::MessageIcon::Error);
}

// --- TDriveHotKeys ------------------------------------------------------------------

void TDriveHotKeys::Register() {
  const WindowId main = window_.Handle();
  for (int k = 1; k <= drives_.DriveCount; ++k) {
    const int open_id = 2 * k - 2;
    const int close_id = 2 * k - 1;
    // The drive's old combinations go first, whatever the new ones are.
    os_.UnregisterHotKey(main, open_id);
    os_.UnregisterHotKey(main, close_id);
    const TCDROM& d = drives_.DriveTable[k];
    if (d.OpenShortCut != 0 && !os_.RegisterHotKey(main, open_id, d.OpenShortCut)) {
      ErrorBox(toolkit_, HotKeyFailureText(true, d.Letter), kHotKeyErrorCaption);
    }
    if (d.CloseShortCut != 0 && !os_.RegisterHotKey(main, close_id, d.CloseShortCut)) {
      ErrorBox(toolkit_, HotKeyFailureText(false, d.Letter), kHotKeyErrorCaption);
    }
  }
}

void TDriveHotKeys::Unregister() {
  const WindowId main = window_.Handle();
  for (int k = 1; k <= drives_.DriveCount; ++k) {
    const TCDROM& d = drives_.DriveTable[k];
    if (d.OpenShortCut != 0) os_.UnregisterHotKey(main, 2 * k - 2);
    if (d.CloseShortCut != 0) os_.UnregisterHotKey(main, 2 * k - 1);
  }
}

}  // namespace bvx
