// Reading the controls of another process: every descendant of a window
// with its state (tab captions, combo box items, hotkey, check, focus), and
// the tools of the tooltip windows. Messages whose structures hold pointers
// are not carried across processes, so those structures live in memory of
// the control's own process.
#include "driver.h"

#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace driver {

namespace {

// SendMessageTimeout that gives up after 5 s; 0 when the window does not
// answer.
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

// The item texts of a combo box.
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

// The items, each escaped, joined by "|".
std::string Joined(const std::vector<std::wstring>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "|" : "") + Escaped(items[i]);
  return out;
}

}  // namespace

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
      Line(HwndText(tip) + "\t" + Escaped(ClassOf(back.hwnd)) + "\t" +
           Escaped(std::wstring(text.data())) + "\t" + Hex(back.uId) + "\t" +
           RectText(back.rect));
      ++found;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
  }
  if (found == 0) return Fail("no tooltip tool found in another process");
  return 0;
}

}  // namespace driver
