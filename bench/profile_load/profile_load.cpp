// The settings of 26 drives read the way a program that uses the system's
// INI functions reads them: one GetPrivateProfileIntW per key, in the order
// and with the defaults of the program's own load (Default, the two fallback
// shortcuts, then per drive OpenShortCut<n>, CloseShortCut<n>, WaitFor,
// DoTrack<n>: 107 calls).
//
//   profile_load.exe <ini path> <cold loads> <warm loads>
//
// A cold load starts after the system's cached copy of the file has been
// dropped (WritePrivateProfileStringW with every name null, the documented
// way to flush it), as at program start or after the file has been written;
// a warm load follows another load of the same file. Each line of output:
// "<name> <loads> <seconds per load>", timed with QueryPerformanceCounter.
// The values read are checked against the file's: a wrong value ends the
// program with exit code 3.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "common/settings_text.h"

namespace {

using namespace bvx::bench;

struct Drive {
  UINT open = 0, close = 0, wait = 0, track = 0;
};

// One load: every key once, as the program's load asks for them.
int Load(const wchar_t* path, Drive* drives) {
  const UINT def = GetPrivateProfileIntW(L"BVX", L"Default", 1, path);
  const int default_drive = def >= 1 && def <= kBenchDrives ? static_cast<int>(def) : 1;
  drives[default_drive].open = GetPrivateProfileIntW(L"BVX", L"OpenShortCut", 49371, path);
  drives[default_drive].close = GetPrivateProfileIntW(L"BVX", L"CloseShortCut", 49373, path);
  wchar_t key[32];
  for (int n = 1; n <= kBenchDrives; ++n) {
    Drive& d = drives[n];
    std::swprintf(key, 32, L"OpenShortCut%d", n);
    d.open = GetPrivateProfileIntW(L"ShortCuts", key, static_cast<INT>(d.open), path);
    std::swprintf(key, 32, L"CloseShortCut%d", n);
    d.close = GetPrivateProfileIntW(L"ShortCuts", key, static_cast<INT>(d.close), path);
    d.wait = GetPrivateProfileIntW(L"BVX", L"WaitFor", 10, path);
    std::swprintf(key, 32, L"DoTrack%d", n);
    d.track = GetPrivateProfileIntW(L"Track", key, 1, path);
  }
  return default_drive;
}

bool Check(int default_drive, const Drive* drives) {
  if (default_drive != kExpectedDefault) return false;
  for (int n = 1; n <= kBenchDrives; ++n) {
    const Drive& d = drives[n];
    // The system's reader knows decimal only: "$1E" reads as 0 there, where
    // the program's own reader takes it as 30. That is the file's one hex value.
    if (d.open != ExpectedOpenShortCut(n) || d.close != ExpectedCloseShortCut(n) ||
        (d.track != 0) != ExpectedDoTrack(n)) {
      return false;
    }
  }
  return true;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER freq) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: profile_load.exe <ini path> <cold loads> <warm loads>\n");
    return 2;
  }
  wchar_t path[MAX_PATH];
  if (GetFullPathNameW(argv[1], MAX_PATH, path, nullptr) == 0) return 2;
  const int cold = std::wcstol(argv[2], nullptr, 10);
  const int warm = std::wcstol(argv[3], nullptr, 10);
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  Drive drives[kBenchDrives + 1];

  double cold_total = 0;
  for (int i = 0; i < cold; ++i) {
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path);  // drop the cached copy
    QueryPerformanceCounter(&t0);
    const int def = Load(path, drives);
    QueryPerformanceCounter(&t1);
    cold_total += Seconds(t0, t1, freq);
    if (!Check(def, drives)) return 3;
  }
  if (cold > 0) std::printf("profile_cold %d %.9f\n", cold, cold_total / cold);

  Load(path, drives);  // fill the cache
  QueryPerformanceCounter(&t0);
  int def = 0;
  for (int i = 0; i < warm; ++i) def = Load(path, drives);
  QueryPerformanceCounter(&t1);
  if (warm > 0) {
    if (!Check(def, drives)) return 3;
    std::printf("profile_warm %d %.9f\n", warm, Seconds(t0, t1, freq) / warm);
  }
  return 0;
}
