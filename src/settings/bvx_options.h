// The options dialog TfrmOptions: the default drive, the countdown seconds
// and, per drive, the open and close key combinations and the track flag.
//
// Each opening makes a new dialog with fresh working copies taken from the
// drive table, which it only reads. Tab 0 is the general page; tab k shows
// drive k, whose working copies are element k - 1. Values move between the
// controls and the working copies only when a tab is left or shown and at
// OK; OK writes them to the settings file with SaveSettings. The dialog
// gives back its modal result; after OK the main window reads the file back
// and registers the hotkeys again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drives/drive_table.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

namespace bvx {

// The dialog's layout. Row order is the z-order: DefaultDriveBox and
// TrackGroupBox lie above HotKeysBox and GroupBox1 and cover them.
extern const ui::FormLayout kOptionsFormLayout;

class TfrmOptions : public ui::FormEvents {
 public:
  // Creates the window (hidden, on tab 0) filled from the table: a list item
  // and a tab per drive, the default drive selected, drive 1's wait seconds,
  // and the working copies. OK writes to settings_file. open refers to the
  // dialog for as long as it exists.
  TfrmOptions(Os& os, ui::Toolkit& toolkit, std::string settings_file, const Drives& drives,
              TfrmOptions*& open);
  ~TfrmOptions() override;
  TfrmOptions(const TfrmOptions&) = delete;
  TfrmOptions& operator=(const TfrmOptions&) = delete;

  // Shows the dialog and returns when it has closed: ui::kModalOk after OK
  // (the settings are then written), else ui::kModalCancel.
  int ShowModal() { return form->ShowModal(); }

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

  std::unique_ptr<ui::Form> form;
  // The working copies, one element per drive.
  std::vector<ShortcutPair> WorkShortcuts;
  std::vector<std::uint8_t> WorkTrackFlags;

 private:
  // Copies the hotkey edits and the check box into drive tab k's working copies.
  void StoreDrivePage(int k);

  Os& os_;
  ui::Toolkit& toolkit_;
  std::string settings_file_;
  TfrmOptions*& open_;
};

}  // namespace bvx
