// The end-of-session guard: no disc is left behind in a watched drive.
//
// For every drive that is watched and holds a disc, in table order: open the
// door, show the eject notice until its countdown runs out or the user closes
// it, close the door. The answer to the query is always "yes"; afterwards the
// program ends. A query that only asks this program to close (an installer,
// through Restart Manager) ends it at once, with no door moved.
#pragma once

#include "drives/drive_table.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

class TShutdownGuard {
 public:
  // The guard of the main window over the drive table; it moves a door by
  // the one road of every door command (the main window).
  TShutdownGuard(Os& os, ui::Toolkit& toolkit, ui::Form& window, const Drives& drives, DoorRoad& doors)
      : os_(os), toolkit_(toolkit), window_(window), drives_(drives), doors_(doors) {}

  // Answers an end-of-session query, once the walk is done: always true,
  // the session may end. An error in the walk is reported and ends it, but
  // never changes the answer or the ending.
  bool Query(const ui::SessionEndQuery& query);

 private:
  Os& os_;
  ui::Toolkit& toolkit_;
  ui::Form& window_;
  const Drives& drives_;
  DoorRoad& doors_;
  // Set while the guard runs. A second query can arrive through a notice's
  // message loop (the user cancelled the first and asked again); it is
  // answered at once and leaves the walk, the reason and the ending to the
  // guard that is already running.
  bool running_ = false;
};

}  // namespace bvx
