// bvx::Os over the Unicode Win32 API.
#pragma once

#include "platform/os.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_handles.h"

namespace bvx::win32 {

class Win32Os final : public Os {
 public:
  explicit Win32Os(HINSTANCE instance) : instance_(instance) {}
  ~Win32Os() override;
  Win32Os(const Win32Os&) = delete;
  Win32Os& operator=(const Win32Os&) = delete;

  MutexResult CreateNamedMutex(std::string_view name) override;

  DriveKind DriveType(std::string_view root) override;
  std::uint32_t MciSendString(std::string_view command, std::size_t reply_size,
                              std::string* reply, WindowId callback) override;
  QueryRemoveAnswer BroadcastQueryRemove(const VolumeRecord& record) override;

  int TrayIconSize(WindowId window) override;
  bool TrayAdd(WindowId window, std::uint32_t id, int icon_resource, int size,
               std::string_view tip) override;
  bool TrayModifyTip(WindowId window, std::uint32_t id, std::string_view tip) override;
  bool TraySetIcon(WindowId window, std::uint32_t id, int icon_resource, int size) override;
  bool TrayDelete(WindowId window, std::uint32_t id) override;
  bool AllowTaskbarCreated(WindowId window) override;

  bool RegisterHotKey(WindowId window, int id, std::uint16_t shortcut) override;
  bool UnregisterHotKey(WindowId window, int id) override;
  std::string KeyName(unsigned vk) override;

  unsigned DoubleClickTime() override;
  Point CursorPos() override;
  void SetForegroundWindow(WindowId window) override;
  bool TrackMouse(WindowId window, unsigned hover_time_ms) override;

  std::uintptr_t LoadCursorResource(std::string_view name) override;

  std::string ModulePath() override;
  std::optional<std::string> ReadFile(const std::string& path) override;
  bool IsReadOnly(const std::string& path) override;
  WriteResult ReplaceFile(const std::string& path, std::string_view contents) override;
  FileLinks QueryFileLinks(const std::string& path) override;
  RewriteResult RewriteFile(const std::string& path, const std::string& copy,
                            std::string_view contents) override;
  std::vector<std::string> FindFiles(const std::string& pattern) override;
  bool DeleteFile(const std::string& path) override;
  void Sleep(unsigned ms) override;

  RegResult QueryRunValue(std::string_view name) override;
  RegResult SetRunValue(std::string_view name, std::string_view command) override;
  RegResult DeleteRunValue(std::string_view name) override;
  RegResult ReadStartupApproved(std::string_view name, std::string* data) override;
  RegResult WriteStartupApproved(std::string_view name, std::string_view data) override;

  void ShellOpen(WindowId owner, std::string_view target, ShowAs show) override;

  bool ShutdownReasonCreate(WindowId window, std::string_view reason) override;
  bool ShutdownReasonDestroy(WindowId window) override;

 private:
  // Shell_NotifyIconW(message) with the tray icon's picture at a size added
  // to data; the picture is kept once the shell has it.
  bool TrayNotifyWithPicture(DWORD message, NOTIFYICONDATAW& data, int icon_resource, int size);

  // COM for this thread, before the shell's first use (ole32.dll is loaded
  // then).
  void InitializeCom();

  HINSTANCE instance_;
  // The picture the tray icon shows: kept until the shell has the next one.
  OwnedIcon tray_picture_;
  bool com_tried_ = false;
};

}  // namespace bvx::win32
