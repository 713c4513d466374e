// Drive discovery, the door commands, disc presence and the tray tooltip.
#include "drives/doors.h"

namespace bvx {

std::string MciOpenCommand(std::string_view device_name) {
  return "Set " + std::string(device_name) + " door open wait";
}

std::string MciCloseCommand(std::string_view device_name) {
  return "Set " + std::string(device_name) + " door closed wait";
}

std::string MciQueryCommand(std::string_view device_name) {
  return "info " + std::string(device_name) + " identity wait";
}

std::string DoorItemCaption(bool open, char letter) {
  return (open ? "Открыть " : "Закрыть ") + DriveDisplayName(letter);
}

namespace {

void Put32(VolumeRecord& r, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

}  // namespace

VolumeRecord MakeVolumeRecord(std::uint32_t unit_mask) {
  VolumeRecord r{};  // the reserved field goes out as 0, never as stray bytes
  Put32(r, 0, kVolumeRecordSize);
  Put32(r, 4, kVolumeRecordType);
  Put32(r, 12, unit_mask);
  r[16] = static_cast<std::uint8_t>(kMediaFlag);
  r[17] = 0;
  return r;
}

std::string BuildTrayTip(const DriveArray& table, std::uint8_t count) {
  std::string tip;
  for (int k = 1; k <= count; ++k) {
    const TCDROM& d = table[k];
    tip += DriveDisplayName(d.Letter);
    tip += d.DiscPresent ? " диск вставлен" : " диск не вставлен";
    if (k != count) tip += ' ';
  }
  return tip;
}

std::string TrayTipField(std::string_view text) {
  constexpr int kTipChars = 63;
  int chars = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (chars == kTipChars) break;
    ++chars;
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return std::string(text.substr(0, i));
}

bool ReadVolumeNotice(std::span<const std::uint8_t> record, VolumeNotice* out) {
  // The declared size says how much the sender gave: read nothing past it.
  if (record.size() < 8) return false;
  const std::uint8_t* p = record.data();
  if (Get32(p + 4) != kVolumeRecordType) return false;
  if (record.size() < kVolumeRecordSize) return false;
  out->UnitMask = Get32(p + 12);
  out->Flags = static_cast<std::uint16_t>(p[16] | (p[17] << 8));
  return true;
}

bool ApplyDeviceChange(DriveArray& table, std::uint8_t count, const ui::DeviceNotice& notice) {
  VolumeNotice volume;
  if (!ReadVolumeNotice(notice.Record, &volume)) return false;
  if ((volume.Flags & kMediaFlag) == 0) return false;
  if (notice.Event == ui::DeviceEvent::Arrival || notice.Event == ui::DeviceEvent::RemoveComplete) {
    const bool present = notice.Event == ui::DeviceEvent::Arrival;
    for (int k = 1; k <= count; ++k) {
      if ((table[k].UnitMask & volume.UnitMask) != 0) table[k].DiscPresent = present;
    }
  }
  return true;
}

// --- TDoors -------------------------------------------------------------------

void TDoors::Discover() {
  for (char c = 'a'; c <= 'z'; ++c) {
    if (os_.DriveType(DriveRoot(c)) != DriveKind::CdRom) continue;
    ++drives_.DriveCount;
    const int k = drives_.DriveCount;
    TCDROM& d = drives_.DriveTable[k];
    d.Letter = c;
    d.DeviceName = DriveDeviceName(c);
    d.UnitMask = DriveUnitMask(c);
    d.OpenShortCut = 0;
    d.CloseShortCut = 0;
    d.WaitFor = 15;
    d.DiscPresent = QueryMediaPresent(static_cast<std::uint8_t>(k));
  }
}

void TDoors::Open(int k) {
  const TCDROM& d = drives_.DriveTable[k];  // outside 1..26: range error
  const VolumeRecord record = MakeVolumeRecord(d.UnitMask);
  // Only a refusal keeps the door shut; a broadcast that could not be sent
  // asked nobody, and nobody said no.
  if (os_.BroadcastQueryRemove(record) == QueryRemoveAnswer::Denied) return;
  os_.MciSendString(MciOpenCommand(d.DeviceName), 0, nullptr, window_.Handle());
}

void TDoors::Close(int k) {
  const TCDROM& d = drives_.DriveTable[k];
  os_.MciSendString(MciCloseCommand(d.DeviceName), 0, nullptr, window_.Handle());
}

bool TDoors::QueryMediaPresent(std::uint8_t k) {
  std::string reply;
  return os_.MciSendString(MciQueryCommand(drives_.DriveTable[k].DeviceName), kMciReplySize, &reply,
                           0) == 0;
}

std::string TDoors::TrayTip() const {
  return TrayTipField(BuildTrayTip(drives_.DriveTable, drives_.DriveCount));
}

}  // namespace bvx
