// The settings file.
#include "settings/settings.h"

#include "app/bvx_main.h"

namespace bvx {

// TODO: settings file (reading the INI file beside the executable).
std::string TAboutForm::SettingsFile() const { return {}; }
void TAboutForm::LoadSettings() {}

}  // namespace bvx
