// The program's own LoadSettings under Wine, for a ratio against
// profile_load.exe on the same file, in the same Wine, with the same
// compiler and flags as BVX.exe.
//
//   core_load.exe <ini path> <loads>
//
// The main window runs on the recording fake with 26 drives, as in the
// native benchmarks; only the file read is the real one: the Win32 layer's
// ReadFile (CreateFileW and ReadFile, as BVX.exe reads its settings).
// Output lines: "<name> <loads> <seconds per load>":
//   core_disk    LoadSettings with the file read from the disk every time
//   core_memory  LoadSettings with the file held in memory (the native
//                benchmark's case, for a native-vs-Wine comparison)
// Every load is checked: a wrong value ends the program with exit code 3.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include "app/bvx_main.h"
#include "common/settings_text.h"
#include "fake/fake_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_os.h"

namespace {

using namespace bvx::bench;

// The fake with the real file read.
class DiskOs : public bvx::fake::FakeOs {
 public:
  DiskOs(bvx::fake::CallLog& log, bvx::win32::Win32Os& real) : FakeOs(log), real_(real) {}
  std::optional<std::string> ReadFile(const std::string& path) override { return real_.ReadFile(path); }

 private:
  bvx::win32::Win32Os& real_;
};

bool Check(const bvx::Drives& drives) {
  if (drives.DriveCount != kBenchDrives || drives.DefaultDrive != kExpectedDefault) return false;
  for (int n = 1; n <= kBenchDrives; ++n) {
    const bvx::TCDROM& d = drives.DriveTable[n];
    if (d.OpenShortCut != ExpectedOpenShortCut(n) || d.CloseShortCut != ExpectedCloseShortCut(n) ||
        d.DoTrack != ExpectedDoTrack(n) || d.WaitFor != static_cast<std::uint32_t>(kExpectedWaitFor)) {
      return false;
    }
  }
  return true;
}

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Loads `loads` times; seconds per load, or a negative number on a wrong value.
double Run(bvx::TAboutForm& form, bvx::fake::CallLog& log, int loads) {
  double total = 0;
  for (int i = 0; i < loads; ++i) {
    form.drives.DefaultDrive = 1;
    for (int n = 1; n <= kBenchDrives; ++n) form.drives.DriveTable[n].OpenShortCut = 0;
    const double t0 = Now();
    form.LoadSettings();
    total += Now() - t0;
    if (!Check(form.drives)) return -1;
    log.Clear();
  }
  return total / loads;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: core_load.exe <ini path> <loads>\n");
    return 2;
  }
  wchar_t full[MAX_PATH];
  if (GetFullPathNameW(argv[1], MAX_PATH, full, nullptr) == 0) return 2;
  const std::string path = bvx::win32::WideToUtf8(full);
  const int loads = std::wcstol(argv[2], nullptr, 10);
  if (loads <= 0) return 2;

  bvx::win32::Win32Os real(GetModuleHandleW(nullptr));
  bvx::fake::CallLog log;
  DiskOs os(log, real);
  for (char c = 'a'; c <= 'z'; ++c) os.cdroms.insert(c);
  // The settings file is the one named after the "executable".
  os.module_path = path.substr(0, path.rfind('.')) + ".exe";
  bvx::fake::FakeToolkit ui(log);
  ui.SetTitle("Brimvex");
  bvx::TAboutForm form(os, ui);

  const double disk = Run(form, log, loads);
  if (disk < 0) return 3;
  std::printf("core_disk %d %.9f\n", loads, disk);

  os.files[form.SettingsFile()] = *real.ReadFile(path);
  bvx::fake::CallLog log2;
  bvx::fake::FakeOs memory_os(log2);
  memory_os.cdroms = os.cdroms;
  memory_os.module_path = os.module_path;
  memory_os.files = os.files;
  bvx::fake::FakeToolkit ui2(log2);
  ui2.SetTitle("Brimvex");
  bvx::TAboutForm form2(memory_os, ui2);
  const double memory = Run(form2, log2, loads);
  if (memory < 0) return 3;
  std::printf("core_memory %d %.9f\n", loads, memory);
  return 0;
}
