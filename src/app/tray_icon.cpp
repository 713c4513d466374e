// The notification-area icon: add with retries, add again, tip, picture
// size, removal.
#include "app/tray_icon.h"

namespace bvx {

TTrayIcon::TTrayIcon(Os& os, ui::Toolkit& toolkit, ui::Form& owner)
    : os_(os), toolkit_(toolkit), owner_(owner) {}

bool TTrayIcon::TryAdd() {
  size_ = os_.TrayIconSize(owner_.Handle());
  shown_ = os_.TrayAdd(owner_.Handle(), kTrayIconId, kTrayIconResource, size_, tip_);
  if (shown_) retry_timer_.reset();
  return shown_;
}

void TTrayIcon::Add(std::string_view tip) {
  tip_ = tip;
  // Run as administrator, the program would not hear of a new notification
  // area ("TaskbarCreated" comes from Explorer, which has fewer rights), and
  // its icon would never come back after Explorer restarts.
  os_.AllowTaskbarCreated(owner_.Handle());
  if (!TryAdd()) RetryLater();
}

void TTrayIcon::AddAgain() {
  const bool was_shown = shown_;
  if (TryAdd()) return;
  // Refused: the icon may still be there (a change of the display scale).
  // Then it only takes the picture of the size now shown.
  if (was_shown && os_.TraySetIcon(owner_.Handle(), kTrayIconId, kTrayIconResource, size_)) {
    shown_ = true;
    return;
  }
  RetryLater();
}

void TTrayIcon::RetryLater() {
  // Without an icon nothing reaches the program, and if Explorer does not
  // start again no "TaskbarCreated" will come: try again a few times.
  if (retry_timer_) return;
  retries_left_ = kTrayRetries;
  retry_timer_ = toolkit_.CreateTimer(owner_, kTrayRetryMs, true, [this] { Retry(); });
}

void TTrayIcon::Retry() {
  const bool last = --retries_left_ <= 0;
  TryAdd();  // frees the timer once the icon is there
  // Freed inside its own tick: both toolkits run a copy of the handler.
  if (last) retry_timer_.reset();
}

void TTrayIcon::SetTip(std::string_view tip) {
  tip_ = tip;
  os_.TrayModifyTip(owner_.Handle(), kTrayIconId, tip_);
}

void TTrayIcon::ScaleChanged() {
  if (!shown_) return;  // an add to come takes the size of its own moment
  const int size = os_.TrayIconSize(owner_.Handle());
  if (size == size_) return;
  if (os_.TraySetIcon(owner_.Handle(), kTrayIconId, kTrayIconResource, size)) size_ = size;
}

void TTrayIcon::Delete() {
  retry_timer_.reset();
  shown_ = false;
  os_.TrayDelete(owner_.Handle(), kTrayIconId);
}

}  // namespace bvx
