// The operating-system operations the program uses, behind one interface.
//
// The portable core calls only these; src/platform/win32 implements them with
// the Unicode Win32 API (UTF-8 here, UTF-16 at the boundary) and the tests use
// a recording fake. Every text is UTF-8. Values that cross to the system
// (names, MCI strings, ids, flags) are passed through unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bvx {

// An opaque window handle (HWND on Windows, a small number in the fake).
using WindowId = std::uintptr_t;

// Whether the named mutex was new, or another process holds it already.
enum class MutexResult : std::uint8_t { Created, AlreadyExists, Failed };
enum class DriveKind : std::uint8_t { Other, CdRom };
// What the query-remove broadcast came back with: no window refused, one
// refused, or the broadcast could not be sent at all.
enum class QueryRemoveAnswer : std::uint8_t { Granted, Denied, Failed };
// How a window that the shell opens is shown.
enum class ShowAs : std::uint8_t { Normal, Maximized };

// The 18-byte packed DEV_BROADCAST_VOLUME record.
using VolumeRecord = std::array<std::uint8_t, 18>;

// How long the query-remove waits for one window's answer. A window answers
// it from its window procedure at once (measured under Wine: 0.2 to 1.2 ms
// from another process, 4 to 7 ms for all windows of a desktop); one that
// has not answered within a second is busy, and its answer would come too
// late for a user waiting for the door. The two top-level windows of a
// program that has just stopped answering (its own and its thread's IME
// window) thus hold the opening up for about 2 s, and a program hung for 5 s
// or more not at all (SMTO_ABORTIFHUNG).
inline constexpr unsigned kQueryRemoveTimeoutMs = 1000;

struct Point {
  int x = 0;
  int y = 0;
};

// What a file's name is: a plain name, a symbolic link, or another reparse
// point (a cloud file's placeholder, a deduplicated file ...), whose name
// is the file's own.
enum class NameKind : std::uint8_t { Plain, SymbolicLink, OtherReparsePoint };

// What a file's name leads to: how many names the file has (its hard links;
// 0 when there is no such file or it cannot be asked) and what the name
// itself is.
struct FileLinks {
  std::uint32_t names = 0;
  NameKind name = NameKind::Plain;
};

// How a write of a file ended.
enum class WriteResult : std::uint8_t {
  Written,  // the file holds the new text
  // Refused because another program holds the file or its copy (a sharing
  // or lock violation, or access denied, as for a file open without delete
  // sharing): the file is as it was, and a later try may succeed.
  Busy,
  Failed,  // any other failure; the file is as it was
  // A write into the file itself stopped after the file was changed: it may
  // hold part of the new text. Its copy, which holds all of it, is kept.
  Torn,
};

// How a write into the file itself ended, and whether its copy is still
// there (kept because the file is torn, or because it could not be deleted).
struct RewriteResult {
  WriteResult write = WriteResult::Failed;
  bool copy_left = false;
};

// The outcome of a registry operation.
enum class RegResult : std::uint8_t {
  Ok,
  Missing,  // no such key or value
  Failed,   // any other failure (no access, ...)
};

class Os {
 public:
  virtual ~Os() = default;

  // --- program entry ---------------------------------------------------
  // CreateMutexW (no attributes, not owned). The handle is deliberately
  // never closed.
  virtual MutexResult CreateNamedMutex(std::string_view name) = 0;

  // --- drives and MCI ----------------------------------------------------
  // GetDriveTypeW for a root path such as "d:\".
  virtual DriveKind DriveType(std::string_view root) = 0;
  // mciSendStringW. reply_size is the size of the return buffer (0: none);
  // the reply text, if any, is written to *reply. Returns the MCI error code.
  virtual std::uint32_t MciSendString(std::string_view command, std::size_t reply_size,
                                      std::string* reply, WindowId callback) = 0;
  // WM_DEVICECHANGE with DBT_DEVICEQUERYREMOVE and the record, asked of the
  // top-level windows of every other process (those a BSM_APPLICATIONS
  // broadcast reaches, hidden ones too; never this program's own), one
  // window at a time, in the order EnumWindows gives them:
  // - each is sent the message with SendMessageTimeoutW (SMTO_ABORTIFHUNG)
  //   and waited for kQueryRemoveTimeoutMs at most;
  // - only a call that succeeded with the answer BROADCAST_QUERY_DENY is a
  //   refusal: the asking stops there, and the answer is Denied;
  // - a window that is hung, does not answer in time, has gone or cannot be
  //   reached (a failed call) is passed over, and the next one is asked;
  // - Granted when no window refused; Failed when the windows could not be
  //   listed (nobody was asked).
  virtual QueryRemoveAnswer BroadcastQueryRemove(const VolumeRecord& record) = 0;

  // --- notification area -------------------------------------------------
  // The size in pixels of the small icons the notification area shows now:
  // it follows the display scale (16 at 100 %, 24 at 150 %).
  virtual int TrayIconSize(WindowId window) = 0;
  // Shell_NotifyIconW with the first-form record (64-character tip field).
  // The icon shows the picture of that size from the icon resource (the
  // frame of that size, else the one the system finds nearest). tip is
  // already cut to at most 63 characters. Results: true on success.
  // The icon's mouse actions reach the window's MainFormEvents::OnTrayMouse.
  virtual bool TrayAdd(WindowId window, std::uint32_t id, int icon_resource, int size,
                       std::string_view tip) = 0;
  virtual bool TrayModifyTip(WindowId window, std::uint32_t id, std::string_view tip) = 0;
  // The icon's picture, again from the resource, at another size; false
  // when the notification area has no such icon.
  virtual bool TraySetIcon(WindowId window, std::uint32_t id, int icon_resource, int size) = 0;
  virtual bool TrayDelete(WindowId window, std::uint32_t id) = 0;
  // Lets "TaskbarCreated" reach the window also while the program runs with
  // higher rights than Explorer (as administrator), which User Interface
  // Privilege Isolation would otherwise hold back:
  // ChangeWindowMessageFilterEx(window, that message, MSGFLT_ALLOW), looked
  // up at run time. False when the system lacks it or refuses.
  virtual bool AllowTaskbarCreated(WindowId window) = 0;

  // --- hotkeys ------------------------------------------------------------
  // A system-wide hotkey for a shortcut value (hotkeys/hotkeys.h: Shift,
  // Ctrl and Alt bits and the virtual-key code); false when it is refused,
  // as when another program holds the combination.
  virtual bool RegisterHotKey(WindowId window, int id, std::uint16_t shortcut) = 0;
  virtual bool UnregisterHotKey(WindowId window, int id) = 0;
  // The name of a key as the keyboard layout gives it ("[" for 0xDB on a US
  // layout); empty when the system has none.
  virtual std::string KeyName(unsigned vk) = 0;

  // --- pointer, focus, input ----------------------------------------------
  virtual unsigned DoubleClickTime() = 0;
  virtual Point CursorPos() = 0;
  virtual void SetForegroundWindow(WindowId window) = 0;
  // TrackMouseEvent (user32) with TME_HOVER | TME_LEAVE and the given hover time.
  virtual bool TrackMouse(WindowId window, unsigned hover_time_ms) = 0;

  // --- resources -----------------------------------------------------------
  // LoadCursorW of a named cursor resource of the program's own module;
  // 0 when it cannot be loaded.
  virtual std::uintptr_t LoadCursorResource(std::string_view name) = 0;

  // --- files -------------------------------------------------------------
  // Full path of the running executable.
  virtual std::string ModulePath() = 0;
  // The whole file, or nothing when there is no such file. A file that
  // exists but cannot be read (locked, no access, a read error) raises
  // Error: it must never be taken for a missing one and written over.
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // Whether the file exists and is marked read-only.
  virtual bool IsReadOnly(const std::string& path) = 0;
  // Writes a complete new file "<path>.tmp-<process id>" beside the old one
  // with the old one's attributes, flushes it, and puts it in the old one's
  // place with one rename (MoveFileExW, MOVEFILE_REPLACE_EXISTING |
  // MOVEFILE_WRITE_THROUGH): the name always leads to the complete old or
  // new file. The new file's security comes from its folder. Unless
  // Written, the old file is as it was and the new one is deleted again.
  virtual WriteResult ReplaceFile(const std::string& path, std::string_view contents) = 0;
  // The number of names of the file (GetFileInformationByHandle's
  // nNumberOfLinks, of the target when the name is a symbolic link) and
  // what the name itself is: a reparse point (FILE_ATTRIBUTE_REPARSE_POINT)
  // whose tag (FindFirstFileW's dwReserved0) is IO_REPARSE_TAG_SYMLINK is a
  // symbolic link.
  virtual FileLinks QueryFileLinks(const std::string& path) = 0;
  // Writes contents into the file itself, so that every name of it sees them
  // (its other hard links, a symbolic link that leads to it): first the
  // complete text into the new file copy beside it (never over an existing
  // file), flushed; then the file, made when missing, written from its
  // start, cut to that length and flushed; then copy deleted. Busy or Failed
  // leave the file as it was and delete the copy; Torn keeps it.
  // copy_left tells whether the copy is still there.
  virtual RewriteResult RewriteFile(const std::string& path, const std::string& copy,
                                    std::string_view contents) = 0;
  // The names (without the folder) of the files in the folder of pattern
  // whose names match its last part, with the wildcards "*" and "?", without
  // regard to case (FindFirstFileW). Empty when there are none or the folder
  // cannot be listed.
  virtual std::vector<std::string> FindFiles(const std::string& pattern) = 0;
  // DeleteFileW. False when it fails.
  virtual bool DeleteFile(const std::string& path) = 0;
  // Holds the program for ms milliseconds (Sleep): nothing is handled
  // meanwhile.
  virtual void Sleep(unsigned ms) = 0;

  // --- registry: the autostart entry -------------------------------------------
  // The value `name` in the current user's Run key
  // (HKCU\Software\Microsoft\Windows\CurrentVersion\Run), and Task Manager's
  // mark for it: the REG_BINARY value of the same name in
  // HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run.
  // Each operation opens the key it needs (never creating it) and closes it.
  // Whether the Run value exists.
  virtual RegResult QueryRunValue(std::string_view name) = 0;
  // Writes the Run value as REG_SZ, with its terminating NUL.
  virtual RegResult SetRunValue(std::string_view name, std::string_view command) = 0;
  virtual RegResult DeleteRunValue(std::string_view name) = 0;
  // The mark's bytes into *data.
  virtual RegResult ReadStartupApproved(std::string_view name, std::string* data) = 0;
  virtual RegResult WriteStartupApproved(std::string_view name, std::string_view data) = 0;

  // --- shell ------------------------------------------------------------------
  // ShellExecuteW with no verb, no parameters and no directory; the window
  // it opens is shown as told. The first call initialises COM for the
  // thread first, as the shell asks (CoInitializeEx with
  // COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE, ole32.dll loaded
  // from the system directory then, never before).
  virtual void ShellOpen(WindowId owner, std::string_view target, ShowAs show) = 0;

  // --- session end -------------------------------------------------------------
  // ShutdownBlockReasonCreate / Destroy where the system has them; false when
  // the system does not offer them or the call fails.
  virtual bool ShutdownReasonCreate(WindowId window, std::string_view reason) = 0;
  virtual bool ShutdownReasonDestroy(WindowId window) = 0;
};

}  // namespace bvx
