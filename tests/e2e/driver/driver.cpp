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
//   broadcast-query <unitmask>            DBT_DEVICEQUERYREMOVE to
//                                         HWND_BROADCAST; prints the result
//   listen <seconds> [deny]               a top-level window that logs every
//                                         WM_DEVICECHANGE it gets, with the
//                                         tick count of WINEDEBUG=+timestamp
//                                         (NtGetTickCount, 32 bits);
//                                         "deny" refuses query-remove requests
//   hold-hotkey <mods> <vk> <seconds>     RegisterHotKey in a window of its own
//   hang <seconds>                        a top-level window of its own whose
//                                         thread then answers no message for
//                                         that long (a program that hangs)
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
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// --- output ------------------------------------------------------------------

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

int Fail(const std::string& text, int code = 1) {
  WriteBytes(GetStdHandle(STD_ERROR_HANDLE), "driver: " + text + "\n");
  return code;
}

std::string Hex(std::uintptr_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

std::string HwndText(HWND hwnd) { return Hex(reinterpret_cast<std::uintptr_t>(hwnd)); }

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

struct Args {
  int argc;
  wchar_t** argv;
  // Positional argument i (0 = the subcommand).
  const wchar_t* At(int i) const { return i < argc ? argv[i] : nullptr; }
  bool Number(int i, long long* value) const { return ParseNumber(At(i), value); }
};

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

// Runs the message loop of this thread until the deadline (or WM_QUIT).
void PumpUntil(ULONGLONG deadline) {
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = Now();
    if (now >= deadline) return;
    const ULONGLONG left = deadline - now;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left > 1000 ? 1000 : left),
                              QS_ALLINPUT);
  }
}

// --- windows -----------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  const int n = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// The text of a window of any process: WM_GETTEXT is carried across
// processes, so controls answer with their current text.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    length = 0;
  std::wstring text(static_cast<std::size_t>(length) + 64, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 5000, &copied)) {
    const int n = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    copied = n > 0 ? static_cast<DWORD_PTR>(n) : 0;
  }
  text.resize(std::wcslen(text.c_str()));
  return text;
}

HWND FindByClass(const wchar_t* class_name) { return FindWindowW(class_name, nullptr); }

struct CaptionSearch {
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK FindCaptionProc(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<CaptionSearch*>(lparam);
  wchar_t text[512] = {};
  GetWindowTextW(hwnd, text, 512);
  if (std::wcscmp(text, search->caption) == 0 && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindByCaption(const wchar_t* caption) {
  CaptionSearch search{caption, nullptr};
  EnumWindows(&FindCaptionProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectProc(HWND hwnd, LPARAM lparam) {
  reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> all;
  EnumWindows(&CollectProc, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, &CollectProc, reinterpret_cast<LPARAM>(&all));
  return all;
}

// Waits until find() gives a window (or, with want_gone, none).
template <typename Find>
HWND WaitFor(Find find, long long ms) {
  const ULONGLONG deadline = Now() + static_cast<ULONGLONG>(ms);
  for (;;) {
    if (HWND hwnd = find()) return hwnd;
    if (Now() >= deadline) return nullptr;
    Sleep(15);
  }
}

// --- subcommands: finding and poking windows ---------------------------------

int CmdFind(const Args& a) {
  if (!a.At(1)) return Fail("usage: find <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  Line(HwndText(hwnd));
  return 0;
}

int CmdVisible(const Args& a) {
  if (!a.At(1)) return Fail("usage: visible <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  Line(IsWindowVisible(hwnd) ? "1" : "0");
  return 0;
}

int CmdWaitWindow(const Args& a) {
  long long ms = 0;
  if (!a.At(1) || !a.Number(2, &ms)) return Fail("usage: wait-window <class> <ms>", 64);
  HWND hwnd = WaitFor([&] { return FindByClass(a.At(1)); }, ms);
  if (!hwnd) return Fail("timed out waiting for a window of class " + Utf8(a.At(1)), 2);
  Line(HwndText(hwnd));
  return 0;
}

int CmdWaitVisible(const Args& a) {
  long long want = 0, ms = 0;
  if (!a.At(1) || !a.Number(2, &want) || !a.Number(3, &ms))
    return Fail("usage: wait-visible <class> <0|1> <ms>", 64);
  // Waiting for "hidden" is also satisfied by no window at all.
  bool none = false;
  HWND hwnd = WaitFor(
      [&]() -> HWND {
        HWND w = FindByClass(a.At(1));
        if (!w && !want) {
          none = true;
          return HWND_BROADCAST;
        }
        return (w && (IsWindowVisible(w) != FALSE) == (want != 0)) ? w : nullptr;
      },
      ms);
  if (!hwnd)
    return Fail("timed out waiting for " + Utf8(a.At(1)) + " to become " +
                    (want ? "visible" : "hidden"),
                2);
  Line(none ? "none" : HwndText(hwnd));
  return 0;
}

int CmdWaitGone(const Args& a) {
  long long ms = 0;
  if (!a.At(1) || !a.Number(2, &ms)) return Fail("usage: wait-gone <class> <ms>", 64);
  const ULONGLONG deadline = Now() + static_cast<ULONGLONG>(ms);
  while (FindByClass(a.At(1))) {
    if (Now() >= deadline) return Fail("timed out: " + Utf8(a.At(1)) + " still exists", 2);
    Sleep(15);
  }
  Line("gone");
  return 0;
}

int CmdWindows(const Args&) {
  for (HWND hwnd : TopLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    Line(HwndText(hwnd) + "\t" + std::to_string(pid) + "\t" +
         (IsWindowVisible(hwnd) ? "1" : "0") + "\t" + Escaped(ClassOf(hwnd)) + "\t" +
         Escaped(text));
  }
  return 0;
}

int CmdPost(const Args& a) {
  if (!a.At(1) || a.argc < 5 || (a.argc - 2) % 3 != 0)
    return Fail("usage: post <class> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  for (int i = 2; i + 2 < a.argc; i += 3) {
    long long msg = 0, wp = 0, lp = 0;
    if (!a.Number(i, &msg) || !a.Number(i + 1, &wp) || !a.Number(i + 2, &lp))
      return Fail("bad number in message " + std::to_string((i - 2) / 3 + 1), 64);
    if (!PostMessageW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                      static_cast<LPARAM>(lp)))
      return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
  }
  Line("1");
  return 0;
}

HWND FindVisible(const wchar_t* class_name) {
  HWND w = FindByClass(class_name);
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

int CmdPostAndWait(const Args& a) {
  long long msg = 0, wp = 0, lp = 0, ms = 0;
  if (!a.At(1) || !a.Number(2, &msg) || !a.Number(3, &wp) || !a.Number(4, &lp) || !a.At(5) ||
      !a.Number(6, &ms))
    return Fail("usage: post-and-wait <class> <msg> <wparam> <lparam> <wait-class> <ms>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  if (FindVisible(a.At(5))) return Fail("a window of class " + Utf8(a.At(5)) + " is already shown");
  const ULONGLONG start = Now();
  if (!PostMessageW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                    static_cast<LPARAM>(lp)))
    return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
  HWND shown = nullptr;
  for (;;) {
    shown = FindVisible(a.At(5));
    if (shown || Now() - start >= static_cast<ULONGLONG>(ms)) break;
    Sleep(5);
  }
  if (!shown) return Fail("timed out waiting for a window of class " + Utf8(a.At(5)), 2);
  Line(HwndText(shown));
  Line(std::to_string(Now() - start));
  return 0;
}

int CmdAbsent(const Args& a) {
  long long ms = 0;
  if (!a.At(1) || !a.Number(2, &ms)) return Fail("usage: absent <class> <ms>", 64);
  const ULONGLONG deadline = Now() + static_cast<ULONGLONG>(ms);
  do {
    if (HWND w = FindVisible(a.At(1)))
      return Fail("a window of class " + Utf8(a.At(1)) + " appeared: " + HwndText(w));
    Sleep(10);
  } while (Now() < deadline);
  Line("absent");
  return 0;
}

int CmdClick(const Args& a) {
  if (!a.At(1) || !a.At(2)) return Fail("usage: click <class> <text>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  for (HWND child : Descendants(hwnd)) {
    if (TextOf(child) != a.At(2)) continue;
    if (!PostMessageW(child, BM_CLICK, 0, 0))
      return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
    Line(HwndText(child));
    return 0;
  }
  return Fail("no control with the text " + Utf8(a.At(2)));
}

int CmdRect(const Args& a) {
  if (!a.At(1)) return Fail("usage: rect <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  RECT r{};
  if (!GetWindowRect(hwnd, &r)) return Fail("GetWindowRect failed");
  Line(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
       " " + std::to_string(r.bottom));
  return 0;
}

int CmdMetrics(const Args&) {
  Line("double-click-time " + std::to_string(GetDoubleClickTime()));
  Line("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
       std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  return 0;
}

int CmdDriveType(const Args& a) {
  if (a.argc < 2) return Fail("usage: drive-type <root>...", 64);
  for (int i = 1; i < a.argc; ++i) Line(std::to_string(GetDriveTypeW(a.At(i))));
  return 0;
}

// Sends and prints the result as a signed decimal.
int SendAndPrint(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, long long timeout_ms) {
  DWORD_PTR result = 0;
  SetLastError(0);
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, static_cast<UINT>(timeout_ms),
                           &result)) {
    const DWORD error = GetLastError();
    if (error == ERROR_TIMEOUT || error == 0)
      return Fail("no answer within " + std::to_string(timeout_ms) + " ms", 2);
    return Fail("SendMessageTimeout failed, error " + std::to_string(error));
  }
  Line(std::to_string(static_cast<long long>(static_cast<LRESULT>(result))));
  return 0;
}

int CmdSend(const Args& a) {
  long long msg = 0, wp = 0, lp = 0, timeout = 30000;
  if (!a.At(1) || !a.Number(2, &msg) || !a.Number(3, &wp) || !a.Number(4, &lp) ||
      (a.At(5) && !a.Number(5, &timeout)))
    return Fail("usage: send <class> <msg> <wparam> <lparam> [timeout-ms]", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  return SendAndPrint(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                      static_cast<LPARAM>(lp), timeout);
}

// --- subcommands: device changes ---------------------------------------------

void Put32(std::vector<std::uint8_t>& buffer, std::size_t offset, std::uint32_t value,
           std::size_t limit) {
  for (std::size_t i = 0; i < 4; ++i)
    if (offset + i < limit) buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int CmdDevChange(const Args& a) {
  long long event = 0, mask = 0, flags = 0, declared = 18, actual = -1, type = DBT_DEVTYP_VOLUME;
  long long timeout = 30000;
  if (!a.At(1) || !a.Number(2, &event) || !a.Number(3, &mask) || !a.Number(4, &flags) ||
      (a.At(5) && !a.Number(5, &declared)) || (a.At(6) && !a.Number(6, &actual)) ||
      (a.At(7) && !a.Number(7, &type)) || (a.At(8) && !a.Number(8, &timeout)))
    return Fail(
        "usage: devchange <class> <event> <unitmask> <flags> [declared-size] [actual-bytes] "
        "[device-type] [timeout-ms]",
        64);
  if (actual < 0) actual = declared;
  // Up to 64 MiB: Wine copies the declared size from this buffer.
  constexpr long long kMaxRecord = 64ll << 20;
  if (declared < 12 || declared > kMaxRecord || actual < 0 || actual > kMaxRecord)
    return Fail("declared size must be 12..67108864 and actual bytes 0..67108864", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  // The sender's memory: the record's fields as far as actual-bytes reach, a
  // recognisable filler after them. Wine copies dbch_size bytes across, so
  // the buffer is at least that long.
  const std::size_t room = static_cast<std::size_t>(declared > actual ? declared : actual) + 16;
  std::vector<std::uint8_t> buffer(room, 0xAB);
  const auto limit = static_cast<std::size_t>(actual);
  Put32(buffer, 0, static_cast<std::uint32_t>(declared), limit);
  Put32(buffer, 4, static_cast<std::uint32_t>(type), limit);
  Put32(buffer, 8, 0, limit);
  Put32(buffer, 12, static_cast<std::uint32_t>(mask), limit);
  for (std::size_t i = 0; i < 2; ++i)
    if (16 + i < limit) buffer[16 + i] = static_cast<std::uint8_t>(flags >> (8 * i));
  return SendAndPrint(hwnd, WM_DEVICECHANGE, static_cast<WPARAM>(event),
                      reinterpret_cast<LPARAM>(buffer.data()), timeout);
}

int CmdDevChangeNull(const Args& a) {
  long long event = 0;
  if (!a.At(1) || !a.Number(2, &event)) return Fail("usage: devchange-null <class> <event>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  return SendAndPrint(hwnd, WM_DEVICECHANGE, static_cast<WPARAM>(event), 0, 30000);
}

#pragma pack(push, 1)
struct PackedVolume {
  std::uint32_t size;
  std::uint32_t devicetype;
  std::uint32_t reserved;
  std::uint32_t unitmask;
  std::uint16_t flags;
};
#pragma pack(pop)
static_assert(sizeof(PackedVolume) == 18);

int CmdBroadcastQuery(const Args& a) {
  long long mask = 0;
  if (!a.Number(1, &mask)) return Fail("usage: broadcast-query <unitmask>", 64);
  alignas(8) PackedVolume record{18, DBT_DEVTYP_VOLUME, 0, static_cast<std::uint32_t>(mask),
                                 DBTF_MEDIA};
  const LRESULT result = SendMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE,
                                      reinterpret_cast<LPARAM>(&record));
  Line(std::to_string(static_cast<long long>(result)));
  return 0;
}

// --- subcommands: windows of the driver's own --------------------------------

bool g_deny = false;

std::string DescribeDevChange(WPARAM event, LPARAM lparam) {
  std::string line = "devchange event=" + Hex(event);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(lparam);
  if (bytes == nullptr) return line + " record=null";
  // Never read past the size the record declares.
  std::uint32_t size = 0;
  std::memcpy(&size, bytes, 4);
  line += " size=" + std::to_string(size);
  auto field32 = [&](std::size_t offset, const char* name) {
    if (offset + 4 > size) return;
    std::uint32_t v = 0;
    std::memcpy(&v, bytes + offset, 4);
    line += std::string(" ") + name + "=" + Hex(v);
  };
  field32(4, "type");
  field32(8, "reserved");
  field32(12, "unitmask");
  if (size >= 18) {
    std::uint16_t flags = 0;
    std::memcpy(&flags, bytes + 16, 2);
    line += " flags=" + Hex(flags);
  }
  return line;
}

LRESULT CALLBACK ListenProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DEVICECHANGE) {
    const bool deny = g_deny && wp == DBT_DEVICEQUERYREMOVE;
    Line(DescribeDevChange(wp, lp) + (deny ? " answer=deny" : " answer=true") +
         " tick=" + std::to_string(TraceTicks()));
    return deny ? BROADCAST_QUERY_DENY : TRUE;
  }
  if (msg == WM_HOTKEY) {
    Line("hotkey id=" + std::to_string(wp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND MakeOwnWindow(const wchar_t* class_name, const wchar_t* title) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &ListenProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = class_name;
  RegisterClassExW(&wc);
  // A hidden top-level window: it gets broadcasts and hotkeys, but is never
  // drawn into screenshots.
  return CreateWindowExW(WS_EX_TOOLWINDOW, class_name, title, WS_POPUP, 0, 0, 1, 1, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

int CmdListen(const Args& a) {
  long long seconds = 0;
  if (!a.Number(1, &seconds)) return Fail("usage: listen <seconds> [deny]", 64);
  g_deny = a.At(2) && std::wcscmp(a.At(2), L"deny") == 0;
  HWND hwnd = MakeOwnWindow(L"BvxE2EListener", L"bvx e2e listener");
  if (!hwnd) return Fail("CreateWindow failed, error " + std::to_string(GetLastError()));
  Line("ready " + HwndText(hwnd) + (g_deny ? " deny" : ""));
  PumpUntil(Now() + static_cast<ULONGLONG>(seconds) * 1000);
  DestroyWindow(hwnd);
  Line("done");
  return 0;
}

int CmdHoldHotkey(const Args& a) {
  long long mods = 0, vk = 0, seconds = 0;
  if (!a.Number(1, &mods) || !a.Number(2, &vk) || !a.Number(3, &seconds))
    return Fail("usage: hold-hotkey <mods> <vk> <seconds>", 64);
  HWND hwnd = MakeOwnWindow(L"BvxE2EHotkeyHolder", L"bvx e2e hotkey holder");
  if (!hwnd) return Fail("CreateWindow failed, error " + std::to_string(GetLastError()));
  if (!RegisterHotKey(hwnd, 1, static_cast<UINT>(mods), static_cast<UINT>(vk)))
    return Fail("RegisterHotKey failed, error " + std::to_string(GetLastError()));
  Line("ready " + HwndText(hwnd));
  PumpUntil(Now() + static_cast<ULONGLONG>(seconds) * 1000);
  UnregisterHotKey(hwnd, 1);
  DestroyWindow(hwnd);
  Line("done");
  return 0;
}

int CmdHang(const Args& a) {
  long long seconds = 0;
  if (!a.Number(1, &seconds)) return Fail("usage: hang <seconds>", 64);
  HWND hwnd = MakeOwnWindow(L"BvxE2EHung", L"bvx e2e hung window");
  if (!hwnd) return Fail("CreateWindow failed, error " + std::to_string(GetLastError()));
  Line("ready " + HwndText(hwnd) + " tick=" + std::to_string(TraceTicks()));
  Sleep(static_cast<DWORD>(seconds * 1000));
  DestroyWindow(hwnd);
  Line("done");
  return 0;
}

// --- subcommands: reading texts ------------------------------------------------

int CmdText(const Args& a) {
  if (!a.At(1)) return Fail("usage: text <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  Line(Escaped(TextOf(hwnd)));
  return 0;
}

int CmdChildTexts(const Args& a) {
  if (!a.At(1)) return Fail("usage: child-texts <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  for (HWND child : Descendants(hwnd)) Line(Escaped(ClassOf(child)) + "\t" + Escaped(TextOf(child)));
  return 0;
}

int CmdBox(const Args& a) {
  long long ms = 0;
  if (!a.At(1) || !a.Number(2, &ms)) return Fail("usage: box <caption> <ms> [keep]", 64);
  const bool keep = a.At(3) && std::wcscmp(a.At(3), L"keep") == 0;
  HWND box = WaitFor([&] { return FindByCaption(a.At(1)); }, ms);
  if (!box) return Fail("timed out waiting for a window captioned " + Utf8(a.At(1)), 2);
  HWND button = nullptr;
  for (HWND child : Descendants(box)) {
    const std::wstring cls = ClassOf(child);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      const std::wstring text = TextOf(child);
      if (!text.empty()) Line(Escaped(text));
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && button == nullptr) {
      button = child;
    }
  }
  if (keep) return 0;
  if (button != nullptr) {
    PostMessageW(button, BM_CLICK, 0, 0);
  } else {
    PostMessageW(box, WM_CLOSE, 0, 0);
  }
  const ULONGLONG deadline = Now() + 10000;
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (Now() >= deadline) return Fail("the window did not close", 3);
    Sleep(15);
  }
  Line("closed");
  return 0;
}

// The tooltip windows of other processes, read through memory of their own
// process: TTM_ENUMTOOLSW fills a TTTOOLINFOW whose text pointer must be an
// address of the tooltip's process.
int CmdTooltip(const Args&) {
  const DWORD self = GetCurrentProcessId();
  int found = 0;
  for (HWND tip : TopLevelWindows()) {
    if (_wcsicmp(ClassOf(tip).c_str(), TOOLTIPS_CLASSW) != 0) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(tip, &pid);
    if (pid == self) continue;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                     PROCESS_QUERY_INFORMATION,
                                 FALSE, pid);
    if (!process) return Fail("OpenProcess failed, error " + std::to_string(GetLastError()));
    constexpr std::size_t kTextOffset = 512;
    constexpr std::size_t kTextChars = 1024;
    constexpr std::size_t kBlock = kTextOffset + kTextChars * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, nullptr, kBlock, MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote) {
      CloseHandle(process);
      return Fail("VirtualAllocEx failed, error " + std::to_string(GetLastError()));
    }
    auto* remote_text = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + kTextOffset);
    DWORD_PTR count = 0;
    SendMessageTimeoutW(tip, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR i = 0; i < count; ++i) {
      TTTOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = remote_text;
      std::vector<wchar_t> zeros(kTextChars, L'\0');
      SIZE_T moved = 0;
      WriteProcessMemory(process, remote, &info, sizeof info, &moved);
      WriteProcessMemory(process, remote_text, zeros.data(), kTextChars * sizeof(wchar_t), &moved);
      DWORD_PTR ok = 0;
      if (!SendMessageTimeoutW(tip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote),
                               SMTO_ABORTIFHUNG, 5000, &ok) ||
          !ok)
        continue;
      TTTOOLINFOW back{};
      ReadProcessMemory(process, remote, &back, sizeof back, &moved);
      std::vector<wchar_t> text(kTextChars + 1, L'\0');
      if (back.lpszText == remote_text) {
        ReadProcessMemory(process, remote_text, text.data(), kTextChars * sizeof(wchar_t), &moved);
      } else if (back.lpszText != nullptr && !IS_INTRESOURCE(back.lpszText) &&
                 back.lpszText != LPSTR_TEXTCALLBACKW) {
        // Some versions hand back the tool's own text pointer instead.
        ReadProcessMemory(process, back.lpszText, text.data(), kTextChars * sizeof(wchar_t),
                          &moved);
      }
      text[kTextChars] = L'\0';
      const RECT& r = back.rect;
      Line(HwndText(tip) + "\t" + Escaped(ClassOf(back.hwnd)) + "\t" +
           Escaped(std::wstring(text.data())) + "\t" + Hex(back.uId) + "\t" +
           std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom));
      ++found;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
  }
  if (found == 0) return Fail("no tooltip tool found in another process");
  return 0;
}

// Ends the process of the desktop's tray (explorer.exe /desktop): the next
// program of the prefix starts a new desktop with an empty tray.
int CmdEndDesktop(const Args&) {
  HWND tray = FindByClass(L"Shell_TrayWnd");
  if (!tray) return Fail("no Shell_TrayWnd");
  DWORD pid = 0;
  GetWindowThreadProcessId(tray, &pid);
  if (pid == 0 || pid == GetCurrentProcessId()) return Fail("no process for Shell_TrayWnd");
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return Fail("OpenProcess failed, error " + std::to_string(GetLastError()));
  const bool ended = TerminateProcess(process, 0) &&
                     WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  if (!ended) return Fail("the desktop process did not end");
  Line("ended " + std::to_string(pid));
  return 0;
}

// --- subcommands: windows by handle ------------------------------------------

bool ParseHwnd(const wchar_t* text, HWND* hwnd) {
  long long value = 0;
  if (!ParseNumber(text, &value)) return false;
  *hwnd = reinterpret_cast<HWND>(static_cast<std::intptr_t>(value));
  return IsWindow(*hwnd) != FALSE;
}

int CmdPostHwnd(const Args& a) {
  HWND hwnd = nullptr;
  if (a.argc < 5 || (a.argc - 2) % 3 != 0)
    return Fail("usage: post-hwnd <hwnd> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...",
                64);
  if (!ParseHwnd(a.At(1), &hwnd)) return Fail("no window " + Utf8(a.At(1)));
  for (int i = 2; i + 2 < a.argc; i += 3) {
    long long msg = 0, wp = 0, lp = 0;
    if (!a.Number(i, &msg) || !a.Number(i + 1, &wp) || !a.Number(i + 2, &lp))
      return Fail("bad number in message " + std::to_string((i - 2) / 3 + 1), 64);
    if (!PostMessageW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                      static_cast<LPARAM>(lp)))
      return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
  }
  Line("1");
  return 0;
}

int CmdSendHwnd(const Args& a) {
  HWND hwnd = nullptr;
  long long msg = 0, wp = 0, lp = 0, timeout = 30000;
  if (!a.At(1) || !a.Number(2, &msg) || !a.Number(3, &wp) || !a.Number(4, &lp) ||
      (a.At(5) && !a.Number(5, &timeout)))
    return Fail("usage: send-hwnd <hwnd> <msg> <wparam> <lparam> [timeout-ms]", 64);
  if (!ParseHwnd(a.At(1), &hwnd)) return Fail("no window " + Utf8(a.At(1)));
  return SendAndPrint(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp),
                      static_cast<LPARAM>(lp), timeout);
}

DWORD_PTR SendQuiet(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result)) return 0;
  return result;
}

// The tab captions of a tab control of another process: TCM_GETITEMW is not
// carried across processes, so the TCITEMW and its text buffer live in the
// control's own process.
std::vector<std::wstring> TabCaptions(HWND tabs) {
  std::vector<std::wstring> captions;
  const auto count = static_cast<int>(SendQuiet(tabs, TCM_GETITEMCOUNT, 0, 0));
  if (count <= 0) return captions;
  DWORD pid = 0;
  GetWindowThreadProcessId(tabs, &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return captions;
  constexpr std::size_t kTextOffset = 256;
  constexpr std::size_t kTextChars = 256;
  void* remote = VirtualAllocEx(process, nullptr, kTextOffset + kTextChars * sizeof(wchar_t),
                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote) {
    auto* remote_text = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + kTextOffset);
    for (int i = 0; i < count; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = remote_text;
      item.cchTextMax = static_cast<int>(kTextChars);
      std::vector<wchar_t> text(kTextChars + 1, L'\0');
      SIZE_T moved = 0;
      WriteProcessMemory(process, remote, &item, sizeof item, &moved);
      WriteProcessMemory(process, remote_text, text.data(), kTextChars * sizeof(wchar_t), &moved);
      if (!SendQuiet(tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote)))
        break;
      TCITEMW back{};
      ReadProcessMemory(process, remote, &back, sizeof back, &moved);
      // The control may hand back a pointer to its own copy of the text.
      ReadProcessMemory(process, back.pszText ? back.pszText : remote_text, text.data(),
                        kTextChars * sizeof(wchar_t), &moved);
      text[kTextChars] = L'\0';
      captions.emplace_back(text.data());
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return captions;
}

std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  const auto count = static_cast<LRESULT>(SendQuiet(combo, CB_GETCOUNT, 0, 0));
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = static_cast<LRESULT>(SendQuiet(combo, CB_GETLBTEXTLEN, i, 0));
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 16, L'\0');
    SendQuiet(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::wcslen(text.c_str()));
    items.push_back(text);
  }
  return items;
}

std::string Joined(const std::vector<std::wstring>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "|" : "") + Escaped(items[i]);
  return out;
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

int CmdControls(const Args& a) {
  if (!a.At(1)) return Fail("usage: controls <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  // The keyboard focus of the window's thread, marked on its control.
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  const HWND focus =
      GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &gui) ? gui.hwndFocus : nullptr;
  for (HWND child : Descendants(hwnd)) {
    const std::wstring cls = ClassOf(child);
    RECT r{};
    GetWindowRect(child, &r);
    std::string line = HwndText(child) + "\t" + HwndText(GetParent(child)) + "\t" +
                       std::to_string(GetDlgCtrlID(child)) + "\t" + Escaped(cls) + "\t" +
                       (IsWindowVisible(child) ? "1" : "0") + "\t" +
                       (IsWindowEnabled(child) ? "1" : "0") + "\t" + Escaped(TextOf(child)) +
                       "\trect=" + RectText(r) +
                       "\tfont=" + Hex(SendQuiet(child, WM_GETFONT, 0, 0));
    if (_wcsicmp(cls.c_str(), WC_TABCONTROLW) == 0) {
      line += "\titems=" + Joined(TabCaptions(child)) + "\tsel=" +
              std::to_string(static_cast<LRESULT>(SendQuiet(child, TCM_GETCURSEL, 0, 0)));
    } else if (_wcsicmp(cls.c_str(), WC_COMBOBOXW) == 0) {
      line += "\titems=" + Joined(ComboItems(child)) + "\tsel=" +
              std::to_string(static_cast<LRESULT>(SendQuiet(child, CB_GETCURSEL, 0, 0)));
    } else if (_wcsicmp(cls.c_str(), HOTKEY_CLASSW) == 0) {
      line += "\thotkey=" + Hex(SendQuiet(child, HKM_GETHOTKEY, 0, 0));
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
      line += "\tcheck=" + std::to_string(SendQuiet(child, BM_GETCHECK, 0, 0));
    }
    if (child == focus) line += "\tfocus=1";
    Line(line);
  }
  return 0;
}

int CmdSetText(const Args& a) {
  HWND hwnd = nullptr;
  if (!a.At(1) || !a.At(2)) return Fail("usage: set-text <hwnd> <text>", 64);
  if (!ParseHwnd(a.At(1), &hwnd)) return Fail("no window " + Utf8(a.At(1)));
  return SendAndPrint(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.At(2)), 30000);
}

int CmdWindowAt(const Args& a) {
  long long x = 0, y = 0;
  if (!a.Number(1, &x) || !a.Number(2, &y)) return Fail("usage: window-at <x> <y>", 64);
  const POINT point{static_cast<LONG>(x), static_cast<LONG>(y)};
  HWND hwnd = WindowFromPoint(point);
  if (!hwnd) return Fail("no window at that point");
  Line(HwndText(hwnd) + "\t" + Escaped(ClassOf(hwnd)));
  return 0;
}

// The texts of a window and its descendants, one line per window.
std::vector<std::string> TextLines(HWND hwnd) {
  std::vector<std::string> lines{Escaped(ClassOf(hwnd)) + "\t" + Escaped(TextOf(hwnd))};
  for (HWND child : Descendants(hwnd))
    lines.push_back(Escaped(ClassOf(child)) + "\t" + Escaped(TextOf(child)));
  return lines;
}

int CmdWatch(const Args& a) {
  long long ms = 0, count = 1;
  if (!a.At(1) || !a.Number(2, &ms) || (a.At(3) && !a.Number(3, &count)) || count < 1)
    return Fail("usage: watch <class> <ms> [count]", 64);
  const ULONGLONG deadline = Now() + static_cast<ULONGLONG>(ms);
  Line("watching tick=" + std::to_string(TraceTicks()));
  for (long long i = 0; i < count; ++i) {
    const ULONGLONG now = Now();
    HWND hwnd = WaitFor([&] { return FindByClass(a.At(1)); },
                        now < deadline ? static_cast<long long>(deadline - now) : 0);
    if (!hwnd) return Fail("timed out waiting for a window of class " + Utf8(a.At(1)), 2);
    Line("ready " + HwndText(hwnd) + " tick=" + std::to_string(TraceTicks()) + " style=" +
         Hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE))) + " exstyle=" +
         Hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE))));
    std::vector<std::string> seen;
    while (IsWindow(hwnd)) {
      const std::vector<std::string> lines = TextLines(hwnd);
      // A window that went away during the reading says nothing more.
      if (!IsWindow(hwnd)) break;
      if (lines != seen) {
        const std::string tick = std::to_string(TraceTicks());
        for (const std::string& line : lines)
          if (std::find(seen.begin(), seen.end(), line) == seen.end()) Line(tick + "\t" + line);
        seen = lines;
      }
      if (Now() >= deadline) return Fail("the window is still there", 3);
      Sleep(20);
    }
    Line("gone tick=" + std::to_string(TraceTicks()));
  }
  return 0;
}

int CmdStyles(const Args& a) {
  if (!a.At(1)) return Fail("usage: styles <class>", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  Line(Hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE))) + " " +
       Hex(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE))));
  return 0;
}

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
    {L"broadcast-query", &CmdBroadcastQuery},
    {L"listen", &CmdListen},
    {L"hold-hotkey", &CmdHoldHotkey},
    {L"hang", &CmdHang},
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
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("usage: driver <subcommand> ...", 64);
  const Args args{argc - 1, argv + 1};
  for (const Command& command : kCommands)
    if (std::wcscmp(command.name, args.At(0)) == 0) return command.run(args);
  return Fail("unknown subcommand " + Utf8(args.At(0)), 64);
}
