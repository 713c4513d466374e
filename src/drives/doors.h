// MCI command texts, the query-remove volume record, disc presence from
// device-change notices, and the tray tooltip.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drives/drive_table.h"
#include "platform/os.h"

namespace bvx {

inline constexpr std::uint32_t kWmDeviceChange = 0x219;
inline constexpr std::uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uintptr_t kDbtDeviceQueryRemove = 0x8001;
inline constexpr std::uintptr_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypVolume = 2;
inline constexpr std::uint16_t kDbtfMedia = 1;
inline constexpr std::uint32_t kVolumeRecordSize = 18;
inline constexpr std::size_t kMciReplySize = 300;
// How long the query-remove broadcast waits for any one window before the
// door opens anyway: a program that hangs must not hold this one up.
inline constexpr unsigned kQueryRemoveWaitMs = 2000;

// "Set cdaudio!e: door open wait" and friends.
std::string MciOpenCommand(std::string_view device_name);
std::string MciCloseCommand(std::string_view device_name);
std::string MciQueryCommand(std::string_view device_name);

// The packed 18-byte record: size 18, type 2, reserved 0, unit mask, flags 1.
VolumeRecord MakeVolumeRecord(std::uint32_t unit_mask);

// "D: диск вставлен E: диск не вставлен" (no trailing blank, empty with no drive).
std::string BuildTrayTip(const DriveArray& table, std::uint8_t count);
// The tip field's text: the first 63 characters of the tooltip.
std::string TrayTipField(std::string_view text);

// A device-change notice for the handler. lparam points at a broadcast
// header or is null; the handler never reads past the header's own size.
struct VolumeNotice {
  std::uint32_t UnitMask = 0;
  std::uint16_t Flags = 0;
};
// The volume record behind lparam, when it is one: non-null, a header whose
// size field covers the type and the whole 18-byte record, type 2.
bool ReadVolumeNotice(const void* lparam, VolumeNotice* out);

// Event codes with this bit carry a pointer in lParam; for the others
// lParam is a plain number (DBT_MONITORCHANGE passes a screen size there)
// that the system does not copy between processes, and it is never read.
inline constexpr std::uintptr_t kDbtPointerEvent = 0x8000;

// Applies one WM_DEVICECHANGE to the disc flags. Returns true when the
// tooltip must be refreshed (a volume notice with the media flag).
bool ApplyDeviceChange(DriveArray& table, std::uint8_t count, std::uintptr_t event,
                       const void* lparam);

}  // namespace bvx
