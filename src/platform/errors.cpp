#include "platform/errors.h"

#include "platform/ui.h"

namespace bvx {

std::string StandardErrorText(std::string_view message) {
  std::string text(message);
  // The last character, compared as a code point: any UTF-8 continuation or
  // lead byte (Cyrillic letters) sorts after "." just as letters and digits do.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

namespace ui {

void ShowStandardError(Toolkit& toolkit, std::string_view message) {
  toolkit.MessageBox(StandardErrorText(message), toolkit.Title(), ui::MessageIcon::Error);
}

}  // namespace ui
}  // namespace bvx
