// The toolkit's rules, apart from any window system. The Win32 toolkit and
// the tests' fake both follow these and nothing else: what a click on an OK
// or Cancel button does to a modal form, what closing a form does, which
// font a control starts with, the spin edit's text as a number, its arrows
// and the characters it takes, the keyboard's tab order and mnemonics, the
// order of sibling windows, and the hotkey edit's value in shortcut form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"

namespace bvx::ui {

// The modal result a click on a control of this kind sets before its click
// handler runs: OK buttons kModalOk, Cancel buttons kModalCancel, else 0.
int ModalResultOfClick(Kind kind);

// What happens after the close box (or Alt+F4) once the form's close query
// has answered.
enum class CloseAction : std::uint8_t {
  Stay,    // the close query refused
  Cancel,  // a modal form ends with kModalCancel
  Hide,    // any other form is hidden, never destroyed
};
CloseAction AfterCloseQuery(bool allowed, bool modal);

// The font a control starts with: its own, else its parent's (the form's
// for a control on the form).
const Font& InitialFont(const ControlRow& row, const Font& parent_font);

// The text a control's window starts with: the row's text; "0" for a spin
// edit whose row gives none; nothing for the kinds whose text is no caption
// (hotkey, list, tab control, image, bevel).
std::string_view InitialText(const ControlRow& row);

// Whether the keyboard can move to a control of this kind (Tab, mnemonics).
bool IsTabStopKind(Kind kind);

// Whether a typed character is a mnemonic, acting on the control whose
// caption underlines it. focused is the kind of the control that has the
// focus (none: the form itself), alt whether Alt is held, takes_chars
// whether that control asks for typed characters. With Alt a character is
// a mnemonic, without it only where the focused control takes none; in a
// hotkey edit never, as every key pressed there, Alt+K included, is the
// combination it records.
bool IsMnemonicKey(std::optional<Kind> focused, bool alt, bool takes_chars);

// The rows of a layout in the keyboard's order: the children of the form by
// their TabOrder column (rows without one last, in row order), each followed
// at once by its own children in the same way. Rows whose parent is missing
// are left out.
std::vector<std::size_t> TabWalk(const FormLayout& layout);

// The rows of a layout in their windows' order among siblings (z-order),
// the bottom one first. A later row lies above an earlier one, so that
// where controls overlap the later covers the earlier; but a row that
// labels a field (ControlRow::Labels) lies directly above that field. A
// screen reader names an edit, hotkey edit or list by the first static text
// above it among its siblings ("Providing the Name Property": GetWindow
// with GW_HWNDPREV), and that is then its label. Several labels of one field
// lie above it in row order, the first nearest. A Labels that names no
// sibling, its own row or a row with a Labels of its own leaves its row
// where the row order puts it.
std::vector<std::size_t> SiblingOrder(const FormLayout& layout);

// The number a spin edit's text stands for: optional leading blanks, an
// optional sign and decimal digits, nothing after them. A number beyond the
// int range reads as the end of the range on its side (INT_MAX or INT_MIN).
// Any other text (empty included) reads as 0.
int SpinEditValue(std::string_view text);

// The text after pressing an arrow: the value of text plus delta (+1 or -1),
// held within the int range, in decimal.
std::string SpinEditStep(std::string_view text, int delta);

// Whether a typed character may go into a spin edit: digits, "+", "-", and
// control characters (Backspace, Ctrl+C and the like).
bool IsSpinEditChar(char32_t ch);

// The hotkey control's word (key code in the low byte; high byte 1 Shift,
// 2 Ctrl, 4 Alt, 8 extended key) and the shortcut value (0x2000 Shift,
// 0x4000 Ctrl, 0x8000 Alt, key code below). The extended flag is not part of
// a shortcut; it is set again for the keys that need it to show their
// navigation-block names.
std::uint16_t HotKeyWordToShortcut(std::uint16_t word);
std::uint16_t ShortcutToHotKeyWord(std::uint16_t shortcut);

// A shortcut value taken apart for a system-wide hotkey.
struct KeyCombination {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  unsigned key = 0;  // the virtual-key code
  auto operator<=>(const KeyCombination&) const = default;
};
KeyCombination ShortcutCombination(std::uint16_t shortcut);

// Keys whose names come from the navigation block rather than the numeric
// keypad only with the extended-key flag (Home, arrows, Insert, Delete ...).
bool IsExtendedKey(unsigned vk);

}  // namespace bvx::ui
