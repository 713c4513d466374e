// Native benchmarks of the work the program does while it runs: reading and
// writing the settings file, the device-change handler with its tooltip
// refresh, and the tooltip text. Everything goes through the portable core
// on the recording fake, so the figures include the fake's own bookkeeping
// (each Os call appends a line to the call log); the real system calls they
// stand for are measured under Wine by scripts/bench.sh.
//
// Each benchmark checks after its loop that the work was really done (the
// values read, the file written, the flags and the tooltip) and reports an
// error instead of a time when it was not.
#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/bvx_main.h"
#include "common/settings_text.h"
#include "drives/doors.h"
#include "fake/fake_system.h"
#include "settings/ini.h"
#include "settings/settings.h"

namespace bvx::bench {
namespace {

using fake::FakeSystem;

// Every letter is an optical drive: the table holds 26 drives.
std::set<char> AllLetters() {
  std::set<char> letters;
  for (char c = 'a'; c <= 'z'; ++c) letters.insert(c);
  return letters;
}

// The main window on the fake with 26 drives, started as the program starts
// it (discovery, settings, hotkeys, tray icon).
struct Program {
  FakeSystem sys;
  std::unique_ptr<TAboutForm> form;

  explicit Program(const std::string* settings = nullptr) {
    sys.os.cdroms = AllLetters();
    sys.os.discs = {'d', 'f', 'x'};
    if (settings != nullptr) sys.os.files[SettingsFileName(sys.os.module_path)] = *settings;
    sys.ui.SetTitle("Brimvex");
    form = std::make_unique<TAboutForm>(sys.os, sys.ui);
    sys.log.Clear();
  }
  // The call log grows by a line per Os call; keep it short without making
  // every iteration pay for a clear.
  void TrimLog(std::int64_t iteration) {
    if ((iteration & 1023) == 0) sys.log.Clear();
  }
};

// An empty string when the table holds what the settings text says.
std::string CheckLoaded(const Drives& drives) {
  if (drives.DriveCount != kBenchDrives) return "drive count " + std::to_string(drives.DriveCount);
  if (drives.DefaultDrive != kExpectedDefault) return "default drive " + std::to_string(drives.DefaultDrive);
  for (int n = 1; n <= kBenchDrives; ++n) {
    const TCDROM& d = drives.DriveTable[n];
    if (d.OpenShortCut != ExpectedOpenShortCut(n) || d.CloseShortCut != ExpectedCloseShortCut(n) ||
        d.DoTrack != ExpectedDoTrack(n) || d.WaitFor != static_cast<std::uint32_t>(kExpectedWaitFor)) {
      return "drive " + std::to_string(n) + " holds other values";
    }
  }
  return {};
}

void Report(benchmark::State& state, const std::string& error) {
  if (!error.empty()) state.SkipWithError(error.c_str());
}

// --- LoadSettings ---------------------------------------------------------------

// TAboutForm::LoadSettings with the file in the fake's file map: the file
// is copied out (as a read would), parsed, the 107 keys looked up, and the
// shortcut text of the 52 drive items set.
void BM_LoadSettings(benchmark::State& state) {
  const std::string text = SettingsText(static_cast<std::size_t>(state.range(0)), kBenchDrives);
  Program p(&text);
  p.form->drives.DefaultDrive = 1;
  std::int64_t i = 0;
  for (auto _ : state) {
    p.form->LoadSettings();
    p.TrimLog(++i);
  }
  Report(state, CheckLoaded(p.form->drives));
  if (p.form->drives.DriveItems[1].OpenItem->ShortCutText.empty()) Report(state, "no shortcut text");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadSettings)->Arg(kSmallFile)->Arg(kLargeFile)->Unit(benchmark::kMicrosecond);

// The same with the file read from the disk (page cache) on every load, as
// the program reads it.
class DiskOs : public fake::FakeOs {
 public:
  using fake::FakeOs::FakeOs;
  std::string disk_path;
  std::optional<std::string> ReadFile(const std::string&) override {
    std::FILE* f = std::fopen(disk_path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::string contents;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    contents.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    const std::size_t got = std::fread(contents.data(), 1, contents.size(), f);
    std::fclose(f);
    contents.resize(got);
    return contents;
  }
};

void BM_LoadSettingsFromDisk(benchmark::State& state) {
  const std::string text = SettingsText(static_cast<std::size_t>(state.range(0)), kBenchDrives);
  const std::string path = "/tmp/bvx_bench_" + std::to_string(text.size()) + ".ini";
  std::ofstream(path, std::ios::binary) << text;
  fake::CallLog log;
  DiskOs os(log);
  os.disk_path = path;
  os.cdroms = AllLetters();
  fake::FakeToolkit ui(log);
  ui.SetTitle("Brimvex");
  TAboutForm form(os, ui);
  form.drives.DefaultDrive = 1;
  std::int64_t i = 0;
  for (auto _ : state) {
    form.LoadSettings();
    if ((++i & 1023) == 0) log.Clear();
  }
  Report(state, CheckLoaded(form.drives));
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LoadSettingsFromDisk)->Arg(kSmallFile)->Arg(kLargeFile)->Unit(benchmark::kMicrosecond);

// Where a load's time goes: parsing the text alone (sections indexed, no
// key looked up).
void BM_IniParse(benchmark::State& state) {
  const std::string text = SettingsText(static_cast<std::size_t>(state.range(0)), kBenchDrives);
  for (auto _ : state) {
    ini::IniDocument doc{std::string(text)};
    benchmark::DoNotOptimize(doc);
  }
  const ini::IniDocument doc{std::string(text)};
  if (doc.ReadInteger("BVX", "Default", 0) != kExpectedDefault) Report(state, "parse lost [BVX]");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_IniParse)->Arg(kSmallFile)->Arg(kLargeFile)->Unit(benchmark::kMicrosecond);

// What bringing 1 MB of fresh memory in costs on this machine (anonymous
// pages mapped, written once, unmapped): the floor of any reader that puts
// a 1 MB file into memory it has not used before, as a program under Wine
// does on every load (Wine gives large heap blocks back on free).
void BM_FreshMegabyte(benchmark::State& state) {
  constexpr std::size_t kSize = 1 << 20;
  for (auto _ : state) {
    void* p = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      break;
    }
    std::memset(p, 'x', kSize);
    benchmark::DoNotOptimize(p);
    munmap(p, kSize);
  }
}
BENCHMARK(BM_FreshMegabyte)->Unit(benchmark::kMicrosecond);

// --- SaveSettings ------------------------------------------------------------------

// What the options dialog hands over for 26 drives.
struct SaveInput {
  std::vector<ShortcutPair> shortcuts;
  std::vector<std::uint8_t> track;
  SaveInput() {
    for (int n = 1; n <= kBenchDrives; ++n) {
      shortcuts.push_back({ExpectedOpenShortCut(n), ExpectedCloseShortCut(n)});
      track.push_back(ExpectedDoTrack(n) ? 1 : 0);
    }
  }
};

std::string CheckSaved(const std::string& text) {
  Drives drives;
  drives.DriveCount = kBenchDrives;
  ReadSettings(text, drives);
  return CheckLoaded(drives);
}

// SaveSettings of 26 drives over the existing 2 KB file (new_file:1: with no
// file, the first save on a machine): 82 keys, each
// written to the file as it is set (the whole file replaced every time).
void BM_SaveSettings(benchmark::State& state) {
  const bool fresh = state.range(0) != 0;
  const std::string text = SettingsText(kSmallFile, kBenchDrives);
  Program p(&text);
  const std::string path = p.form->SettingsFile();
  const SaveInput in;
  bool ok = true;
  for (auto _ : state) {
    if (fresh) p.sys.os.files.erase(path);
    ok = SaveSettings(p.sys.os, p.sys.ui, path, kExpectedDefault, kExpectedWaitFor, in.shortcuts, in.track) && ok;
    p.sys.log.Clear();
  }
  if (!ok) Report(state, "a write failed");
  Report(state, CheckSaved(p.sys.os.files[path]));
  state.counters["file_bytes"] = static_cast<double>(p.sys.os.files[path].size());
}
BENCHMARK(BM_SaveSettings)->ArgName("new_file")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// --- device change and tooltip ---------------------------------------------------------

// TAboutForm::WMDeviceChange: a media arrival or removal for one of the 26
// drives, the flags updated, the tooltip rebuilt, cut and handed to the tray.
void BM_DeviceChange(benchmark::State& state) {
  Program p;
  std::vector<VolumeRecord> records;
  for (int n = 1; n <= kBenchDrives; ++n)
    records.push_back(MakeVolumeRecord(p.form->drives.DriveTable[n].UnitMask));
  std::int64_t i = 0;
  for (auto _ : state) {
    const std::size_t k = static_cast<std::size_t>(i % kBenchDrives);
    // Arrival on even rounds over the table, removal on odd ones.
    const ui::DeviceEvent event =
        (i / kBenchDrives) % 2 == 0 ? ui::DeviceEvent::Arrival : ui::DeviceEvent::RemoveComplete;
    benchmark::DoNotOptimize(p.form->WMDeviceChange(ui::DeviceNotice{event, records[k]}));
    p.TrimLog(++i);
  }
  // The last notice set or cleared the last drive it named, and the tip shows it.
  const std::int64_t last = i - 1;
  const int n = static_cast<int>(last % kBenchDrives) + 1;
  const bool present = (last / kBenchDrives) % 2 == 0;
  if (p.form->drives.DriveTable[n].DiscPresent != present) Report(state, "flag not changed");
  const std::string tip = TrayTipField(BuildTrayTip(p.form->drives.DriveTable, kBenchDrives));
  if (!p.sys.os.tray_tip || *p.sys.os.tray_tip != tip) Report(state, "tooltip not refreshed");
}
BENCHMARK(BM_DeviceChange)->Unit(benchmark::kNanosecond);

// The same message through the toolkit's dispatch (the form's message
// handler behind the error boundary), as the window procedure delivers it.
void BM_DeviceChangeMessage(benchmark::State& state) {
  Program p;
  fake::FakeForm& main = *p.sys.ui.MainForm();
  const VolumeRecord record = MakeVolumeRecord(p.form->drives.DriveTable[4].UnitMask);
  std::int64_t i = 0;
  ui::DeviceAnswer result = ui::DeviceAnswer::Default;
  for (auto _ : state) {
    const ui::DeviceEvent event = (i & 1) == 0 ? ui::DeviceEvent::Arrival : ui::DeviceEvent::RemoveComplete;
    result = p.sys.ui.DeviceChange(main, event, record);
    p.TrimLog(++i);
  }
  if (result != ui::DeviceAnswer::Granted) Report(state, "the notice was not taken");
  if (!p.sys.os.tray_tip) Report(state, "no tooltip");
}
BENCHMARK(BM_DeviceChangeMessage)->Unit(benchmark::kNanosecond);

// BuildTrayTip for 26 drives (868 bytes of text before the cut).
void BM_BuildTrayTip(benchmark::State& state) {
  Program p;
  std::size_t size = 0;
  for (auto _ : state) {
    std::string tip = BuildTrayTip(p.form->drives.DriveTable, kBenchDrives);
    size = tip.size();
    benchmark::DoNotOptimize(tip);
  }
  // 26 times "X:" followed by " диск не вставлен" (31 bytes in UTF-8) or
  // " диск вставлен" (26 bytes), with 25 separating blanks: 3 of the drives
  // hold a disc.
  const std::size_t expected = 26 * 2 + 23 * 31 + 3 * 26 + 25;
  if (size != expected) Report(state, "tooltip of " + std::to_string(size) + " bytes");
  state.counters["tip_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_BuildTrayTip)->Unit(benchmark::kNanosecond);

// The tip field: the first 63 characters of that text.
void BM_TrayTipField(benchmark::State& state) {
  Program p;
  const std::string tip = BuildTrayTip(p.form->drives.DriveTable, kBenchDrives);
  std::string field;
  for (auto _ : state) {
    field = TrayTipField(tip);
    benchmark::DoNotOptimize(field);
  }
  if (field.empty() || !tip.starts_with(field)) Report(state, "tip field is no prefix");
}
BENCHMARK(BM_TrayTipField)->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace bvx::bench

BENCHMARK_MAIN();
