// The main window on the fake: start-up and shut-down order, discovery, the
// tray menu, the tray callback and the delayed pop-up, the program entry.
#include <gtest/gtest.h>

#include "program.h"

namespace bvx {
namespace {

using fake::FakeSystem;

struct MainFormTest : ProgramTest {
  void Tray(ui::TrayMouse action) { sys.ui.TrayMouse(Main(), action); }
  std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < form->TrayPopup.Count(); ++i)
      out.push_back(form->TrayPopup.Items(i).ShownCaption());
    return out;
  }
};

TEST_F(MainFormTest, DiscoveryFillsTheTableInLetterOrder) {
  struct Case {
    std::set<char> letters;
    std::vector<std::pair<std::string, std::uint32_t>> entries;  // device name, unit mask
  };
  const Case cases[] = {
      {{}, {}},
      {{'d', 'f'}, {{"cdaudio!d:", 0x8}, {"cdaudio!f:", 0x20}}},
      {{'z', 'a'}, {{"cdaudio!a:", 0x1}, {"cdaudio!z:", 0x2000000}}},
  };
  for (const Case& c : cases) {
    Program p;
    p.Start(c.letters);
    ASSERT_EQ(p.form->drives.DriveCount, c.entries.size());
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      const TCDROM& d = p.Drive(static_cast<int>(i + 1));
      EXPECT_EQ(d.DeviceName, c.entries[i].first);
      EXPECT_EQ(d.UnitMask, c.entries[i].second);
      EXPECT_EQ(d.Letter, c.entries[i].first[8]);
      EXPECT_FALSE(d.DiscPresent);
    }
    // Every letter was asked once, in order.
    const auto asked = p.sys.log.With("DriveType ");
    ASSERT_EQ(asked.size(), 26u);
    EXPECT_EQ(asked.front(), "DriveType a:\\");
    EXPECT_EQ(asked.back(), "DriveType z:\\");
  }
}

TEST_F(MainFormTest, AllTwentySixLettersFillTheTable) {
  std::set<char> all;
  for (char c = 'a'; c <= 'z'; ++c) all.insert(c);
  Start(all);
  EXPECT_EQ(form->drives.DriveCount, 26);
  EXPECT_EQ(form->drives.DriveTable[26].UnitMask, 1u << 25);
  EXPECT_EQ(form->TrayPopup.Count(), 52u + 7u);
  EXPECT_EQ(form->TrayPopup.Items(51).ShownCaption(), "Закрыть Z:");
}

TEST_F(MainFormTest, DiscQueryDecidesThePresenceAtStart) {
  Start({'d', 'e'}, {'e'});
  EXPECT_FALSE(form->drives.DriveTable[1].DiscPresent);
  EXPECT_TRUE(form->drives.DriveTable[2].DiscPresent);
  ASSERT_EQ(sys.log.Count("Mci info"), 2u);
  EXPECT_EQ(sys.log.With("Mci info")[0], "Mci info cdaudio!d: identity wait | reply 300 | cb 0x0");
  // Each drive's query comes right after its own drive-type answer.
  EXPECT_EQ(sys.log.Find("Mci info cdaudio!d:"), sys.log.Find("DriveType d:") + 1);
}

TEST_F(MainFormTest, TrayMenuHoldsDriveItemsThenTheStaticItems) {
  Start({'d', 'f'});
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Открыть D:", "Закрыть D:", "Открыть F:",
                                                   "Закрыть F:", "-", "Добавить в автозагрузку",
                                                   "-", "Параметры...", "О программе...", "-",
                                                   "Выход"}));
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(form->TrayPopup.Items(2 * k - 2).Tag, k);
    EXPECT_EQ(form->TrayPopup.Items(2 * k - 1).Tag, k);
    EXPECT_EQ(form->drives.DriveItems[k].OpenItem, &form->TrayPopup.Items(2 * k - 2));
  }
  EXPECT_EQ(form->N4->ImageIndex, 0);
  EXPECT_EQ(form->N1->ImageIndex, 1);
  EXPECT_EQ(form->mnuiOptions->ImageIndex, 2);
  EXPECT_EQ(form->N1->Command(), kCmdExit);
  EXPECT_EQ(form->N4->Command(), kCmdAbout);
  EXPECT_EQ(form->mnuiStartup->Command(), kCmdStartup);
  EXPECT_EQ(form->mnuiOptions->Command(), kCmdOptions);
}

TEST_F(MainFormTest, FormCreateRunsItsStepsInOrder) {
  Start({'d'});
  const auto& log = sys.log;
  const std::size_t last_drive = log.Find("DriveType z:");
  const std::size_t timer = log.Find("CreateTimer");
  const std::size_t style = log.Find("HideAppFromTaskbar");
  const std::size_t autostart = log.Find("QueryRunValue BVX");
  const std::size_t tray = log.Find("TrayAdd");
  ASSERT_NE(tray, std::string::npos);
  EXPECT_LT(last_drive, timer);
  EXPECT_LT(timer, style);
  EXPECT_LT(style, autostart);
  EXPECT_LT(autostart, tray);
  EXPECT_EQ(log.lines.back().substr(0, 7), "TrayAdd");
  EXPECT_EQ(static_cast<const fake::FakeTimer&>(*form->PopupTimer).Interval(), 500u);  // the double-click time
  EXPECT_FALSE(form->PopupTimer->Enabled());
  EXPECT_TRUE(sys.ui.app_hidden_from_taskbar);
  EXPECT_FALSE(Main().IsVisible());
}

TEST_F(MainFormTest, TrayIconIsAddedWithIdCallbackAndTip) {
  Start({'d'});
  ASSERT_EQ(sys.log.Count("TrayAdd"), 1u);
  EXPECT_EQ(sys.log.With("TrayAdd")[0],
            "TrayAdd 0x100 id 1 icon 1 tip D: диск не вставлен");
  // "TaskbarCreated" is let through to that window first: run as
  // administrator, the program would otherwise never hear of a new
  // notification area.
  EXPECT_EQ(sys.log.Find("AllowTaskbarCreated 0x100") + 1, sys.log.Find("TrayAdd"));
}

TEST_F(MainFormTest, AStepThatFailsEndsFormCreateAndTheProgramRunsOn) {
  sys.os.FailAlways(fake::Op::QueryRunValue);
  sys.os.cdroms = {'d'};
  // A failing drive-type answer raises nothing: it only skips letters.
  sys.os.FailWhen(fake::Op::DriveType, [](int n) { return n == 4; });
  form = std::make_unique<TAboutForm>(sys.os, sys.ui);
  EXPECT_EQ(form->drives.DriveCount, 0);
  EXPECT_TRUE(sys.ui.boxes.empty());
  EXPECT_EQ(sys.log.Count("TrayAdd"), 1u);
}

TEST_F(MainFormTest, FormDestroyRemovesIconReleasesHotkeysAndFreesDriveItems) {
  Start({'d', 'e'});
  const std::size_t before = sys.log.lines.size();
  form.reset();
  std::vector<std::string> tail(sys.log.lines.begin() + static_cast<long>(before), sys.log.lines.end());
  ASSERT_FALSE(tail.empty());
  EXPECT_EQ(tail.front(), "TrayDelete 0x100 id 1");
  EXPECT_FALSE(sys.os.tray_tip.has_value());
  EXPECT_TRUE(sys.os.hotkeys.empty());
  EXPECT_EQ(tail.back(), "DestroyForm TAboutForm");
}

TEST_F(MainFormTest, TrayCallbackTable) {
  Start({'d', 'e'});
  form->drives.DefaultDrive = 2;
  struct Case {
    ui::TrayMouse action;
    const char* mci;  // expected door command or null
    bool timer_on;
  };
  const Case cases[] = {
      {ui::TrayMouse::LeftDoubleClick, "Mci Set cdaudio!e: door open wait", false},
      {ui::TrayMouse::RightDoubleClick, "Mci Set cdaudio!e: door closed wait", false},
      {ui::TrayMouse::Other, nullptr, false},  // move, other buttons, releases
      {ui::TrayMouse::RightDown, nullptr, true},
  };
  for (const Case& c : cases) {
    const int row = static_cast<int>(c.action);
    sys.log.Clear();
    Tray(c.action);
    const auto mci = sys.log.With("Mci ");
    if (c.mci != nullptr) {
      ASSERT_EQ(mci.size(), 1u) << row;
      EXPECT_EQ(mci[0].substr(0, mci[0].find(" |")), c.mci);
    } else {
      EXPECT_TRUE(mci.empty()) << row;
    }
    EXPECT_EQ(form->PopupTimer->Enabled(), c.timer_on) << row;
  }
}

TEST_F(MainFormTest, RightClickOpensTheMenuOneDoubleClickTimeLaterWhereTheCursorIsThen) {
  Start({'d'});
  sys.ui.Advance(1000);
  Tray(ui::TrayMouse::RightDown);
  sys.ui.Advance(300);
  Tray(ui::TrayMouse::RightDown);  // a second press does not postpone it
  sys.os.cursor = {640, 480};
  sys.ui.Advance(199);
  EXPECT_TRUE(sys.ui.popups.empty());
  sys.ui.Advance(1);
  ASSERT_EQ(sys.ui.popups.size(), 1u);
  EXPECT_EQ(sys.ui.popups[0].time, 1500u);
  EXPECT_EQ(sys.ui.popups[0].at.x, 640);
  EXPECT_EQ(sys.ui.popups[0].at.y, 480);
  EXPECT_FALSE(form->PopupTimer->Enabled());
  // Foreground first, then the menu.
  const std::size_t fg = sys.log.Find("SetForegroundWindow 0x100");
  const std::size_t pop = sys.log.Find("Popup");
  EXPECT_LT(fg, pop);
  EXPECT_EQ(sys.ui.popups[0].lines,
            (std::vector<std::string>{"Открыть &D:\tCtrl+Alt+[", "Закрыть D:\tCtrl+Alt+]", "-",
                                      "Добавить в автозагрузку", "-", "Параметры...",
                                      "О программе...", "-", "Выход"}));
}

TEST_F(MainFormTest, RightDoubleClickClosesAndSwallowsThePendingPopup) {
  Start({'d'});
  Tray(ui::TrayMouse::RightDown);
  sys.ui.Advance(100);
  Tray(ui::TrayMouse::RightDoubleClick);
  sys.ui.Advance(1000);
  EXPECT_TRUE(sys.ui.popups.empty());
  EXPECT_FALSE(form->SuppressPopup);
  EXPECT_EQ(sys.log.Count("Mci Set cdaudio!d: door closed wait"), 1u);
  // The next right click shows the menu again.
  Tray(ui::TrayMouse::RightDown);
  sys.ui.Advance(500);
  EXPECT_EQ(sys.ui.popups.size(), 1u);
}

TEST_F(MainFormTest, AChosenMenuItemRunsAfterTheMenuHasClosed) {
  Start({'d'});
  sys.ui.menu_choice = [](const std::vector<ui::ShownItem>& shown) { return shown[0].Command; };
  Tray(ui::TrayMouse::RightDown);
  sys.ui.Advance(500);
  const std::size_t pop = sys.log.Find("Popup");
  const std::size_t mci = sys.log.Find("Mci Set cdaudio!d: door open wait");
  ASSERT_NE(mci, std::string::npos);
  EXPECT_LT(pop, mci);
}

TEST_F(MainFormTest, WithNoDriveTheMenuShowsSixItemsAndDoubleClicksReportARangeError) {
  Start({});
  EXPECT_EQ(form->TrayPopup.Count(), 7u);
  Tray(ui::TrayMouse::RightDown);
  sys.ui.Advance(500);
  ASSERT_EQ(sys.ui.popups.size(), 1u);
  EXPECT_EQ(sys.ui.popups[0].lines,
            (std::vector<std::string>{"Добавить в автозагрузку", "-", "Параметры...",
                                      "О программе...", "-", "Выход"}));
  Tray(ui::TrayMouse::LeftDoubleClick);
  Tray(ui::TrayMouse::RightDoubleClick);
  ASSERT_EQ(sys.ui.boxes.size(), 2u);
  for (const auto& box : sys.ui.boxes) {
    EXPECT_EQ(box.text, "Range check error.");
    EXPECT_EQ(box.caption, "Brimvex");
    EXPECT_EQ(box.icon, ui::MessageIcon::Error);
  }
  EXPECT_EQ(sys.log.Count("Mci "), 0u);
  EXPECT_EQ(sys.log.Count("Broadcast"), 0u);
}

TEST_F(MainFormTest, AboutShowsAndClosingOnlyHides) {
  Start({'d'});
  form->N4->Click();
  EXPECT_TRUE(Main().IsVisible());
  Main().Click("Button1");
  EXPECT_FALSE(Main().IsVisible());
  form->N4->Click();
  Main().Close();
  EXPECT_FALSE(Main().IsVisible());
  EXPECT_FALSE(sys.ui.Terminated());
  EXPECT_TRUE(sys.os.tray_tip.has_value());
}

TEST_F(MainFormTest, MenuCommandsWorkBeforeTheMenuWasEverShown) {
  Start({'d'});
  EXPECT_TRUE(sys.ui.Command(Main(), kCmdAbout));
  EXPECT_TRUE(Main().IsVisible());
  EXPECT_TRUE(sys.ui.Command(Main(), form->drives.DriveItems[1].CloseItem->Command()));
  EXPECT_EQ(sys.log.Count("Mci Set cdaudio!d: door closed wait"), 1u);
  EXPECT_FALSE(sys.ui.Terminated());
  EXPECT_TRUE(sys.ui.Command(Main(), kCmdExit));
  EXPECT_TRUE(sys.ui.Terminated());
}

TEST_F(MainFormTest, TaskbarCreatedAddsTheIconAgainWithTheCurrentTip) {
  Start({'d'});
  sys.os.tray_tip.reset();  // Explorer restarted
  form->OnTaskbarCreated();
  EXPECT_EQ(sys.log.Count("TrayAdd"), 2u);
  EXPECT_EQ(sys.os.tray_tip, "D: диск не вставлен");
}

TEST_F(MainFormTest, ARefusedTrayIconIsTriedAgainForAboutAMinute) {
  struct Case {
    const char* what;
    int refusals;                     // NIM_ADD calls refused before one succeeds
    std::uint64_t taskbar_created;    // when Explorer announces itself (0: never)
    std::size_t adds;                 // NIM_ADD calls in all
    bool icon;
  };
  const Case cases[] = {
      {"taken at once", 0, 0, 1, true},
      {"taken at the third retry", 3, 0, 4, true},
      {"never taken", 1000, 0, 1 + kTrayRetries, false},
      {"taken on TaskbarCreated", 1000, 7000, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem s;
    s.os.cdroms = {'d'};
    int refusals = c.refusals;
    s.os.FailWhen(fake::Op::TrayAdd, [&refusals](int) { return refusals-- > 0; });
    TAboutForm f(s.os, s.ui);
    if (c.taskbar_created != 0) {
      s.ui.At(c.taskbar_created, [&] {
        refusals = 0;
        f.OnTaskbarCreated();
      });
    }
    s.ui.Advance(10 * 60 * 1000);
    EXPECT_EQ(s.log.Count("TrayAdd"), c.adds);
    EXPECT_EQ(s.os.tray_tip.has_value(), c.icon);
    EXPECT_EQ(s.ui.RunningTimers(), 0u) << "a timer is left running";
  }
}

TEST_F(MainFormTest, TheIconsPictureFollowsTheDisplayScale) {
  enum class Change { ScaleEvent, TaskbarCreated };
  struct Case {
    const char* what;
    int at_start;        // the notification area's small-icon size at start
    int later;           // ... after the change, at 1 s
    Change change;
    int refused_adds;    // NIM_ADD calls refused first (the tray not ready)
    int picture;         // the size shown at the end
    std::size_t set_icon;  // pictures handed over to the shown icon
  };
  const Case cases[] = {
      {"150 % from the start", 24, 24, Change::ScaleEvent, 0, 24, 0},
      {"100 % to 150 %", 16, 24, Change::ScaleEvent, 0, 24, 1},
      {"150 % to 100 %", 24, 16, Change::ScaleEvent, 0, 16, 1},
      {"no change of size", 16, 16, Change::ScaleEvent, 0, 16, 0},
      {"TaskbarCreated, the icon kept", 16, 24, Change::TaskbarCreated, 0, 24, 1},
      {"while a refused add waits", 16, 24, Change::ScaleEvent, 1, 24, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem s;
    s.os.cdroms = {'d'};
    s.os.tray_icon_size = c.at_start;
    int refusals = c.refused_adds;
    s.os.FailWhen(fake::Op::TrayAdd, [&refusals](int) { return refusals-- > 0; });
    TAboutForm f(s.os, s.ui);
    s.ui.At(1000, [&] {
      s.os.tray_icon_size = c.later;
      if (c.change == Change::ScaleEvent) {
        s.ui.DisplayScaleChanged(*s.ui.MainForm());
      } else {
        f.OnTaskbarCreated();
      }
    });
    s.ui.Advance(60 * 1000);
    EXPECT_EQ(s.os.tray_picture_size, c.picture);
    ASSERT_EQ(s.log.Count("TraySetIcon"), c.set_icon);
    if (c.set_icon != 0) {
      EXPECT_EQ(s.log.With("TraySetIcon")[0], "TraySetIcon 0x100 id 1 icon 1 size " + std::to_string(c.later));
    }
    EXPECT_EQ(s.os.tray_tip, "D: диск не вставлен");
    EXPECT_EQ(s.ui.RunningTimers(), 0u);
  }
}

TEST(Entry, SecondCopyEndsAtOnceShowingNothing) {
  FakeSystem sys;
  sys.os.mutex_result = MutexResult::AlreadyExists;
  EXPECT_EQ(BVX(sys.os, sys.ui), 0);
  EXPECT_TRUE(sys.ui.Forms().empty());
  EXPECT_EQ(sys.log.Count("TrayAdd"), 0u);
  EXPECT_EQ(sys.log.Count("DriveType"), 0u);
  // The cursor of the links is installed first, in every copy.
  ASSERT_FALSE(sys.log.lines.empty());
  EXPECT_EQ(sys.log.lines[0], "LoadCursorResource POINTCURS");
}

TEST(Entry, FirstCopyRunsUntilExit) {
  for (const MutexResult result : {MutexResult::Created, MutexResult::Failed}) {  // runs alone
    FakeSystem sys;
    sys.os.mutex_result = result;
    sys.os.cdroms = {'d'};
    // Exit chosen from the menu once the program runs.
    sys.ui.At(10, [&] { sys.ui.TrayMouse(*sys.ui.MainForm(), ui::TrayMouse::RightDown); });
    sys.ui.menu_choice = [](const std::vector<ui::ShownItem>&) { return kCmdExit; };
    EXPECT_EQ(BVX(sys.os, sys.ui), 0);
    const auto& log = sys.log;
    EXPECT_LT(log.Find("CreateNamedMutex BVX_STARTED_MUTEX"), log.Find("Initialize"));
    EXPECT_LT(log.Find("Initialize"), log.Find("SetTitle Brimvex"));
    EXPECT_LT(log.Find("SetTitle Brimvex"), log.Find("SetShowMainForm 0"));
    EXPECT_LT(log.Find("SetShowMainForm 0"), log.Find("CreateForm TAboutForm"));
    EXPECT_LT(log.Find("TrayAdd"), log.Find("Run"));
    EXPECT_LT(log.Find("Terminate"), log.Find("TrayDelete"));
    EXPECT_FALSE(sys.os.tray_tip.has_value());
  }
}

TEST(Entry, MissingLinkCursorStopsStartUp) {
  FakeSystem sys;
  sys.os.FailAlways(fake::Op::LoadCursorResource);
  EXPECT_NE(BVX(sys.os, sys.ui), 0);
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Unable to load cursor for link.");
  EXPECT_EQ(sys.log.Count("CreateNamedMutex"), 0u);
  EXPECT_TRUE(sys.ui.Forms().empty());
}

TEST(StandardError, FullStopIsAddedAfterLettersAndDigits) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"Range check error", "Range check error."},
      {"Ends with 7", "Ends with 7."},
      {"Already.", "Already."},
      {"Question?", "Question?."},  // '?' sorts after '.'
      {"Comma,", "Comma,"},         // ',' sorts before '.'
      {"Ошибка", "Ошибка."},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StandardErrorText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace bvx
