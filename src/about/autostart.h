// The autostart entry: one string value in the current user's Run key, and
// Task Manager's mark that may disable it. TAutostart reads, adds and
// removes it.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

inline constexpr std::string_view kRegistryErrorCaption = "Ошибка pаботы с pеестpом";

// The executable's file name without its folder and its last extension.
std::string AutostartValueName(std::string_view exe_path);
// What the Run value holds: the full path in double quotes, so that a path
// with blanks cannot start another program.
std::string AutostartCommand(std::string_view exe_path);
// Task Manager's "Disable" keeps the Run value and marks it in its
// StartupApproved list: first byte 3 disabled, 2 enabled (an odd first byte
// is disabled). Such an entry does not start the program.
bool StartupMarkDisables(std::string_view mark);
// The mark Task Manager's "Enable" writes: 2, then zeros (12 bytes).
std::string StartupEnabledMark();

// The entry of the running executable, named after its file.
class TAutostart {
 public:
  TAutostart(Os& os, ui::Toolkit& toolkit) : os_(os), toolkit_(toolkit) {}

  // In autostart: the Run value exists and Task Manager has not disabled it
  // (a mark that cannot be read disables nothing).
  bool IsInAutostart();
  // Writes the Run value, and enables an entry disabled in Task Manager;
  // a failure shows "Failed to set data for '<name>'" in a message box.
  void Add();
  // Deletes the Run value; a failure is not reported.
  void Remove();

 private:
  Os& os_;
  ui::Toolkit& toolkit_;
};

}  // namespace bvx
