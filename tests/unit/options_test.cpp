// The options dialog on the fake: its layout, opening and closing, the tab
// changes that move edits into the working copies, and tab drawing, over a
// table of its own; then OK in the program, with the settings file, the
// reload and the hotkey registration behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/toolkit_rules.h"
#include "program.h"
#include "settings/bvx_options.h"
#include "settings/ini.h"

namespace bvx {
namespace {

using fake::FakeForm;
using fake::FakeSystem;

// The value of section/key in the settings file of a fake, if it has one.
std::optional<std::string> Ini(const FakeSystem& s, std::string_view section, std::string_view key) {
  const auto file = s.os.files.find(kIni);
  if (file == s.os.files.end()) return std::nullopt;
  const ini::IniDocument ini(file->second);
  const std::optional<std::string_view> value = ini.ReadString(section, key);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

struct OptionsTest : ProgramTest {
  Drives drives;                // the table of a dialog opened without the program
  TfrmOptions* open = nullptr;  // that dialog while it is shown

  // Sets drive k's entry as the dialog will copy it.
  static void SetDrive(TCDROM& d, std::uint16_t open, std::uint16_t close, bool track) {
    d.OpenShortCut = open;
    d.CloseShortCut = close;
    d.DoTrack = track;
  }
  // Shows a dialog over `drives` with script run once its modal loop starts.
  int Show(std::function<void(FakeForm&)> script) {
    sys.ui.on_modal.push_back(std::move(script));
    return TfrmOptions(sys.os, sys.ui, kIni, drives, open).ShowModal();
  }
  // Chooses "Параметры..." in the started program, likewise.
  void Open(std::function<void(FakeForm&)> script) {
    sys.ui.on_modal.push_back(std::move(script));
    sys.ui.Guard([&] { form->mnuiOptions->Click(); });
  }
  TfrmOptions& Dialog() { return dynamic_cast<TfrmOptions&>(sys.ui.FindForm("TfrmOptions")->Events()); }
  std::size_t OptionForms() const {
    return static_cast<std::size_t>(std::count_if(
        sys.ui.Forms().begin(), sys.ui.Forms().end(),
        [](const FakeForm* f) { return f->Description().ClassName == "TfrmOptions"; }));
  }
  static std::vector<std::string> Items(const FakeForm& f, std::string_view control) {
    std::vector<std::string> out;
    for (int i = 0; i < f.ItemCount(control); ++i) out.push_back(f.Item(control, i));
    return out;
  }
};

// --- layout -------------------------------------------------------------------------

const ui::ControlRow& Row(std::string_view name) {
  for (const ui::ControlRow& c : kOptionsFormLayout.Controls)
    if (c.Name == name) return c;
  throw std::runtime_error("no row " + std::string(name));
}

std::size_t RowIndex(std::string_view name) {
  const auto& rows = kOptionsFormLayout.Controls;
  return static_cast<std::size_t>(
      std::find_if(rows.begin(), rows.end(), [&](const ui::ControlRow& c) { return c.Name == name; }) -
      rows.begin());
}

// The name a screen reader gives a field: the first static text among the
// siblings above it; none when a tab stop or nothing comes first.
std::string ReadAloudName(const FakeForm& f, std::string_view field) {
  for (const std::string& name : f.Above(field)) {
    const ui::Kind kind = f.Control(name).desc.ControlKind;
    if (kind == ui::Kind::Label || kind == ui::Kind::StaticText || kind == ui::Kind::LinkLabel)
      return f.Control(name).text;
    if (ui::IsTabStopKind(kind)) break;
  }
  return "(none)";
}

TEST_F(OptionsTest, LayoutRowsMatchTheComponentTable) {
  struct Case {
    std::string_view name;
    ui::Kind kind;
    std::string_view parent;
    int left, top, width, height;
    std::string_view text;
    std::string_view face;  // as the control ends up, inherited fonts included
    bool bold;
    ui::Color color;
    int tab_order;
    std::string_view read_aloud = {};  // fields: the label a screen reader names them by
  };
  constexpr ui::Color grey = ui::Rgb(90, 90, 90);
  const Case cases[] = {
      {"BitBtn1", ui::Kind::OkButton, "", 252, 8, 71, 25, "O&K", "Arial", true, grey, 0},
      {"BitBtn2", ui::Kind::CancelButton, "", 252, 37, 71, 25, "&Отмена", "Arial", true, grey, 1},
      {"OptionTabs", ui::Kind::TabControl, "", 3, 3, 246, 174, "Общие", "MS Sans Serif", false, grey, 2},
      {"HotKeysBox", ui::Kind::GroupBox, "OptionTabs", 4, 3, 238, 72, " Горячие клавиши ", "Arial", true, grey, 0},
      {"lblOpen", ui::Kind::Label, "HotKeysBox", 5, 19, 90, 15, "&Открыть дверцу", "Arial", false, grey, -1},
      {"hkOpenCd", ui::Kind::HotKey, "HotKeysBox", 100, 17, 114, 22, "", "Arial", true, grey, 0, "&Открыть дверцу"},
      {"hkCloseCd", ui::Kind::HotKey, "HotKeysBox", 100, 43, 114, 22, "", "Arial", true, grey, 1, "&Закрыть дверцу"},
      {"GroupBox1", ui::Kind::GroupBox, "OptionTabs", 4, 74, 238, 73, " Слежение за приводом ", "Arial", true, grey, 1},
      {"chbTrackDrive", ui::Kind::CheckBox, "GroupBox1", 5, 33, 148, 16, "Следить за приводом", "Arial", false, grey, 0},
      {"DefaultDriveBox", ui::Kind::GroupBox, "OptionTabs", 4, 3, 238, 67, " Привод по умолчанию ", "Arial", true, grey, 2},
      {"Label1", ui::Kind::Label, "DefaultDriveBox", 5, 19, 209, 15, "&По умолчанию использовать привод", "Arial", false, grey, -1},
      {"cbDriveLetters", ui::Kind::DropDownList, "DefaultDriveBox", 5, 37, 65, 23, "", "Arial", true, grey, 0, "&По умолчанию использовать привод"},
      {"TrackGroupBox", ui::Kind::GroupBox, "OptionTabs", 4, 69, 238, 78, " Слежение ", "Arial", true, grey, 3},
      {"Label4", ui::Kind::Label, "TrackGroupBox", 167, 50, 41, 15, "секунд.", "Arial", false, grey, -1},
      {"speWaitFor", ui::Kind::SpinEdit, "TrackGroupBox", 107, 48, 57, 24, "0", "Arial", true, ui::Rgb(0, 0, 0), 0, "открывать его на"},
  };
  Show([&](FakeForm& f) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name));
      const ui::ControlRow& r = Row(c.name);
      EXPECT_EQ(r.ControlKind, c.kind);
      EXPECT_EQ(r.Parent, c.parent);
      EXPECT_EQ(r.Left, c.left);
      EXPECT_EQ(r.Top, c.top);
      EXPECT_EQ(r.Width, c.width);
      EXPECT_EQ(r.Height, c.height);
      EXPECT_EQ(r.Text, c.text);
      EXPECT_EQ(r.TabOrder, c.tab_order);
      const ui::Font font = f.ControlFont(c.name);
      EXPECT_EQ(font.Face, c.face);
      EXPECT_EQ(font.Bold, c.bold);
      EXPECT_EQ(font.TextColor, c.color);
      EXPECT_EQ(font.Height, -12);
      EXPECT_EQ(font.Charset, ui::kRussianCharset);
      if (!c.read_aloud.empty()) {
        EXPECT_EQ(ReadAloudName(f, c.name), c.read_aloud);
      }
    }
    f.Click("BitBtn2");
  });
}

TEST(OptionsLayout, FormAndControlProperties) {
  const ui::FormLayout& s = kOptionsFormLayout;
  EXPECT_EQ(s.ClassName, "TfrmOptions");
  EXPECT_EQ(s.Caption, "Параметры Brimvex");
  EXPECT_EQ(s.ClientWidth, 327);
  EXPECT_EQ(s.ClientHeight, 181);
  EXPECT_EQ(s.Background, ui::Rgb(240, 240, 240));
  EXPECT_EQ(s.FormFont, (ui::Font{"Arial", -12, false, false, ui::Rgb(90, 90, 90), ui::kRussianCharset}));
  EXPECT_EQ(s.Flags, ui::kDialogFrame | ui::kCenterDesktop);

  EXPECT_EQ(Row("OptionTabs").Flags, ui::kTabsBottom | ui::kOwnerDrawTabs);
  EXPECT_EQ(Row("Label1").Flags, ui::kTransparent | ui::kWordWrap);
  EXPECT_EQ(Row("Label1").FocusControl, "cbDriveLetters");
  EXPECT_EQ(Row("lblOpen").Flags, ui::kTransparent);
  EXPECT_EQ(Row("lblClose").Flags, ui::kTransparent);
  EXPECT_EQ(Row("Label2").Flags, ui::kWordWrap);
  EXPECT_EQ(Row("Label3").Flags, 0u);
  EXPECT_EQ(Row("cbDriveLetters").ItemHeight, 15);
  EXPECT_EQ(Row("BitBtn1").GlyphSpacing, 1);
  EXPECT_EQ(Row("BitBtn2").GlyphSpacing, 1);
  // Nothing starts hidden or disabled: the page switch does that at run time.
  for (const ui::ControlRow& c : s.Controls)
    EXPECT_EQ(c.Flags & (ui::kHidden | ui::kDisabled), 0u) << c.Name;
}

TEST(OptionsLayout, GeneralPageBoxesLieAboveAndCoverTheDriveBoxes) {
  // Every parent row comes before its children.
  for (const ui::ControlRow& c : kOptionsFormLayout.Controls) {
    if (!c.Parent.empty()) {
      EXPECT_LT(RowIndex(c.Parent), RowIndex(c.Name)) << c.Name;
    }
  }
  for (std::string_view top : {"DefaultDriveBox", "TrackGroupBox"})
    for (std::string_view below : {"HotKeysBox", "GroupBox1"})
      EXPECT_LT(RowIndex(below), RowIndex(top)) << below << " under " << top;
  // Together the two upper boxes cover each lower box entirely.
  const ui::ControlRow& a = Row("DefaultDriveBox");
  const ui::ControlRow& b = Row("TrackGroupBox");
  for (std::string_view name : {"HotKeysBox", "GroupBox1"}) {
    const ui::ControlRow& c = Row(name);
    for (int y = c.Top; y < c.Top + c.Height; ++y) {
      for (int x = c.Left; x < c.Left + c.Width; ++x) {
        const auto in = [&](const ui::ControlRow& r) {
          return x >= r.Left && x < r.Left + r.Width && y >= r.Top && y < r.Top + r.Height;
        };
        ASSERT_TRUE(in(a) || in(b)) << name << " shows at " << x << "," << y;
      }
    }
  }
}

// --- opening --------------------------------------------------------------------------

TEST_F(OptionsTest, OpeningFillsListTabsSelectionAndWaitFromTheTable) {
  drives = DriveTableOf("def");
  drives.DefaultDrive = 3;
  drives.DriveTable[1].WaitFor = 25;
  drives.DriveTable[2].WaitFor = 40;
  SetDrive(drives.DriveTable[1], 0x4031, 0x4032, false);
  SetDrive(drives.DriveTable[2], 0x4045, 0x4046, true);
  SetDrive(drives.DriveTable[3], 0, 0x4047, true);
  bool ran = false;
  EXPECT_EQ(Show([&](FakeForm& f) {
    ran = true;
    EXPECT_EQ(f.Caption(), "Параметры Brimvex");
    EXPECT_EQ(Items(f, "cbDriveLetters"), (std::vector<std::string>{"D:", "E:", "F:"}));
    EXPECT_EQ(Items(f, "OptionTabs"), (std::vector<std::string>{"Общие", "D:", "E:", "F:"}));
    EXPECT_EQ(f.Value("cbDriveLetters"), 2);
    EXPECT_TRUE(f.IsEnabled("cbDriveLetters"));
    EXPECT_EQ(f.Value("speWaitFor"), 25);
    EXPECT_EQ(f.Value("OptionTabs"), 0);
    EXPECT_TRUE(f.IsControlVisible("DefaultDriveBox"));
    EXPECT_TRUE(f.IsControlVisible("TrackGroupBox"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->form.get(), &f);
    EXPECT_EQ(open->WorkShortcuts,
              (std::vector<ShortcutPair>{{0x4031, 0x4032}, {0x4045, 0x4046}, {0, 0x4047}}));
    EXPECT_EQ(open->WorkTrackFlags, (std::vector<std::uint8_t>{0, 1, 1}));
    f.Click("BitBtn2");
  }), ui::kModalCancel);
  EXPECT_TRUE(ran);
  EXPECT_EQ(open, nullptr);
  EXPECT_EQ(OptionForms(), 0u);
  EXPECT_EQ(sys.log.Count("DestroyForm TfrmOptions"), 1u);
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(OptionsTest, DriveListStateFollowsTheDriveCount) {
  struct Case {
    std::string_view letters;
    std::vector<std::string> tabs;
    bool enabled;
    int selected;
  };
  const Case cases[] = {
      {"", {"Общие"}, true, -1},
      {"d", {"Общие", "D:"}, false, 0},
      {"dg", {"Общие", "D:", "G:"}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tabs.size());
    drives = DriveTableOf(c.letters);
    Show([&](FakeForm& dlg) {
      EXPECT_EQ(Items(dlg, "OptionTabs"), c.tabs);
      EXPECT_EQ(dlg.ItemCount("cbDriveLetters"), static_cast<int>(c.tabs.size()) - 1);
      EXPECT_EQ(dlg.IsEnabled("cbDriveLetters"), c.enabled);
      EXPECT_EQ(dlg.Value("cbDriveLetters"), c.selected);
      dlg.Click("BitBtn2");
    });
    EXPECT_TRUE(sys.ui.boxes.empty());
  }
}

TEST_F(OptionsTest, ChoosingOptionsAgainWhileOpenOnlyBringsTheDialogForward) {
  Start({'d', 'e'});
  SetDrive(Drive(1), 0x4031, 0x4032, false);
  Open([&](FakeForm& f) {
    f.SelectTab("OptionTabs", 1);
    f.SetValue("hkOpenCd", 0x4039);
    f.SelectTab("OptionTabs", 0);
    TfrmOptions* const first = &Dialog();
    const std::size_t before = sys.log.lines.size();
    sys.ui.Guard([&] { form->mnuiOptions->Click(); });
    const std::vector<std::string> added(sys.log.lines.begin() + static_cast<long>(before),
                                         sys.log.lines.end());
    EXPECT_EQ(added, (std::vector<std::string>{"BringToFront TfrmOptions"}));
    EXPECT_EQ(&Dialog(), first);
    EXPECT_EQ(OptionForms(), 1u);
    EXPECT_TRUE(f.InModal());
    // The working copies were not refilled: the edit survives.
    ASSERT_EQ(Dialog().WorkShortcuts.size(), 2u);
    EXPECT_EQ(Dialog().WorkShortcuts[0].Open, 0x4039);
    f.Click("BitBtn2");
  });
  EXPECT_EQ(sys.log.Count("CreateForm TfrmOptions"), 1u);
  EXPECT_EQ(OptionForms(), 0u);
}

TEST_F(OptionsTest, AnOpeningThatEndsWithAnErrorLeavesNoDialogBehind) {
  drives = DriveTableOf("d");
  // No script: the modal loop has nothing that could close it and raises.
  EXPECT_THROW(TfrmOptions(sys.os, sys.ui, kIni, drives, open).ShowModal(), fake::WaitsForever);
  EXPECT_EQ(open, nullptr);
  EXPECT_EQ(OptionForms(), 0u);
  // The next opening makes a new dialog.
  Show([](FakeForm& f) { f.Click("BitBtn2"); });
  EXPECT_EQ(sys.log.Count("CreateForm TfrmOptions"), 2u);
  EXPECT_EQ(open, nullptr);
}

// --- tabs ----------------------------------------------------------------------------------

TEST_F(OptionsTest, TabChangesMoveEditsBetweenControlsAndWorkingCopies) {
  drives = DriveTableOf("de");
  SetDrive(drives.DriveTable[1], 0x4031, 0x4032, false);
  SetDrive(drives.DriveTable[2], 0x4033, 0x4034, true);
  Show([&](FakeForm& f) {
    // General to a drive tab stores nothing, even with values in the hidden edits.
    f.SetValue("hkOpenCd", 0x2051);
    f.SetValue("chbTrackDrive", 1);
    f.SelectTab("OptionTabs", 1);
    ASSERT_EQ(open->WorkShortcuts.size(), 2u);
    ASSERT_EQ(open->WorkTrackFlags.size(), 2u);
    EXPECT_EQ(open->WorkShortcuts[0], (ShortcutPair{0x4031, 0x4032}));
    EXPECT_EQ(open->WorkTrackFlags[0], 0);
    EXPECT_EQ(f.Value("hkOpenCd"), 0x4031);
    EXPECT_EQ(f.Value("hkCloseCd"), 0x4032);
    EXPECT_EQ(f.Value("chbTrackDrive"), 0);
    EXPECT_EQ(f.Text("HotKeysBox"), " Горячие клавиши для привода D: ");
    EXPECT_FALSE(f.IsControlVisible("DefaultDriveBox"));
    EXPECT_FALSE(f.IsControlVisible("TrackGroupBox"));
    EXPECT_TRUE(f.IsControlVisible("HotKeysBox"));
    EXPECT_TRUE(f.IsControlVisible("chbTrackDrive"));

    // Drive tab to drive tab stores the old drive and shows the new one.
    f.SetValue("hkOpenCd", 0x2052);
    f.SelectTab("OptionTabs", 2);
    EXPECT_EQ(open->WorkShortcuts[0], (ShortcutPair{0x2052, 0x4032}));
    EXPECT_EQ(open->WorkShortcuts[1], (ShortcutPair{0x4033, 0x4034}));
    EXPECT_EQ(f.Value("hkOpenCd"), 0x4033);
    EXPECT_EQ(f.Value("chbTrackDrive"), 1);
    EXPECT_EQ(f.Text("HotKeysBox"), " Горячие клавиши для привода E: ");

    // Drive tab to general stores that drive's edits and uncovers nothing new.
    f.SetValue("hkCloseCd", 0);
    f.Click("chbTrackDrive");
    f.SelectTab("OptionTabs", 0);
    EXPECT_EQ(open->WorkShortcuts[1], (ShortcutPair{0x4033, 0}));
    EXPECT_EQ(open->WorkTrackFlags[1], 0);
    EXPECT_TRUE(f.IsControlVisible("DefaultDriveBox"));
    EXPECT_TRUE(f.IsControlVisible("TrackGroupBox"));
    // The caption keeps the last drive's name on the general page.
    EXPECT_EQ(f.Text("HotKeysBox"), " Горячие клавиши для привода E: ");
    f.Click("BitBtn2");
  });
  EXPECT_TRUE(sys.ui.boxes.empty());
  // The dialog never touched the drive table.
  EXPECT_EQ(drives.DriveTable[1].OpenShortCut, 0x4031);
  EXPECT_EQ(drives.DriveTable[2].CloseShortCut, 0x4034);
}

TEST_F(OptionsTest, DrawTabCentresTheCaptionAboveTheBottomEdge) {
  struct Case {
    int tab;
    ui::Rect rect;
    std::string text;  // "x,y caption"
  };
  // The fake's text: 6 px per character, 13 px high ("Общие" 30 px, "E:" 12 px).
  const Case cases[] = {
      {0, {0, 150, 60, 170}, "15,154 Общие"},
      {1, {60, 150, 97, 171}, "72,155 E:"},
      {1, {1, 0, 8, 20}, "-2,4 E:"},
      // (-9 + 0) / 2 is -4, cut toward zero, not -5.
      {1, {-9, 0, 0, 10}, "-10,-6 E:"},
      {0, {-31, 0, 0, 16}, "-30,0 Общие"},
  };
  drives = DriveTableOf("e");
  Show([&](FakeForm& f) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text);
      const std::string fill = "Fill " + std::to_string(c.rect.Left) + "," + std::to_string(c.rect.Top) +
                               "," + std::to_string(c.rect.Right) + "," + std::to_string(c.rect.Bottom);
      const auto ops = f.DrawTab("OptionTabs", c.tab, c.rect);
      EXPECT_EQ(ops, (std::vector<std::string>{fill, "Text " + c.text}));
    }
    // The selected tab is drawn the same way.
    const auto inactive = f.DrawTab("OptionTabs", 1, {60, 150, 97, 171});
    f.SelectTab("OptionTabs", 1);
    EXPECT_EQ(f.DrawTab("OptionTabs", 1, {60, 150, 97, 171}), inactive);
    f.Click("BitBtn2");
  });
  EXPECT_TRUE(sys.ui.boxes.empty());
}

// --- OK and Cancel -----------------------------------------------------------------------

TEST_F(OptionsTest, CancelEscAndCloseBoxDropEveryEdit) {
  const std::function<void(FakeForm&)> closers[] = {
      [](FakeForm& f) { f.Click("BitBtn2"); },  // also what Esc presses
      [](FakeForm& f) { f.Close(); },
  };
  for (const auto& close : closers) {
    FakeSystem s;
    s.os.cdroms = {'d', 'e'};
    TAboutForm f(s.os, s.ui);
    f.drives.DriveTable[1].OpenShortCut = 0x4031;
    const std::size_t before = s.log.lines.size();
    s.ui.on_modal.push_back([&](FakeForm& dlg) {
      dlg.SelectTab("OptionTabs", 1);
      dlg.SetValue("hkOpenCd", 0x4039);
      dlg.SelectTab("OptionTabs", 0);
      dlg.SetValue("cbDriveLetters", 1);
      close(dlg);
    });
    s.ui.Guard([&] { f.mnuiOptions->Click(); });
    EXPECT_EQ(s.os.replace_count, 0);
    EXPECT_FALSE(s.os.files.count(kIni));
    EXPECT_EQ(s.log.Find("ReadFile", before), std::string::npos);
    EXPECT_EQ(s.log.Find("RegisterHotKey", before), std::string::npos);
    EXPECT_NE(s.log.Find("EndModal TfrmOptions 2", before), std::string::npos);
    EXPECT_EQ(f.drives.DriveTable[1].OpenShortCut, 0x4031);
    EXPECT_EQ(s.ui.FindForm("TfrmOptions"), nullptr);

    // The next opening shows the table's values again.
    s.ui.on_modal.push_back([&](FakeForm& dlg) {
      EXPECT_EQ(dlg.Value("cbDriveLetters"), 0);
      dlg.SelectTab("OptionTabs", 1);
      EXPECT_EQ(dlg.Value("hkOpenCd"), 0x4031);
      dlg.Click("BitBtn2");
    });
    s.ui.Guard([&] { f.mnuiOptions->Click(); });
    EXPECT_TRUE(s.ui.boxes.empty());
  }
}

TEST_F(OptionsTest, OkOnTheSecondDriveTabWritesBothDrivesThenReloadsAndRegisters) {
  Start({'d', 'e'});
  SetDrive(Drive(1), 0x4031, 0x4032, false);
  SetDrive(Drive(2), 0, 0, false);
  Open([&](FakeForm& f) {
    f.SelectTab("OptionTabs", 1);
    f.SetValue("hkOpenCd", 0x4041);   // Ctrl+A
    f.SetValue("hkCloseCd", 0x6042);  // Ctrl+Shift+B
    f.Click("chbTrackDrive");
    f.SelectTab("OptionTabs", 2);
    f.SetValue("hkOpenCd", 0x8043);  // Alt+C
    f.SetValue("hkCloseCd", 0x0044);  // D alone
    f.Click("BitBtn1");
  });
  EXPECT_TRUE(sys.ui.boxes.empty());
  EXPECT_EQ(Ini(sys, "ShortCuts", "OpenShortCut1"), "16449");
  EXPECT_EQ(Ini(sys, "ShortCuts", "CloseShortCut1"), "24642");
  EXPECT_EQ(Ini(sys, "ShortCuts", "OpenShortCut2"), "32835");
  EXPECT_EQ(Ini(sys, "ShortCuts", "CloseShortCut2"), "68");
  EXPECT_EQ(Ini(sys, "Track", "DoTrack1"), "1");
  EXPECT_EQ(Ini(sys, "Track", "DoTrack2"), "0");
  EXPECT_EQ(Ini(sys, "BVX", "Default"), "1");
  EXPECT_EQ(Ini(sys, "BVX", "OpenShortCut"), "16449");

  const TCDROM& d1 = form->drives.DriveTable[1];
  const TCDROM& d2 = form->drives.DriveTable[2];
  EXPECT_EQ(d1.OpenShortCut, 0x4041);
  EXPECT_EQ(d1.CloseShortCut, 0x6042);
  EXPECT_TRUE(d1.DoTrack);
  EXPECT_EQ(d2.OpenShortCut, 0x8043);
  EXPECT_EQ(d2.CloseShortCut, 0x0044);
  EXPECT_FALSE(d2.DoTrack);
  EXPECT_EQ(sys.os.hotkeys[0], ui::ShortcutCombination(0x4041));
  EXPECT_EQ(sys.os.hotkeys[1], ui::ShortcutCombination(0x6042));
  EXPECT_EQ(sys.os.hotkeys[2], ui::ShortcutCombination(0x8043));
  EXPECT_EQ(sys.os.hotkeys[3], ui::ShortcutCombination(0x0044));
}

TEST_F(OptionsTest, OkWritesThenClosesThenReloadsAndRegistersThenDestroys) {
  Start({'d'});
  const std::size_t before = sys.log.lines.size();
  Open([](FakeForm& f) { f.Click("BitBtn1"); });
  const auto& log = sys.log;
  const std::size_t write = log.Find("ReplaceFile " + kIni, before);
  const std::size_t end = log.Find("EndModal TfrmOptions 1", before);
  ASSERT_NE(end, std::string::npos);
  // The load after the dialog has closed, then the registration.
  const std::size_t read = log.Find("ReadFile " + kIni, end);
  const std::size_t reg = log.Find("RegisterHotKey", before);
  const std::size_t destroy = log.Find("DestroyForm TfrmOptions", before);
  ASSERT_NE(destroy, std::string::npos);
  EXPECT_LT(write, end);
  EXPECT_LT(read, reg);
  EXPECT_LT(reg, destroy);
  EXPECT_EQ(OptionForms(), 0u);
}

TEST_F(OptionsTest, ChangingTheDefaultDriveMovesTheBvxShortcutsToIt) {
  Start({'d', 'e'});
  SetDrive(Drive(1), 0x4031, 0x4032, true);
  SetDrive(Drive(2), 0x4033, 0x4034, true);
  Open([&](FakeForm& f) {
    f.SetValue("cbDriveLetters", 1);
    f.SelectTab("OptionTabs", 2);
    f.SetValue("hkOpenCd", 0x4035);
    f.Click("BitBtn1");
  });
  EXPECT_EQ(Ini(sys, "BVX", "Default"), "2");
  EXPECT_EQ(Ini(sys, "BVX", "OpenShortCut"), "16437");   // 0x4035, the working copy
  EXPECT_EQ(Ini(sys, "BVX", "CloseShortCut"), "16436");  // 0x4034
  EXPECT_EQ(form->drives.DefaultDrive, 2);
  EXPECT_EQ(form->drives.DriveTable[1].OpenShortCut, 0x4031);
  EXPECT_EQ(form->drives.DriveTable[2].OpenShortCut, 0x4035);
}

TEST_F(OptionsTest, WaitSecondsAreSavedAsTyped) {
  struct Case {
    std::string typed;
    std::string saved;
    std::uint32_t loaded;
  };
  const Case cases[] = {
      {"", "0", 0}, {"abc", "0", 0}, {"12x", "0", 0}, {"42", "42", 42}, {"+7", "7", 7}, {"-5", "-5", 0},
      {" 5", "5", 5}, {"  42", "42", 42}, {"+-5", "0", 0},
      // more than the field holds: its largest or smallest value
      {"99999999999", "2147483647", 2147483647}, {"-99999999999", "-2147483648", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("typed '" + c.typed + "'");
    FakeSystem s;
    s.os.cdroms = {'d', 'e'};
    TAboutForm f(s.os, s.ui);
    s.ui.on_modal.push_back([&](FakeForm& dlg) {
      dlg.TypeText("speWaitFor", c.typed);
      dlg.Click("BitBtn1");
    });
    s.ui.Guard([&] { f.mnuiOptions->Click(); });
    ASSERT_EQ(s.os.files.count(kIni), 1u);
    EXPECT_EQ(Ini(s, "BVX", "WaitFor"), c.saved);
    EXPECT_EQ(f.drives.DriveTable[1].WaitFor, c.loaded);
    EXPECT_EQ(f.drives.DriveTable[2].WaitFor, c.loaded);
  }
}

TEST_F(OptionsTest, WithNoDriveOkWritesDefaultZeroAndTheLoadMakesItOne) {
  Start({});
  form->drives.DefaultDrive = 1;
  Open([](FakeForm& f) { f.Click("BitBtn1"); });
  EXPECT_EQ(Ini(sys, "BVX", "Default"), "0");
  EXPECT_TRUE(Ini(sys, "BVX", "WaitFor").has_value());
  EXPECT_EQ(Ini(sys, "ShortCuts", "OpenShortCut1"), std::nullopt);
  EXPECT_EQ(Ini(sys, "Track", "DoTrack1"), std::nullopt);
  EXPECT_EQ(form->drives.DefaultDrive, 1);
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(OptionsTest, AClearedHotkeyEditReleasesThatCombinationAfterOk) {
  Start({'d'});
  // With no settings file drive 1 got the two fixed defaults at start.
  ASSERT_TRUE(sys.os.hotkeys.count(0));
  ASSERT_TRUE(sys.os.hotkeys.count(1));
  Open([](FakeForm& f) {
    f.SelectTab("OptionTabs", 1);
    EXPECT_EQ(f.Value("hkOpenCd"), kDefaultOpenShortCut);
    f.SetValue("hkOpenCd", 0);
    f.Click("BitBtn1");
  });
  EXPECT_EQ(Ini(sys, "ShortCuts", "OpenShortCut1"), "0");
  EXPECT_EQ(Ini(sys, "ShortCuts", "CloseShortCut1"), std::to_string(kDefaultCloseShortCut));
  EXPECT_FALSE(sys.os.hotkeys.count(0));
  EXPECT_TRUE(sys.os.hotkeys.count(1));
  EXPECT_EQ(form->drives.DriveTable[1].OpenShortCut, 0);
}

TEST_F(OptionsTest, AnUnwritableFileIsReportedAndTheDialogStillClosesWithOk) {
  Start({'d', 'e'});
  sys.os.unwritable.insert(kIni);
  const std::size_t before = sys.log.lines.size();
  Open([](FakeForm& f) {
    f.SelectTab("OptionTabs", 2);
    f.SetValue("hkOpenCd", 0x4041);
    f.Click("BitBtn1");
  });
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Unable to write to C:\\Program Files\\Brimvex\\BVX.ini.");
  EXPECT_EQ(sys.ui.boxes[0].caption, "Brimvex");
  const std::size_t end = sys.log.Find("EndModal TfrmOptions 1", before);
  ASSERT_NE(end, std::string::npos);
  EXPECT_NE(sys.log.Find("ReadFile " + kIni, end), std::string::npos);
  EXPECT_NE(sys.log.Find("RegisterHotKey", end), std::string::npos);
  EXPECT_EQ(OptionForms(), 0u);
  // Nothing reached the file, so the reload keeps what the start gave.
  EXPECT_FALSE(sys.os.files.count(kIni));
  EXPECT_EQ(form->drives.DriveTable[2].OpenShortCut, 0);
}

}  // namespace
}  // namespace bvx
