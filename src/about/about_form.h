// The About window's layout (the main window TAboutForm when shown) and the
// targets of its two links.
#pragma once

#include <string_view>

#include "platform/ui.h"

namespace bvx {

extern const ui::FormLayout kAboutFormLayout;

}  // namespace bvx
