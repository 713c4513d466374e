// Finding, waiting for and reading windows: the window helpers the other
// files share, and the subcommands that look at windows by class, caption or
// point, at their texts and styles, and at the screen and the drives.
#include "driver.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace driver {

namespace {

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

// The visible top-level window with that caption.
HWND FindByCaption(const wchar_t* caption) {
  CaptionSearch search{caption, nullptr};
  EnumWindows(&FindCaptionProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectProc(HWND hwnd, LPARAM lparam) {
  reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(hwnd);
  return TRUE;
}

// "class<TAB>text" of one window, both escaped.
std::string ClassAndText(HWND hwnd) {
  return Escaped(ClassOf(hwnd)) + "\t" + Escaped(TextOf(hwnd));
}

// The texts of a window and its descendants, one line per window.
std::vector<std::string> TextLines(HWND hwnd) {
  std::vector<std::string> lines{ClassAndText(hwnd)};
  for (HWND child : Descendants(hwnd)) lines.push_back(ClassAndText(child));
  return lines;
}

}  // namespace

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

HWND FindVisible(const wchar_t* class_name) {
  HWND w = FindByClass(class_name);
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

// --- subcommands: finding and waiting for windows ----------------------------

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

// --- subcommands: reading texts ----------------------------------------------

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
  for (HWND child : Descendants(hwnd)) Line(ClassAndText(child));
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

int CmdWindowAt(const Args& a) {
  long long x = 0, y = 0;
  if (!a.Number(1, &x) || !a.Number(2, &y)) return Fail("usage: window-at <x> <y>", 64);
  const POINT point{static_cast<LONG>(x), static_cast<LONG>(y)};
  HWND hwnd = WindowFromPoint(point);
  if (!hwnd) return Fail("no window at that point");
  Line(HwndText(hwnd) + "\t" + Escaped(ClassOf(hwnd)));
  return 0;
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

// The name a screen reader gives a field ("Providing the Name Property"):
// the first static text found walking GW_HWNDPREV from the field; the walk
// halts at a window with both WS_GROUP and WS_TABSTOP.
int CmdLabelWalk(const Args& a) {
  HWND field = nullptr;
  if (!ParseHwnd(a.At(1), &field)) return Fail("usage: label-walk <hwnd>", 64);
  for (HWND h = GetWindow(field, GW_HWNDPREV); h != nullptr; h = GetWindow(h, GW_HWNDPREV)) {
    const std::wstring cls = ClassOf(h);
    const auto style = static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE));
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      Line("static\t" + HwndText(h) + "\t" + Escaped(TextOf(h)));
      return 0;
    }
    if ((style & (WS_GROUP | WS_TABSTOP)) == (WS_GROUP | WS_TABSTOP)) {
      Line("halt\t" + HwndText(h) + "\t" + Utf8(cls));
      return 0;
    }
    Line("pass\t" + HwndText(h) + "\t" + Utf8(cls) + "\t" + Hex(style));
  }
  Line("none");
  return 0;
}

}  // namespace driver
