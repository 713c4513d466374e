// The autostart entry (TAutostart on the fake, and the tray item that tells
// it in the program) and the link labels of the About window.
#include <gtest/gtest.h>

#include <optional>

#include "about/LinkLabel.h"
#include "about/about_form.h"
#include "about/autostart.h"
#include "program.h"

namespace bvx {
namespace {

using fake::FakeSystem;

struct AutostartTest : ProgramTest {
  TAutostart Autostart() { return {sys.os, sys.ui}; }  // built without the program
  const std::string& Shown() { return form->mnuiStartup->ShownCaption(); }
};

TEST(AutostartName, IsTheFileNameWithoutItsLastExtension) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Brimvex\\BVX.exe", "BVX"},
      {"C:\\Tools\\bvx.portable.exe", "bvx.portable"},
      {"C:\\My.Apps\\BVX", "BVX"},
      {"BVX.exe", "BVX"},
  };
  for (const Case& c : cases) EXPECT_EQ(AutostartValueName(c.path), c.name) << c.path;
}

const std::string kDisabled("\x03\0\0\0\x10\x20\x30\x40\x50\x60\x70\x01", 12);  // Task Manager's "Disable"
const std::string kEnabled("\x02\0\0\0\0\0\0\0\0\0\0\0", 12);

TEST_F(AutostartTest, InAutostartFollowsTheRegistryAndTaskManagersMark) {
  struct Case {
    bool present;
    bool key_exists;
    std::optional<std::string> mark;
    std::optional<fake::Op> failing;  // the operation made to fail
    bool in;
  };
  const Case cases[] = {
      {true, true, std::nullopt, std::nullopt, true},
      {false, true, std::nullopt, std::nullopt, false},
      {true, false, std::nullopt, std::nullopt, false},
      {true, true, kDisabled, std::nullopt, false},
      {true, true, std::string("\x07", 1), std::nullopt, false},
      {true, true, kEnabled, std::nullopt, true},
      {true, true, std::string(), std::nullopt, true},
      {true, true, kDisabled, fake::Op::ReadStartupApproved, true},
      {true, true, std::nullopt, fake::Op::QueryRunValue, false},
  };
  for (const Case& c : cases) {
    FakeSystem s;
    s.os.run_key_exists = c.key_exists;
    if (c.present) s.os.run_values["BVX"] = "C:\\old\\BVX.exe";
    if (c.mark) s.os.startup_approved["BVX"] = *c.mark;
    if (c.failing) s.os.FailAlways(*c.failing);
    EXPECT_EQ(TAutostart(s.os, s.ui).IsInAutostart(), c.in)
        << (c.failing ? fake::OpName(*c.failing) : "") << " " << c.mark.value_or("none").size();
    EXPECT_TRUE(s.ui.boxes.empty());
  }
}

TEST_F(AutostartTest, AddWritesTheQuotedPathAndDeleteRemovesIt) {
  Start();
  sys.os.run_values["BVX"] = "C:\\old\\BVX.exe";
  form->acAddToStartupExecute();
  EXPECT_EQ(sys.os.run_values["BVX"], "\"C:\\Program Files\\Brimvex\\BVX.exe\"");
  EXPECT_EQ(Shown(), "Удалить из автозагрузки");
  form->mnuiStartup->Click();
  EXPECT_EQ(sys.os.run_values.count("BVX"), 0u);
  EXPECT_EQ(Shown(), "Добавить в автозагрузку");
  EXPECT_TRUE(sys.ui.boxes.empty());
  EXPECT_EQ(sys.log.Count("WriteStartupApproved"), 0u) << "no mark, none written";
}

TEST_F(AutostartTest, AddEnablesAnEntryDisabledInTaskManager) {
  sys.os.run_values["BVX"] = "\"C:\\Program Files\\Brimvex\\BVX.exe\"";
  sys.os.startup_approved["BVX"] = kDisabled;
  Start();
  EXPECT_EQ(Shown(), "Добавить в автозагрузку");
  form->mnuiStartup->Click();
  EXPECT_EQ(sys.os.startup_approved["BVX"], kEnabled);
  EXPECT_EQ(sys.os.run_values["BVX"], "\"C:\\Program Files\\Brimvex\\BVX.exe\"");
  EXPECT_EQ(Shown(), "Удалить из автозагрузки");
  EXPECT_TRUE(sys.ui.boxes.empty());
}

// After a failure the item shows what the registry holds, not what was asked.
TEST_F(AutostartTest, AFailureIsReportedOnlyForAWriteAndTheItemTellsTheTruth) {
  struct Case {
    const char* what;
    bool present, key_exists;
    std::optional<std::string> mark;
    std::optional<fake::Op> failing;
    bool add;  // the add action, else the delete
    bool box;
    const char* caption;
  };
  const Case cases[] = {
      {"the write fails", false, true, std::nullopt, fake::Op::SetRunValue, true, true, "Добавить в автозагрузку"},
      {"the write fails over an old value", true, true, std::nullopt, fake::Op::SetRunValue, true, true,
       "Удалить из автозагрузки"},
      {"no Run key", false, false, std::nullopt, std::nullopt, true, true, "Добавить в автозагрузку"},
      {"the mark cannot be cleared", true, true, kDisabled, fake::Op::WriteStartupApproved, true, true,
       "Добавить в автозагрузку"},
      {"the delete fails", true, true, std::nullopt, fake::Op::DeleteRunValue, false, false, "Удалить из автозагрузки"},
      {"nothing to delete", false, true, std::nullopt, std::nullopt, false, false, "Добавить в автозагрузку"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem s;
    s.os.run_key_exists = c.key_exists;
    if (c.present) s.os.run_values["BVX"] = "x";
    if (c.mark) s.os.startup_approved["BVX"] = *c.mark;
    TAboutForm f(s.os, s.ui);
    if (c.failing) s.os.FailAlways(*c.failing);
    if (c.add) {
      f.acAddToStartupExecute();
    } else {
      f.acDeletFromStartupExecute();
    }
    ASSERT_EQ(s.ui.boxes.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(s.ui.boxes[0].text, "Failed to set data for 'BVX'");
      EXPECT_EQ(s.ui.boxes[0].caption, "Ошибка pаботы с pеестpом");
      EXPECT_EQ(s.ui.boxes[0].icon, ui::MessageIcon::None);
    }
    EXPECT_EQ(f.mnuiStartup->ShownCaption(), c.caption);
  }
}

TEST_F(AutostartTest, CaptionHoldsThreeLatinLetters) {
  const std::string caption(kRegistryErrorCaption);
  EXPECT_EQ(std::count(caption.begin(), caption.end(), 'p'), 3);
  EXPECT_EQ(caption, "Ошибка p" "аботы с p" "еест" "p" "ом");
}

TEST_F(AutostartTest, ARenamedExecutableNeitherFindsNorDeletesTheOldEntry) {
  sys.os.run_values["BVX"] = "\"C:\\Program Files\\Brimvex\\BVX.exe\"";
  sys.os.module_path = "C:\\Program Files\\Brimvex\\Tray.exe";
  TAutostart autostart = Autostart();
  EXPECT_FALSE(autostart.IsInAutostart());
  autostart.Remove();
  EXPECT_EQ(sys.os.run_values.count("BVX"), 1u);
  autostart.Add();
  EXPECT_EQ(sys.os.run_values["Tray"], "\"C:\\Program Files\\Brimvex\\Tray.exe\"");
}

TEST_F(AutostartTest, BindingIsReadOnlyAtStart) {
  Start();
  sys.os.run_values["BVX"] = "x";  // another program adds it later
  EXPECT_EQ(Shown(), "Добавить в автозагрузку");
}

struct LinkTest : ProgramTest { void SetUp() override { Start(); } };

TEST_F(LinkTest, HoverUnderlinesAndLeaveRestores) {
  for (const char* name : {"LinkLabel1", "LinkLabel2"}) {
    const ui::Font normal = Main().ControlFont(name);
    EXPECT_FALSE(normal.Underline);
    Main().MouseMove(name);
    EXPECT_EQ(sys.log.lines.back().substr(0, 10), "TrackMouse");
    EXPECT_TRUE(sys.log.lines.back().ends_with(" hover 0"));
    EXPECT_EQ(Main().ControlFont(name), normal);  // a move alone changes nothing
    Main().MouseHover(name);
    EXPECT_TRUE(Main().ControlFont(name).Underline);
    EXPECT_EQ(Main().ControlFont(name).Face, "Arial");
    Main().MouseLeave(name);
    EXPECT_EQ(Main().ControlFont(name), normal);
  }
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(LinkTest, TrackingIsAskedOnTheLabelsOwnWindowOnEveryMove) {
  Main().MouseMove("LinkLabel2");
  Main().MouseMove("LinkLabel2");
  const auto track = sys.log.With("TrackMouse");
  ASSERT_EQ(track.size(), 2u);
  char expected[64];
  std::snprintf(expected, sizeof expected, "TrackMouse 0x%llx hover 0",
                static_cast<unsigned long long>(Main().ControlHandle("LinkLabel2")));
  EXPECT_EQ(track[0], expected);
}

TEST_F(LinkTest, TrackingFailureRaisesAndTheLookStays) {
  sys.os.FailAlways(fake::Op::TrackMouse);
  const ui::Font before = Main().ControlFont("LinkLabel1");
  Main().MouseMove("LinkLabel1");
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Unable to set tracking for mouse event.");
  EXPECT_EQ(sys.ui.boxes[0].caption, "Brimvex");
  EXPECT_EQ(Main().ControlFont("LinkLabel1"), before);
}

TEST_F(LinkTest, ClicksHandTheLinksToTheShell) {
  Main().Click("LinkLabel1");
  Main().Click("LinkLabel2");
  const auto opens = sys.log.With("ShellOpen");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_TRUE(opens[0].find(" mailto:") != std::string::npos);
  EXPECT_TRUE(opens[0].ends_with("?subject=Brimvex%202.2 normal"));
  EXPECT_TRUE(opens[1].find(" https://") != std::string::npos);
  EXPECT_TRUE(opens[1].ends_with(" maximized"));
}

TEST_F(LinkTest, LinkCursorIsInstalledAsScreenCursor100) {
  fake::FakeSystem s;
  LinkLabelInitialization(s.os, s.ui);
  EXPECT_EQ(s.ui.screen_cursors.at(100), s.os.cursor_handle);
}

TEST(AboutLayout, MatchesTheWindowDescription) {
  const ui::FormLayout& f = kAboutFormLayout;
  EXPECT_EQ(f.ClassName, "TAboutForm");
  EXPECT_EQ(f.Caption, "О программе");
  EXPECT_EQ(f.ClientWidth, 280);
  EXPECT_EQ(f.ClientHeight, 119);
  struct Case {
    const char* name;
    ui::Kind kind;
    int left, top, width, height;
    const char* text;
  };
  const Case cases[] = {
      {"Image1", ui::Kind::Image, 3, 3, 227, 42, "BANNER"},
      {"Bevel1", ui::Kind::Bevel, 3, 60, 274, 2, ""},
      {"StaticText1", ui::Kind::StaticText, 4, 64, 87, 20, "Версия 2.2 fix"},
      {"LinkLabel2", ui::Kind::LinkLabel, 4, 101, 159, 20, "Посетить сайт программы"},
      {"Button1", ui::Kind::Button, 202, 94, 75, 22, "&Закрыть"},
  };
  for (const Case& c : cases) {
    const auto it = std::find_if(f.Controls.begin(), f.Controls.end(),
                                 [&](const ui::ControlRow& s) { return s.Name == c.name; });
    ASSERT_NE(it, f.Controls.end()) << c.name;
    EXPECT_EQ(it->ControlKind, c.kind) << c.name;
    EXPECT_EQ(it->Left, c.left) << c.name;
    EXPECT_EQ(it->Top, c.top) << c.name;
    EXPECT_EQ(it->Width, c.width) << c.name;
    EXPECT_EQ(it->Height, c.height) << c.name;
    EXPECT_EQ(it->Text, c.text) << c.name;
  }
}

}  // namespace
}  // namespace bvx
