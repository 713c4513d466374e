// Image strips of the toolkit: menu pictures and button glyphs.
#pragma once

#include "platform/win32/win32_api.h"

namespace bvx::win32 {

inline constexpr int kMenuImageSize = 16;

// A strip of size x size pictures side by side from a bitmap resource (24-bit
// or with a palette), magenta transparent, as a list of 24-bit pictures;
// null when the strip or the common controls cannot be loaded.
HIMAGELIST LoadStrip(HINSTANCE instance, const wchar_t* name, int size = kMenuImageSize);

}  // namespace bvx::win32
