// TLinkLabel: a static text that shows the hand cursor and switches to its
// hover font while the pointer rests on it. The module's start-up installs
// the hand cursor "POINTCURS" as screen cursor 100 before any window exists.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/ui.h"

namespace bvx {

inline constexpr int kLinkCursor = 100;

// Loads "POINTCURS" and installs it as screen cursor 100; raises
// Error("Unable to load cursor for link") when it cannot be loaded.
void LinkLabelInitialization(Os& os, ui::Toolkit& toolkit);

class TLinkLabel {
 public:
  // name: the control's component name on form; fonts as the layout gives them.
  TLinkLabel(Os& os, ui::Form& form, std::string_view name, const ui::Font& font,
             const ui::Font& hover_font);

  // The control's window was (re)created: NormalFont takes the current font.
  void CreateWnd();
  // Requests hover and leave tracking (hover time 0); raises
  // Error("Unable to set tracking for mouse event") when it fails.
  void WMMouseMove();
  void WMMouseHover();
  void WMMouseLeave();

  const std::string& Name() const { return name_; }

  ui::Font NormalFont;
  ui::Font HOverFont;

 private:
  Os& os_;
  ui::Form& form_;
  std::string name_;
};

}  // namespace bvx
