// The end-to-end driver's shared helpers and its subcommands.
//
// The driver is one program built from four files, one per concern:
//   driver.cpp           the entry point, the command table, output, argument
//                        parsing and clocks (the list of subcommands is there)
//   driver_windows.cpp   finding, waiting for and reading windows and texts
//   driver_controls.cpp  reading the controls of another process: tab
//                        captions, combo box items, tooltips
//   driver_messages.cpp  posting and sending messages, device-change records
//                        and broadcasts, windows of the driver's own (listen,
//                        hold-hotkey, hang), a file held open (hold-file),
//                        ending the desktop process
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace driver {

// --- output (driver.cpp) -----------------------------------------------------

std::string Utf8(const std::wstring& wide);
// UTF-8 with "\\", "\r", "\n" and "\t" escaped: one value stays on one line.
std::string Escaped(const std::wstring& text);
// Writes one line on stdout.
void Line(const std::string& text);
// Writes "driver: <text>" on stderr and returns code (the exit code).
int Fail(const std::string& text, int code = 1);
std::string Hex(std::uintptr_t value);
std::string HwndText(HWND hwnd);
// "left,top,right,bottom".
std::string RectText(const RECT& r);

// --- arguments (driver.cpp) --------------------------------------------------

// Decimal, or hexadecimal with 0x; false unless the whole text is a number.
bool ParseNumber(const wchar_t* text, long long* value);
// A window handle as a number; false unless it names a window now.
bool ParseHwnd(const wchar_t* text, HWND* hwnd);

struct Args {
  int argc;
  wchar_t** argv;
  // Positional argument i (0 = the subcommand).
  const wchar_t* At(int i) const { return i < argc ? argv[i] : nullptr; }
  bool Number(int i, long long* value) const { return ParseNumber(At(i), value); }
};

// --- time (driver.cpp) -------------------------------------------------------

ULONGLONG Now();
// The clock of WINEDEBUG=+timestamp.
ULONG TraceTicks();

// --- windows (driver_windows.cpp) --------------------------------------------

std::wstring ClassOf(HWND hwnd);
// The text of a window of any process.
std::wstring TextOf(HWND hwnd);
HWND FindByClass(const wchar_t* class_name);
// The window of that class when it is visible, else nullptr.
HWND FindVisible(const wchar_t* class_name);
std::vector<HWND> TopLevelWindows();
std::vector<HWND> Descendants(HWND parent);

// Waits up to ms for find() to give a window; nullptr when it never does.
template <typename Find>
HWND WaitFor(Find find, long long ms) {
  const ULONGLONG deadline = Now() + static_cast<ULONGLONG>(ms);
  for (;;) {
    if (HWND hwnd = find()) return hwnd;
    if (Now() >= deadline) return nullptr;
    Sleep(15);
  }
}

// --- subcommands -------------------------------------------------------------

// driver_windows.cpp
int CmdFind(const Args& a);
int CmdVisible(const Args& a);
int CmdWaitWindow(const Args& a);
int CmdWaitVisible(const Args& a);
int CmdWaitGone(const Args& a);
int CmdWindows(const Args& a);
int CmdAbsent(const Args& a);
int CmdRect(const Args& a);
int CmdMetrics(const Args& a);
int CmdDriveType(const Args& a);
int CmdText(const Args& a);
int CmdChildTexts(const Args& a);
int CmdBox(const Args& a);
int CmdWindowAt(const Args& a);
int CmdWatch(const Args& a);
int CmdStyles(const Args& a);
int CmdLabelWalk(const Args& a);

// driver_controls.cpp
int CmdControls(const Args& a);
int CmdTooltip(const Args& a);

// driver_messages.cpp
int CmdPost(const Args& a);
int CmdPostAndWait(const Args& a);
int CmdClick(const Args& a);
int CmdSend(const Args& a);
int CmdDevChange(const Args& a);
int CmdDevChangeNull(const Args& a);
int CmdListen(const Args& a);
int CmdHoldHotkey(const Args& a);
int CmdHang(const Args& a);
int CmdHoldFile(const Args& a);
int CmdEndDesktop(const Args& a);
int CmdPostHwnd(const Args& a);
int CmdSendHwnd(const Args& a);
int CmdSetText(const Args& a);

}  // namespace driver
