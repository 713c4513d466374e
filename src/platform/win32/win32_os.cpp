#include "platform/win32/win32_os.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/toolkit_rules.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_dpi.h"

namespace bvx::win32 {

namespace {

// MCIERR_BASE + 10: what the caller sees when winmm.dll cannot be loaded.
constexpr std::uint32_t kMciErrCannotLoadDriver = 256 + 10;

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kStartupApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

RegResult ToResult(LONG error) {
  if (error == ERROR_SUCCESS) return RegResult::Ok;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return RegResult::Missing;
  return RegResult::Failed;
}

// An existing key of the current user, open for one operation with only the
// rights it needs.
class UserKey {
 public:
  UserKey(const wchar_t* path, REGSAM access)
      : opened_(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key_)) {}
  ~UserKey() {
    if (opened_ == ERROR_SUCCESS) RegCloseKey(key_);
  }
  UserKey(const UserKey&) = delete;
  UserKey& operator=(const UserKey&) = delete;
  LONG Opened() const { return opened_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LONG opened_;
};

// The first form of the notify-icon record: 64 WCHARs of tip.
NOTIFYICONDATAW IconRecord(WindowId window, std::uint32_t id) {
  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data.hWnd = ToHwnd(window);
  data.uID = id;
  return data;
}

void CopyTip(NOTIFYICONDATAW& data, std::string_view tip) {
  const std::wstring wide = Utf8ToWide(tip);
  const std::size_t n = std::min<std::size_t>(wide.size(), 63);
  std::wmemcpy(data.szTip, wide.data(), n);
  data.szTip[n] = L'\0';
}

}  // namespace

Win32Os::~Win32Os() = default;

MutexResult Win32Os::CreateNamedMutex(std::string_view name) {
  // The handle is kept by the process until it ends: nobody waits on it.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, Utf8ToWide(name).c_str());
  if (GetLastError() == ERROR_ALREADY_EXISTS) return MutexResult::AlreadyExists;
  return mutex != nullptr ? MutexResult::Created : MutexResult::Failed;
}

DriveKind Win32Os::DriveType(std::string_view root) {
  return GetDriveTypeW(Utf8ToWide(root).c_str()) == DRIVE_CDROM ? DriveKind::CdRom
                                                                 : DriveKind::Other;
}

std::uint32_t Win32Os::MciSendString(std::string_view command, std::size_t reply_size,
                                     std::string* reply, WindowId callback) {
  const auto send = Loaded<WinmmDll>().mciSendStringW;
  if (send == nullptr) return kMciErrCannotLoadDriver;
  const std::wstring wide = Utf8ToWide(command);
  if (reply_size == 0) {
    return send(wide.c_str(), nullptr, 0, ToHwnd(callback));
  }
  std::wstring buffer(reply_size, L'\0');
  const DWORD result =
      send(wide.c_str(), buffer.data(), static_cast<UINT>(reply_size), ToHwnd(callback));
  if (reply != nullptr) {
    buffer.resize(std::wcslen(buffer.c_str()));
    *reply = WideToUtf8(buffer);
  }
  return result;
}

namespace {

// The top-level windows of other processes, in EnumWindows' order.
struct Recipients {
  DWORD own_process = 0;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectRecipient(HWND hwnd, LPARAM data) {
  auto* recipients = reinterpret_cast<Recipients*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != recipients->own_process) recipients->windows.push_back(hwnd);
  return TRUE;
}

}  // namespace

QueryRemoveAnswer Win32Os::BroadcastQueryRemove(const VolumeRecord& record) {
  // A copy aligned for the receivers, which read it as DEV_BROADCAST_VOLUME;
  // its dbcv_size (18) tells the system how many bytes to hand over.
  alignas(DEV_BROADCAST_VOLUME) std::uint8_t data[sizeof(DEV_BROADCAST_VOLUME) + 8] = {};
  std::memcpy(data, record.data(), record.size());
  // The windows are listed first and asked afterwards: a window may come or
  // go while one is asked, and one that has gone fails its call.
  Recipients recipients;
  recipients.own_process = GetCurrentProcessId();
  if (!EnumWindows(&CollectRecipient, reinterpret_cast<LPARAM>(&recipients)) &&
      recipients.windows.empty())
    return QueryRemoveAnswer::Failed;
  for (HWND hwnd : recipients.windows) {
    // SMTO_ABORTIFHUNG: a window the system takes for hung is not waited
    // for at all; SMTO_ERRORONEXIT: nor one whose thread ends meanwhile.
    // Messages sent to this program meanwhile are still handled.
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutW(
        hwnd, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(data),
        SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT, kQueryRemoveTimeoutMs, &answer);
    if (sent != 0 && answer == BROADCAST_QUERY_DENY) return QueryRemoveAnswer::Denied;
  }
  return QueryRemoveAnswer::Granted;
}

int Win32Os::TrayIconSize(WindowId window) {
  return SmallIconSize(NotificationAreaDpi(ToHwnd(window)));
}

bool Win32Os::TrayNotifyWithPicture(DWORD message, NOTIFYICONDATAW& data, int icon_resource,
                                    int size) {
  // Not shared (LR_SHARED): a shared icon stays the size it was first
  // loaded at, whatever size is asked for later.
  OwnedIcon picture(static_cast<HICON>(
      LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource), IMAGE_ICON, size, size, 0)));
  if (!picture) {
    picture.Reset(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource),
                                                IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
  }
  data.uFlags |= NIF_ICON;
  data.hIcon = picture.Get();
  if (Shell_NotifyIconW(message, &data) == FALSE) return false;
  tray_picture_ = std::move(picture);
  return true;
}

bool Win32Os::TrayAdd(WindowId window, std::uint32_t id, int icon_resource, int size,
                      std::string_view tip) {
  NOTIFYICONDATAW data = IconRecord(window, id);
  data.uFlags = NIF_MESSAGE | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  CopyTip(data, tip);
  return TrayNotifyWithPicture(NIM_ADD, data, icon_resource, size);
}

bool Win32Os::TrayModifyTip(WindowId window, std::uint32_t id, std::string_view tip) {
  NOTIFYICONDATAW data = IconRecord(window, id);
  data.uFlags = NIF_TIP;
  CopyTip(data, tip);
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool Win32Os::TraySetIcon(WindowId window, std::uint32_t id, int icon_resource, int size) {
  NOTIFYICONDATAW data = IconRecord(window, id);
  return TrayNotifyWithPicture(NIM_MODIFY, data, icon_resource, size);
}

bool Win32Os::TrayDelete(WindowId window, std::uint32_t id) {
  NOTIFYICONDATAW data = IconRecord(window, id);
  const bool deleted = Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
  tray_picture_.Reset();
  return deleted;
}

bool Win32Os::AllowTaskbarCreated(WindowId window) {
  // Windows 7 and later; the message has the same number in every process.
  const auto allow = Loaded<User32Dll>().ChangeWindowMessageFilterEx;
  if (allow == nullptr) return false;
  constexpr DWORD kMsgFltAllow = 1;  // MSGFLT_ALLOW
  return allow(ToHwnd(window), RegisterWindowMessageW(L"TaskbarCreated"), kMsgFltAllow, nullptr) !=
         FALSE;
}

bool Win32Os::RegisterHotKey(WindowId window, int id, std::uint16_t shortcut) {
  const ui::KeyCombination combination = ui::ShortcutCombination(shortcut);
  const UINT modifiers = (combination.shift ? MOD_SHIFT : 0u) |
                         (combination.ctrl ? MOD_CONTROL : 0u) | (combination.alt ? MOD_ALT : 0u);
  return ::RegisterHotKey(ToHwnd(window), id, modifiers, combination.key) != FALSE;
}

bool Win32Os::UnregisterHotKey(WindowId window, int id) {
  return ::UnregisterHotKey(ToHwnd(window), id) != FALSE;
}

std::string Win32Os::KeyName(unsigned vk) {
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  LONG lparam = static_cast<LONG>(scan & 0xFFu) << 16;  // bits 16..23: the scan code
  // The navigation keys need the extended bit, or they get keypad names.
  if (ui::IsExtendedKey(vk)) lparam |= 1L << 24;
  wchar_t name[64];
  const int n = GetKeyNameTextW(lparam, name, 64);
  if (n <= 0) return {};
  return WideToUtf8(std::wstring_view(name, static_cast<std::size_t>(n)));
}

unsigned Win32Os::DoubleClickTime() { return GetDoubleClickTime(); }

Point Win32Os::CursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return Point{p.x, p.y};
}

void Win32Os::SetForegroundWindow(WindowId window) { ::SetForegroundWindow(ToHwnd(window)); }

bool Win32Os::TrackMouse(WindowId window, unsigned hover_time_ms) {
  TRACKMOUSEEVENT track{};
  track.cbSize = sizeof track;
  track.dwFlags = TME_HOVER | TME_LEAVE;
  track.hwndTrack = ToHwnd(window);
  track.dwHoverTime = hover_time_ms;
  return TrackMouseEvent(&track) != FALSE;
}

std::uintptr_t Win32Os::LoadCursorResource(std::string_view name) {
  return reinterpret_cast<std::uintptr_t>(LoadCursorW(instance_, Utf8ToWide(name).c_str()));
}

std::string Win32Os::ModulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return WideToUtf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> Win32Os::ReadFile(const std::string& path) {
  const OwnedFile file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw Error("Unable to read " + path);
  }
  // One allocation of the file's size and one read: appending 4 KB pieces
  // re-allocates and copies the text about twenty times for 1 MB, and under
  // Wine every block of 512 KB or more is fresh memory to fault in again.
  std::string contents;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file.Get(), &size) != FALSE && size.QuadPart < 0x7FFFFFFF;
  if (ok) contents.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (ok) {
    char spare[4096];
    const DWORD want = static_cast<DWORD>(contents.size() - done);
    // Past the size seen the file has grown meanwhile: read on to its end.
    char* into = want > 0 ? contents.data() + done : spare;
    DWORD got = 0;
    if (!::ReadFile(file.Get(), into, want > 0 ? want : sizeof spare, &got, nullptr)) {
      ok = false;
    } else if (got == 0) {
      break;
    } else if (want > 0) {
      done += got;
    } else {
      contents.append(spare, got);
      done = contents.size();
    }
  }
  contents.resize(done);
  if (!ok) throw Error("Unable to read " + path);
  return contents;
}

bool Win32Os::IsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

namespace {

// What a failed file call's error means for a write: another program holds
// the file (busy, worth trying again shortly) or any other failure.
WriteResult OfError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                 error == ERROR_ACCESS_DENIED
             ? WriteResult::Busy
             : WriteResult::Failed;
}

// All of contents written at the file's position; false when a write fails,
// with *done the bytes written before it.
bool WriteAll(HANDLE file, std::string_view contents, std::size_t* done) {
  *done = 0;
  while (*done < contents.size()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(contents.size() - *done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(file, contents.data() + *done, want, &wrote, nullptr) || wrote != want) {
      *done += wrote;
      return false;
    }
    *done += wrote;
  }
  return true;
}

// A new file (disposition CREATE_ALWAYS or CREATE_NEW) holding contents,
// flushed and closed. Unless Written, a file it made is deleted again;
// *left (when given) tells whether that failed.
WriteResult WriteWholeFile(const std::wstring& name, DWORD disposition, DWORD attributes,
                           std::string_view contents, bool* left = nullptr) {
  if (left != nullptr) *left = false;
  OwnedFile file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, disposition, attributes,
                             nullptr));
  if (!file) return OfError(GetLastError());
  std::size_t done = 0;
  bool ok = WriteAll(file.Get(), contents, &done) && FlushFileBuffers(file.Get());
  ok = (CloseHandle(file.Release()) != FALSE) && ok;
  if (ok) return WriteResult::Written;
  const bool deleted = DeleteFileW(name.c_str()) != FALSE;
  if (left != nullptr) *left = !deleted;
  return WriteResult::Failed;
}

}  // namespace

WriteResult Win32Os::ReplaceFile(const std::string& path, std::string_view contents) {
  const std::wstring target = Utf8ToWide(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  // A name of this process's own in the same folder: "<path>.tmp-<pid>".
  std::wstring temp = target + L".tmp-";
  wchar_t digits[12];
  int n = 0;
  DWORD pid = GetCurrentProcessId();
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  while (n > 0) temp += digits[--n];
  // The new file starts with the old one's attributes (hidden, system ...),
  // which the rename keeps.
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD kept = exists ? attributes & kKept : 0;
  const WriteResult made =
      WriteWholeFile(temp, CREATE_ALWAYS, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, contents);
  if (made != WriteResult::Written) return made;
  // One rename, the same on every system: the name leads to the old file
  // until it leads to the new one. (ReplaceFileW takes several steps, in
  // one of which the name has no file, and opens the new file without
  // sharing, so that a scanner looking at it makes it fail.)
  if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return WriteResult::Written;
  const WriteResult failed = OfError(GetLastError());
  DeleteFileW(temp.c_str());
  return failed;
}

FileLinks Win32Os::QueryFileLinks(const std::string& path) {
  const std::wstring name = Utf8ToWide(path);
  FileLinks links;
  // The directory entry of the name itself: a symbolic link is not followed
  // here, and a reparse point's tag comes with it.
  WIN32_FIND_DATAW entry{};
  {
    const OwnedFind find(FindFirstFileW(name.c_str(), &entry));
    if (!find) return links;
  }
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    links.name = entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK ? NameKind::SymbolicLink
                                                              : NameKind::OtherReparsePoint;
  }
  const OwnedFile file(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (file && GetFileInformationByHandle(file.Get(), &info)) links.names = info.nNumberOfLinks;
  return links;
}

RewriteResult Win32Os::RewriteFile(const std::string& path, const std::string& copy,
                                   std::string_view contents) {
  const std::wstring target = Utf8ToWide(path);
  const std::wstring spare = Utf8ToWide(copy);
  RewriteResult result;
  // The complete new text first, in a file that no earlier save left there.
  result.write = WriteWholeFile(spare, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, contents, &result.copy_left);
  if (result.write != WriteResult::Written) return result;
  // Until the file's text changes, a failure leaves the file as it was and
  // the copy goes.
  const auto untouched = [&](WriteResult write) {
    result.write = write;
    result.copy_left = DeleteFileW(spare.c_str()) == FALSE;
    return result;
  };
  // Then the file itself, through its name: it keeps its identity, its other
  // names, its attributes and its security. A file that grows gets its new
  // length first, so that a full disk fails before its text changes.
  OwnedFile file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return untouched(OfError(GetLastError()));
  LARGE_INTEGER size{};
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(contents.size());
  if (!GetFileSizeEx(file.Get(), &size)) return untouched(OfError(GetLastError()));
  if (length.QuadPart > size.QuadPart &&
      !(SetFilePointerEx(file.Get(), length, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get())))
    return untouched(OfError(GetLastError()));
  const LARGE_INTEGER start{};
  std::size_t written = 0;
  bool ok = SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) &&
            WriteAll(file.Get(), contents, &written);
  if (!ok && written == 0) {
    // Refused before a byte went in (a range another program has locked):
    // the file is as it was once its old length is back.
    const WriteResult refused = OfError(GetLastError());
    if (SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get())) {
      file.Reset();
      return untouched(refused);
    }
  }
  ok = ok && SetEndOfFile(file.Get()) && FlushFileBuffers(file.Get());
  ok = (CloseHandle(file.Release()) != FALSE) && ok;
  // After a failure from here on the file may hold part of the new text;
  // the copy, which holds all of it, stays.
  if (!ok) return {WriteResult::Torn, true};
  result.copy_left = DeleteFileW(spare.c_str()) == FALSE;
  return result;
}

std::vector<std::string> Win32Os::FindFiles(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  const OwnedFind find(FindFirstFileW(Utf8ToWide(pattern).c_str(), &found));
  if (!find) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      names.push_back(WideToUtf8(found.cFileName));
  } while (FindNextFileW(find.Get(), &found));
  return names;
}

bool Win32Os::DeleteFile(const std::string& path) {
  return ::DeleteFileW(Utf8ToWide(path).c_str()) != FALSE;
}

void Win32Os::Sleep(unsigned ms) { ::Sleep(ms); }

RegResult Win32Os::QueryRunValue(std::string_view name) {
  const UserKey key(kRunKey, KEY_QUERY_VALUE);
  if (key.Opened() != ERROR_SUCCESS) return ToResult(key.Opened());
  return ToResult(
      RegQueryValueExW(key.Get(), Utf8ToWide(name).c_str(), nullptr, nullptr, nullptr, nullptr));
}

RegResult Win32Os::SetRunValue(std::string_view name, std::string_view command) {
  const UserKey key(kRunKey, KEY_SET_VALUE);
  if (key.Opened() != ERROR_SUCCESS) return ToResult(key.Opened());
  const std::wstring value = Utf8ToWide(command);
  const auto chars = static_cast<DWORD>(value.size());
  const DWORD bytes = (chars + 1) * static_cast<DWORD>(sizeof(wchar_t));  // with the terminating NUL
  return ToResult(RegSetValueExW(key.Get(), Utf8ToWide(name).c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

RegResult Win32Os::DeleteRunValue(std::string_view name) {
  const UserKey key(kRunKey, KEY_SET_VALUE);
  if (key.Opened() != ERROR_SUCCESS) return ToResult(key.Opened());
  return ToResult(RegDeleteValueW(key.Get(), Utf8ToWide(name).c_str()));
}

RegResult Win32Os::ReadStartupApproved(std::string_view name, std::string* data) {
  const UserKey key(kStartupApprovedKey, KEY_QUERY_VALUE);
  if (key.Opened() != ERROR_SUCCESS) return ToResult(key.Opened());
  const std::wstring value = Utf8ToWide(name);
  DWORD size = 0;
  LONG result = RegQueryValueExW(key.Get(), value.c_str(), nullptr, nullptr, nullptr, &size);
  if (result != ERROR_SUCCESS) return ToResult(result);
  std::string bytes(size, '\0');
  result = RegQueryValueExW(key.Get(), value.c_str(), nullptr, nullptr,
                            reinterpret_cast<BYTE*>(bytes.data()), &size);
  if (result != ERROR_SUCCESS) return ToResult(result);
  bytes.resize(std::min<std::size_t>(size, bytes.size()));
  *data = std::move(bytes);
  return RegResult::Ok;
}

RegResult Win32Os::WriteStartupApproved(std::string_view name, std::string_view data) {
  const UserKey key(kStartupApprovedKey, KEY_SET_VALUE);
  if (key.Opened() != ERROR_SUCCESS) return ToResult(key.Opened());
  return ToResult(RegSetValueExW(key.Get(), Utf8ToWide(name).c_str(), 0, REG_BINARY,
                                 reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())));
}

void Win32Os::InitializeCom() {
  if (com_tried_) return;
  com_tried_ = true;
  const auto initialize = Loaded<Ole32Dll>().CoInitializeEx;
  constexpr DWORD kApartmentThreaded = 0x2;  // COINIT_APARTMENTTHREADED
  constexpr DWORD kDisableOle1Dde = 0x4;     // COINIT_DISABLE_OLE1DDE
  if (initialize != nullptr) initialize(nullptr, kApartmentThreaded | kDisableOle1Dde);
}

void Win32Os::ShellOpen(WindowId owner, std::string_view target, ShowAs show) {
  // The shell's documentation asks for COM on the calling thread: some
  // handlers of a target are COM objects.
  InitializeCom();
  ShellExecuteW(ToHwnd(owner), nullptr, Utf8ToWide(target).c_str(), nullptr, nullptr,
                show == ShowAs::Maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
}

bool Win32Os::ShutdownReasonCreate(WindowId window, std::string_view reason) {
  const auto create = Loaded<User32Dll>().ShutdownBlockReasonCreate;
  if (create == nullptr) return false;
  return create(ToHwnd(window), Utf8ToWide(reason).c_str()) != FALSE;
}

bool Win32Os::ShutdownReasonDestroy(WindowId window) {
  const auto destroy = Loaded<User32Dll>().ShutdownBlockReasonDestroy;
  if (destroy == nullptr) return false;
  return destroy(ToHwnd(window)) != FALSE;
}

}  // namespace bvx::win32
