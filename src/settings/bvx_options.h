// The options dialog TfrmOptions: the default drive, the countdown seconds
// and, per drive, the open and close key combinations and the track flag.
//
// The main window's mnuiOptionsClick (bvx_options.cpp) opens it modally with
// fresh working copies (TAboutForm::WorkShortcuts / WorkTrackFlags) taken from
// the drive table. Tab 0 is the general page; tab k shows drive k, whose
// working copies are element k - 1. Values move between the controls and the
// working copies only when a tab is left or shown and at OK; OK writes them
// with SaveSettings, after which the main window reads the file back and
// registers the hotkeys again. The dialog never touches the drive table.
#pragma once

#include <memory>
#include <string_view>

#include "platform/ui.h"

namespace bvx {

class TAboutForm;

// The dialog's layout. Row order is the z-order: DefaultDriveBox and
// TrackGroupBox lie above HotKeysBox and GroupBox1 and cover them.
extern const ui::FormLayout kOptionsFormLayout;

class TfrmOptions : public ui::FormEvents {
 public:
  // Creates the window (hidden, on tab 0).
  explicit TfrmOptions(TAboutForm& owner);
  ~TfrmOptions() override;
  TfrmOptions(const TfrmOptions&) = delete;
  TfrmOptions& operator=(const TfrmOptions&) = delete;

  // OK: stores the shown drive's edits, then writes every setting.
  void btnOkClick();
  // Draws one tab's caption centred across it, 3 pixels above its bottom.
  void OptionTabsDrawTab(ui::Canvas& canvas, int tab_index, const ui::Rect& rect, bool active);
  // After the tab changed: shows the general page or fills the drive page.
  void OptionTabsChange();
  // Before the tab changes: stores the drive page's edits. Always allows it.
  void MemHotKey(bool& allow_change);

  // --- ui::FormEvents ---------------------------------------------------------
  void OnClick(std::string_view control) override;
  bool OnTabChanging(std::string_view control) override;
  void OnTabChanged(std::string_view control) override;
  void OnDrawTab(std::string_view control, ui::Canvas& canvas, int tab, const ui::Rect& rect,
                 bool active) override;

  TAboutForm& owner;
  std::unique_ptr<ui::Form> form;

 private:
  // Copies the hotkey edits and the check box into drive tab k's working copies.
  void StoreDrivePage(int k);
};

}  // namespace bvx
