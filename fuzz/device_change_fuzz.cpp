// The device-change handler on arbitrary blocks of bytes.
//
// The block is allocated with exactly the bytes the sender gives (and at an
// arbitrary alignment), so AddressSanitizer stops any read past its end
// (in the depth build, without it, the block ends at an inaccessible page). Its
// first four bytes are its declared size. The handler's contract: it reads
// nothing past the declared size, and never more than the 18 bytes of a
// volume record. It cannot know the true length of the block, so a block
// is only handed over when it holds what the contract allows the handler
// to read: at least the size field itself, and the declared size or
// 18 bytes, whichever is less. (Windows and Wine copy dbch_size bytes for
// a sent WM_DEVICECHANGE, so a true block is never shorter than declared.)
//
// Each block goes, as the record of a device notice with its declared size
// (as the toolkit hands it over), to ReadVolumeNotice, to ApplyDeviceChange
// on a drive table, and to the main window on the recording fake. The disc
// flags, the answer (-1) and the tooltip refresh must follow a plain
// reading of the record; nothing is ever shown.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "app/bvx_main.h"
#include "common/check.h"
#include "drives/doors.h"
#include "fake/fake_system.h"

namespace bvx::fuzz {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What a block means, read plainly: a volume notice when its declared size
// covers the 18-byte record and its type is 2.
struct Meaning {
  bool volume = false;
  std::uint32_t mask = 0;
  std::uint16_t flags = 0;
};
Meaning Read(const std::vector<std::uint8_t>& block) {
  Meaning m;
  if (block.size() < 4) return m;
  const std::uint32_t declared = Le32(block.data());
  if (declared < 18 || block.size() < 18) return m;
  if (Le32(block.data() + 4) != 2) return m;
  m.volume = true;
  m.mask = Le32(block.data() + 12);
  m.flags = static_cast<std::uint16_t>(block[16] | block[17] << 8);
  return m;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BVX_FUZZ_HAS_ASAN 1
#endif
#endif

#ifdef BVX_FUZZ_HAS_ASAN
// The bytes exactly as the sender gives them, in a heap block of their own
// size starting offset bytes into the allocation.
class ExactBlock {
 public:
  ExactBlock(const std::vector<std::uint8_t>& bytes, std::size_t offset)
      : memory_(static_cast<std::uint8_t*>(std::malloc(offset + bytes.size()))), offset_(offset) {
    if (memory_ == nullptr) std::abort();
    std::memcpy(memory_ + offset_, bytes.data(), bytes.size());
  }
  ~ExactBlock() { std::free(memory_); }
  ExactBlock(const ExactBlock&) = delete;
  ExactBlock& operator=(const ExactBlock&) = delete;
  const std::uint8_t* Data() const { return memory_ + offset_; }

 private:
  std::uint8_t* memory_;
  std::size_t offset_;
};
#else
// Without AddressSanitizer (the depth build): the bytes end exactly where an
// inaccessible page begins, so any read past their end faults.
class ExactBlock {
 public:
  ExactBlock(const std::vector<std::uint8_t>& bytes, std::size_t /*offset*/) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t data_pages = (bytes.size() + page - 1) / page;
    length_ = (data_pages + 1) * page;
    void* p = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    memory_ = static_cast<std::uint8_t*>(p);
    if (mprotect(memory_ + data_pages * page, page, PROT_NONE) != 0) std::abort();
    data_ = memory_ + data_pages * page - bytes.size();
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  }
  ~ExactBlock() { munmap(memory_, length_); }
  ExactBlock(const ExactBlock&) = delete;
  ExactBlock& operator=(const ExactBlock&) = delete;
  const std::uint8_t* Data() const { return data_; }

 private:
  std::uint8_t* memory_ = nullptr;
  std::uint8_t* data_ = nullptr;
  std::size_t length_ = 0;
};
#endif

}  // namespace
}  // namespace bvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bvx;
  using namespace bvx::fuzz;
  FuzzedDataProvider in(data, size);
  static constexpr ui::DeviceEvent kEvents[] = {ui::DeviceEvent::Arrival, ui::DeviceEvent::RemoveComplete,
                                                ui::DeviceEvent::QueryRemove, ui::DeviceEvent::Other};
  const ui::DeviceEvent event = kEvents[in.ConsumeIntegral<std::uint8_t>() % std::size(kEvents)];
  const auto drive_letters = in.ConsumeIntegral<std::uint32_t>() & 0x3FFFFFF;
  const auto disc_letters = in.ConsumeIntegral<std::uint32_t>();
  const std::size_t offset = in.ConsumeIntegralInRange(0, 3);
  const bool null_lparam = in.ConsumeIntegralInRange(0, 31) == 0;
  std::vector<std::uint8_t> block = in.ConsumeRemainingBytes<std::uint8_t>();

  // The handler may read the size field, then what the declared size allows
  // up to 18 bytes; hand over only blocks that hold that much.
  if (block.size() < 4) return 0;
  const std::uint32_t declared = Le32(block.data());
  if (declared > block.size() && block.size() < 18) return 0;

  // The block shrunk to exactly its declared size as well, when that is shorter.
  std::vector<std::vector<std::uint8_t>> blocks{block};
  if (declared >= 4 && declared < block.size()) blocks.emplace_back(block.begin(), block.begin() + declared);

  for (const std::vector<std::uint8_t>& bytes : blocks) {
    const ExactBlock exact(bytes, offset);
    // The record as the toolkit hands it over: as long as its header says.
    const std::span<const std::uint8_t> record =
        null_lparam ? std::span<const std::uint8_t>() : std::span(exact.Data(), Le32(bytes.data()));
    const Meaning m = null_lparam ? Meaning{} : Read(bytes);
    const bool refresh = m.volume && (m.flags & kMediaFlag) != 0;

    VolumeNotice notice;
    FUZZ_CHECK(ReadVolumeNotice(record, &notice) == m.volume,
               "ReadVolumeNotice took another view of the block");
    if (m.volume)
      FUZZ_CHECK(notice.UnitMask == m.mask && notice.Flags == m.flags, "ReadVolumeNotice misread the record");

    // The program on the fake, with the drives and discs the input names.
    fake::FakeSystem sys;
    for (int i = 0; i < 26; ++i) {
      const char letter = static_cast<char>('a' + i);
      if (drive_letters & (1u << i)) sys.os.cdroms.insert(letter);
      if (disc_letters & (1u << i)) sys.os.discs.insert(letter);
    }
    sys.ui.SetTitle("Brimvex");
    TAboutForm form(sys.os, sys.ui);
    const Drives start = form.drives;
    sys.log.Clear();
    sys.ui.boxes.clear();  // hotkey reports at start are not this handler's

    // The table alone, then the whole window.
    Drives table = start;
    FUZZ_CHECK(ApplyDeviceChange(table.DriveTable, table.DriveCount, ui::DeviceNotice{event, record}) == refresh,
               "ApplyDeviceChange asked for the wrong refresh");
    const ui::DeviceAnswer answer = sys.ui.DeviceChange(*sys.ui.MainForm(), event, record);
    FUZZ_CHECK(answer == ui::DeviceAnswer::Granted, "the device change was not taken");
    FUZZ_CHECK(sys.ui.boxes.empty(), "the device change showed a box");
    FUZZ_CHECK(sys.log.Count("TrayModifyTip") == (refresh ? 1u : 0u),
               "the tooltip refresh does not follow the record");

    for (int k = 1; k <= start.DriveCount; ++k) {
      bool want = start.DriveTable[k].DiscPresent;
      if (refresh && (start.DriveTable[k].UnitMask & m.mask) != 0) {
        if (event == ui::DeviceEvent::Arrival) want = true;
        if (event == ui::DeviceEvent::RemoveComplete) want = false;
      }
      FUZZ_CHECK(form.drives.DriveTable[k].DiscPresent == want,
                 "drive " + std::to_string(k) + "'s disc flag");
      FUZZ_CHECK(table.DriveTable[k].DiscPresent == want,
                 "drive " + std::to_string(k) + "'s flag in the table");
    }
    if (refresh) {
      const std::string tip = TrayTipField(BuildTrayTip(form.drives.DriveTable, form.drives.DriveCount));
      FUZZ_CHECK(sys.os.tray_tip == tip, "the tooltip does not show the new flags");
    }
  }
  return 0;
}
