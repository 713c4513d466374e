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
// and where the time goes:
//   read_chunks  the Win32 layer's ReadFile alone (4 KB reads appended)
//   read_once    the same file read with one ReadFile call into a string
//                of the file's size
//   core_disk_read_once  LoadSettings with that single-call read
//   parse        the INI text parsed (IniDocument built from a copy)
//   scan_memchr  the text cut into lines with memchr, as the parser does,
//                with the C run time's memchr (Wine's msvcrt here)
//   scan_words   the same cut with a loop that tests 8 bytes at a time
// Every load is checked: a wrong value ends the program with exit code 3.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "app/bvx_main.h"
#include "common/settings_text.h"
#include "fake/fake_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_os.h"
#include "settings/ini.h"

namespace {

using namespace bvx::bench;

// The whole file with one ReadFile call into a string of its size.
std::optional<std::string> ReadOnce(const std::string& path) {
  HANDLE file = CreateFileW(bvx::win32::Utf8ToWide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size{};
  std::string contents;
  DWORD got = 0;
  const bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 31) &&
                  (contents.resize(static_cast<std::size_t>(size.QuadPart)), true) &&
                  ::ReadFile(file, contents.data(), static_cast<DWORD>(contents.size()), &got, nullptr);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  contents.resize(got);
  return contents;
}

// The fake with the real file read: the Win32 layer's, or the single call.
class DiskOs : public bvx::fake::FakeOs {
 public:
  DiskOs(bvx::fake::CallLog& log, bvx::win32::Win32Os& real) : FakeOs(log), real_(real) {}
  bool read_once = false;
  std::optional<std::string> ReadFile(const std::string& path) override {
    return read_once ? ReadOnce(path) : real_.ReadFile(path);
  }

 private:
  bvx::win32::Win32Os& real_;
};

// Lines of the text found with memchr, as the parser finds them.
std::size_t LinesMemchr(const std::string& text) {
  std::size_t lines = 0;
  for (const char* p = text.data(); const void* nl = std::memchr(p, '\n', text.data() + text.size() - p);
       p = static_cast<const char*>(nl) + 1) {
    ++lines;
  }
  return lines;
}

// The same with 8 bytes tested at a time.
std::size_t LinesWords(const std::string& text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  constexpr std::uint64_t kNewlines = kOnes * '\n';
  std::size_t lines = 0;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* nl = nullptr;
    const char* q = p;
    for (; end - q >= 8; q += 8) {
      std::uint64_t word;
      std::memcpy(&word, q, 8);
      const std::uint64_t x = word ^ kNewlines;
      if (((x - kOnes) & ~x & kHighs) != 0) break;
    }
    for (; q < end; ++q) {
      if (*q == '\n') {
        nl = q;
        break;
      }
    }
    if (nl == nullptr) break;
    ++lines;
    p = nl + 1;
  }
  return lines;
}

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
  os.read_once = true;
  const double disk_once = Run(form, log, loads);
  if (disk_once < 0) return 3;
  std::printf("core_disk_read_once %d %.9f\n", loads, disk_once);

  // Where the time goes.
  const auto each = [loads](const char* name, auto&& step) {
    const double t0 = Now();
    for (int i = 0; i < loads; ++i) {
      step();
      asm volatile("" ::: "memory");  // every round computes afresh
    }
    std::printf("%s %d %.9f\n", name, loads, (Now() - t0) / loads);
  };
  const std::string text = *real.ReadFile(path);
  std::size_t sink = 0;
  each("read_chunks", [&] { sink += real.ReadFile(path)->size(); });
  each("read_once", [&] { sink += ReadOnce(path)->size(); });
  each("parse", [&] { sink += bvx::ini::IniDocument(std::string(text)).Text().size(); });
  each("scan_memchr", [&] { sink += LinesMemchr(text); });
  each("scan_words", [&] { sink += LinesWords(text); });
  if (LinesMemchr(text) != LinesWords(text) || sink == 0) return 3;

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
