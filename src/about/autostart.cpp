// The autostart entry: its name and value, Task Manager's mark, and
// TAutostart.
#include "about/autostart.h"

#include "platform/errors.h"

namespace bvx {

std::string AutostartValueName(std::string_view exe_path) {
  const auto slash = exe_path.find_last_of("\\/");
  std::string_view name = slash == std::string_view::npos ? exe_path : exe_path.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

std::string AutostartCommand(std::string_view exe_path) {
  return "\"" + std::string(exe_path) + "\"";
}

bool StartupMarkDisables(std::string_view mark) {
  return !mark.empty() && (static_cast<unsigned char>(mark.front()) & 1u) != 0;
}

std::string StartupEnabledMark() {
  std::string mark(12, '\0');
  mark[0] = '\x02';
  return mark;
}

bool TAutostart::IsInAutostart() {
  const std::string name = AutostartValueName(os_.ModulePath());
  if (os_.QueryRunValue(name) != RegResult::Ok) return false;
  std::string mark;
  return os_.ReadStartupApproved(name, &mark) != RegResult::Ok || !StartupMarkDisables(mark);
}

void TAutostart::Add() {
  const std::string path = os_.ModulePath();
  const std::string name = AutostartValueName(path);
  try {
    const std::string failed = "Failed to set data for '" + name + "'";
    if (os_.SetRunValue(name, AutostartCommand(path)) != RegResult::Ok) throw RegistryError(failed);
    // Disabled in Task Manager: the value alone would not start the program.
    std::string mark;
    if (os_.ReadStartupApproved(name, &mark) == RegResult::Ok && StartupMarkDisables(mark) &&
        os_.WriteStartupApproved(name, StartupEnabledMark()) != RegResult::Ok)
      throw RegistryError(failed);
  } catch (const RegistryError& e) {
    toolkit_.MessageBox(e.what(), kRegistryErrorCaption, ui::MessageIcon::None);
  }
}

void TAutostart::Remove() { os_.DeleteRunValue(AutostartValueName(os_.ModulePath())); }

}  // namespace bvx
