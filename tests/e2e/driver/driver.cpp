// driver.exe: the end-to-end tests' hands inside the Wine session.
//
// Run under the same Wine prefix (and desktop) as BVX.exe. Every subcommand
// prints its results on stdout, one value per line, UTF-8, and exits 0 on
// success; on a failure or a timeout it prints a message on stderr and exits
// non-zero. Texts that may hold line breaks are printed escaped: "\r", "\n",
// "\t" and "\\".
//
//   find <class>                          hwnd (hex), exit 1 when missing
//   visible <class>                       1 or 0
//   wait-window <class> <ms>              hwnd once the window exists
//   wait-visible <class> <0|1> <ms>       hwnd once its visibility is that
//                                         ("none" when hidden means gone)
//   wait-gone <class> <ms>                "gone" once no such window exists
//   windows                               every top-level window: hwnd, pid,
//                                         visible, class, text (tab-separated)
//   post <class> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...
//                                         PostMessage of each, in order; prints 1
//   post-and-wait <class> <msg> <wparam> <lparam> <wait-class> <ms>
//                                         posts, then waits for a visible
//                                         window of wait-class; prints its
//                                         hwnd and the milliseconds it took
//   absent <class> <ms>                   "absent" when no visible window of
//                                         that class shows during ms
//   click <class> <text>                  posts BM_CLICK to the descendant
//                                         button with that text
//   rect <class>                          left top right bottom
//   metrics                               "double-click-time <ms>",
//                                         "screen <width> <height>"
//   drive-type <root>...                  GetDriveTypeW of each root
//   send <class> <msg> <wparam> <lparam> [timeout-ms]
//                                         SendMessageTimeout; prints the result
//   devchange <class> <event> <unitmask> <flags> [declared-size] [actual-bytes]
//             [device-type] [timeout-ms]  WM_DEVICECHANGE with a volume record
//                                         built here; prints the result
//   devchange-null <class> <event>        the same with lParam 0
//   listen <seconds> [deny | <answer>]    a top-level window that logs every
//                                         WM_DEVICECHANGE it gets, with the
//                                         tick count of WINEDEBUG=+timestamp
//                                         (NtGetTickCount, 32 bits); it
//                                         answers query-remove requests TRUE,
//                                         <answer>, or with a refusal (deny)
//   hold-hotkey <mods> <vk> <seconds>     RegisterHotKey in a window of its own
//   hang <seconds>                        a top-level window of its own whose
//                                         thread then answers no message for
//                                         that long (a program that hangs)
//   hold-file <path> <ms> <hwnd>          opens the file for reading with
//                                         read and write sharing only (as a
//                                         scanner holds it), posts BM_CLICK
//                                         to the button hwnd, keeps the file
//                                         open ms, closes it; prints "closed"
//                                         and the system time then (100 ns
//                                         since 1601, as file times)
//   text <class>                          the window's text
//   child-texts <class>                   class<TAB>text of every descendant
//   box <caption> <ms> [keep]             waits for a top-level window with
//                                         that caption, prints its static
//                                         texts, then closes it (unless keep)
//   tooltip                               every tool of the tooltip windows of
//                                         other processes: tooltip hwnd, tool
//                                         window class, text, tool id, and
//                                         the tool's rectangle l,t,r,b
//   end-desktop                           ends the process that owns the
//                                         tray (explorer.exe /desktop)
//   post-hwnd <hwnd> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...
//                                         PostMessage to that window (any
//                                         child window too); prints 1
//   send-hwnd <hwnd> <msg> <wparam> <lparam> [timeout-ms]
//                                         SendMessageTimeout to that window
//   controls <class>                      every descendant of the window:
//                                         hwnd, parent, id, class, visible,
//                                         enabled, text, then key=value
//                                         columns: rect (screen), font
//                                         (WM_GETFONT), items and sel (tab
//                                         control, combo box), hotkey, check
//   window-at <x> <y>                     WindowFromPoint: hwnd and class
//   set-text <hwnd> <text>                WM_SETTEXT; prints the result
//   watch <class> <ms> [count]            waits up to ms for a window of that
//                                         class, then prints every change of
//                                         its texts (tick of the +timestamp
//                                         clock, class, text of
//                                         the window and each descendant)
//                                         until it is gone; so for count
//                                         windows in turn (default 1). The
//                                         first line, "watching", comes at
//                                         once; "ready" when a window comes,
//                                         with its style and extended style
//   styles <class>                        the window's style and extended
//                                         style (hex)
//   label-walk <hwnd>                     the windows above that one among
//                                         its siblings (GW_HWNDPREV), as a
//                                         screen reader looks for a field's
//                                         name: "pass<TAB>hwnd<TAB>class<TAB>
//                                         style" for each passed, then
//                                         "static<TAB>hwnd<TAB>text" at the
//                                         first static text, "halt<TAB>hwnd
//                                         <TAB>class" at one with WS_GROUP
//                                         and WS_TABSTOP, or "none"
//
// driver.h lists the files that hold the subcommands, one per concern.
#include "driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace driver {

// --- output ------------------------------------------------------------------

namespace {

void WriteBytes(HANDLE handle, const std::string& bytes) {
  DWORD done = 0;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    if (!WriteFile(handle, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset),
                   &done, nullptr) ||
        done == 0)
      return;
    offset += done;
  }
}

}  // namespace

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

void Line(const std::string& text) { WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), text + "\n"); }

int Fail(const std::string& text, int code) {
  WriteBytes(GetStdHandle(STD_ERROR_HANDLE), "driver: " + text + "\n");
  return code;
}

std::string Hex(std::uintptr_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

std::string HwndText(HWND hwnd) { return Hex(reinterpret_cast<std::uintptr_t>(hwnd)); }

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// --- arguments ---------------------------------------------------------------

bool ParseNumber(const wchar_t* text, long long* value) {
  if (text == nullptr || *text == L'\0') return false;
  wchar_t* end = nullptr;
  errno = 0;
  const bool negative = text[0] == L'-';
  // Base 0: decimal, 0x hexadecimal; unsigned parse keeps 0xFFFFFFFF whole.
  if (negative) {
    *value = std::wcstoll(text, &end, 0);
  } else {
    *value = static_cast<long long>(std::wcstoull(text, &end, 0));
  }
  return errno == 0 && end != nullptr && *end == L'\0';
}

bool ParseHwnd(const wchar_t* text, HWND* hwnd) {
  long long value = 0;
  if (!ParseNumber(text, &value)) return false;
  *hwnd = reinterpret_cast<HWND>(static_cast<std::intptr_t>(value));
  return IsWindow(*hwnd) != FALSE;
}

// --- time --------------------------------------------------------------------

ULONGLONG Now() { return GetTickCount64(); }

// The clock of WINEDEBUG=+timestamp (Wine stamps each trace line with
// NtGetTickCount); GetTickCount64 reads a copy that the server refreshes now
// and then, and may lag behind it.
ULONG TraceTicks() {
  using Fn = ULONG(WINAPI*)();
  static const Fn tick_count = [] {
    FARPROC proc = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtGetTickCount");
    Fn fn = nullptr;
    std::memcpy(&fn, &proc, sizeof fn);
    return fn;
  }();
  return tick_count != nullptr ? tick_count() : GetTickCount();
}

// --- the command table -------------------------------------------------------

namespace {

struct Command {
  const wchar_t* name;
  int (*run)(const Args&);
};

constexpr Command kCommands[] = {
    {L"find", &CmdFind},
    {L"visible", &CmdVisible},
    {L"wait-window", &CmdWaitWindow},
    {L"wait-visible", &CmdWaitVisible},
    {L"wait-gone", &CmdWaitGone},
    {L"windows", &CmdWindows},
    {L"post", &CmdPost},
    {L"post-and-wait", &CmdPostAndWait},
    {L"absent", &CmdAbsent},
    {L"click", &CmdClick},
    {L"rect", &CmdRect},
    {L"metrics", &CmdMetrics},
    {L"drive-type", &CmdDriveType},
    {L"send", &CmdSend},
    {L"devchange", &CmdDevChange},
    {L"devchange-null", &CmdDevChangeNull},
    {L"listen", &CmdListen},
    {L"hold-hotkey", &CmdHoldHotkey},
    {L"hang", &CmdHang},
    {L"hold-file", &CmdHoldFile},
    {L"text", &CmdText},
    {L"child-texts", &CmdChildTexts},
    {L"box", &CmdBox},
    {L"tooltip", &CmdTooltip},
    {L"end-desktop", &CmdEndDesktop},
    {L"post-hwnd", &CmdPostHwnd},
    {L"send-hwnd", &CmdSendHwnd},
    {L"controls", &CmdControls},
    {L"window-at", &CmdWindowAt},
    {L"set-text", &CmdSetText},
    {L"watch", &CmdWatch},
    {L"styles", &CmdStyles},
    {L"label-walk", &CmdLabelWalk},
};

}  // namespace

}  // namespace driver

int wmain(int argc, wchar_t** argv) {
  using namespace driver;
  if (argc < 2) return Fail("usage: driver <subcommand> ...", 64);
  const Args args{argc - 1, argv + 1};
  for (const Command& command : kCommands)
    if (std::wcscmp(command.name, args.At(0)) == 0) return command.run(args);
  return Fail("unknown subcommand " + Utf8(args.At(0)), 64);
}
