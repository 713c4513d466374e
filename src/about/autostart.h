// The autostart entry: one string value in the current user's Run key.
#pragma once

#include <string>
#include <string_view>

namespace bvx {

inline constexpr std::string_view kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRegistryErrorCaption = "Ошибка pаботы с pеестpом";

// The executable's file name without its folder and its last extension.
std::string AutostartValueName(std::string_view exe_path);
// What the Run value holds: the full path in double quotes, so that a path
// with blanks cannot start another program.
std::string AutostartCommand(std::string_view exe_path);

}  // namespace bvx
