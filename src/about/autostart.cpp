// The autostart toggle of the tray menu.
#include "about/autostart.h"

#include "app/bvx_main.h"
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

// In autostart: the Run value exists and Task Manager has not disabled it
// (a mark that cannot be read disables nothing).
bool TAboutForm::IsInAutostart() {
  const std::string name = AutostartValueName(os.ModulePath());
  if (os.QueryRunValue(name) != RegResult::Ok) return false;
  std::string mark;
  return os.ReadStartupApproved(name, &mark) != RegResult::Ok || !StartupMarkDisables(mark);
}

void TAboutForm::ShowAutostart() {
  mnuiStartup->BoundAction = IsInAutostart() ? &acDeletFromStartup : &acAddToStartup;
}

void TAboutForm::acAddToStartupExecute() {
  const std::string path = os.ModulePath();
  const std::string name = AutostartValueName(path);
  try {
    const std::string failed = "Failed to set data for '" + name + "'";
    if (os.SetRunValue(name, AutostartCommand(path)) != RegResult::Ok) throw RegistryError(failed);
    // Disabled in Task Manager: the value alone would not start the program.
    std::string mark;
    if (os.ReadStartupApproved(name, &mark) == RegResult::Ok && StartupMarkDisables(mark) &&
        os.WriteStartupApproved(name, StartupEnabledMark()) != RegResult::Ok)
      throw RegistryError(failed);
  } catch (const RegistryError& e) {
    toolkit.MessageBox(e.what(), kRegistryErrorCaption, ui::MessageIcon::None);
  }
  // The item tells what the registry holds now, whatever failed.
  ShowAutostart();
}

void TAboutForm::acDeletFromStartupExecute() {
  // A delete that fails is not reported: the item keeps offering it.
  os.DeleteRunValue(AutostartValueName(os.ModulePath()));
  ShowAutostart();
}

}  // namespace bvx
