#include "drives/drive_table.h"

namespace bvx {

std::string DriveRoot(char letter) { return std::string{letter, ':', '\\'}; }

std::string DriveDeviceName(char letter) { return std::string("cdaudio!") + letter + ':'; }

std::uint32_t DriveUnitMask(char letter) { return std::uint32_t{1} << (letter - 'a'); }

std::string DriveDisplayName(char letter) {
  const char upper = (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 'a' + 'A') : letter;
  return std::string{upper, ':'};
}

}  // namespace bvx
