// The drives' doors: TDoors (discovery, the disc query, opening and closing
// a door); the MCI command texts, the query-remove volume record, disc
// presence from device-change notices, and the tray tooltip.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "drives/drive_table.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

inline constexpr std::uint32_t kVolumeRecordType = 2;
inline constexpr std::uint16_t kMediaFlag = 1;
inline constexpr std::uint32_t kVolumeRecordSize = 18;
inline constexpr std::size_t kMciReplySize = 300;

// "Set cdaudio!e: door open wait" and friends.
std::string MciOpenCommand(std::string_view device_name);
std::string MciCloseCommand(std::string_view device_name);
std::string MciQueryCommand(std::string_view device_name);

// The caption of a drive's tray item: "Открыть D:" or "Закрыть D:".
std::string DoorItemCaption(bool open, char letter);

// The packed 18-byte record: size 18, type 2, reserved 0, unit mask, flags 1.
VolumeRecord MakeVolumeRecord(std::uint32_t unit_mask);

// "D: диск вставлен E: диск не вставлен" (no trailing blank, empty with no drive).
std::string BuildTrayTip(const DriveArray& table, std::uint8_t count);
// The tip field's text: the first 63 characters of the tooltip.
std::string TrayTipField(std::string_view text);

// What a volume record says.
struct VolumeNotice {
  std::uint32_t UnitMask = 0;
  std::uint16_t Flags = 0;
};
// The volume record a notice carries, when it is one: its declared size
// (the record's length) covers the type and the whole 18-byte record, and
// its type is 2. Nothing past the 18 bytes is read.
bool ReadVolumeNotice(std::span<const std::uint8_t> record, VolumeNotice* out);

// Applies one device change to the disc flags. Returns true when the
// tooltip must be refreshed (a volume notice with the media flag).
bool ApplyDeviceChange(DriveArray& table, std::uint8_t count, const ui::DeviceNotice& notice);

// The doors of the drives in the table, moved for the main window (MCI's
// callback window).
class TDoors {
 public:
  TDoors(Os& os, ui::Form& window, Drives& drives) : os_(os), window_(window), drives_(drives) {}

  // Fills the table with the optical drives in letter order; each drive's
  // disc is queried right after its drive type.
  void Discover();
  // Opens drive k's door: a query-remove broadcast for its volume, then,
  // unless an application refused, the MCI command. Close sends the command
  // alone. A k outside 1..26 raises RangeError before anything is sent.
  void Open(int k);
  void Close(int k);
  // Whether drive k holds a disc: the MCI query answers 0.
  bool QueryMediaPresent(std::uint8_t k);
  // Applies a device notice to the disc flags; true when the tooltip is to
  // be refreshed.
  bool DeviceChange(const ui::DeviceNotice& notice) {
    return ApplyDeviceChange(drives_.DriveTable, drives_.DriveCount, notice);
  }
  // The tip field of the table's tooltip.
  std::string TrayTip() const;

 private:
  Os& os_;
  ui::Form& window_;
  Drives& drives_;
};

}  // namespace bvx
