// The options dialog.
#include "app/bvx_main.h"

namespace bvx {

// TODO: options dialog.
void TAboutForm::mnuiOptionsClick() {}

}  // namespace bvx
