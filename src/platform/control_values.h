// What the toolkit's value controls mean, apart from any window system:
// the spin edit's text as a number, its arrows, the characters it takes,
// and the hotkey edit's value in shortcut form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bvx::ui {

// The number a spin edit's text stands for: optional leading blanks, an
// optional sign and decimal digits, nothing after them, within the int
// range. Any other text (empty included) reads as 0.
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

// Keys whose names come from the navigation block rather than the numeric
// keypad only with the extended-key flag (Home, arrows, Insert, Delete ...).
bool IsExtendedKey(unsigned vk);

}  // namespace bvx::ui
