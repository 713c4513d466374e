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

namespace {

// A registry access object: the Run key, open for the length of one operation.
class RunKey {
 public:
  explicit RunKey(Os& os) : os_(os) {
    opened_ = os_.RegOpenKey(RegRoot::CurrentUser, kRunKey, kKeyAllAccess, &key_) == kErrorSuccess;
  }
  ~RunKey() {
    if (opened_) os_.RegCloseKey(key_);
  }
  RunKey(const RunKey&) = delete;
  RunKey& operator=(const RunKey&) = delete;

  bool Query(std::string_view name) { return opened_ && os_.RegQueryValue(key_, name) == kErrorSuccess; }
  bool Write(std::string_view name, std::string_view data) {
    return opened_ && os_.RegSetString(key_, name, data) == kErrorSuccess;
  }
  void Delete(std::string_view name) {
    if (opened_) os_.RegDeleteValue(key_, name);
  }

 private:
  Os& os_;
  RegKey key_ = 0;
  bool opened_ = false;
};

}  // namespace

bool TAboutForm::IsInAutostart() {
  RunKey key(os);
  return key.Query(AutostartValueName(os.ModulePath()));
}

void TAboutForm::acAddToStartupExecute() {
  {
    const std::string path = os.ModulePath();
    const std::string name = AutostartValueName(path);
    RunKey key(os);
    try {
      if (!key.Write(name, AutostartCommand(path)))
        throw RegistryError("Failed to set data for '" + name + "'");
    } catch (const RegistryError& e) {
      toolkit.MessageBox(e.what(), kRegistryErrorCaption, kMbOk);
    }
  }
  mnuiStartup->BoundAction = &acDeletFromStartup;
}

void TAboutForm::acDeletFromStartupExecute() {
  {
    RunKey key(os);
    key.Delete(AutostartValueName(os.ModulePath()));
  }
  mnuiStartup->BoundAction = &acAddToStartup;
}

}  // namespace bvx
