// The options dialog: its layout, its handlers, and its opening.
#include "settings/bvx_options.h"

#include <cstddef>
#include <utility>

#include "platform/errors.h"

namespace bvx {

namespace {

using ui::ControlRow;
using ui::Kind;
using ui::Rgb;

constexpr ui::Color kGrey = ui::kTextGrey;
constexpr ui::Font kFormFont{"Arial", -12, false, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kBoldFont{"Arial", -12, true, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kTabsFont{"MS Sans Serif", -12, false, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kWaitFont{"Arial", -12, true, false, Rgb(0, 0, 0), ui::kRussianCharset};

constexpr std::string_view kTabs = "OptionTabs";
constexpr std::string_view kOpenEdit = "hkOpenCd";
constexpr std::string_view kCloseEdit = "hkCloseCd";
constexpr std::string_view kTrackBox = "chbTrackDrive";
constexpr std::string_view kDriveList = "cbDriveLetters";
constexpr std::string_view kWaitEdit = "speWaitFor";

// Parents come before their children; a later row lies above an earlier one,
// except that each label lies directly above the field it names (Labels).
constexpr ControlRow kOptionsControls[] = {
    {.Name = "BitBtn1", .ControlKind = Kind::OkButton, .Left = 252, .Top = 8, .Width = 71,
     .Height = 25, .Text = "O&K", .ControlFont = &kBoldFont, .TabOrder = 0, .GlyphSpacing = 1},
    {.Name = "BitBtn2", .ControlKind = Kind::CancelButton, .Left = 252, .Top = 37, .Width = 71,
     .Height = 25, .Text = "&Отмена", .ControlFont = &kBoldFont, .TabOrder = 1, .GlyphSpacing = 1},
    {.Name = "OptionTabs", .ControlKind = Kind::TabControl, .Left = 3, .Top = 3, .Width = 246,
     .Height = 174, .Text = "Общие", .ControlFont = &kTabsFont, .TabOrder = 2,
     .Flags = ui::kTabsBottom | ui::kOwnerDrawTabs},
    {.Name = "HotKeysBox", .ControlKind = Kind::GroupBox, .Parent = "OptionTabs", .Left = 4,
     .Top = 3, .Width = 238, .Height = 72, .Text = " Горячие клавиши ", .ControlFont = &kBoldFont,
     .TabOrder = 0},
    {.Name = "lblOpen", .ControlKind = Kind::Label, .Parent = "HotKeysBox", .Left = 5, .Top = 19,
     .Width = 90, .Height = 15, .Text = "&Открыть дверцу", .ControlFont = &kFormFont,
     .Flags = ui::kTransparent, .Labels = "hkOpenCd"},
    {.Name = "lblClose", .ControlKind = Kind::Label, .Parent = "HotKeysBox", .Left = 5, .Top = 45,
     .Width = 90, .Height = 15, .Text = "&Закрыть дверцу", .ControlFont = &kFormFont,
     .Flags = ui::kTransparent, .Labels = "hkCloseCd"},
    {.Name = "hkOpenCd", .ControlKind = Kind::HotKey, .Parent = "HotKeysBox", .Left = 100,
     .Top = 17, .Width = 114, .Height = 22, .TabOrder = 0},
    {.Name = "hkCloseCd", .ControlKind = Kind::HotKey, .Parent = "HotKeysBox", .Left = 100,
     .Top = 43, .Width = 114, .Height = 22, .TabOrder = 1},
    {.Name = "GroupBox1", .ControlKind = Kind::GroupBox, .Parent = "OptionTabs", .Left = 4,
     .Top = 74, .Width = 238, .Height = 73, .Text = " Слежение за приводом ",
     .ControlFont = &kBoldFont, .TabOrder = 1},
    {.Name = "chbTrackDrive", .ControlKind = Kind::CheckBox, .Parent = "GroupBox1", .Left = 5,
     .Top = 33, .Width = 148, .Height = 16, .Text = "Следить за приводом",
     .ControlFont = &kFormFont, .TabOrder = 0},
    {.Name = "DefaultDriveBox", .ControlKind = Kind::GroupBox, .Parent = "OptionTabs", .Left = 4,
     .Top = 3, .Width = 238, .Height = 67, .Text = " Привод по умолчанию ",
     .ControlFont = &kBoldFont, .TabOrder = 2},
    {.Name = "Label1", .ControlKind = Kind::Label, .Parent = "DefaultDriveBox", .Left = 5,
     .Top = 19, .Width = 209, .Height = 15, .Text = "&По умолчанию использовать привод",
     .ControlFont = &kFormFont, .Flags = ui::kTransparent | ui::kWordWrap,
     .FocusControl = "cbDriveLetters", .Labels = "cbDriveLetters"},
    {.Name = "cbDriveLetters", .ControlKind = Kind::DropDownList, .Parent = "DefaultDriveBox",
     .Left = 5, .Top = 37, .Width = 65, .Height = 23, .ControlFont = &kBoldFont, .TabOrder = 0,
     .ItemHeight = 15},
    {.Name = "TrackGroupBox", .ControlKind = Kind::GroupBox, .Parent = "OptionTabs", .Left = 4,
     .Top = 69, .Width = 238, .Height = 78, .Text = " Слежение ", .ControlFont = &kBoldFont,
     .TabOrder = 3},
    {.Name = "Label2", .ControlKind = Kind::Label, .Parent = "TrackGroupBox", .Left = 5, .Top = 16,
     .Width = 194, .Height = 30,
     .Text = "Если в приводе при перезагрузке (выключении) обнаружен диск,",
     .ControlFont = &kFormFont, .Flags = ui::kWordWrap},
    {.Name = "Label3", .ControlKind = Kind::Label, .Parent = "TrackGroupBox", .Left = 5, .Top = 50,
     .Width = 97, .Height = 15, .Text = "открывать его на", .ControlFont = &kFormFont,
     .Labels = "speWaitFor"},
    {.Name = "Label4", .ControlKind = Kind::Label, .Parent = "TrackGroupBox", .Left = 167,
     .Top = 50, .Width = 41, .Height = 15, .Text = "секунд.", .ControlFont = &kFormFont},
    {.Name = "speWaitFor", .ControlKind = Kind::SpinEdit, .Parent = "TrackGroupBox", .Left = 107,
     .Top = 48, .Width = 57, .Height = 24, .Text = "0", .ControlFont = &kWaitFont, .TabOrder = 0},
};

// Element k - 1 of a working copy, for drive tab k; the index is checked.
template <typename T>
T& WorkElement(std::vector<T>& work, int k) {
  if (k < 1 || static_cast<std::size_t>(k) > work.size()) throw RangeError();
  return work[static_cast<std::size_t>(k - 1)];
}

}  // namespace

const ui::FormLayout kOptionsFormLayout{
    .ClassName = "TfrmOptions",
    .Caption = "Параметры Brimvex",
    .ClientWidth = 327,
    .ClientHeight = 181,
    .Background = Rgb(240, 240, 240),
    .FormFont = kFormFont,
    .Flags = ui::kDialogFrame | ui::kCenterDesktop,
    .Controls = kOptionsControls,
};

// --- TfrmOptions ---------------------------------------------------------------------

TfrmOptions::TfrmOptions(Os& os, ui::Toolkit& toolkit, std::string settings_file, const Drives& drives,
                         TfrmOptions*& open)
    : form(toolkit.CreateForm(kOptionsFormLayout, *this)),
      os_(os),
      toolkit_(toolkit),
      settings_file_(std::move(settings_file)),
      open_(open) {
  const int count = drives.DriveCount;
  WorkShortcuts.assign(static_cast<std::size_t>(count), ShortcutPair{});
  WorkTrackFlags.assign(static_cast<std::size_t>(count), 0);
  for (int i = 1; i <= count; ++i) {
    const TCDROM& drive = drives.DriveTable[i];
    const std::string name = DriveDisplayName(drive.Letter);
    form->AddItem(kDriveList, name);
    form->AddItem(kTabs, name);
    WorkShortcuts[static_cast<std::size_t>(i - 1)] = {drive.OpenShortCut, drive.CloseShortCut};
    WorkTrackFlags[static_cast<std::size_t>(i - 1)] = drive.DoTrack ? 1 : 0;
  }

  // An index outside the list selects nothing, as the list control does.
  const int selected = drives.DefaultDrive - 1;
  form->SetValue(kDriveList, selected >= 0 && selected < form->ItemCount(kDriveList) ? selected : -1);
  form->SetEnabled(kDriveList, count != 1);
  form->SetValue(kWaitEdit, static_cast<int>(drives.DriveTable[1].WaitFor));
  open_ = this;
}

TfrmOptions::~TfrmOptions() { open_ = nullptr; }

void TfrmOptions::StoreDrivePage(int k) {
  ShortcutPair& pair = WorkElement(WorkShortcuts, k);
  std::uint8_t& track = WorkElement(WorkTrackFlags, k);
  pair.Open = static_cast<std::uint16_t>(form->Value(kOpenEdit));
  pair.Close = static_cast<std::uint16_t>(form->Value(kCloseEdit));
  track = form->Value(kTrackBox) != 0 ? 1 : 0;
}

void TfrmOptions::MemHotKey(bool& allow_change) {
  const int k = form->Value(kTabs);
  if (k != 0) StoreDrivePage(k);
  allow_change = true;
}

void TfrmOptions::OptionTabsChange() {
  const int k = form->Value(kTabs);
  form->SetVisible("DefaultDriveBox", k == 0);
  form->SetVisible("TrackGroupBox", k == 0);
  if (k == 0) return;
  form->SetText("HotKeysBox", " Горячие клавиши для привода " + form->Item(kDriveList, k - 1) + " ");
  const ShortcutPair& pair = WorkElement(WorkShortcuts, k);
  form->SetValue(kOpenEdit, pair.Open);
  form->SetValue(kCloseEdit, pair.Close);
  form->SetValue(kTrackBox, WorkElement(WorkTrackFlags, k) != 0 ? 1 : 0);
}

void TfrmOptions::OptionTabsDrawTab(ui::Canvas& canvas, int tab_index, const ui::Rect& rect,
                                    bool /*active*/) {
  canvas.FillBackground(rect);
  const std::string caption = form->Item(kTabs, tab_index);
  const ui::Size extent = canvas.TextExtent(caption);
  // Integer division truncates toward zero, so negative coordinates halve like div.
  const int x = (rect.Left + rect.Right) / 2 - extent.Width / 2;
  const int y = rect.Bottom - (extent.Height + 3);
  canvas.TextOut(x, y, caption);
}

void TfrmOptions::btnOkClick() {
  // The OK button has already set the OK result; the dialog closes on return.
  const int k = form->Value(kTabs);
  if (k != 0) StoreDrivePage(k);
  SaveSettings(os_, toolkit_, settings_file_, form->Value(kDriveList) + 1, form->Value(kWaitEdit),
               WorkShortcuts, WorkTrackFlags);
}

void TfrmOptions::OnClick(std::string_view control) {
  if (control == "BitBtn1") btnOkClick();
}

bool TfrmOptions::OnTabChanging(std::string_view control) {
  bool allow = true;
  if (control == kTabs) MemHotKey(allow);
  return allow;
}

void TfrmOptions::OnTabChanged(std::string_view control) {
  if (control == kTabs) OptionTabsChange();
}

void TfrmOptions::OnDrawTab(std::string_view control, ui::Canvas& canvas, int tab,
                            const ui::Rect& rect, bool active) {
  if (control == kTabs) OptionTabsDrawTab(canvas, tab, rect, active);
}

}  // namespace bvx
