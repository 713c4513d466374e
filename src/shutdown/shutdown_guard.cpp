// The end-of-session guard: the walk over the drives, the reason given to
// Windows while it runs, the ending.
#include "shutdown/shutdown_guard.h"

#include <exception>

#include "shutdown/bvx_notification.h"

namespace bvx {

bool TShutdownGuard::Query(const ui::SessionEndQuery& query) {
  // The answer is decided first, whatever happens below.
  if (running_) return true;
  if (query.CloseApp) {
    // Restart Manager: an installer or updater needs the program's file.
    // The session goes on, so no door opens; the program just ends.
    toolkit_.Terminate();
    return true;
  }
  running_ = true;
  bool reason_given = false;
  try {
    // A drive's flags are read only when the walk reaches it: notices that
    // arrive during an earlier drive's notice decide about the later drives.
    for (int k = 1; k <= drives_.DriveCount; ++k) {
      const TCDROM& d = drives_.DriveTable[k];
      if (!d.DiscPresent || !d.DoTrack) continue;
      const std::string name = DriveDisplayName(d.Letter);
      // The list of programs that hold up the end of the session shows why.
      if (os_.ShutdownReasonCreate(window_.Handle(), NoticeMessage(name))) reason_given = true;

      doors_.RunDoorCommand({k, true});
      {
        TfrmNotifyCD notice(toolkit_);
        notice.Waiting = d.WaitFor;
        notice.WaitName = name;
        notice.ShowModal();  // the countdown's end and the close box count the same
      }
      doors_.RunDoorCommand({k, false});
    }
  } catch (const std::exception& e) {
    // An error ends the walk as it would end any handler, but not the answer
    // (a session must never be held up by this program) nor the ending.
    ui::ShowStandardError(toolkit_, e.what());
  }
  if (reason_given) os_.ShutdownReasonDestroy(window_.Handle());
  running_ = false;
  toolkit_.Terminate();
  return true;
}

}  // namespace bvx
