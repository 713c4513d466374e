// Image strips of the toolkit: menu pictures and button glyphs.
#pragma once

#include "platform/win32/win32_api.h"

namespace bvx::win32 {

inline constexpr int kMenuImageSize = 16;

// A strip of 16-pixel pictures from a bitmap resource, magenta transparent;
// null when the strip or the common controls cannot be loaded.
HIMAGELIST LoadStrip(HINSTANCE instance, const wchar_t* name);

}  // namespace bvx::win32
