#include "about/LinkLabel.h"

#include "platform/errors.h"

namespace bvx {

void LinkLabelInitialization(Os& os, ui::Toolkit& toolkit) {
  const std::uintptr_t cursor = os.LoadCursorResource("POINTCURS");
  if (cursor == 0) throw Error("Unable to load cursor for link");
  toolkit.SetScreenCursor(kLinkCursor, cursor);
}

TLinkLabel::TLinkLabel(Os& os, ui::Form& form, std::string_view name, const ui::Font& font,
                       const ui::Font& hover_font)
    : NormalFont(font), HOverFont(hover_font), os_(os), form_(form), name_(name) {}

void TLinkLabel::CreateWnd() { NormalFont = form_.ControlFont(name_); }

void TLinkLabel::WMMouseMove() {
  // Tracking is asked for anew on every move; with hover time 0 the hover
  // message comes as soon as the pointer rests.
  if (!os_.TrackMouse(form_.ControlHandle(name_), 0)) throw Error("Unable to set tracking for mouse event");
}

void TLinkLabel::WMMouseHover() { form_.SetFont(name_, HOverFont); }

void TLinkLabel::WMMouseLeave() { form_.SetFont(name_, NormalFont); }

}  // namespace bvx
