// Drive discovery, the door commands, disc presence and the tray tooltip.
#include "drives/doors.h"

#include <cstring>

#include "app/bvx_main.h"

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

// --- TAboutForm: discovery, doors, presence --------------------------------

void TAboutForm::DiscoverDrives() {
  for (char c = 'a'; c <= 'z'; ++c) {
    if (os.DriveType(DriveRoot(c)) != DriveKind::CdRom) continue;
    ++drives.DriveCount;
    const int k = drives.DriveCount;
    TCDROM& d = drives.DriveTable[k];
    d.Letter = c;
    d.DeviceName = DriveDeviceName(c);
    d.UnitMask = DriveUnitMask(c);
    d.OpenShortCut = 0;
    d.CloseShortCut = 0;
    d.WaitFor = 15;
    d.DiscPresent = QueryMediaPresent(static_cast<std::uint8_t>(k));

    const std::string name = DriveDisplayName(c);
    ui::MenuItem& open = TrayPopup.Insert(static_cast<std::size_t>(2 * k - 2), {}, "Открыть " + name);
    drives.DriveItems[k].OpenItem = &open;
    open.Tag = k;
    open.OnClick = [this](ui::MenuItem& item) { OpenCD(item); };
    ui::MenuItem& close = TrayPopup.Insert(static_cast<std::size_t>(2 * k - 1), {}, "Закрыть " + name);
    drives.DriveItems[k].CloseItem = &close;
    close.Tag = k;
    close.OnClick = [this](ui::MenuItem& item) { CloseCD(item); };
  }
}

void TAboutForm::OpenCD(ui::MenuItem& item) {
  const TCDROM& d = drives.DriveTable[item.Tag];  // a tag outside 1..26: range error
  const VolumeRecord record = MakeVolumeRecord(d.UnitMask);
  // Only a refusal keeps the door shut; a broadcast that could not be sent
  // asked nobody, and nobody said no.
  if (os.BroadcastQueryRemove(record) == QueryRemoveAnswer::Denied) return;
  os.MciSendString(MciOpenCommand(d.DeviceName), 0, nullptr, window->Handle());
}

void TAboutForm::CloseCD(ui::MenuItem& item) {
  const TCDROM& d = drives.DriveTable[item.Tag];
  os.MciSendString(MciCloseCommand(d.DeviceName), 0, nullptr, window->Handle());
}

bool TAboutForm::QueryMediaPresent(std::uint8_t k) {
  std::string reply;
  return os.MciSendString(MciQueryCommand(drives.DriveTable[k].DeviceName), kMciReplySize, &reply,
                          0) == 0;
}

std::intptr_t TAboutForm::WMDeviceChange(const ui::DeviceNotice& notice) {
  if (ApplyDeviceChange(drives.DriveTable, drives.DriveCount, notice)) {
    TrayIcon->SetTip(TrayTipField(BuildTrayTip(drives.DriveTable, drives.DriveCount)));
  }
  return -1;
}

void TAboutForm::AddTrayIcon() {
  TrayIcon->Add(TrayTipField(BuildTrayTip(drives.DriveTable, drives.DriveCount)));
}

}  // namespace bvx
