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
//   quit
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int wmain() {
  wchar_t line[256];
  while (std::fgetws(line, 256, stdin) != nullptr) {
    wchar_t cls[128];
    unsigned long long msg = 0, wparam = 0;
    long long lparam = 0;
    if (std::wcsncmp(line, L"quit", 4) == 0) break;
    if (std::swscanf(line, L"post %127ls %lli %lli %lli", cls, &msg, &wparam, &lparam) != 4) {
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
    std::printf("posting\n");
    std::fflush(stdout);
    PostMessageW(window, static_cast<UINT>(msg), static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
  }
  return 0;
}
