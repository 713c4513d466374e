// Faults on the fake platform. One whole session of the program (start,
// tray clicks, hotkeys, device notices, a change of the display scale, the
// autostart toggle both ways, the options dialog with OK, the link label,
// the end of the session) runs again
// and again with one system operation failing: each of its calls alone, and
// every call at once. The program must show exactly what its rules give for
// that failure, go on running (a later tray double-click still reaches MCI,
// the menu still pops up), and leave the settings file either as it was or
// as a complete save left it, never damaged. Then the save failing at each
// of its keys over several files, and window messages with values no sender
// should use.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "about/autostart.h"
#include "drives/doors.h"
#include "hotkeys/hotkeys.h"
#include "platform/errors.h"
#include "program.h"
#include "settings/bvx_options.h"
#include "settings/ini.h"
#include "settings/settings.h"

namespace bvx {
namespace {

using fake::FakeForm;
using fake::FakeSystem;

// A settings file as a user may have it: a comment, a section of another
// program, keys of a third drive this machine does not have.
const std::string kSettings =
    "; Brimvex settings\r\n"
    "[Window]\r\n"
    "Left=10\r\n"
    "\r\n"
    "[BVX]\r\n"
    "Default=1\r\n"
    "WaitFor=2\r\n"
    "[ShortCuts]\r\n"
    "OpenShortCut2=16453\r\n"
    "CloseShortCut2=24645\r\n"
    "OpenShortCut3=1\r\n"
    "[Track]\r\n"
    "DoTrack2=1\r\n";

using fake::Op;

// The operations of the fake that the session sweeps: each is called in it.
const Op kOperations[] = {
    Op::CreateNamedMutex,                                                 // the single-instance guard
    Op::DriveType,      Op::Mci,           Op::Broadcast,                 // drives and doors
    Op::TrayAdd,        Op::TrayModifyTip, Op::TraySetIcon, Op::TrayDelete,  // the tray icon
    Op::AllowTaskbarCreated,
    Op::RegisterHotKey, Op::UnregisterHotKey,                             // hotkeys
    Op::TrackMouse,     Op::LoadCursorResource,                           // the link label
    Op::ReadFile,       Op::ReplaceFile,   Op::FindFiles,  Op::DeleteFile,  // the settings file
    Op::QueryRunValue,  Op::SetRunValue,   Op::DeleteRunValue,            // autostart
    Op::ReadStartupApproved, Op::WriteStartupApproved,                    // Task Manager's mark
    Op::ShutdownReasonCreate, Op::ShutdownReasonDestroy,                  // the end of the session
};

// The operations it leaves out, and why.
struct Unswept {
  Op op;
  const char* why;
};
const Unswept kUnswept[] = {
    {Op::RewriteFile, "the save into a file with several names: failed at each of its keys below"},
};

// The log line a call of that operation writes starts with this.
std::string LogPrefix(Op op) { return std::string(fake::OpName(op)) + " "; }

struct Box {
  std::string text, caption;
  ui::MessageIcon icon = ui::MessageIcon::None;
  friend bool operator==(const Box&, const Box&) = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  const char* icon = b.icon == ui::MessageIcon::Error ? "error" : "plain";
  return out << "[" << b.caption << " / " << icon << "] " << b.text;
}

const Box kWriteBox{"Unable to write to " + kIni + ".", "Brimvex", ui::MessageIcon::Error};
const Box kTrackingBox{"Unable to set tracking for mouse event.", "Brimvex", ui::MessageIcon::Error};
const Box kCursorBox{"Unable to load cursor for link.", "Brimvex", ui::MessageIcon::Error};
const Box kRangeBox{"Range check error.", "Brimvex", ui::MessageIcon::Error};
const Box kRegistryBox{"Failed to set data for 'BVX'", std::string(kRegistryErrorCaption), ui::MessageIcon::None};

// What the options dialog held when OK was pressed.
struct Saved {
  int position = 0;
  int wait = 0;
  std::vector<ShortcutPair> pairs;
  std::vector<std::uint8_t> flags;
};

// One run of the program on the fake, with the script below.
struct Session {
  FakeSystem sys;
  std::function<bool(int)> replace_fails = [](int) { return false; };
  std::vector<std::optional<std::string>> before_replace;  // the file before each replace
  std::optional<Saved> saved;                              // set when OK was pressed
  std::size_t probe_mark = std::string::npos;              // log size at the probe
  char probe_letter = 0;  // the default drive's letter at the probe; 0 without drives
  int exit_code = -1;

  explicit Session(std::set<char> cdroms = {'d', 'e'}) {
    sys.os.cdroms = std::move(cdroms);
    sys.os.discs = {'e'};
    sys.os.files[kIni] = kSettings;
    // A copy that a killed save left: the next save deletes it.
    sys.os.files[kIni + ".tmp-7"] = "[BVX]\r\n";
    // Disabled in Task Manager: the add enables it again.
    sys.os.startup_approved["BVX"] = std::string("\x03\0\0\0\0\0\0\0\0\0\0\0", 12);
  }

  void Fail(Op op, std::function<bool(int)> when) {
    if (op == Op::ReplaceFile) {
      replace_fails = std::move(when);
    } else {
      sys.os.FailWhen(op, std::move(when));
    }
  }

  std::optional<std::string> File() const {
    const auto it = sys.os.files.find(kIni);
    return it == sys.os.files.end() ? std::nullopt : std::optional<std::string>(it->second);
  }

  std::vector<Box> Boxes() const {
    std::vector<Box> out;
    for (const auto& b : sys.ui.boxes) out.push_back({b.text, b.caption, b.icon});
    return out;
  }

  void Run() {
    fake::FakeToolkit& ui = sys.ui;
    sys.os.FailWhen(Op::ReplaceFile, [this](int n) {
      before_replace.push_back(File());
      return replace_fails(n);
    });
    const auto main = [&ui]() -> TAboutForm* {
      FakeForm* f = ui.MainForm();
      return f != nullptr ? dynamic_cast<TAboutForm*>(&f->Events()) : nullptr;
    };
    const auto tray = [&ui](ui::TrayMouse action) {
      if (FakeForm* f = ui.MainForm()) ui.TrayMouse(*f, action);
    };
    const auto hotkey = [&ui](int id) {
      if (FakeForm* f = ui.MainForm()) ui.HotKey(*f, id);
    };
    const auto volume = [&ui](ui::DeviceEvent event, char letter) {
      const VolumeRecord record = MakeVolumeRecord(DriveUnitMask(letter));
      if (FakeForm* f = ui.MainForm()) ui.DeviceChange(*f, event, record);
    };

    ui.At(10, [tray] { tray(ui::TrayMouse::LeftDoubleClick); });
    ui.At(20, [tray] {  // a double-click starts with a press, whose pop-up it swallows
      tray(ui::TrayMouse::RightDown);
      tray(ui::TrayMouse::RightDoubleClick);
    });
    ui.At(30, [hotkey] { hotkey(2); });
    ui.At(40, [hotkey] { hotkey(3); });
    ui.At(50, [volume] { volume(ui::DeviceEvent::RemoveComplete, 'e'); });
    ui.At(60, [volume] { volume(ui::DeviceEvent::Arrival, 'e'); });
    ui.At(70, [this, &ui] {  // the display scale goes to 150 %
      sys.os.tray_icon_size = 24;
      if (FakeForm* f = ui.MainForm()) ui.DisplayScaleChanged(*f);
    });
    // Three right clicks: add to autostart, remove again, the options.
    ui.At(1000, [tray] { tray(ui::TrayMouse::RightDown); });
    ui.At(2000, [tray] { tray(ui::TrayMouse::RightDown); });
    ui.At(3000, [tray] { tray(ui::TrayMouse::RightDown); });
    ui.menu_choice = [choices = std::vector<int>{kCmdStartup, kCmdStartup, kCmdOptions},
                      next = std::size_t{0}](const std::vector<ui::ShownItem>&) mutable {
      return next < choices.size() ? choices[next++] : 0;
    };
    ui.on_modal.push_back([this](FakeForm& f) {
      if (f.Description().ClassName != "TfrmOptions") return;
      if (f.ItemCount("OptionTabs") > 1) {
        f.SelectTab("OptionTabs", 1);
        f.SetValue("hkOpenCd", 0x4031);  // Ctrl+1
      }
      f.SetValue("speWaitFor", 3);
      f.Click("BitBtn1");
      const auto& d = dynamic_cast<const TfrmOptions&>(f.Events());
      saved = Saved{f.Value("cbDriveLetters") + 1, f.Value("speWaitFor"), d.WorkShortcuts, d.WorkTrackFlags};
    });
    ui.At(3600, [&ui] {
      if (FakeForm* f = ui.MainForm()) {
        f->MouseMove("LinkLabel1");
        f->MouseHover("LinkLabel1");
        f->MouseLeave("LinkLabel1");
      }
    });
    // The probe: is the program still there for the user?
    ui.At(4000, [this, main, tray] {
      probe_mark = sys.log.lines.size();
      if (const TAboutForm* m = main(); m != nullptr && m->drives.DriveCount > 0)
        probe_letter = m->drives.DriveTable[m->drives.DefaultDrive].Letter;
      tray(ui::TrayMouse::LeftDoubleClick);
      tray(ui::TrayMouse::RightDown);
    });
    ui.At(5000, [&ui] {
      if (FakeForm* f = ui.MainForm()) ui.QueryEndSession(*f);
    });

    exit_code = BVX(sys.os, sys.ui);
  }
};

// The baseline: the session with nothing failing.
const Session& Baseline() {
  static Session* const s = [] {
    auto* session = new Session;
    session->Run();
    return session;
  }();
  return *s;
}

// The calls of an operation in the baseline, as their log lines.
std::vector<std::string> Calls(Op op) { return Baseline().sys.log.With(LogPrefix(op)); }

int HotKeyId(const std::string& line) { return std::stoi(line.substr(line.find(" id ") + 4)); }

Box HotKeyBox(int id) {
  const char letter = id / 2 == 0 ? 'd' : 'e';  // the baseline's drives
  return {HotKeyFailureText(id % 2 == 0, letter), std::string(kHotKeyErrorCaption), ui::MessageIcon::Error};
}

// What the program shows when the n-th call (1-based) of op fails, by its
// rules, read off the baseline's log.
std::vector<Box> ReportFor(Op op, int n) {
  const std::vector<std::string>& log = Baseline().sys.log.lines;
  std::size_t at = std::string::npos;
  for (int seen = 0; seen < n;) {
    at = Baseline().sys.log.Find(LogPrefix(op), at == std::string::npos ? 0 : at + 1);
    ++seen;
  }
  const std::string& line = log.at(at);
  // The next line that starts with one of the prefixes, after the call.
  const auto next_of = [&](std::initializer_list<std::string_view> prefixes) -> std::string {
    for (std::size_t i = at + 1; i < log.size(); ++i)
      for (std::string_view p : prefixes)
        if (log[i].starts_with(p)) return log[i];
    return {};
  };

  if (op == Op::RegisterHotKey) return {HotKeyBox(HotKeyId(line))};
  if (op == Op::UnregisterHotKey) {
    // A release that fails leaves a held combination registered; the next
    // registration of that identifier is then refused and reported.
    const int id = HotKeyId(line);
    bool held = false;
    for (std::size_t i = 0; i < at; ++i) {
      if (log[i].starts_with("RegisterHotKey ") && HotKeyId(log[i]) == id) held = true;
      if (log[i].starts_with("UnregisterHotKey ") && HotKeyId(log[i]) == id) held = false;
    }
    if (!held) return {};
    for (std::size_t i = at + 1; i < log.size(); ++i) {
      const bool hotkey = log[i].starts_with("RegisterHotKey ") || log[i].starts_with("UnregisterHotKey ");
      if (!hotkey || HotKeyId(log[i]) != id) continue;
      if (log[i].starts_with("RegisterHotKey ")) return {HotKeyBox(id)};
      break;
    }
    return {};
  }
  if (op == Op::TrackMouse) return {kTrackingBox};
  if (op == Op::LoadCursorResource) return {kCursorBox};
  if (op == Op::ReplaceFile) return {kWriteBox};
  if (op == Op::ReadFile) {
    // The save's own read: a file that exists but cannot be read is never
    // written over. A load that cannot read it takes the defaults silently.
    if (next_of({"ReadFile ", "ReplaceFile "}).starts_with("ReplaceFile")) return {kWriteBox};
    return {};
  }
  if (op == Op::SetRunValue || op == Op::WriteStartupApproved) return {kRegistryBox};
  return {};  // fire and forget, or a failure the program answers silently
}

// The file a save of what the dialog held gives, on the start's file, and
// the file before each of its replaces.
struct SaveResult {
  std::optional<std::string> file;
  std::vector<std::optional<std::string>> before_replace;
};
SaveResult SaveOnto(const std::optional<std::string>& start, const Saved& s) {
  FakeSystem scratch;
  if (start) scratch.os.files[kIni] = *start;
  SaveResult r;
  scratch.os.FailWhen(Op::ReplaceFile, [&](int) {
    const auto it = scratch.os.files.find(kIni);
    r.before_replace.push_back(it == scratch.os.files.end() ? std::nullopt
                                                            : std::optional<std::string>(it->second));
    return false;
  });
  scratch.ui.SetTitle("Brimvex");
  EXPECT_TRUE(SaveSettings(scratch.os, scratch.ui, kIni, s.position, s.wait, s.pairs, s.flags));
  r.file = scratch.os.files.at(kIni);
  return r;
}

// The program went on: it ran to the end of the session, a double-click at
// the probe still reached MCI, the menu still popped up, and the settings
// file kept what the user had in it and parses.
void ExpectWentOn(const Session& s, const std::string& row) {
  SCOPED_TRACE(row);
  EXPECT_EQ(s.exit_code, 0);
  EXPECT_TRUE(s.sys.ui.Terminated());
  ASSERT_NE(s.probe_mark, std::string::npos) << "the probe never ran";
  if (s.probe_letter != 0) {
    const std::string open = std::string("Mci Set cdaudio!") + s.probe_letter + ": door open wait";
    EXPECT_NE(s.sys.log.Find(open, s.probe_mark), std::string::npos) << "the double-click did not reach MCI";
  }
  const auto& popups = s.sys.ui.popups;
  EXPECT_TRUE(std::any_of(popups.begin(), popups.end(), [](const auto& p) { return p.time >= 4000; }))
      << "the menu did not pop up";
  const std::optional<std::string> file = s.File();
  ASSERT_TRUE(file.has_value());
  for (const char* kept :
       {"; Brimvex settings\r\n[Window]\r\nLeft=10\r\n\r\n[BVX]\r\n", "OpenShortCut3=1\r\n"})
    EXPECT_NE(file->find(kept), std::string::npos) << "lost: " << kept;
  Drives d;
  d.DriveCount = 2;
  EXPECT_NO_THROW(ReadSettings(*file, d));
}

// The settings file a session with this failure must end with.
std::optional<std::string> ExpectedFile(const Session& s, Op op, int n) {
  if (!s.saved) return kSettings;
  const SaveResult full = SaveOnto(kSettings, *s.saved);
  if (op == Op::ReplaceFile) return full.before_replace.at(static_cast<std::size_t>(n - 1));
  if (op == Op::ReadFile && ReportFor(op, n) == std::vector<Box>{kWriteBox}) return kSettings;
  return full.file;
}

// A new operation of the fake joins the sweep, or the list of those left out
// with its reason.
TEST(Faults, EveryOperationIsSweptOrLeftOutWithItsReason) {
  for (int i = 0; i < static_cast<int>(Op::Count); ++i) {
    const Op op = static_cast<Op>(i);
    const bool swept = std::find(std::begin(kOperations), std::end(kOperations), op) != std::end(kOperations);
    const auto left_out = std::find_if(std::begin(kUnswept), std::end(kUnswept),
                                       [op](const Unswept& u) { return u.op == op; });
    if (left_out == std::end(kUnswept)) {
      EXPECT_TRUE(swept) << fake::OpName(op) << " is neither swept nor left out with its reason";
    } else {
      EXPECT_FALSE(swept) << fake::OpName(op) << " is swept and left out (" << left_out->why << ")";
    }
  }
}

TEST(Faults, EachCallOfEachOperationFailingAlone) {
  ASSERT_TRUE(Baseline().sys.ui.boxes.empty());
  ExpectWentOn(Baseline(), "no failure");
  // The script does what it says: four menus, the last one the probe's.
  ASSERT_EQ(Baseline().sys.ui.popups.size(), 4u);
  EXPECT_EQ(Baseline().sys.ui.popups.back().time, 4500u);
  int cases = 0;
  for (const Op op : kOperations) {
    const std::vector<std::string> calls = Calls(op);
    ASSERT_FALSE(calls.empty()) << fake::OpName(op) << " is never called in the session";
    for (int n = 1; n <= static_cast<int>(calls.size()); ++n) {
      const std::string row =
          std::string(fake::OpName(op)) + " call " + std::to_string(n) + ": " + calls[static_cast<std::size_t>(n - 1)];
      SCOPED_TRACE(row);
      Session s;
      s.Fail(op, [n](int call) { return call == n; });
      s.Run();
      ++cases;
      EXPECT_EQ(s.Boxes(), ReportFor(op, n));
      if (op == Op::LoadCursorResource) {
        // Start-up stops before anything else is done.
        EXPECT_NE(s.exit_code, 0);
        EXPECT_EQ(s.sys.log.Count("CreateNamedMutex"), 0u);
        EXPECT_TRUE(s.sys.ui.Forms().empty());
        EXPECT_EQ(s.File(), kSettings);
        continue;
      }
      ExpectWentOn(s, row);
      ASSERT_TRUE(s.saved.has_value()) << "the options dialog was not reached";
      EXPECT_EQ(s.File(), ExpectedFile(s, op, n));
      if (op == Op::ReplaceFile) {
        EXPECT_EQ(s.sys.log.Count("ReplaceFile"), static_cast<std::size_t>(n)) << "the save went on";
      }
    }
  }
  // Every operation, every call: the table is as long as the baseline's calls.
  EXPECT_GT(cases, 60);
}

TEST(Faults, EachOperationFailingEveryTime) {
  for (const Op op : kOperations) {
    const std::string name(fake::OpName(op));
    SCOPED_TRACE(name + " always");
    Session s;
    s.Fail(op, [](int) { return true; });
    s.Run();
    std::vector<Box> expected;
    if (op == Op::DriveType) {
      // No optical drive at all: both double-clicks of the script and the
      // probe's end in the range error, and nothing reaches MCI.
      expected = {kRangeBox, kRangeBox, kRangeBox};
      EXPECT_EQ(s.sys.log.Count("Mci "), 0u);
    } else if (op == Op::ReplaceFile || op == Op::LoadCursorResource) {
      expected = ReportFor(op, 1);  // the save, or the start, stops at the first
    } else {
      for (int n = 1; n <= static_cast<int>(Calls(op).size()); ++n)
        for (const Box& b : ReportFor(op, n)) expected.push_back(b);
    }
    if (op == Op::SetRunValue || op == Op::WriteStartupApproved) {
      // The entry never takes, so the item offers the add again and the
      // second choice adds (and fails) again.
      expected = {kRegistryBox, kRegistryBox};
    }
    if (op == Op::UnregisterHotKey) {
      // Nothing is ever released, so every registration after OK is refused.
      expected = {HotKeyBox(0), HotKeyBox(1), HotKeyBox(2), HotKeyBox(3)};
    }
    EXPECT_EQ(s.Boxes(), expected);
    if (op == Op::LoadCursorResource) continue;
    ExpectWentOn(s, name + " always");
    ASSERT_TRUE(s.saved.has_value());
    const bool nothing_written = op == Op::ReplaceFile || op == Op::ReadFile;
    EXPECT_EQ(s.File(),
              nothing_written ? std::optional<std::string>(kSettings) : SaveOnto(kSettings, *s.saved).file);
  }
}

// A drive that disappears from discovery is a machine without it: the
// session behaves exactly as on that machine.
TEST(Faults, ADriveTypeFailureIsAMachineWithoutThatDrive) {
  for (const char gone : {'d', 'e'}) {
    SCOPED_TRACE(std::string("no ") + gone);
    Session failing;
    const int call = gone - 'a' + 1;
    failing.Fail(Op::DriveType, [call](int n) { return n == call; });
    failing.Run();
    Session without(gone == 'd' ? std::set<char>{'e'} : std::set<char>{'d'});
    without.Run();
    EXPECT_EQ(failing.Boxes(), without.Boxes());
    EXPECT_EQ(failing.File(), without.File());
    EXPECT_EQ(failing.sys.log.With("Mci "), without.sys.log.With("Mci "));
    ExpectWentOn(failing, "DriveType");
  }
}

// --- a save that fails at each of its keys ----------------------------------------------

TEST(Faults, ASaveStoppedAtAnyKeyLeavesTheCompleteFileOfTheKeysBefore) {
  struct Start {
    const char* name;
    std::optional<std::string> file;
  };
  const Start starts[] = {
      {"no file", std::nullopt},
      {"the user's file", kSettings},
      {"no final line end, LF", std::string("[BVX]\nDefault=2\n[Other]\nx=1")},
      {"an empty last value without a line end", std::string("[BVX]\nWaitFor=")},
      {"byte-order mark, duplicate sections",
       std::string("\xEF\xBB\xBF[ShortCuts]\r\nOpenShortCut1=5\r\n[shortcuts]\r\nOpenShortCut2=6\r\n")},
  };
  const Saved values{2, 30, {{0x4031, 0x4032}, {0, 0xC0DD}}, {0, 1}};
  struct Key {
    std::string section, key, value;
  };
  const std::vector<Key> order = {
      {"BVX", "Default", "2"},
      {"BVX", "WaitFor", "30"},
      {"ShortCuts", "OpenShortCut1", "16433"},
      {"ShortCuts", "CloseShortCut1", "16434"},
      {"Track", "DoTrack1", "0"},
      {"ShortCuts", "OpenShortCut2", "0"},
      {"ShortCuts", "CloseShortCut2", "49373"},
      {"BVX", "OpenShortCut", "0"},
      {"BVX", "CloseShortCut", "49373"},
      {"Track", "DoTrack2", "1"},
  };
  // A file with one name is replaced at each key; one with two names (a hard
  // link) is written into itself, and a failure there leaves it as it was.
  for (const bool linked : {false, true}) {
    for (const Start& start : starts) {
      if (linked && !start.file) continue;
      const Op op = linked ? Op::RewriteFile : Op::ReplaceFile;
      const SaveResult full = SaveOnto(start.file, values);
      ASSERT_EQ(full.before_replace.size(), order.size()) << start.name;
      for (std::size_t fail_at = 1; fail_at <= order.size(); ++fail_at) {
        SCOPED_TRACE(std::string(start.name) + ", " + std::string(fake::OpName(op)) + " failing at key " +
                     std::to_string(fail_at));
        FakeSystem sys;
        sys.ui.SetTitle("Brimvex");
        if (start.file) sys.os.files[kIni] = *start.file;
        if (linked) sys.os.links[kIni] = {2, NameKind::Plain};
        sys.os.FailWhen(op, [fail_at](int n) { return static_cast<std::size_t>(n) == fail_at; });
        EXPECT_FALSE(
            SaveSettings(sys.os, sys.ui, kIni, values.position, values.wait, values.pairs, values.flags));
        ASSERT_EQ(sys.ui.boxes.size(), 1u);
        EXPECT_EQ((Box{sys.ui.boxes[0].text, sys.ui.boxes[0].caption, sys.ui.boxes[0].icon}), kWriteBox);
        EXPECT_EQ(sys.log.Count(fake::OpName(op)), fail_at);

        // The file is the one the keys before the failing one made, whole.
        const auto it = sys.os.files.find(kIni);
        const std::optional<std::string> left =
            it == sys.os.files.end() ? std::nullopt : std::optional<std::string>(it->second);
        EXPECT_EQ(left, full.before_replace[fail_at - 1]);
        if (!left) {
          EXPECT_EQ(fail_at, 1u);
          EXPECT_FALSE(start.file.has_value());
          continue;
        }
        // Every key written before the failure is there; every other key reads
        // as in the file the save started from.
        const ini::IniDocument now(*left);
        const ini::IniDocument before(start.file.value_or(std::string()));
        for (std::size_t k = 0; k < order.size(); ++k) {
          const Key& key = order[k];
          if (k + 1 < fail_at) {
            EXPECT_EQ(now.ReadString(key.section, key.key), std::optional<std::string_view>(key.value))
                << key.key;
          } else {
            EXPECT_EQ(now.ReadString(key.section, key.key), before.ReadString(key.section, key.key)) << key.key;
          }
        }
        if (start.file == kSettings) {
          EXPECT_EQ(now.ReadString("Window", "Left"), std::optional<std::string_view>("10"));
          EXPECT_EQ(now.ReadString("ShortCuts", "OpenShortCut3"), std::optional<std::string_view>("1"));
        }
        // A later save that succeeds completes it, in the same way.
        sys.os.FailNever(op);
        EXPECT_TRUE(
            SaveSettings(sys.os, sys.ui, kIni, values.position, values.wait, values.pairs, values.flags));
        EXPECT_EQ(sys.os.files.at(kIni), full.file);
        EXPECT_EQ(sys.os.links.count(kIni), linked ? 1u : 0u);
      }
    }
  }
}

// --- events no sender should send ---------------------------------------------------------

TEST(Faults, HostileEventValuesChangeNothingAndShowNothing) {
  struct Case {
    const char* what;
    std::function<void(fake::FakeToolkit&, FakeForm&)> send;
  };
  static const VolumeRecord kRecord = MakeVolumeRecord(DriveUnitMask('e'));
  const std::span<const std::uint8_t> header(kRecord.data(), 12);
  const auto hotkey = [](int id) {
    return [id](fake::FakeToolkit& ui, FakeForm& f) { ui.HotKey(f, id); };
  };
  const auto device = [](ui::DeviceEvent event, std::span<const std::uint8_t> record) {
    return [event, record](fake::FakeToolkit& ui, FakeForm& f) {
      EXPECT_EQ(ui.DeviceChange(f, event, record), ui::DeviceAnswer::Granted);
    };
  };
  const Case cases[] = {
      {"hotkey id past the drives", hotkey(4)},
      {"hotkey id 51", hotkey(51)},
      {"hotkey id -1", hotkey(-1)},
      {"hotkey id of the lowest int", hotkey(std::numeric_limits<int>::min())},
      {"tray: another mouse action", [](fake::FakeToolkit& ui, FakeForm& f) { ui.TrayMouse(f, ui::TrayMouse::Other); }},
      {"device change: no record, arrival", device(ui::DeviceEvent::Arrival, {})},
      {"device change: no record, removal", device(ui::DeviceEvent::RemoveComplete, {})},
      {"device change: no record, another event", device(ui::DeviceEvent::Other, {})},
      {"device change: a header alone, removal", device(ui::DeviceEvent::RemoveComplete, header)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    p.Start({'d', 'e'}, {'e'});
    FakeSystem& sys = p.sys;
    sys.log.Clear();
    c.send(sys.ui, *sys.ui.MainForm());
    sys.ui.Advance(10000);  // a pop-up would be due by now
    EXPECT_TRUE(sys.ui.boxes.empty());
    EXPECT_TRUE(sys.ui.popups.empty());
    EXPECT_EQ(sys.log.Count("Mci "), 0u);
    EXPECT_EQ(sys.log.Count("Broadcast"), 0u);
    EXPECT_EQ(sys.log.Count("TrayModifyTip"), 0u);
    EXPECT_FALSE(p.Drive(1).DiscPresent);
    EXPECT_TRUE(p.Drive(2).DiscPresent);
  }
}

}  // namespace
}  // namespace bvx
