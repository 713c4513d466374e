// The end-of-session guard: no disc is left behind in a watched drive.
//
// For every drive that is watched and holds a disc, in table order: open the
// door, show the eject notice until its countdown runs out or the user closes
// it, close the door. The answer to the query is always "yes"; afterwards the
// program ends. A query that only asks this program to close (an installer,
// through Restart Manager) ends it at once, with no door moved.
#include <exception>

#include "app/bvx_main.h"
#include "shutdown/bvx_notification.h"

namespace bvx {

std::intptr_t TAboutForm::ShutdownGuard(const ui::SessionEndQuery& query) {
  constexpr std::intptr_t kMayEnd = 1;  // decided first, whatever happens below
  if (GuardRunning) return kMayEnd;
  if (query.CloseApp) {
    // Restart Manager: an installer or updater needs the program's file.
    // The session goes on, so no door opens; the program just ends.
    toolkit.Terminate();
    return kMayEnd;
  }
  GuardRunning = true;
  bool reason_given = false;
  try {
    // A drive's flags are read only when the walk reaches it: notices that
    // arrive during an earlier drive's notice decide about the later drives.
    for (int k = 1; k <= drives.DriveCount; ++k) {
      const TCDROM& d = drives.DriveTable[k];
      if (!d.DiscPresent || !d.DoTrack) continue;
      const std::string name = DriveDisplayName(d.Letter);
      // The list of programs that hold up the end of the session shows why.
      if (os.ShutdownReasonCreate(window->Handle(), NoticeMessage(name))) reason_given = true;

      OpenCD(TrayPopup.Items(static_cast<std::size_t>(2 * k - 2)));
      {
        TfrmNotifyCD notice(toolkit);
        notice.Waiting = d.WaitFor;
        notice.WaitName = name;
        notice.ShowModal();  // the countdown's end and the close box count the same
      }
      CloseCD(TrayPopup.Items(static_cast<std::size_t>(2 * k - 1)));
    }
  } catch (const std::exception& e) {
    // An error ends the walk as it would end any handler, but not the answer
    // (a session must never be held up by this program) nor the ending.
    ui::ShowStandardError(toolkit, e.what());
  }
  if (reason_given) os.ShutdownReasonDestroy(window->Handle());
  GuardRunning = false;
  toolkit.Terminate();
  return kMayEnd;
}

}  // namespace bvx
