// The drive table: one entry per optical drive found at start, addressed by
// its 1-based index k. Drive k's tray items sit at menu positions 2k-2 (open)
// and 2k-1 (close), and its hotkey ids are the same two numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/menu.h"
#include "platform/os.h"

namespace bvx {

inline constexpr int kMaxDrives = 26;

struct TCDROM {
  char Letter = 0;         // lower case 'a'..'z'
  std::string DeviceName;  // "cdaudio!e:"
  std::uint32_t UnitMask = 0;
  std::uint16_t OpenShortCut = 0;
  std::uint16_t CloseShortCut = 0;
  std::uint32_t WaitFor = 0;
  bool DoTrack = false;
  bool DiscPresent = false;
};

// An array indexed 1..26 whose index check raises "Range check error".
template <typename T>
class OneBased {
 public:
  T& operator[](long k) { return slots_[Check(k)]; }
  const T& operator[](long k) const { return slots_[Check(k)]; }

 private:
  static std::size_t Check(long k) {
    if (k < 1 || k > kMaxDrives) throw RangeError();
    return static_cast<std::size_t>(k - 1);
  }
  std::array<T, kMaxDrives> slots_{};
};

struct DriveItemPair {
  ui::MenuItem* OpenItem = nullptr;
  ui::MenuItem* CloseItem = nullptr;
};

using DriveArray = OneBased<TCDROM>;

// A door command of drive k: open or close its door. Its tray item and its
// hotkey id are the same number, 2k-2 to open and 2k-1 to close.
struct DoorCommand {
  int Drive = 0;
  bool Open = false;
  std::size_t Index() const { return static_cast<std::size_t>(2 * Drive - (Open ? 2 : 1)); }
};

// The one road of every door command, whatever its source: the main window
// hands the command's tray item to OpenCD or CloseCD.
class DoorRoad {
 public:
  virtual void RunDoorCommand(DoorCommand command) = 0;

 protected:
  ~DoorRoad() = default;
};

// The drive table and the values that go with it.
struct Drives {
  DriveArray DriveTable;
  std::uint8_t DriveCount = 0;
  std::uint8_t DefaultDrive = 1;
  OneBased<DriveItemPair> DriveItems;
};

// "d:\" for 'd'.
std::string DriveRoot(char letter);
// "cdaudio!d:" for 'd'.
std::string DriveDeviceName(char letter);
// 1 << (letter - 'a').
std::uint32_t DriveUnitMask(char letter);
// "D:" for 'd'.
std::string DriveDisplayName(char letter);

}  // namespace bvx
