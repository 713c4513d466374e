// Global hotkeys of the drives.
#include "app/bvx_main.h"

namespace bvx {

// TODO: global hotkeys (registration, failure reports, dispatch).
void TAboutForm::RegisterDriveHotKeys() {}
void TAboutForm::UnregisterDriveHotKeys() {}
void TAboutForm::WMHotKey(std::uintptr_t) {}

}  // namespace bvx
