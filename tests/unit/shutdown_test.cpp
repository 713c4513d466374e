// The end-of-session guard and the eject notice on the fake, in virtual time:
// the guard over a table of its own, and its road through the program.
#include <gtest/gtest.h>

#include <algorithm>

#include "drives/doors.h"
#include "program.h"
#include "shutdown/bvx_notification.h"
#include "shutdown/shutdown_guard.h"

namespace bvx {
namespace {

using fake::FakeForm;
using fake::FakeSystem;

constexpr std::string_view kPrefix = "Внимание дверца будет закрыта автоматически через ";
constexpr std::string_view kNoticeE =
    "Обнаружено наличие диска в приводе E:. Заберите его и закройте дверцу.";

// An 18-byte volume record with the media flag, as the system sends it.
VolumeRecord MediaRecord(std::uint32_t unit_mask) {
  VolumeRecord r{};
  r[0] = 18;
  r[4] = 2;
  for (int i = 0; i < 4; ++i) r[12 + i] = static_cast<std::uint8_t>(unit_mask >> (8 * i));
  r[16] = 1;
  return r;
}

// The guard in a running program (Start), or one of its own over a table of
// its own (Build), whose door commands only write "Door open k" or "Door
// close k" to the log.
struct Session : Program, DoorRoad {
  Drives drives;
  std::optional<TShutdownGuard> guard;
  std::size_t query_at = 0;  // log size when the query came
  std::string label;         // Label1 as the notice was shown

  void Start(std::set<char> cdroms, std::set<char> discs) {
    Program::Start(std::move(cdroms), std::move(discs));
    // Whatever the settings file says, only the drives a test watches count.
    for (int k = 1; k <= kMaxDrives; ++k) Drive(k).DoTrack = false;
  }
  void Build(const std::set<char>& cdroms, const std::set<char>& discs) {
    drives = DriveTableOf(std::string(cdroms.begin(), cdroms.end()), std::string(discs.begin(), discs.end()));
    guard.emplace(sys.os, sys.ui, Window(), drives, *this);
  }
  void RunDoorCommand(DoorCommand c) override {
    sys.log.Add(std::string(c.Open ? "Door open " : "Door close ") + std::to_string(c.Drive));
  }
  void Watch(int k, std::uint32_t wait) {  // in the program's table once it runs
    TCDROM& d = (form ? form->drives : drives).DriveTable[k];
    d.DoTrack = true;
    d.WaitFor = wait;
  }
  FakeForm* Notice() { return sys.ui.FindForm("TfrmNotifyCD"); }
  std::intptr_t Query(const ui::SessionEndQuery& query = {}) {
    query_at = sys.log.lines.size();
    return MayEnd(form ? sys.ui.QueryEndSession(Main(), query) : guard->Query(query));
  }
  // The answer as the window procedure gives it: 1 yes, 0 no or no handler.
  static std::intptr_t MayEnd(std::optional<bool> answer) { return answer.value_or(false) ? 1 : 0; }
  // What the guard did: MCI commands without their parameters (or the door
  // commands of a guard of its own), the query-remove
  // broadcast without its bytes, the notice's life, the reason, the ending.
  std::vector<std::string> GuardLog() const {
    std::vector<std::string> out;
    for (std::size_t i = query_at; i < sys.log.lines.size(); ++i) {
      const std::string& l = sys.log.lines[i];
      if (l.starts_with("Mci ") || l.starts_with("Door ")) {
        out.push_back(l.substr(0, l.find(" |")));
      } else if (l.starts_with("Broadcast")) {
        out.emplace_back("Broadcast");
      } else if (l.find("TfrmNotifyCD") != std::string::npos || l.starts_with("Shutdown") ||
                 l.starts_with("Terminate") || l.starts_with("CreateTimer")) {
        out.push_back(l);
      }
    }
    return out;
  }
  // Records lblBack when the notice is shown and 1 ms after each tick of its
  // timer, for as long as it is up; and Label1 and the virtual time it was shown.
  void RecordCountdown(std::vector<std::string>& texts, std::uint64_t& shown_at) {
    sys.ui.on_modal.push_back([this, &texts, &shown_at](FakeForm& f) {
      shown_at = sys.ui.Now();
      label = f.Text("Label1");
      texts.push_back(f.Text("lblBack"));
      Sample(texts, 1001);
    });
  }
  void Sample(std::vector<std::string>& texts, std::uint64_t delay) {
    sys.ui.At(delay, [this, &texts] {
      if (Notice() == nullptr || texts.size() > 30) return;  // a notice that never closes fails
      texts.push_back(Notice()->Text("lblBack"));
      Sample(texts, 1000);
    });
  }
};

struct ShutdownTest : ::testing::Test, Session {};

TEST(Shutdown, WithoutAWatchedDriveHoldingADiscTheProgramJustEnds) {
  struct Case {
    const char* name;
    std::set<char> cdroms, discs;
    std::vector<int> watched;
    ui::SessionEndQuery query;
  };
  const Case cases[] = {
      {"no drive", {}, {}, {}},
      {"disc, not watched", {'d'}, {'d'}, {}},
      {"watched, no disc", {'d'}, {}, {1}},
      {"neither", {'d', 'e'}, {'e'}, {1}},
      // Restart Manager: an installer closes the program, the session goes on.
      {"closed by an installer", {'d'}, {'d'}, {1}, {.CloseApp = true}},
      {"closed by an installer, critical", {'d'}, {'d'}, {1}, {.CloseApp = true, .Critical = true}},
  };
  for (const Case& c : cases) {
    Session t;
    t.Build(c.cdroms, c.discs);
    for (int k : c.watched) t.Watch(k, 5);
    EXPECT_EQ(t.Query(c.query), 1) << c.name;
    EXPECT_EQ(t.GuardLog(), std::vector<std::string>{"Terminate"}) << c.name;
    EXPECT_TRUE(t.sys.ui.Terminated()) << c.name;
    EXPECT_TRUE(t.sys.ui.boxes.empty()) << c.name;
    EXPECT_EQ(t.sys.ui.Now(), 0u) << c.name;
  }
}

TEST_F(ShutdownTest, QualifyingDrivesAreHandledOneAfterTheOtherInTableOrder) {
  Start({'d', 'e', 'f'}, {'d', 'e', 'f'});
  Watch(1, 0);
  Watch(3, 0);  // e holds a disc but is not watched
  EXPECT_EQ(Query(), 1);
  auto drive = [](std::string name, std::string upper) {
    return std::vector<std::string>{
        "ShutdownReasonCreate 0x100 Обнаружено наличие диска в приводе " + upper +
            ":. Заберите его и закройте дверцу.",
        "Broadcast",
        "Mci Set cdaudio!" + name + ": door open wait",
        "CreateForm TfrmNotifyCD",
        "CreateTimer 1000 on",
        "ShowModal TfrmNotifyCD",
        "Show TfrmNotifyCD",
        "Hide TfrmNotifyCD",
        "EndModal TfrmNotifyCD 1",
        "DestroyForm TfrmNotifyCD",
        "Mci Set cdaudio!" + name + ": door closed wait"};
  };
  std::vector<std::string> expected = drive("d", "D");
  for (auto& l : drive("f", "F")) expected.push_back(l);
  expected.push_back("ShutdownReasonDestroy 0x100");
  expected.push_back("Terminate");
  EXPECT_EQ(GuardLog(), expected);
  EXPECT_EQ(sys.ui.Now(), 2000u);  // one second per notice
  EXPECT_EQ(Notice(), nullptr);
}

TEST(Shutdown, CountdownShowsEverySecondAndClosesOneTickAfterZero) {
  struct Case {
    std::uint32_t wait;
    std::vector<std::string> counts;
  };
  const Case cases[] = {
      {0, {"0 секунд."}},
      {2, {"2 секунды.", "1 секунду.", "0 секунд."}},
      {10,
       {"10 секунд.", "9 секунд.", "8 секунд.", "7 секунд.", "6 секунд.", "5 секунд.",
        "4 секунды.", "3 секунды.", "2 секунды.", "1 секунду.", "0 секунд."}},
  };
  for (const Case& c : cases) {
    Session t;
    t.Build({'d', 'e'}, {'e'});
    t.Watch(2, c.wait);
    t.sys.ui.Advance(250);  // the guard need not start on a whole second
    std::vector<std::string> texts;
    std::uint64_t shown_at = 0;
    t.RecordCountdown(texts, shown_at);
    EXPECT_EQ(t.Query(), 1);
    std::vector<std::string> expected;
    for (const auto& n : c.counts) expected.push_back(std::string(kPrefix) + n);
    EXPECT_EQ(texts, expected) << c.wait;
    EXPECT_EQ(t.label, kNoticeE);
    EXPECT_EQ(shown_at, 250u);
    EXPECT_EQ(t.sys.ui.Now() - shown_at, (c.wait + 1) * 1000u) << c.wait;
    EXPECT_EQ(t.sys.log.Count("EndModal TfrmNotifyCD 1"), 1u);
  }
}

TEST_F(ShutdownTest, TheCloseBoxEndsTheWaitAndTheDoorClosesAtOnce) {
  Start({'d', 'e'}, {'d', 'e'});
  Watch(1, 30);
  Watch(2, 30);
  std::uint64_t second_shown = 0;
  sys.ui.on_modal.push_back([this](FakeForm& f) { sys.ui.At(2500, [&f] { f.Close(); }); });
  sys.ui.on_modal.push_back([this, &second_shown](FakeForm& f) {
    second_shown = sys.ui.Now();
    sys.ui.At(700, [&f] { f.Close(); });
  });
  EXPECT_EQ(Query(), 1);
  const auto log = GuardLog();
  const auto at = [&](const std::string& line) {
    return std::find(log.begin(), log.end(), line) - log.begin();
  };
  const auto end_d = at("EndModal TfrmNotifyCD 2");
  ASSERT_LT(end_d + 2, static_cast<long>(log.size()));
  EXPECT_EQ(log[static_cast<std::size_t>(end_d + 1)], "DestroyForm TfrmNotifyCD");
  EXPECT_EQ(log[static_cast<std::size_t>(end_d + 2)], "Mci Set cdaudio!d: door closed wait");
  EXPECT_LT(end_d + 2, at("Mci Set cdaudio!e: door open wait"));
  EXPECT_EQ(second_shown, 2500u);
  EXPECT_EQ(sys.ui.Now(), 3200u);
  EXPECT_EQ(sys.log.Count("EndModal TfrmNotifyCD 2"), 2u);
  EXPECT_EQ(sys.log.Count("Mci Set cdaudio!e: door closed wait"), 1u);
  EXPECT_TRUE(sys.ui.Terminated());
}

TEST(Shutdown, NoticesDuringAnEarlierDriveDecideWhetherALaterOneQualifies) {
  struct Case {
    ui::DeviceEvent event;
    bool e_has_disc;
    const char* tip;  // after the notice
  };
  const Case cases[] = {
      {ui::DeviceEvent::RemoveComplete, true, "D: диск вставлен E: диск не вставлен"},
      {ui::DeviceEvent::Arrival, false, "D: диск вставлен E: диск вставлен"},
  };
  for (const Case& c : cases) {
    Session t;
    t.Start({'d', 'e'}, c.e_has_disc ? std::set<char>{'d', 'e'} : std::set<char>{'d'});
    t.Watch(1, 3);
    t.Watch(2, 3);
    const VolumeRecord record = MediaRecord(0x10);  // drive e
    t.sys.ui.on_modal.push_back([&](FakeForm&) {
      t.sys.ui.At(1500, [&] {
        EXPECT_EQ(t.sys.ui.DeviceChange(t.Main(), c.event, record), ui::DeviceAnswer::Granted);
      });
    });
    EXPECT_EQ(t.Query(), 1);
    EXPECT_EQ(t.sys.os.tray_tip, c.tip);
    const bool e_handled = !c.e_has_disc;
    EXPECT_EQ(t.sys.log.Count("ShowModal TfrmNotifyCD"), e_handled ? 2u : 1u) << c.tip;
    EXPECT_EQ(t.sys.log.Count("Mci Set cdaudio!e: door open wait"), e_handled ? 1u : 0u);
    EXPECT_EQ(t.sys.log.Count("Mci Set cdaudio!d: door closed wait"), 1u);
    EXPECT_TRUE(t.sys.ui.Terminated());
  }
}

TEST(Shutdown, ReasonIsGivenWhileTheGuardWorksAndWithdrawnAfter) {
  struct Case {
    const char* name;
    bool supported;
    int fail_create;  // the one call of ShutdownReasonCreate that fails (0: none)
    std::vector<std::optional<std::string>> while_shown;
    std::size_t destroys;
  };
  const std::string d = "Обнаружено наличие диска в приводе D:. Заберите его и закройте дверцу.";
  const std::string e(kNoticeE);
  const Case cases[] = {
      {"supported", true, 0, {d, e}, 1},
      {"first refused", true, 1, {std::nullopt, e}, 1},
      {"not offered", false, 0, {std::nullopt, std::nullopt}, 0},
  };
  for (const Case& c : cases) {
    Session t;
    t.sys.os.shutdown_reason_supported = c.supported;
    t.sys.os.FailWhen(fake::Op::ShutdownReasonCreate, [n = c.fail_create](int call) { return call == n; });
    t.Start({'d', 'e'}, {'d', 'e'});
    t.Watch(1, 1);
    t.Watch(2, 1);
    std::vector<std::optional<std::string>> seen;
    for (int i = 0; i < 2; ++i)
      t.sys.ui.on_modal.push_back([&](FakeForm&) { seen.push_back(t.sys.os.shutdown_reason); });
    EXPECT_EQ(t.Query(), 1) << c.name;
    EXPECT_EQ(seen, c.while_shown) << c.name;
    EXPECT_FALSE(t.sys.os.shutdown_reason.has_value()) << c.name;
    EXPECT_EQ(t.sys.log.Count("ShutdownReasonDestroy"), c.destroys) << c.name;
    EXPECT_EQ(t.sys.log.Count("Mci Set cdaudio!e: door closed wait"), 1u) << c.name;
    ASSERT_FALSE(t.GuardLog().empty()) << c.name;
    EXPECT_EQ(t.GuardLog().back(), "Terminate") << c.name;
  }
}

TEST_F(ShutdownTest, ASecondQueryDuringANoticeIsAnsweredAndLeavesTheFirstAtWork) {
  Build({'d'}, {'d'});
  Watch(1, 5);
  std::intptr_t inner = 0;
  sys.ui.on_modal.push_back([&](FakeForm&) {
    sys.ui.At(1500, [&] { inner = MayEnd(guard->Query({})); });
  });
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(inner, 1);
  EXPECT_EQ(sys.ui.Now(), 6000u);  // the notice ran its full countdown
  EXPECT_EQ(sys.log.Count("CreateForm TfrmNotifyCD"), 1u);
  EXPECT_EQ(sys.log.Count("Terminate"), 1u);
  EXPECT_GT(sys.log.Find("ShutdownReasonDestroy"), sys.log.Find("EndModal TfrmNotifyCD"));
  // Once the first has finished, a later query walks the drives again.
  sys.log.Clear();
  EXPECT_EQ(Query(), 1);
  EXPECT_EQ(sys.log.Count("ShowModal TfrmNotifyCD"), 1u);
}

TEST_F(ShutdownTest, AnErrorEndsTheWalkButNotTheAnswerOrTheEnding) {
  Start({'d'}, {'d'});
  // A drive beyond the menu's drive items: its "open item" is a static item (tag 0).
  form->drives.DriveCount = 2;
  form->drives.DriveTable[2].Letter = 'e';
  form->drives.DriveTable[2].DiscPresent = true;
  Watch(2, 1);
  EXPECT_EQ(Query(), 1);
  ASSERT_EQ(sys.ui.boxes.size(), 1u);
  EXPECT_EQ(sys.ui.boxes[0].text, "Range check error.");
  EXPECT_FALSE(sys.os.shutdown_reason.has_value());
  ASSERT_FALSE(GuardLog().empty());
  EXPECT_EQ(GuardLog().back(), "Terminate");
  EXPECT_EQ(sys.log.Count("Mci Set"), 0u);
}

TEST(SecondsWord, EndingsByCount) {
  struct Case {
    std::uint32_t n;
    std::string_view ending;
  };
  const Case cases[] = {
      {0, " секунд."},   {1, " секунду."},   {2, " секунды."},  {3, " секунды."},
      {4, " секунды."},  {21, " секунду."},  {22, " секунды."}, {25, " секунд."},
      {101, " секунду."}, {110, " секунд."}, {111, " секунду."}, {112, " секунды."},
      {114, " секунды."}, {4294967295u, " секунд."}, {4294967291u, " секунду."},
  };
  for (const Case& c : cases) EXPECT_EQ(SecondsWord(c.n), c.ending) << c.n;
  for (std::uint32_t n = 5; n <= 20; ++n) EXPECT_EQ(SecondsWord(n), " секунд.") << n;
}

TEST(Notice, WaitingIsShownAsAnUnsigned32BitNumber) {
  FakeSystem sys;
  TfrmNotifyCD notice(sys.ui);
  EXPECT_EQ(sys.log.lines, (std::vector<std::string>{"CreateForm TfrmNotifyCD", "CreateTimer 1000 on"}));
  EXPECT_EQ(notice.Window().Text("lblBack"), "");
  notice.Waiting = 4294967295u;
  notice.WaitName = "Z:";
  std::vector<std::string> texts;
  sys.ui.on_modal.push_back([&](FakeForm& f) {
    texts.push_back(f.Text("lblBack"));
    sys.ui.At(1500, [&] {
      texts.push_back(f.Text("lblBack"));
      f.Close();
    });
  });
  EXPECT_EQ(notice.ShowModal(), ui::kModalCancel);
  EXPECT_EQ(texts, (std::vector<std::string>{std::string(kPrefix) + "4294967295 секунд.",
                                             std::string(kPrefix) + "4294967294 секунды."}));
  EXPECT_EQ(notice.Window().Text("Label1"),
            "Обнаружено наличие диска в приводе Z:. Заберите его и закройте дверцу.");
}

TEST(Notice, Layout) {
  const ui::FormLayout& s = kNotifyFormLayout;
  EXPECT_EQ(s.ClassName, "TfrmNotifyCD");
  EXPECT_EQ(s.Caption, "Извлечение диска");
  EXPECT_EQ(s.ClientWidth, 304);
  EXPECT_EQ(s.ClientHeight, 80);
  EXPECT_EQ(s.BorderWidth, 3);
  EXPECT_EQ(s.Background, ui::Rgb(240, 240, 240));
  EXPECT_EQ(s.Flags, ui::kDialogFrame | ui::kCloseBoxOnly | ui::kStayOnTop | ui::kCenterDesktop);
  const ui::Font grey11{"MS Sans Serif", -11, true, false, ui::Rgb(90, 90, 90), ui::kRussianCharset};
  EXPECT_EQ(s.FormFont, grey11);
  // Two labels and nothing to press: Enter and Esc have no button to reach.
  ASSERT_EQ(s.Controls.size(), 2u);
  const ui::ControlRow& label = s.Controls[0];
  const ui::ControlRow& back = s.Controls[1];
  EXPECT_EQ(label.Name, "Label1");
  EXPECT_EQ(label.ControlKind, ui::Kind::Label);
  EXPECT_EQ((std::array{label.Left, label.Top, label.Width, label.Height}),
            (std::array{0, 0, 256, 26}));
  EXPECT_EQ(label.Flags, ui::kTransparent | ui::kWordWrap | ui::kAutoSize);
  EXPECT_EQ(label.ControlFont, nullptr);
  EXPECT_EQ(back.Name, "lblBack");
  EXPECT_EQ(back.ControlKind, ui::Kind::Label);
  EXPECT_EQ((std::array{back.Left, back.Top, back.Width, back.Height}),
            (std::array{0, 46, 302, 32}));
  EXPECT_EQ(back.Flags, ui::kTransparent | ui::kWordWrap);
  ASSERT_NE(back.ControlFont, nullptr);
  EXPECT_EQ(*back.ControlFont,
            (ui::Font{"MS Sans Serif", -13, true, false, ui::Rgb(90, 90, 90), ui::kRussianCharset}));
}

}  // namespace
}  // namespace bvx
