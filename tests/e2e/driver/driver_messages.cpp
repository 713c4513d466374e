// Posting and sending messages: to windows found by class or given by
// handle, WM_DEVICECHANGE with volume records built here (also to every
// top-level window), and windows of the driver's own that log what they get,
// hold a hotkey or hang; a file held open; and ending the desktop process.
#include "driver.h"

#include <dbt.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace driver {

namespace {

// Posts the messages of arguments 2 on (msg, wparam, lparam each) to hwnd in
// order; prints 1.
int PostEach(const Args& a, HWND hwnd) {
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

}  // namespace

// --- subcommands: posting and sending ----------------------------------------

int CmdPost(const Args& a) {
  if (!a.At(1) || a.argc < 5 || (a.argc - 2) % 3 != 0)
    return Fail("usage: post <class> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...", 64);
  HWND hwnd = FindByClass(a.At(1));
  if (!hwnd) return Fail("no window of class " + Utf8(a.At(1)));
  return PostEach(a, hwnd);
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

// --- subcommands: windows by handle ------------------------------------------

int CmdPostHwnd(const Args& a) {
  HWND hwnd = nullptr;
  if (a.argc < 5 || (a.argc - 2) % 3 != 0)
    return Fail("usage: post-hwnd <hwnd> <msg> <wparam> <lparam> [<msg> <wparam> <lparam>]...",
                64);
  if (!ParseHwnd(a.At(1), &hwnd)) return Fail("no window " + Utf8(a.At(1)));
  return PostEach(a, hwnd);
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

int CmdSetText(const Args& a) {
  HWND hwnd = nullptr;
  if (!a.At(1) || !a.At(2)) return Fail("usage: set-text <hwnd> <text>", 64);
  if (!ParseHwnd(a.At(1), &hwnd)) return Fail("no window " + Utf8(a.At(1)));
  return SendAndPrint(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.At(2)), 30000);
}

// --- subcommands: device changes ---------------------------------------------

namespace {

// Writes value little-endian at offset, only the bytes below limit.
void Put32(std::vector<std::uint8_t>& buffer, std::size_t offset, std::uint32_t value,
           std::size_t limit) {
  for (std::size_t i = 0; i < 4; ++i)
    if (offset + i < limit) buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

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

// --- subcommands: windows of the driver's own --------------------------------

namespace {

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

// What the listener answers a query-remove request: TRUE, or as `listen`
// was told (`deny` is BROADCAST_QUERY_DENY).
LRESULT g_query_answer = TRUE;

// One line for a WM_DEVICECHANGE: the event and the fields of its record.

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

// The window procedure of the driver's own windows: logs device changes and
// hotkeys.
LRESULT CALLBACK ListenProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DEVICECHANGE) {
    const LRESULT answer = wp == DBT_DEVICEQUERYREMOVE ? g_query_answer : TRUE;
    const std::string said =
        answer == BROADCAST_QUERY_DENY ? "deny" : std::to_string(static_cast<long long>(answer));
    Line(DescribeDevChange(wp, lp) + " answer=" + said + " tick=" + std::to_string(TraceTicks()));
    return answer;
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

}  // namespace

int CmdListen(const Args& a) {
  long long seconds = 0;
  long long answer = TRUE;
  const bool deny = a.At(2) && std::wcscmp(a.At(2), L"deny") == 0;
  if (!a.Number(1, &seconds) || (a.At(2) && !deny && !a.Number(2, &answer)))
    return Fail("usage: listen <seconds> [deny | <answer>]", 64);
  g_query_answer = deny ? BROADCAST_QUERY_DENY : static_cast<LRESULT>(answer);
  HWND hwnd = MakeOwnWindow(L"BvxE2EListener", L"bvx e2e listener");
  if (!hwnd) return Fail("CreateWindow failed, error " + std::to_string(GetLastError()));
  Line("ready " + HwndText(hwnd) + (deny ? " deny" : ""));
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

// --- subcommands: a file another program holds ------------------------------

int CmdHoldFile(const Args& a) {
  long long ms = 0;
  HWND button = nullptr;
  if (!a.At(1) || !a.Number(2, &ms) || !a.At(3)) return Fail("usage: hold-file <path> <ms> <hwnd>", 64);
  if (!ParseHwnd(a.At(3), &button)) return Fail("no window " + Utf8(a.At(3)));
  // Open as a scanner or an indexer holds a file: others may read and
  // write it, but not delete or rename over it.
  HANDLE file = CreateFileW(a.At(1), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return Fail("CreateFile failed, error " + std::to_string(GetLastError()));
  if (!PostMessageW(button, BM_CLICK, 0, 0)) {
    CloseHandle(file);
    return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
  }
  Sleep(static_cast<DWORD>(ms));
  CloseHandle(file);
  // The system time, on the clock of the files' times: 100 ns since 1601.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  Line("closed " + std::to_string(ticks));
  return 0;
}

// --- subcommands: the desktop ------------------------------------------------

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

}  // namespace driver
