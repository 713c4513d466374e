// Door commands, the query-remove record and discovery by TDoors over a
// table of its own; disc presence and the tooltip in the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "drives/doors.h"
#include "program.h"

namespace bvx {
namespace {

using fake::FakeSystem;

// Door commands as the MCI log shows them (without reply and callback).
std::vector<std::string> MciCommands(const fake::CallLog& log) {
  std::vector<std::string> out;
  for (const auto& l : log.With("Mci ")) out.push_back(l.substr(4, l.find(" |") - 4));
  return out;
}

struct DoorsTest : ProgramTest {
  Drives drives;  // of doors built without the program
  // The doors of `drives` with these letters (the log cleared once their window is made).
  TDoors Doors(std::string_view letters) {
    drives = DriveTableOf(letters);
    TDoors doors(sys.os, Window(), drives);
    sys.log.Clear();
    return doors;
  }
  // The record handed over with the size its header declares.
  ui::DeviceAnswer DeviceChange(ui::DeviceEvent event, const std::vector<std::uint8_t>& record) {
    std::uint32_t declared = 0;
    if (record.size() >= 4) std::memcpy(&declared, record.data(), 4);
    const std::span<const std::uint8_t> bytes(record.data(), std::min<std::size_t>(declared, record.size()));
    return sys.ui.DeviceChange(*sys.ui.MainForm(), event, bytes);
  }
};

TEST(MciCommandText, IsJoinedFromThreePieces) {
  struct Case {
    char letter;
    const char* open;
    const char* close;
    const char* query;
  };
  const Case cases[] = {
      {'d', "Set cdaudio!d: door open wait", "Set cdaudio!d: door closed wait",
       "info cdaudio!d: identity wait"},
      {'e', "Set cdaudio!e: door open wait", "Set cdaudio!e: door closed wait",
       "info cdaudio!e: identity wait"},
      {'z', "Set cdaudio!z: door open wait", "Set cdaudio!z: door closed wait",
       "info cdaudio!z: identity wait"},
  };
  for (const Case& c : cases) {
    const std::string device = DriveDeviceName(c.letter);
    EXPECT_EQ(MciOpenCommand(device), c.open);
    EXPECT_EQ(MciCloseCommand(device), c.close);
    EXPECT_EQ(MciQueryCommand(device), c.query);
  }
  EXPECT_EQ(MciOpenCommand("cdaudio!e:").size(), 29u);
  EXPECT_EQ(MciCloseCommand("cdaudio!e:").size(), 31u);
}

TEST(VolumeRecordBytes, AreSizeTypeZeroReservedMaskAndMediaFlag) {
  const VolumeRecord r = MakeVolumeRecord(DriveUnitMask('e'));
  const VolumeRecord expected = {18, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 1, 0};
  EXPECT_EQ(r, expected);
  const VolumeRecord z = MakeVolumeRecord(DriveUnitMask('z'));
  EXPECT_EQ(z[15], 0x02);  // bit 25
}

TEST_F(DoorsTest, OpenBroadcastsQueryRemoveThenSendsTheOpenCommand) {
  Doors("de").Open(2);
  ASSERT_EQ(sys.log.lines.size(), 2u);
  EXPECT_EQ(sys.log.lines[0], "Broadcast QueryRemove 120000000200000000000000100000000100");
  EXPECT_EQ(sys.log.lines[1], "Mci Set cdaudio!e: door open wait | reply 0 | cb 0x100");
}

TEST_F(DoorsTest, OnlyADeniedQueryKeepsTheDoorShut) {
  TDoors doors = Doors("d");
  struct Case {
    QueryRemoveAnswer answer;
    bool opens;
  };
  for (const Case c : {Case{QueryRemoveAnswer::Granted, true}, Case{QueryRemoveAnswer::Denied, false},
                       Case{QueryRemoveAnswer::Failed, true}}) {
    sys.log.Clear();
    sys.os.broadcast_answer = c.answer;
    doors.Open(1);
    EXPECT_EQ(sys.log.Count("Broadcast"), 1u);
    EXPECT_EQ(sys.log.Count("Mci Set cdaudio!d: door open wait"), c.opens ? 1u : 0u) << c.opens;
  }
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(DoorsTest, CloseSendsNoBroadcast) {
  TDoors doors = Doors("d");
  sys.os.broadcast_answer = QueryRemoveAnswer::Denied;
  doors.Close(1);
  EXPECT_EQ(MciCommands(sys.log), std::vector<std::string>{"Set cdaudio!d: door closed wait"});
  EXPECT_EQ(sys.log.Count("Broadcast"), 0u);
}

TEST_F(DoorsTest, DoorCommandsIgnoreTheDiscFlagAndMciFailures) {
  TDoors doors = Doors("d");
  drives.DriveTable[1].DiscPresent = true;
  sys.os.mci_door_answer = 263;
  doors.Open(1);
  doors.Close(1);
  EXPECT_EQ(MciCommands(sys.log), (std::vector<std::string>{"Set cdaudio!d: door open wait",
                                                            "Set cdaudio!d: door closed wait"}));
  EXPECT_TRUE(drives.DriveTable[1].DiscPresent);
  EXPECT_TRUE(sys.ui.boxes.empty());
}

TEST_F(DoorsTest, ATagOutsideTheTableIsRefusedBeforeAnythingIsSent) {
  TDoors doors = Doors("d");
  for (int tag : {0, 27, -1}) {
    EXPECT_THROW(doors.Open(tag), RangeError);
    EXPECT_THROW(doors.Close(tag), RangeError);
  }
  EXPECT_TRUE(sys.log.lines.empty());
}

TEST_F(DoorsTest, FailingDiscQueryCountsAsEmpty) {
  sys.os.FailAlways(fake::Op::Mci);
  sys.os.cdroms = sys.os.discs = {'d'};
  Doors("").Discover();
  EXPECT_FALSE(drives.DriveTable[1].DiscPresent);
}

// A device-change record with the volume layout; size may lie.
std::vector<std::uint8_t> Record(std::uint32_t size, std::uint32_t type, std::uint32_t mask,
                                 std::uint16_t flags, std::size_t bytes = 18) {
  std::vector<std::uint8_t> r(bytes, 0xEE);
  auto put = [&](std::size_t at, std::uint32_t v, int width) {
    for (int i = 0; i < width && at + i < r.size(); ++i) r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, size, 4);
  put(4, type, 4);
  put(12, mask, 4);
  put(16, flags, 2);
  return r;
}

TEST_F(DoorsTest, DeviceChangeTable) {
  struct Case {
    const char* what;
    ui::DeviceEvent event;
    std::vector<std::uint8_t> record;  // empty: none
    bool d_after, e_after;             // flags after (both start d=0, e=1)
    bool tip_refreshed;
  };
  const Case cases[] = {
      {"arrival in D", ui::DeviceEvent::Arrival, Record(18, 2, 0x8, 1), true, true, true},
      {"removal from E", ui::DeviceEvent::RemoveComplete, Record(18, 2, 0x10, 1), false, false, true},
      {"query-remove", ui::DeviceEvent::QueryRemove, Record(18, 2, 0x10, 1), false, true, true},
      {"no media flag", ui::DeviceEvent::RemoveComplete, Record(18, 2, 0x10, 0), false, true, false},
      {"other device type", ui::DeviceEvent::Arrival, Record(18, 5, 0x8, 1), false, true, false},
      {"null", ui::DeviceEvent::Arrival, {}, false, true, false},
      {"short record", ui::DeviceEvent::Arrival, Record(17, 2, 0x8, 1, 17), false, true, false},
      {"header only", ui::DeviceEvent::Arrival, Record(12, 2, 0, 0, 12), false, true, false},
      {"size too small for the type", ui::DeviceEvent::Arrival, Record(4, 2, 0, 0, 4), false, true, false},
      {"two drives in one mask", ui::DeviceEvent::Arrival, Record(18, 2, 0x18, 1), true, true, true},
      {"mask of no drive", ui::DeviceEvent::Arrival, Record(18, 2, 0x1, 1), false, true, true},
      {"longer record", ui::DeviceEvent::RemoveComplete, Record(20, 2, 0x18, 1, 20), false, false, true},
      {"other event", ui::DeviceEvent::Other, Record(18, 2, 0x10, 1), false, true, true},
  };
  for (const Case& c : cases) {
    Start({'d', 'e'}, {'e'});
    sys.log.Clear();
    EXPECT_EQ(DeviceChange(c.event, c.record), ui::DeviceAnswer::Granted) << c.what;
    EXPECT_EQ(form->drives.DriveTable[1].DiscPresent, c.d_after) << c.what;
    EXPECT_EQ(form->drives.DriveTable[2].DiscPresent, c.e_after) << c.what;
    EXPECT_EQ(sys.log.Count("TrayModifyTip"), c.tip_refreshed ? 1u : 0u) << c.what;
  }
}

TEST_F(DoorsTest, ArrivalAndRemovalChangeTheTooltip) {
  Start({'d', 'e'});
  const auto in = Record(18, 2, 0x10, 1);
  DeviceChange(ui::DeviceEvent::Arrival, in);
  EXPECT_EQ(sys.os.tray_tip, "D: диск не вставлен E: диск вставлен");
  ASSERT_EQ(sys.log.Count("TrayModifyTip"), 1u);
  EXPECT_EQ(sys.log.With("TrayModifyTip")[0],
            "TrayModifyTip 0x100 id 1 tip D: диск не вставлен E: диск вставлен");
  DeviceChange(ui::DeviceEvent::RemoveComplete, in);
  EXPECT_EQ(sys.os.tray_tip, "D: диск не вставлен E: диск не вставлен");
}

TEST_F(DoorsTest, AFailingTipUpdateKeepsTheNewFlags) {
  Start({'d'});
  sys.os.FailAlways(fake::Op::TrayModifyTip);
  const auto in = Record(18, 2, 0x8, 1);
  EXPECT_EQ(DeviceChange(ui::DeviceEvent::Arrival, in), ui::DeviceAnswer::Granted);
  EXPECT_TRUE(form->drives.DriveTable[1].DiscPresent);
  EXPECT_TRUE(sys.ui.boxes.empty());
}

std::size_t Chars(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

TEST(TrayTip, TextAndCut) {
  struct Case {
    std::string letters;
    std::string discs;
    std::string tip;
    std::size_t chars;
  };
  const Case cases[] = {
      {"", "", "", 0},
      {"d", "d", "D: диск вставлен", 16},
      {"d", "", "D: диск не вставлен", 19},
      {"de", "d", "D: диск вставлен E: диск не вставлен", 36},
      {"def", "", "D: диск не вставлен E: диск не вставлен F: диск не вставлен", 59},
      {"defg", "defg", "D: диск вставлен E: диск вставлен F: диск вставлен G: диск вставлен", 67},
  };
  for (const Case& c : cases) {
    DriveArray table;
    for (std::size_t i = 0; i < c.letters.size(); ++i) {
      TCDROM& d = table[static_cast<long>(i + 1)];
      d.Letter = c.letters[i];
      d.DiscPresent = c.discs.find(d.Letter) != std::string::npos;
    }
    const std::string tip = BuildTrayTip(table, static_cast<std::uint8_t>(c.letters.size()));
    EXPECT_EQ(tip, c.tip);
    EXPECT_EQ(Chars(tip), c.chars);
    const std::string field = TrayTipField(tip);
    EXPECT_EQ(Chars(field), std::min<std::size_t>(c.chars, 63));
    EXPECT_TRUE(tip.starts_with(field));
  }
}

TEST(TrayTip, CutCountsCharactersNotBytes) {
  const std::string ascii63(63, 'x');
  EXPECT_EQ(TrayTipField(ascii63), ascii63);
  EXPECT_EQ(TrayTipField(ascii63 + "y"), ascii63);
  std::string cyr;
  for (int i = 0; i < 64; ++i) cyr += "ж";
  const std::string cut = TrayTipField(cyr);
  EXPECT_EQ(Chars(cut), 63u);
  EXPECT_EQ(cut.size(), 126u);  // never half a character
}

}  // namespace
}  // namespace bvx
