// Posts window messages to a running program when told to, and says so at
// that moment, so that the bench script can time the way from the post to
// what the program does (a trace line in Wine's +mci output). While it runs
// it also keeps the prefix's desktop alive between the programs measured.
//
// Reads lines from standard input:
//   post <class> <msg> <wparam> <lparam>
//       finds the top-level window of that class, writes "posting" to
//       standard output (flushed) and posts the message; writes "missing"
//       when there is no such window. Numbers are decimal or 0x-hex.
//   open <class> <msg> <wparam> <lparam> <shown-class>
//       posts the same way, then looks every millisecond for a visible
//       top-level window of <shown-class> and writes "opened <ms>": the
//       time from the post until it was seen, by QueryPerformanceCounter
//       in this one process; "timeout" after 10 s.
//   quit
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <cwchar>

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

bool Shown(const wchar_t* cls) {
  HWND window = FindWindowW(cls, nullptr);
  return window != nullptr && IsWindowVisible(window);
}

}  // namespace

int wmain() {
  wchar_t line[256];
  while (std::fgetws(line, 256, stdin) != nullptr) {
    wchar_t cls[128];
    wchar_t shown[128] = {};
    unsigned long long msg = 0, wparam = 0;
    long long lparam = 0;
    if (std::wcsncmp(line, L"quit", 4) == 0) break;
    const bool open = std::wcsncmp(line, L"open ", 5) == 0;
    const int fields = open ? std::swscanf(line, L"open %127ls %lli %lli %lli %127ls", cls, &msg,
                                           &wparam, &lparam, shown)
                            : std::swscanf(line, L"post %127ls %lli %lli %lli", cls, &msg,
                                           &wparam, &lparam);
    if (fields != (open ? 5 : 4) || (open && Shown(shown))) {
      std::printf("bad\n");
      std::fflush(stdout);
      continue;
    }
    HWND window = FindWindowW(cls, nullptr);
    if (window == nullptr) {
      std::printf("missing\n");
      std::fflush(stdout);
      continue;
    }
    if (!open) {
      std::printf("posting\n");
      std::fflush(stdout);
    }
    LARGE_INTEGER posted, now;
    QueryPerformanceCounter(&posted);
    PostMessageW(window, static_cast<UINT>(msg), static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
    if (!open) continue;
    bool seen = false;
    do {
      seen = Shown(shown);
      QueryPerformanceCounter(&now);
      if (!seen) Sleep(1);  // not a busy loop: the program measured needs the CPU
    } while (!seen && Milliseconds(posted, now) < 10000.0);
    if (seen) std::printf("opened %.3f\n", Milliseconds(posted, now));
    else std::printf("timeout\n");
    std::fflush(stdout);
  }
  return 0;
}
