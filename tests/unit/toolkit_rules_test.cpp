// The toolkit's rules apart from the window system: spin edit text and
// arrows, the characters a spin edit takes, the keyboard's tab walk and
// mnemonics, the order of sibling windows, hotkey words and shortcuts.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/toolkit_rules.h"
#include "platform/ui.h"

namespace bvx::ui {
namespace {

TEST(SpinEditValue, ReadsSignedDecimalHeldToTheIntRangeAndAnythingElseAsZero) {
  struct Case {
    std::string text;
    int value;
  };
  const Case cases[] = {
      {"0", 0},
      {"15", 15},
      {"0012", 12},
      {"-5", -5},
      {"+7", 7},
      {"  3", 3},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      // no integer: empty, sign alone, letters, blanks after, doubled signs
      {"", 0},
      {"-", 0},
      {"+", 0},
      {"1a", 0},
      {"a1", 0},
      {"3 ", 0},
      {"--1", 0},
      {"+-1", 0},
      {"1.5", 0},
      {"$10", 0},
      // beyond the int range: its end on that side
      {"2147483648", INT_MAX},
      {"-2147483649", INT_MIN},
      {"99999999999", INT_MAX},
      {"+0099999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
      {"99999999999x", 0},
      // digits of other scripts are no decimal digits here
      {"\xd9\xa3", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SpinEditValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(SpinEditStep, AddsOrSubtractsOneWithinTheIntRange) {
  struct Case {
    std::string text;
    int delta;
    std::string after;
  };
  const Case cases[] = {
      {"10", 1, "11"},
      {"10", -1, "9"},
      {"0", -1, "-1"},
      {"", 1, "1"},        // empty reads as 0
      {"abc", -1, "-1"},   // so does text that is no integer
      {" 4", 1, "5"},
      {"2147483647", 1, "2147483647"},
      {"-2147483648", -1, "-2147483648"},
      {"2147483647", -1, "2147483646"},
      {"99999999999", -1, "2147483646"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SpinEditStep(c.text, c.delta), c.after) << '"' << c.text << "\" " << c.delta;
}

TEST(IsSpinEditChar, TakesDigitsSignsAndControlCharacters) {
  for (char32_t ch = U'0'; ch <= U'9'; ++ch) EXPECT_TRUE(IsSpinEditChar(ch));
  for (char32_t ch : {U'+', U'-', U'\b', U'\x03', U'\x16', U'\x1a'}) EXPECT_TRUE(IsSpinEditChar(ch));
  for (char32_t ch : {U' ', U'a', U'Z', U'.', U',', U'$', U'\x7f', U'\u0663', U'\u0437'})
    EXPECT_FALSE(IsSpinEditChar(ch)) << static_cast<std::uint32_t>(ch);
}

TEST(TabWalk, ContainersAreWalkedWhereTheyStandWithTheirChildrenInTabOrder) {
  const ControlRow rows[] = {
      {.Name = "Box", .ControlKind = Kind::GroupBox, .TabOrder = 1},
      {.Name = "Ok", .ControlKind = Kind::OkButton, .TabOrder = 2},
      {.Name = "Caption", .ControlKind = Kind::Label},  // no tab order: last
      {.Name = "Second", .ControlKind = Kind::SpinEdit, .Parent = "Box", .TabOrder = 1},
      {.Name = "First", .ControlKind = Kind::CheckBox, .Parent = "Box", .TabOrder = 0},
      {.Name = "Name", .ControlKind = Kind::Button, .TabOrder = 0},
      {.Name = "Lost", .ControlKind = Kind::Button, .Parent = "Nowhere", .TabOrder = 0},
      {.Name = "Loop", .ControlKind = Kind::GroupBox, .Parent = "Loop"},
  };
  const FormLayout layout{.ClassName = "T", .Controls = rows};
  std::string walk;
  for (const std::size_t i : TabWalk(layout)) walk += std::string(rows[i].Name) + " ";
  EXPECT_EQ(walk, "Name Box First Second Ok Caption ");
}

TEST(SiblingOrder, LaterRowsLieAboveAndEachLabelDirectlyAboveItsField) {
  const ControlRow rows[] = {
      {.Name = "Box", .ControlKind = Kind::GroupBox},
      {.Name = "Cover", .ControlKind = Kind::GroupBox},              // overlaps Box: stays above
      {.Name = "Name", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "Edit"},
      {.Name = "Hint", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "Edit"},
      {.Name = "Edit", .ControlKind = Kind::SpinEdit, .Parent = "Box"},
      {.Name = "Other", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "Cover"},  // no sibling
      {.Name = "Self", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "Self"},
      {.Name = "Chain", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "Name"},  // a label
      {.Name = "List", .ControlKind = Kind::DropDownList, .Parent = "Box"},
      {.Name = "After", .ControlKind = Kind::Label, .Parent = "Box", .Labels = "List"},
  };
  const FormLayout layout{.ClassName = "T", .Controls = rows};
  std::string order;  // bottom first
  for (const std::size_t i : SiblingOrder(layout)) order += std::string(rows[i].Name) + " ";
  EXPECT_EQ(order, "Box Cover Edit Name Hint Other Self Chain List After ");
}

TEST(HotKeyWord, ConvertsToAndFromShortcuts) {
  struct Case {
    std::uint16_t shortcut;
    std::uint16_t word;
  };
  const Case cases[] = {
      {0x0000, 0x0000},  // empty
      {0xC0DB, 0x06DB},  // Ctrl+Alt+[
      {0xC0DD, 0x06DD},  // Ctrl+Alt+]
      {0x2070, 0x0170},  // Shift+F1
      {0xE041, 0x0741},  // Shift+Ctrl+Alt+A
      {0x0041, 0x0041},  // A without modifiers
      {0x4024, 0x0A24},  // Ctrl+Home: extended key
      {0x8026, 0x0C26},  // Alt+Up: extended key
      {0x002E, 0x082E},  // Delete: extended key
      {0x0067, 0x0067},  // numeric keypad 7 is not extended
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShortcutToHotKeyWord(c.shortcut), c.word) << std::hex << c.shortcut;
    EXPECT_EQ(HotKeyWordToShortcut(c.word), c.shortcut) << std::hex << c.word;
  }
}

TEST(HotKeyWord, ExtendedFlagIsNotPartOfTheShortcut) {
  // The control may report the extended flag for any key; the shortcut
  // holds only the modifiers and the key code.
  EXPECT_EQ(HotKeyWordToShortcut(0x0841), 0x0041);
  EXPECT_EQ(HotKeyWordToShortcut(0x0F41), 0xE041);
}

TEST(IsExtendedKey, NavigationBlockKeysOnly) {
  for (unsigned vk : {0x21u, 0x22u, 0x23u, 0x24u, 0x25u, 0x26u, 0x27u, 0x28u, 0x2Du, 0x2Eu, 0x6Fu,
                      0x90u})
    EXPECT_TRUE(IsExtendedKey(vk)) << std::hex << vk;
  for (unsigned vk : {0x08u, 0x0Du, 0x20u, 0x30u, 0x41u, 0x60u, 0x67u, 0x6Au, 0x70u, 0xDBu})
    EXPECT_FALSE(IsExtendedKey(vk)) << std::hex << vk;
}

TEST(IsMnemonicKey, AltLettersAreMnemonicsExceptInAHotkeyEdit) {
  struct Case {
    std::optional<Kind> focused;
    bool alt;
    bool takes_chars;
    bool mnemonic;
  };
  const Case cases[] = {
      {std::nullopt, false, false, true},   // the form itself has the focus
      {Kind::Button, false, false, true},   // a plain letter on a button
      {Kind::Button, true, false, true},
      {Kind::SpinEdit, false, true, false},  // typed into the field
      {Kind::SpinEdit, true, true, true},
      {Kind::HotKey, true, true, false},     // Alt+K is the combination
      {Kind::HotKey, false, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsMnemonicKey(c.focused, c.alt, c.takes_chars), c.mnemonic)
        << (c.focused ? static_cast<int>(*c.focused) : -1) << " alt " << c.alt;
}

}  // namespace
}  // namespace bvx::ui
