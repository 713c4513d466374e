// The settings file on the fake: its name, the load order and its defaults
// (TSettings over a table of its own), the shortcut texts of the tray items
// (the program), the save order, what a save keeps, and saves that fail or
// stop half-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "program.h"
#include "settings/ini.h"
#include "settings/settings.h"

namespace bvx {
namespace {

using fake::FakeSystem;

struct SettingsTest : ProgramTest {
  Drives drives;  // the table of a TSettings of its own
  // Loads the file (none: no file) into a table of drives with these letters.
  void Load(std::string_view letters, std::optional<std::string> file = std::nullopt) {
    if (file) sys.os.files[kIni] = *file;
    drives = DriveTableOf(letters);
    TSettings(sys.os, drives).Load();
  }
  TCDROM& Entry(int k) { return drives.DriveTable[k]; }
  bool Save(int position, int wait, std::vector<ShortcutPair> pairs, std::vector<std::uint8_t> flags) {
    return SaveSettings(sys.os, sys.ui, kIni, position, wait, pairs, flags);
  }
};

// A file as Notepad's "Unicode" saves it: UTF-16 with its byte-order mark.
std::string Utf16File(std::u16string_view text, bool big_endian = false) {
  std::string bytes;
  for (const char16_t u : u"\uFEFF" + std::u16string(text)) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

TEST(SettingsFileName, ReplacesOrAppendsTheExtensionOfTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Program Files\\Brimvex\\BVX.exe", "C:\\Program Files\\Brimvex\\BVX.ini"},
      {"C:\\My.Apps\\BVX", "C:\\My.Apps\\BVX.ini"},
      {"C:\\My.Apps\\BVX.EXE", "C:\\My.Apps\\BVX.ini"},
      {"C:\\Tools\\bvx.tar.exe", "C:\\Tools\\bvx.tar.ini"},
      {"C:\\Tools\\BVX.", "C:\\Tools\\BVX.ini"},
      {"\\\\server\\share.d\\BVX", "\\\\server\\share.d\\BVX.ini"},
      {"/opt/my.apps/bvx", "/opt/my.apps/bvx.ini"},
      {"C:BVX.exe", "C:BVX.ini"},
  };
  for (const auto& [exe, ini] : cases) EXPECT_EQ(SettingsFileName(exe), ini) << exe;
}

TEST_F(SettingsTest, SettingsFileFollowsTheModulePath) {
  sys.os.module_path = "D:\\Portable.Apps\\Brimvex";
  EXPECT_EQ(TSettings(sys.os, drives).File(), "D:\\Portable.Apps\\Brimvex.ini");
}

TEST_F(SettingsTest, LoadFollowsTheReadOrderAndItsDefaults) {
  struct Expect {
    std::uint16_t open, close;
    std::uint32_t wait;
    bool track;
  };
  struct Case {
    const char* name;
    std::set<char> cdroms;
    std::optional<std::string> file;
    int default_drive;
    std::vector<Expect> drives;
  };
  constexpr std::uint16_t O = 0xC0DB, C = 0xC0DD;
  const Case cases[] = {
      {"no file, two drives", {'d', 'e'}, std::nullopt, 1, {{O, C, 10, true}, {0, 0, 10, true}}},
      {"Default too high: the BVX shortcuts go to drive 1", {'d', 'e'},
       "[BVX]\r\nDefault=3\r\nOpenShortCut=16449\r\n", 1, {{0x4041, C, 10, true}, {0, 0, 10, true}}},
      {"BVX open cleared, no ShortCuts", {'d', 'e'}, "[BVX]\nDefault=1\nOpenShortCut=0\n", 1,
       {{0, C, 10, true}, {0, 0, 10, true}}},
      {"the ShortCuts key wins over BVX", {'d', 'e'},
       "[BVX]\nDefault=2\nOpenShortCut=49371\n[ShortCuts]\nOpenShortCut2=0\n", 2,
       {{0, 0, 10, true}, {0, C, 10, true}}},
      {"DoTrack true, 2 and 0", {'d', 'e', 'f'}, "[Track]\nDoTrack1=true\nDoTrack2=2\nDoTrack3=0\n", 1,
       {{O, C, 10, true}, {0, 0, 10, true}, {0, 0, 10, false}}},
      {"WaitFor 0x1E", {'d', 'e'}, "[BVX]\nWaitFor=0x1E\n", 1, {{O, C, 30, true}, {0, 0, 30, true}}},
      {"WaitFor $1E", {'d'}, "[BVX]\nWaitFor=$1E\n", 1, {{O, C, 30, true}}},
      {"negative WaitFor is 0", {'d'}, "[BVX]\nWaitFor=-5\n", 1, {{O, C, 0, true}}},
      {"largest WaitFor", {'d'}, "[BVX]\nWaitFor=2147483647\n", 1, {{O, C, 2147483647u, true}}},
      {"WaitFor beyond 32 bits is missing", {'d'}, "[BVX]\nWaitFor=4294967306\n", 1, {{O, C, 10, true}}},
      {"Default 0 is drive 1", {'d', 'e'}, "[BVX]\nDefault=0\n", 1, {{O, C, 10, true}, {0, 0, 10, true}}},
      {"Default below 0 is drive 1", {'d', 'e'}, "[BVX]\nDefault=-3\n", 1, {{O, C, 10, true}, {0, 0, 10, true}}},
      {"Default above 255 is drive 1", {'d', 'e'}, "[BVX]\nDefault=258\n", 1,
       {{O, C, 10, true}, {0, 0, 10, true}}},
      {"Default in hex", {'d', 'e'}, "[BVX]\nDefault=$2\n", 2, {{0, 0, 10, true}, {O, C, 10, true}}},
      {"shortcuts outside 16 bits are missing", {'d', 'e'},
       "[ShortCuts]\nOpenShortCut1=65536\nCloseShortCut1=-1\nOpenShortCut2=65535\n", 1,
       {{O, C, 10, true}, {0xFFFF, 0, 10, true}}},
      {"keys of drive 3 do nothing on two drives", {'d', 'e'},
       "[ShortCuts]\nOpenShortCut3=5\n[Track]\nDoTrack3=0\n", 1, {{O, C, 10, true}, {0, 0, 10, true}}},
      {"byte-order mark, case, blanks, CRLF", {'d', 'e'},
       "\xEF\xBB\xBF; settings\r\n[ bvx ]\r\n default = 2 \r\n[SHORTCUTS]\r\nopenshortcut1 = $4041\r\n", 2,
       {{0x4041, 0, 10, true}, {O, C, 10, true}}},
      {"first section and first key win", {'d', 'e'},
       "[Track]\nDoTrack1=0\nDoTrack1=1\n[Track]\nDoTrack2=0\n", 1, {{O, C, 10, false}, {0, 0, 10, true}}},
      {"UTF-16 LE", {'d', 'e'}, Utf16File(u"; \u0414\r\n[BVX]\r\nDefault=2\r\nWaitFor=$1E\r\n"), 2,
       {{0, 0, 30, true}, {O, C, 30, true}}},
      {"UTF-16 BE", {'d'}, Utf16File(u"[Track]\r\nDoTrack1=0\r\n", true), 1, {{O, C, 10, false}}},
      {"UTF-16 with a lone surrogate is no file", {'d', 'e'},
       Utf16File(u"[BVX]\r\nDefault=2\r\n") + std::string("\x00\xDC", 2), 1, {{O, C, 10, true}, {0, 0, 10, true}}},
  };
  for (const Case& c : cases) {
    FakeSystem s;
    if (c.file) s.os.files[kIni] = *c.file;
    Drives table = DriveTableOf(std::string(c.cdroms.begin(), c.cdroms.end()));
    TSettings(s.os, table).Load();
    EXPECT_EQ(table.DefaultDrive, c.default_drive) << c.name;
    ASSERT_EQ(table.DriveCount, c.drives.size()) << c.name;
    for (std::size_t i = 0; i < c.drives.size(); ++i) {
      const TCDROM& d = table.DriveTable[static_cast<long>(i + 1)];
      const Expect& e = c.drives[i];
      EXPECT_EQ(d.OpenShortCut, e.open) << c.name << ", drive " << i + 1;
      EXPECT_EQ(d.CloseShortCut, e.close) << c.name << ", drive " << i + 1;
      EXPECT_EQ(d.WaitFor, e.wait) << c.name << ", drive " << i + 1;
      EXPECT_EQ(d.DoTrack, e.track) << c.name << ", drive " << i + 1;
    }
    // Entries past the drive count stay untouched.
    const TCDROM& next = table.DriveTable[static_cast<long>(c.drives.size() + 1)];
    EXPECT_EQ(next.OpenShortCut | next.CloseShortCut, 0) << c.name;
    EXPECT_FALSE(next.DoTrack) << c.name;
    EXPECT_TRUE(s.ui.boxes.empty()) << c.name;
  }
}

TEST_F(SettingsTest, WithNoDriveOnlyTheBvxShortcutsReachTheFirstEntry) {
  Load("", "[BVX]\nDefault=5\nOpenShortCut=1\nCloseShortCut=2\nWaitFor=7\n");
  EXPECT_EQ(drives.DefaultDrive, 1);
  EXPECT_EQ(Entry(1).OpenShortCut, 1);
  EXPECT_EQ(Entry(1).CloseShortCut, 2);
  EXPECT_EQ(Entry(1).WaitFor, 0u);  // not read at all
  EXPECT_FALSE(Entry(1).DoTrack);
}

TEST_F(SettingsTest, TheLoadReadsTheFileOnceAndNeverWritesIt) {
  Start({'d', 'e'});
  const std::size_t before = sys.log.lines.size();
  form->LoadSettings();
  std::vector<std::string> calls(sys.log.lines.begin() + static_cast<long>(before), sys.log.lines.end());
  EXPECT_EQ(calls, std::vector<std::string>{"ReadFile " + kIni});
  EXPECT_EQ(sys.os.files.count(kIni), 0u);
}

TEST_F(SettingsTest, TrayItemsShowTheLoadedCombinations) {
  sys.os.key_names[0xDB] = "[";
  Start({'d', 'e'}, {}, "[ShortCuts]\nCloseShortCut1=0\nOpenShortCut2=24646\n");
  const DriveItemPair d1 = form->drives.DriveItems[1];
  const DriveItemPair d2 = form->drives.DriveItems[2];
  EXPECT_EQ(d1.OpenItem->ShortCut, 0xC0DB);
  EXPECT_EQ(d1.OpenItem->ShortCutText, "Ctrl+Alt+[");
  EXPECT_EQ(d1.CloseItem->ShortCut, 0);
  EXPECT_EQ(d1.CloseItem->ShortCutText, "");
  EXPECT_EQ(d2.OpenItem->ShortCut, 0x6046);
  EXPECT_EQ(d2.OpenItem->ShortCutText, "Ctrl+Shift+F");
  EXPECT_EQ(d2.CloseItem->ShortCutText, "");

  // A reload after a save shows the new values.
  ASSERT_TRUE(Save(1, 10, {{0, 0xC0DD}, {0, 0}}, {1, 1}));
  form->LoadSettings();
  EXPECT_EQ(d1.OpenItem->ShortCutText, "");
  EXPECT_EQ(d1.CloseItem->ShortCutText, "Ctrl+Alt+]");
  EXPECT_EQ(d2.OpenItem->ShortCutText, "");
}

TEST_F(SettingsTest, FirstSaveOnTwoDrivesWritesEachKeyInOrderAsItGoes) {
  Load("de");
  // The file as it stands before each replace.
  std::vector<std::string> before_each;
  sys.os.FailWhen(fake::Op::ReplaceFile, [&](int) {
    const auto it = sys.os.files.find(kIni);
    before_each.push_back(it == sys.os.files.end() ? std::string() : it->second);
    return false;
  });
  const TCDROM& d1 = Entry(1);
  const TCDROM& d2 = Entry(2);
  ASSERT_TRUE(Save(drives.DefaultDrive, static_cast<int>(d1.WaitFor),
                   {{d1.OpenShortCut, d1.CloseShortCut}, {d2.OpenShortCut, d2.CloseShortCut}},
                   {d1.DoTrack, d2.DoTrack}));
  struct Row {
    std::string section, key, value;
  };
  const Row rows[] = {
      {"BVX", "Default", "1"},
      {"BVX", "WaitFor", "10"},
      {"ShortCuts", "OpenShortCut1", "49371"},
      {"ShortCuts", "CloseShortCut1", "49373"},
      {"BVX", "OpenShortCut", "49371"},
      {"BVX", "CloseShortCut", "49373"},
      {"Track", "DoTrack1", "1"},
      {"ShortCuts", "OpenShortCut2", "0"},
      {"ShortCuts", "CloseShortCut2", "0"},
      {"Track", "DoTrack2", "1"},
  };
  ASSERT_EQ(before_each.size(), std::size(rows));
  EXPECT_EQ(sys.log.Count("ReplaceFile " + kIni), std::size(rows));
  std::vector<std::string> after_each(before_each.begin() + 1, before_each.end());
  after_each.push_back(sys.os.files[kIni]);
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const ini::IniDocument before(before_each[i]);
    const ini::IniDocument after(after_each[i]);
    EXPECT_EQ(before.ReadString(rows[i].section, rows[i].key), std::nullopt) << "write " << i + 1;
    EXPECT_EQ(after.ReadString(rows[i].section, rows[i].key), rows[i].value) << "write " << i + 1;
  }
  EXPECT_EQ(sys.os.files[kIni],
            "[BVX]\r\nDefault=1\r\nWaitFor=10\r\nOpenShortCut=49371\r\nCloseShortCut=49373\r\n"
            "\r\n"
            "[ShortCuts]\r\nOpenShortCut1=49371\r\nCloseShortCut1=49373\r\nOpenShortCut2=0\r\n"
            "CloseShortCut2=0\r\n"
            "\r\n"
            "[Track]\r\nDoTrack1=1\r\nDoTrack2=1\r\n");
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(SettingsTest, SaveKeepsEveryOtherByteOfTheFile) {
  const std::string file =
      "\xEF\xBB\xBF; Brimvex settings\r\n"
      "\r\n"
      "[Window]\r\n"
      "Left = 10\r\n"
      "\r\n"
      "[ bvx ]\r\n"
      "default =  2\r\n"
      "; the wait\r\n"
      "WaitFor=$1E\r\n"
      "Unknown=keep me\r\n"
      "\r\n"
      "[ShortCuts]\r\n"
      "OpenShortCut1=49371\r\n"
      "OpenShortCut3=1234\r\n"
      "CloseShortCut3=4321\r\n"
      "\r\n"
      "[Track]\r\n"
      "DoTrack3=0\r\n"
      "  DoTrack1 = 0\r\n"
      "\r\n"
      "; trailing comment\r\n";
  sys.os.files[kIni] = file;
  ASSERT_TRUE(Save(1, 20, {{0x4041, 0x4042}, {0, 0x8043}}, {1, 0}));
  EXPECT_EQ(sys.os.files[kIni],
            "\xEF\xBB\xBF; Brimvex settings\r\n"
            "\r\n"
            "[Window]\r\n"
            "Left = 10\r\n"
            "\r\n"
            "[ bvx ]\r\n"
            "default =  1\r\n"
            "; the wait\r\n"
            "WaitFor=20\r\n"
            "Unknown=keep me\r\n"
            "OpenShortCut=16449\r\n"
            "CloseShortCut=16450\r\n"
            "\r\n"
            "[ShortCuts]\r\n"
            "OpenShortCut1=16449\r\n"
            "OpenShortCut3=1234\r\n"
            "CloseShortCut3=4321\r\n"
            "CloseShortCut1=16450\r\n"
            "OpenShortCut2=0\r\n"
            "CloseShortCut2=32835\r\n"
            "\r\n"
            "[Track]\r\n"
            "DoTrack3=0\r\n"
            "  DoTrack1 = 1\r\n"
            "DoTrack2=0\r\n"
            "\r\n"
            "; trailing comment\r\n");
}

TEST_F(SettingsTest, AUnicodeFileIsWrittenBackInItsOwnEncodingAndLineEnds) {
  for (const bool big_endian : {false, true}) {
    FakeSystem s;
    s.os.files[kIni] = Utf16File(u"; \u041D\u0430\u0441\u0442\u0440\u043E\u0439\u043A\u0438 \U0001F4BF\n"
                                 u"[BVX]\nDefault = 1\nName=\u00C9t\u00E9\n",
                                 big_endian);
    ASSERT_TRUE(SaveSettings(s.os, s.ui, kIni, 1, 5, std::vector<ShortcutPair>{{1, 2}}, std::vector<std::uint8_t>{0}));
    EXPECT_EQ(s.os.files[kIni],
              Utf16File(u"; \u041D\u0430\u0441\u0442\u0440\u043E\u0439\u043A\u0438 \U0001F4BF\n"
                        u"[BVX]\nDefault = 1\nName=\u00C9t\u00E9\nWaitFor=5\nOpenShortCut=1\nCloseShortCut=2\n"
                        u"\n[ShortCuts]\nOpenShortCut1=1\nCloseShortCut1=2\n\n[Track]\nDoTrack1=0\n",
                        big_endian))
        << (big_endian ? "big-endian" : "little-endian");
    EXPECT_TRUE(s.ui.boxes.empty());
  }
}

TEST_F(SettingsTest, SaveAddsLinesWithTheLineEndsTheFileUses) {
  sys.os.files[kIni] = "[BVX]\nDefault=1\n\n[Other]\nx=1";
  ASSERT_TRUE(Save(1, 10, {{1, 2}}, {1}));
  EXPECT_EQ(sys.os.files[kIni],
            "[BVX]\nDefault=1\nWaitFor=10\nOpenShortCut=1\nCloseShortCut=2\n\n[Other]\nx=1\n"
            "\n[ShortCuts]\nOpenShortCut1=1\nCloseShortCut1=2\n"
            "\n[Track]\nDoTrack1=1\n");
}

TEST_F(SettingsTest, WhatTheSaveWritesTheLoadReadsBack) {
  struct Case {
    const char* name;
    int position, wait;
    std::vector<ShortcutPair> pairs;
    std::vector<std::uint8_t> flags;
    int default_drive;
    std::vector<ShortcutPair> loaded;
    std::uint32_t loaded_wait;
  };
  const Case cases[] = {
      {"second drive default", 2, 30, {{1, 2}, {3, 4}}, {0, 1}, 2, {{1, 2}, {3, 4}}, 30},
      {"nothing selected, negative wait", 0, -5, {{0, 0}, {0x8043, 0}}, {1, 1}, 1, {{0, 0}, {0x8043, 0}}, 0},
      {"largest shortcut", 1, 0, {{0xFFFF, 0xE041}, {0, 0}}, {1, 0}, 1, {{0xFFFF, 0xE041}, {0, 0}}, 0},
  };
  for (const Case& c : cases) {
    FakeSystem s;
    Drives table = DriveTableOf("de");
    ASSERT_TRUE(SaveSettings(s.os, s.ui, kIni, c.position, c.wait, c.pairs, c.flags)) << c.name;
    TSettings(s.os, table).Load();
    EXPECT_EQ(table.DefaultDrive, c.default_drive) << c.name;
    for (int k = 1; k <= 2; ++k) {
      const TCDROM& d = table.DriveTable[k];
      const ShortcutPair& want = c.loaded[static_cast<std::size_t>(k - 1)];
      EXPECT_EQ((ShortcutPair{d.OpenShortCut, d.CloseShortCut}), want) << c.name << ", drive " << k;
      EXPECT_EQ(d.WaitFor, c.loaded_wait) << c.name;
      EXPECT_EQ(d.DoTrack, c.flags[static_cast<std::size_t>(k - 1)] != 0) << c.name << ", drive " << k;
    }
  }
}

TEST_F(SettingsTest, WithNoDriveTheSaveWritesOnlyDefaultAndWaitFor) {
  ASSERT_TRUE(Save(0, 10, {}, {}));
  EXPECT_EQ(sys.log.Count("ReplaceFile"), 2u);
  EXPECT_EQ(sys.os.files[kIni], "[BVX]\r\nDefault=0\r\nWaitFor=10\r\n");
}

TEST_F(SettingsTest, AnUnwritableOrReadOnlyFileIsReportedAndStaysAsItWas) {
  struct Case {
    bool read_only;
    std::size_t replaces;  // a read-only file is never tried
  };
  for (const Case c : {Case{false, 1}, Case{true, 0}}) {
    SCOPED_TRACE(c.read_only ? "read-only" : "unwritable");
    FakeSystem s;
    const std::string file = "[BVX]\r\nDefault=2\r\n";
    s.os.files[kIni] = file;
    s.ui.SetTitle("Brimvex");
    (c.read_only ? s.os.read_only : s.os.unwritable).insert(kIni);
    const std::vector<ShortcutPair> pairs{{1, 2}, {3, 4}};
    const std::vector<std::uint8_t> flags{1, 1};
    EXPECT_FALSE(SaveSettings(s.os, s.ui, kIni, 1, 10, pairs, flags));
    EXPECT_EQ(s.log.Count("ReplaceFile"), c.replaces);  // the save stopped at the first key
    ASSERT_EQ(s.ui.boxes.size(), 1u);
    EXPECT_EQ(s.ui.boxes[0].text, "Unable to write to C:\\Program Files\\Brimvex\\BVX.ini.");
    EXPECT_EQ(s.ui.boxes[0].caption, "Brimvex");
    EXPECT_EQ(s.ui.boxes[0].icon, ui::MessageIcon::Error);
    EXPECT_EQ(s.os.files[kIni], file);
  }
}

TEST_F(SettingsTest, AFileThatExistsButCannotBeReadIsNeverWrittenOver) {
  struct Case {
    const char* name;
    std::string file;
    bool read_fails;
  };
  const std::string text = "; mine\r\n[Other]\r\nKeep=1\r\n[BVX]\r\nDefault=2\r\n";
  const std::u16string wide = u"; mine\r\n[Other]\r\nKeep=1\r\n[BVX]\r\nDefault=2\r\n";
  const Case cases[] = {
      {"locked by another program, no access, a read error", text, true},
      {"UTF-16 of an odd byte count", Utf16File(wide) + "\n", false},
      {"UTF-16 with a lone high surrogate", Utf16File(wide + u"k=") + "\x3D\xD8" + Utf16File(u"\r\n").substr(2),
       false},
      {"UTF-16 with a lone low surrogate", Utf16File(wide + u"k=", true) + "\xDE\x00", false},
  };
  for (const Case& c : cases) {
    FakeSystem s;
    s.os.cdroms = {'d', 'e'};
    s.os.files[kIni] = c.file;
    if (c.read_fails) s.os.FailAlways(fake::Op::ReadFile);
    s.ui.SetTitle("Brimvex");
    TAboutForm f(s.os, s.ui);
    // The load runs on with the defaults and shows nothing.
    EXPECT_EQ(f.drives.DefaultDrive, 1) << c.name;
    EXPECT_EQ(f.drives.DriveTable[1].OpenShortCut, kDefaultOpenShortCut) << c.name;
    EXPECT_TRUE(s.ui.boxes.empty()) << c.name;
    EXPECT_EQ(s.log.Count("TrayAdd"), 1u) << c.name;
    // The save stops before its first key; the file stays whole.
    EXPECT_FALSE(SaveSettings(s.os, s.ui, kIni, 1, 10, std::vector<ShortcutPair>{{1, 2}, {3, 4}},
                              std::vector<std::uint8_t>{1, 1})) << c.name;
    EXPECT_EQ(s.log.Count("ReplaceFile"), 0u) << c.name;
    ASSERT_EQ(s.ui.boxes.size(), 1u) << c.name;
    EXPECT_EQ(s.ui.boxes[0].text, "Unable to write to " + kIni + ".") << c.name;
    EXPECT_EQ(s.os.files[kIni], c.file) << c.name;
  }
}

TEST_F(SettingsTest, AWriteThatFailsMidwayKeepsTheKeysWrittenBefore) {
  sys.os.FailWhen(fake::Op::ReplaceFile, [](int n) { return n == 3; });
  EXPECT_FALSE(Save(1, 10, {{1, 2}, {3, 4}}, {1, 1}));
  EXPECT_EQ(sys.log.Count("ReplaceFile"), 3u);
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Unable to write to " + kIni + ".");
  // Exactly the first two keys, as a complete file.
  EXPECT_EQ(sys.os.files[kIni], "[BVX]\r\nDefault=1\r\nWaitFor=10\r\n");
}

TEST_F(SettingsTest, AFileHeldByAnotherProgramIsWaitedForAboutASecond) {
  constexpr std::uint64_t kForGood = UINT64_MAX;
  struct Case {
    const char* name;
    std::optional<FileLinks> links;
    std::uint64_t held_until;  // virtual ms
    bool saved;
    std::uint64_t waited;  // virtual ms the save held the program
  };
  const Case cases[] = {
      {"held 300 ms", std::nullopt, 300, true, 300},
      {"held for good", std::nullopt, kForGood, false, 1000},
      {"two names, held 300 ms", FileLinks{2, NameKind::Plain}, 300, true, 300},
      {"two names, held for good", FileLinks{2, NameKind::Plain}, kForGood, false, 1000},
  };
  const std::string file = "; mine\r\n[BVX]\r\nDefault=2\r\n";
  const std::vector<ShortcutPair> pairs{{1, 2}, {3, 4}};
  const std::vector<std::uint8_t> flags{1, 0};
  FakeSystem plain;
  plain.os.files[kIni] = file;
  ASSERT_TRUE(SaveSettings(plain.os, plain.ui, kIni, 1, 30, pairs, flags));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem s;
    s.ui.SetTitle("Brimvex");
    s.os.files[kIni] = file;
    if (c.links) s.os.links[kIni] = *c.links;
    s.os.held[kIni] = c.held_until;
    EXPECT_EQ(SaveSettings(s.os, s.ui, kIni, 1, 30, pairs, flags), c.saved);
    EXPECT_EQ(s.ui.Now(), c.waited);
    // Every key or none: a wait never skips one.
    EXPECT_EQ(s.os.files.at(kIni), c.saved ? plain.os.files.at(kIni) : file);
    EXPECT_EQ(s.ui.boxes.size(), c.saved ? 0u : 1u);
    EXPECT_EQ(s.os.files.size(), 1u) << "a copy was left";
  }
}

TEST_F(SettingsTest, ASaveRemovesOnlyTheLeftoversOfKilledSavesAndCopiesThatDidTheirWork) {
  const std::string folder = "C:\\Program Files\\Brimvex\\";
  const std::string now = "[BVX]\r\nDefault=1\r\n";
  const std::string cut = "[BVX]\r\nOpenShortCut=16449\r\nDefault=";
  struct Leftover {
    std::string name, text;
    bool removed;  // beside a settings file that holds `now`
  };
  const Leftover files[] = {
      // a replace killed before it was done: the settings file is whole
      {"BVX.ini.tmp-1234", cut, true},
      {"BVX.ini.tmp-4294967295", cut, true},
      {"bvx.INI.TMP-77", cut, true},
      {"BVX.ini.tmp-", cut, false},
      {"BVX.ini.tmp-12a", cut, false},
      {"BVX.ini.tmp-12.bak", cut, false},
      {"Other.ini.tmp-12", cut, false},
      {"BVX.ini.tmp12", cut, false},
      // the copy of a write in place: gone once the file holds its text,
      // else it may be the only complete one
      {"BVX.ini.new-1", now, true},
      {"bvx.INI.NEW-7", now, true},
      {"BVX.ini.new-2", cut, false},
      {"BVX.ini.new-", now, false},
      {"BVX.ini.new-3.txt", now, false},
  };
  // Without a settings file every leftover stays for the user, and the
  // load takes the defaults, not a leftover's keys.
  for (const bool settings_file : {true, false}) {
    SCOPED_TRACE(settings_file ? "beside the settings file" : "no settings file");
    FakeSystem s;
    if (settings_file) s.os.files[kIni] = now;
    for (const Leftover& f : files) s.os.files[folder + f.name] = f.text;
    // A leftover that cannot be deleted (still open elsewhere) stops nothing.
    s.os.FailWhen(fake::Op::DeleteFile, [](int n) { return n == 1; });
    Drives table = DriveTableOf("d");
    TSettings(s.os, table).Load();
    EXPECT_EQ(table.DefaultDrive, 1);
    EXPECT_EQ(table.DriveTable[1].OpenShortCut, kDefaultOpenShortCut);
    ASSERT_TRUE(SaveSettings(s.os, s.ui, kIni, 1, 10, std::vector<ShortcutPair>{{1, 2}},
                             std::vector<std::uint8_t>{1}));
    EXPECT_TRUE(s.ui.boxes.empty());
    ASSERT_EQ(s.log.Count("DeleteFile"), settings_file ? 5u : 0u);
    for (const Leftover& f : files) {
      const bool failed_delete = settings_file && s.log.With("DeleteFile").front() == "DeleteFile " + folder + f.name;
      EXPECT_EQ(s.os.files.count(folder + f.name), f.removed && settings_file && !failed_delete ? 0u : 1u)
          << f.name;
      if (s.os.files.count(folder + f.name) != 0) {
        EXPECT_EQ(s.os.files[folder + f.name], f.text) << f.name;
      }
    }
    EXPECT_EQ(ini::IniDocument(s.os.files.at(kIni)).ReadInteger("ShortCuts", "CloseShortCut1", 0), 2);
  }
}

TEST_F(SettingsTest, AFileWithSeveralNamesOrUnderALinkIsWrittenIntoItself) {
  const std::string folder = "C:\\Program Files\\Brimvex\\";
  constexpr int kForGood = 1000;
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::optional<FileLinks> links;  // none: the file's only name
    bool in_place;
    int refused_deletes = 0;  // the first deletes of a copy refused (another program holds it)
    std::size_t copy_names = 1;  // the copy names the keys took
    std::size_t copies_left = 0;
  };
  const std::string text = "; mine\r\n[BVX]\r\nDefault=2\r\n";
  const Case cases[] = {
      {"the only name", text, std::nullopt, false},
      {"no file yet", std::nullopt, std::nullopt, false},
      {"one of two names (a hard link)", text, FileLinks{2, NameKind::Plain}, true},
      {"one of five names", text, FileLinks{5, NameKind::Plain}, true},
      {"a symbolic link", text, FileLinks{1, NameKind::SymbolicLink}, true},
      {"a symbolic link to one of two names", text, FileLinks{2, NameKind::SymbolicLink}, true},
      {"a symbolic link to no file yet", std::nullopt, FileLinks{0, NameKind::SymbolicLink}, true},
      {"a cloud file's placeholder (another reparse point)", text, FileLinks{1, NameKind::OtherReparsePoint},
       false},
      // A copy that cannot be deleted at once: the next key takes the next
      // name, and the save tries once more before it returns.
      {"a hard link, the first copy held a moment", text, FileLinks{2, NameKind::Plain}, true, 1, 2, 0},
      {"a symbolic link, every copy held for good", text, FileLinks{1, NameKind::SymbolicLink}, true,
       kForGood, 10, 10},
  };
  const std::vector<ShortcutPair> pairs{{1, 2}, {3, 4}};
  const std::vector<std::uint8_t> flags{1, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem plain;  // the text the save gives, written by replaces
    if (c.file) plain.os.files[kIni] = *c.file;
    ASSERT_TRUE(SaveSettings(plain.os, plain.ui, kIni, 1, 30, pairs, flags));

    FakeSystem s;
    if (c.file) s.os.files[kIni] = *c.file;
    if (c.links) s.os.links[kIni] = *c.links;
    s.os.FailWhen(fake::Op::DeleteFile, [&c](int n) { return n <= c.refused_deletes; });
    ASSERT_TRUE(SaveSettings(s.os, s.ui, kIni, 1, 30, pairs, flags));
    EXPECT_TRUE(s.ui.boxes.empty());
    EXPECT_EQ(s.os.files.at(kIni), plain.os.files.at(kIni));
    const std::size_t writes = plain.log.Count("ReplaceFile");
    EXPECT_EQ(s.log.Count("ReplaceFile"), c.in_place ? 0u : writes);
    EXPECT_EQ(s.log.Count("RewriteFile " + kIni + " via " + folder + "BVX.ini.new-"), c.in_place ? writes : 0u);
    std::set<std::string> names;
    for (const std::string& line : s.log.With("RewriteFile")) names.insert(line.substr(line.find(" via ") + 5));
    EXPECT_EQ(names.size(), c.in_place ? c.copy_names : 0u);
    if (c.in_place) {
      EXPECT_TRUE(names.count(folder + "BVX.ini.new-" + std::to_string(c.copy_names)));
    }
    // The name still leads where it led, and no copy is left beside it
    // unless it could never be deleted.
    EXPECT_EQ(s.os.links.count(kIni), c.links && c.in_place ? 1u : 0u);
    EXPECT_EQ(s.os.files.size(), 1u + c.copies_left);
  }
}

TEST_F(SettingsTest, AWriteIntoTheFileThatStopsHalfWayLeavesItsCompleteCopyForGood) {
  const std::string folder = "C:\\Program Files\\Brimvex\\";
  const std::string file = "[BVX]\r\nDefault=2\r\n\r\n[Other]\r\nKeep=this text, all of it\r\n";
  sys.os.files[kIni] = file;
  sys.os.links[kIni] = {2, NameKind::Plain};
  sys.os.torn.insert(kIni);
  EXPECT_FALSE(Save(1, 10, {{1, 2}}, {1}));
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Unable to write to " + kIni + ".");
  EXPECT_EQ(sys.log.Count("RewriteFile"), 1u);  // the save stopped at its first key
  const std::string first_key = "[BVX]\r\nDefault=1\r\n\r\n[Other]\r\nKeep=this text, all of it\r\n";
  const std::string copy = folder + "BVX.ini.new-1";
  EXPECT_EQ(sys.os.files.at(copy), first_key);
  EXPECT_NE(sys.os.files.at(kIni), first_key);  // torn

  // Later saves never delete or write over that copy; each takes a copy
  // name of its own and writes the file whole again.
  sys.os.torn.clear();
  for (int save = 1; save <= 2; ++save) {
    SCOPED_TRACE(save);
    sys.log.Clear();
    ASSERT_TRUE(Save(1, 10, {{1, 2}}, {1}));
    EXPECT_EQ(sys.os.files.at(copy), first_key);
    EXPECT_EQ(sys.log.Count("RewriteFile " + kIni + " via " + folder + "BVX.ini.new-2"),
              sys.log.Count("RewriteFile"));
    EXPECT_EQ(sys.os.files.count(folder + "BVX.ini.new-2"), 0u);
    EXPECT_EQ(ini::IniDocument(sys.os.files.at(kIni)).ReadInteger("Track", "DoTrack1", 0), 1);
  }
  // A copy that the file's text has caught up with goes.
  sys.os.files[kIni] = first_key;
  ASSERT_TRUE(Save(1, 10, {{1, 2}}, {1}));
  EXPECT_EQ(sys.os.files.count(copy), 0u);
}

// Its speed is measured by the LoadSettings benchmarks in bench/.
TEST_F(SettingsTest, LoadFindsTheKeysAfterAMegabyteOfOtherSections) {
  std::string file;
  for (int i = 0; file.size() < (1u << 20); ++i) {
    file += "[Other" + std::to_string(i) + "]\r\n";
    for (int k = 0; k < i % 12; ++k) file += "Key" + std::to_string(k) + " = value " + std::to_string(k) + "\r\n";
  }
  file += "[BVX]\r\nDefault=26\r\n[ShortCuts]\r\nOpenShortCut26=1\r\n[Track]\r\nDoTrack26=0\r\n";
  Load("abcdefghijklmnopqrstuvwxyz", file);
  EXPECT_EQ(drives.DefaultDrive, 26);
  EXPECT_EQ(Entry(26).OpenShortCut, 1);
  EXPECT_FALSE(Entry(26).DoTrack);
  EXPECT_EQ(Entry(25).OpenShortCut, 0);
}

}  // namespace
}  // namespace bvx
