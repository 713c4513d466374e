// TTrayIcon: the program's notification-area icon over its whole life.
//
// Added at start, and tried again every kTrayRetryMs while the notification
// area refuses it (at logon it may not take icons yet); added again when the
// notification area comes back; its tip kept current; its picture loaded
// again at the size the notification area shows after a change of the
// display scale; removed at the end. The main window's handlers delegate
// to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

inline constexpr std::uint32_t kTrayIconId = 1;
inline constexpr int kTrayIconResource = 1;
// A refused tray icon is tried again every 5 s for about a minute.
inline constexpr unsigned kTrayRetryMs = 5000;
inline constexpr int kTrayRetries = 12;

class TTrayIcon {
 public:
  // The icon kTrayIconId of the owner's window, with the picture of
  // kTrayIconResource; nothing is shown before Add.
  TTrayIcon(Os& os, ui::Toolkit& toolkit, ui::Form& owner);
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Lets "TaskbarCreated" through to the owner window, then adds the icon
  // with this tip (already cut to the tip field). When the
  // notification area refuses it, a timer tries again every kTrayRetryMs,
  // kTrayRetries times at most, and is gone once the icon is there or the
  // tries are spent.
  void Add(std::string_view tip);
  // The notification area was made anew ("TaskbarCreated"): the icon is
  // added again with its tip. Windows also says so when the display scale
  // changes, and then the icon is still there and refuses a second add:
  // an icon that was shown then only gets the picture of the new size.
  void AddAgain();
  // The tip, also kept for a later add.
  void SetTip(std::string_view tip);
  // The display scale may have changed: a shown icon whose picture is not
  // of the size the notification area now shows gets the one that is.
  void ScaleChanged();
  // Removes the icon and stops the retries.
  void Delete();

 private:
  bool TryAdd();
  void RetryLater();
  void Retry();

  Os& os_;
  ui::Toolkit& toolkit_;
  ui::Form& owner_;
  std::string tip_;
  bool shown_ = false;  // the last add, or the picture handed over after it, was taken
  int size_ = 0;        // of the picture handed over last
  std::unique_ptr<ui::Timer> retry_timer_;  // only while a refused add is retried
  int retries_left_ = 0;
};

}  // namespace bvx
