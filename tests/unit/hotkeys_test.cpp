// Global hotkeys on the fake: the combination texts; registration order and
// ids, failure reports and release by TDriveHotKeys over a table of its own;
// the registration at start and the WM_HOTKEY dispatch in the program.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "hotkeys/hotkeys.h"
#include "program.h"

namespace bvx {
namespace {

using fake::FakeSystem;
const std::string kSecondLine = "Выберите, пожалуйста, другую комбинацию клавиш.";
const std::string kOpenFailed = "Не удалось зарегестрировать комбинацию горячих клавиш для открытия привода";
const std::string kCloseFailed = "Не удалось зарегестрировать комбинацию горячих клавиш для закрытия привода";

TEST(ShortCutText, ModifiersInOrderThenTheKeyName) {
  const std::map<unsigned, std::string> system_names = {{0xDB, "["}, {0x41, "Ф"}, {0x21, "Page Up"}};
  const auto system = [&](unsigned vk) {
    const auto it = system_names.find(vk);
    return it == system_names.end() ? std::string() : it->second;
  };
  const auto none = [](unsigned) { return std::string(); };
  struct Case {
    std::uint16_t shortcut;
    bool with_system;
    std::string text;
  };
  const Case cases[] = {
      {0, true, ""},
      {0xC0DB, true, "Ctrl+Alt+["},
      {0xC0DD, true, "Ctrl+Alt+]"},  // the system has no name: the built-in one
      {0xC0DB, false, "Ctrl+Alt+["},
      {0xE044, false, "Ctrl+Shift+Alt+D"},
      {0x6031, false, "Ctrl+Shift+1"},
      {0x2070, false, "Shift+F1"},
      {0x8087, false, "Alt+F24"},
      {0x0041, true, "Ф"},  // the layout's own name comes first
      {0x4021, true, "Ctrl+Page Up"},
      {0x4021, false, "Ctrl+PgUp"},
      {0x400D, false, "Ctrl+Enter"},
      {0x4020, false, "Ctrl+Space"},
      {0x402D, false, "Ctrl+Ins"},
      {0x4025, false, "Ctrl+Left"},
      {0x4060, false, "Ctrl+Num 0"},
      {0x4069, false, "Ctrl+Num 9"},
      {0x40BA, false, "Ctrl+;"},
      {0x40DC, false, "Ctrl+\\"},
      {0x40FF, false, ""},  // a key without any name shows nothing
      {0x4000, false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShortCutToText(c.shortcut, c.with_system ? std::function<std::string(unsigned)>(system)
                                                       : std::function<std::string(unsigned)>(none)),
              c.text)
        << std::hex << c.shortcut;
  }
}

TEST(ShortCutConversion, ModifierBitsAndVirtualKey) {
  struct Case {
    std::uint16_t shortcut;
    unsigned mods, vk;
  };
  const Case cases[] = {
      {0xC0DB, 3, 0xDB}, {0xE041, 7, 0x41}, {0x2041, 4, 0x41}, {0x4041, 2, 0x41},
      {0x8041, 1, 0x41}, {0x0070, 0, 0x70}, {0x1FFF, 0, 0x1FFF}, {0xFFFF, 7, 0x1FFF},
  };
  for (const Case& c : cases) {
    const ui::KeyCombination want{(c.mods & 4) != 0, (c.mods & 2) != 0, (c.mods & 1) != 0, c.vk};
    EXPECT_EQ(ui::ShortcutCombination(c.shortcut), want) << std::hex << c.shortcut;
    EXPECT_EQ(ShortCutKey(c.shortcut), c.vk) << std::hex << c.shortcut;
  }
}

struct HotKeysTest : ProgramTest {
  Drives drives = DriveTableOf("de");  // the table of TDriveHotKeys built without the program
  TDriveHotKeys Room() { return {sys.os, sys.ui, Window(), drives}; }

  // Sets the shortcuts of drive 1, 2 ... of a table.
  static void SetShortcuts(Drives& table, const std::vector<ShortcutPair>& pairs) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      TCDROM& d = table.DriveTable[static_cast<long>(i + 1)];
      d.OpenShortCut = pairs[i].Open;
      d.CloseShortCut = pairs[i].Close;
    }
  }
  // The hotkey calls logged since line `from`.
  std::vector<std::string> HotKeyCalls(std::size_t from = 0) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < sys.log.lines.size(); ++i) {
      const std::string& l = sys.log.lines[i];
      if (l.starts_with("RegisterHotKey") || l.starts_with("UnregisterHotKey")) out.push_back(l);
    }
    return out;
  }
};

TEST_F(HotKeysTest, StartRegistersDriveByDriveReleasingBothIdsFirst) {
  // Drive 1 (the default) falls back to Ctrl+Alt+[ / Ctrl+Alt+]; drive 2 has
  // none; drive 3 has Shift+Ctrl+Alt+A and Shift+B.
  Start({'d', 'e', 'f'}, {}, "[ShortCuts]\nOpenShortCut3=57409\nCloseShortCut3=8258\n");
  EXPECT_EQ(HotKeyCalls(), (std::vector<std::string>{
                               "UnregisterHotKey 0x100 id 0",
                               "UnregisterHotKey 0x100 id 1",
                               "RegisterHotKey 0x100 id 0 shortcut 0xc0db",
                               "RegisterHotKey 0x100 id 1 shortcut 0xc0dd",
                               "UnregisterHotKey 0x100 id 2",
                               "UnregisterHotKey 0x100 id 3",
                               "UnregisterHotKey 0x100 id 4",
                               "UnregisterHotKey 0x100 id 5",
                               "RegisterHotKey 0x100 id 4 shortcut 0xe041",
                               "RegisterHotKey 0x100 id 5 shortcut 0x2042",
                           }));
  // Registration comes after the load and before the tray icon.
  EXPECT_LT(sys.log.Find("ReadFile"), sys.log.Find("UnregisterHotKey"));
  EXPECT_LT(sys.log.Find("RegisterHotKey 0x100 id 5"), sys.log.Find("TrayAdd"));
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(HotKeysTest, EachFailedCombinationIsReportedInDriveOrderWithItsLetter) {
  struct Case {
    const char* name;
    std::vector<ShortcutPair> shortcuts;  // of D: and E:
    std::set<std::uint16_t> held;  // shortcuts held by other programs
    std::vector<std::string> reports;
    std::set<int> registered;  // the ids that work afterwards
  };
  const Case cases[] = {
      {"open of E: held elsewhere", {{0, 0}, {0xC0DB, 0xC0DD}}, {0xC0DB},
       {kOpenFailed + "E:.\r\n" + kSecondLine}, {3}},
      {"both of E: held elsewhere", {{0, 0}, {0xC0DB, 0xC0DD}}, {0xC0DB, 0xC0DD},
       {kOpenFailed + "E:.\r\n" + kSecondLine, kCloseFailed + "E:.\r\n" + kSecondLine}, {}},
      {"E: repeats the combination of D:", {{0xC0DB, 0xC0DD}, {0, 0xC0DB}}, {},
       {kCloseFailed + "E:.\r\n" + kSecondLine}, {0, 1}},
      {"D: close, then E: open", {{0xC0DB, 0x4041}, {0x4042, 0}},
       {0x4041, 0x4042},
       {kCloseFailed + "D:.\r\n" + kSecondLine, kOpenFailed + "E:.\r\n" + kSecondLine}, {0}},
  };
  for (const Case& c : cases) {
    Program p;
    FakeSystem& s = p.sys;
    for (std::uint16_t held : c.held) s.os.held_hotkeys.insert(ui::ShortcutCombination(held));
    SetShortcuts(drives, c.shortcuts);
    TDriveHotKeys(s.os, s.ui, p.Window(), drives).Register();
    ASSERT_EQ(s.ui.boxes.size(), c.reports.size()) << c.name;
    for (std::size_t i = 0; i < c.reports.size(); ++i) {
      EXPECT_EQ(s.ui.boxes[i].text, c.reports[i]) << c.name;
      EXPECT_EQ(s.ui.boxes[i].caption, "BVX") << c.name;
      EXPECT_EQ(s.ui.boxes[i].icon, ui::MessageIcon::Error) << c.name;
    }
    // The other combinations were still registered.
    std::set<int> registered;
    for (const auto& [id, combo] : s.os.hotkeys) registered.insert(id);
    EXPECT_EQ(registered, c.registered) << c.name;
  }
}

TEST_F(HotKeysTest, ACombinationMovedFromDrive2ToDrive1FailsForDrive1) {
  SetShortcuts(drives, {{0xC0DB, 0xC0DD}, {0x4041, 0}});  // Ctrl+A on drive 2
  TDriveHotKeys hotkeys = Room();
  hotkeys.Register();
  ASSERT_TRUE(sys.ui.boxes.empty());
  drives.DriveTable[1].OpenShortCut = 0x4041;  // Ctrl+A moves to drive 1 ...
  drives.DriveTable[2].OpenShortCut = 0x4042;  // ... and drive 2 takes Ctrl+B, in one step
  hotkeys.Register();
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, kOpenFailed + "D:.\r\n" + kSecondLine);
  EXPECT_EQ(sys.os.hotkeys.count(0), 0u);
  EXPECT_EQ(sys.os.hotkeys[1], ui::ShortcutCombination(0xC0DD));
  EXPECT_EQ(sys.os.hotkeys[2], ui::ShortcutCombination(0x4042));
}

TEST_F(HotKeysTest, AClearedShortcutLosesItsHotkeyAtTheNextRegistration) {
  SetShortcuts(drives, {{0xC0DB, 0xC0DD}});
  TDriveHotKeys hotkeys = Room();
  hotkeys.Register();
  ASSERT_EQ(sys.os.hotkeys.size(), 2u);
  drives.DriveTable[1].CloseShortCut = 0;
  hotkeys.Register();
  EXPECT_EQ(sys.os.hotkeys.size(), 1u);
  EXPECT_EQ(sys.os.hotkeys.count(1), 0u);
}

TEST_F(HotKeysTest, ReleaseLooksOnlyAtTheCurrentShortcuts) {
  // Drive 1's open combination is held elsewhere: it failed, yet it is released.
  sys.os.held_hotkeys = {ui::ShortcutCombination(0xC0DB)};
  SetShortcuts(drives, {{0xC0DB, 0}, {0, 0x4042}});
  TDriveHotKeys hotkeys = Room();
  hotkeys.Register();
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  const std::size_t before = sys.log.lines.size();
  hotkeys.Unregister();
  EXPECT_EQ(HotKeyCalls(before), (std::vector<std::string>{"UnregisterHotKey 0x100 id 0",
                                                           "UnregisterHotKey 0x100 id 3"}));
  EXPECT_TRUE(sys.os.hotkeys.empty());
}

TEST_F(HotKeysTest, WithNoDriveNoHotkeyCallIsMade) {
  Start({}, {}, "[BVX]\nOpenShortCut=16449\nCloseShortCut=16450\n");
  form->RegisterDriveHotKeys();
  sys.ui.HotKey(Main(), 0);
  form.reset();
  EXPECT_TRUE(HotKeyCalls().empty());
  EXPECT_EQ(sys.log.Count("Mci Set"), 0u);
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(HotKeysTest, WmHotKeyRunsTheDoorCommandOfItsDrive) {
  struct Case {
    std::uintptr_t id;
    std::vector<std::string> mci;
    bool broadcast;
  };
  const Case cases[] = {
      {0, {"Mci Set cdaudio!d: door open wait"}, true},
      {1, {"Mci Set cdaudio!d: door closed wait"}, false},
      {2, {"Mci Set cdaudio!f: door open wait"}, true},
      {3, {"Mci Set cdaudio!f: door closed wait"}, false},
      {4, {}, false},
      {5, {}, false},
      {51, {}, false},
      {1000, {}, false},
  };
  for (const Case& c : cases) {
    Program p;
    p.Start({'d', 'f'});
    FakeSystem& s = p.sys;
    const std::size_t before = s.log.lines.size();
    s.ui.HotKey(*s.ui.MainForm(), c.id);
    std::vector<std::string> mci;
    bool broadcast = false;
    for (std::size_t i = before; i < s.log.lines.size(); ++i) {
      const std::string& l = s.log.lines[i];
      if (l.starts_with("Mci ")) mci.push_back(l.substr(0, l.find(" |")));
      if (l.starts_with("Broadcast")) broadcast = true;
    }
    EXPECT_EQ(mci, c.mci) << c.id;
    EXPECT_EQ(broadcast, c.broadcast) << c.id;
    EXPECT_TRUE(s.ui.boxes.empty()) << c.id;
  }
}

}  // namespace
}  // namespace bvx
