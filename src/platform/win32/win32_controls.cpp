#include "platform/win32/win32_controls.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/toolkit_rules.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

void Subclass(HWND hwnd, SUBCLASSPROC proc, Win32Form& form) {
  if (const CommonControls* cc = LoadCommonControls())
    cc->SetWindowSubclass(hwnd, proc, kSubclassId, reinterpret_cast<DWORD_PTR>(&form));
}

LRESULT DefSubclass(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, SUBCLASSPROC proc) {
  const CommonControls* cc = LoadCommonControls();
  if (msg == WM_NCDESTROY) cc->RemoveWindowSubclass(hwnd, proc, kSubclassId);
  return cc->DefSubclassProc(hwnd, msg, wparam, lparam);
}

namespace {

// --- labels -----------------------------------------------------------------------

DWORD LabelStyle(std::uint32_t flags) {
  return (flags & ui::kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
}
DWORD LinkStyle(std::uint32_t flags) { return LabelStyle(flags) | SS_NOTIFY; }

void LinkSetup(Win32Form& form, Control& c) {
  Subclass(c.hwnd, &Win32Form::LinkProc, form);
}

// --- bitmap buttons ---------------------------------------------------------------------

void GlyphSetup(Win32Form& form, Control& c) {
  const bool ok = c.desc->ControlKind == ui::Kind::OkButton;
  if (HIMAGELIST glyphs = form.Toolkit().ButtonGlyphs(ok)) {
    BUTTON_IMAGELIST list{};
    list.himl = glyphs;
    list.margin.right = c.desc->GlyphSpacing;
    list.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
    SendMessageW(c.hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
  }
}

// --- check box --------------------------------------------------------------------------

int CheckValue(const Control& c) {
  return SendMessageW(c.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}
void SetCheckValue(const Control& c, int value) {
  SendMessageW(c.hwnd, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

// --- hotkey edit ------------------------------------------------------------------------

void HotKeySetup(Win32Form&, Control& c) {
  // Every combination is taken as pressed; no modifier is added.
  SendMessageW(c.hwnd, HKM_SETRULES, 0, 0);
}
int HotKeyValue(const Control& c) {
  return ui::HotKeyWordToShortcut(
      static_cast<std::uint16_t>(SendMessageW(c.hwnd, HKM_GETHOTKEY, 0, 0)));
}
void SetHotKeyValue(const Control& c, int value) {
  SendMessageW(c.hwnd, HKM_SETHOTKEY, ui::ShortcutToHotKeyWord(static_cast<std::uint16_t>(value)),
               0);
}

// --- spin edit: an edit and its arrows ------------------------------------------------------

void SpinSetup(Win32Form& form, Control& c) {
  const auto style = static_cast<DWORD>(GetWindowLongW(c.hwnd, GWL_STYLE));
  DWORD arrows = WS_CHILD | WS_CLIPSIBLINGS | UDS_ALIGNRIGHT;
  arrows |= style & (WS_VISIBLE | WS_DISABLED);
  const int id = GetDlgCtrlID(c.hwnd) + 500;
  c.updown = CreateWindowExW(0, UPDOWN_CLASSW, nullptr, arrows, 0, 0, 0, 0, GetParent(c.hwnd),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             form.Toolkit().Instance(), nullptr);
  if (c.updown == nullptr) throw Error("Error creating window");
  // The arrows only ask (UDN_DELTAPOS, always refused); the value lives in
  // the text, so no range applies.
  SendMessageW(c.updown, UDM_SETRANGE32, static_cast<WPARAM>(-1000000), 1000000);
  SendMessageW(c.updown, UDM_SETPOS32, 0, 0);
  Subclass(c.hwnd, &Win32Form::SpinEditProc, form);
}
void SpinPlaced(Win32Form&, Control& c) {
  // Re-attaching makes the arrows take their place inside the given width.
  SendMessageW(c.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(c.hwnd), 0);
}
int SpinValue(const Control& c) { return ui::SpinEditValue(WideToUtf8(WindowText(c.hwnd))); }
void SetSpinValue(const Control& c, int value) {
  SetWindowTextW(c.hwnd, Utf8ToWide(std::to_string(value)).c_str());
}
bool SpinNotify(Win32Form&, const Control& c, const NMHDR& header, LRESULT* result) {
  if (header.hwndFrom == c.updown && header.code == UDN_DELTAPOS) {
    const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
    if (change.iDelta != 0) Win32Form::StepSpin(c, change.iDelta > 0 ? 1 : -1);
    *result = TRUE;  // the arrows keep no position of their own
  }
  return true;
}

// --- drop-down list -----------------------------------------------------------------------

void ListSize(Win32Form& form, Control& c, int&, int& height) {
  // The window's height includes the dropped-down list.
  height += form.Scale(c.desc->ItemHeight > 0 ? c.desc->ItemHeight : 16) * 8;
}
void ListPlaced(Win32Form& form, Control& c) {
  if (c.desc->ItemHeight > 0)
    SendMessageW(c.hwnd, CB_SETITEMHEIGHT, 0, form.Scale(c.desc->ItemHeight));
}
int ListValue(const Control& c) { return static_cast<int>(SendMessageW(c.hwnd, CB_GETCURSEL, 0, 0)); }
void SetListValue(const Control& c, int value) {
  SendMessageW(c.hwnd, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
}
void ListAdd(const Control& c, std::wstring& text) {
  SendMessageW(c.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
int ListCount(const Control& c) { return static_cast<int>(SendMessageW(c.hwnd, CB_GETCOUNT, 0, 0)); }
std::wstring ListItem(const Control& c, int index) {
  const LRESULT length = SendMessageW(c.hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
  SendMessageW(c.hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
  return text;
}

// --- containers ---------------------------------------------------------------------------

// Containers keep the classic look: the tab control's bottom tabs and body,
// and the group boxes' frames and captions, take the form's colours, and each
// box paints its whole background over whatever it covers. uxtheme.dll comes
// from the system directory only; without it there are no themes to turn off.
void UseClassicLook(HWND hwnd) {
  const auto set_theme = Loaded<UxThemeDll>().SetWindowTheme;
  // A class list that names no class: no theme data, the classic look.
  if (set_theme != nullptr) set_theme(hwnd, L" ", L" ");
}

DWORD TabStyle(std::uint32_t flags) {
  DWORD style = 0;
  if (flags & ui::kTabsBottom) style |= TCS_BOTTOM;
  if (flags & ui::kOwnerDrawTabs) style |= TCS_OWNERDRAWFIXED;
  return style;
}
void TabSetup(Win32Form& form, Control& c) {
  Subclass(c.hwnd, &Win32Form::ContainerProc, form);
  UseClassicLook(c.hwnd);
  if (!c.desc->Text.empty()) {
    std::wstring caption = Utf8ToWide(c.desc->Text);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageW(c.hwnd, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SendMessageW(c.hwnd, TCM_SETCURSEL, 0, 0);
  }
}
int TabValue(const Control& c) { return static_cast<int>(SendMessageW(c.hwnd, TCM_GETCURSEL, 0, 0)); }
void SetTabValue(const Control& c, int value) {
  SendMessageW(c.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(value), 0);
}
int TabCount(const Control& c) {
  return static_cast<int>(SendMessageW(c.hwnd, TCM_GETITEMCOUNT, 0, 0));
}
void TabAdd(const Control& c, std::wstring& text) {
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = text.data();
  SendMessageW(c.hwnd, TCM_INSERTITEMW, static_cast<WPARAM>(TabCount(c)),
               reinterpret_cast<LPARAM>(&item));
}
std::wstring TabItem(const Control& c, int index) {
  wchar_t buffer[256] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buffer;
  item.cchTextMax = 256;
  SendMessageW(c.hwnd, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  return item.pszText;
}
bool TabNotify(Win32Form& form, const Control& c, const NMHDR& header, LRESULT* result) {
  const std::string_view name = c.desc->Name;
  ui::FormEvents& events = form.Events();
  if (header.code == TCN_SELCHANGING) {
    bool allow = true;
    form.Toolkit().Guard([&] { allow = events.OnTabChanging(name); });
    *result = allow ? FALSE : TRUE;
  } else if (header.code == TCN_SELCHANGE) {
    form.Toolkit().Guard([&] { events.OnTabChanged(name); });
  }
  return true;
}

// --- image ------------------------------------------------------------------------------

void LoadPicture(Win32Form& form, Control& c) {
  const HINSTANCE instance = form.Toolkit().Instance();
  const std::wstring name = Utf8ToWide(c.desc->Text);
  OwnedBitmap picture(static_cast<HBITMAP>(
      LoadImageW(instance, name.c_str(), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
  if (!picture) return;
  if (form.Scale(96) != 96) {
    BITMAP info{};
    GetObjectW(picture.Get(), sizeof info, &info);
    OwnedBitmap scaled(static_cast<HBITMAP>(LoadImageW(instance, name.c_str(), IMAGE_BITMAP,
                                                       form.Scale(info.bmWidth),
                                                       form.Scale(info.bmHeight),
                                                       LR_DEFAULTCOLOR)));
    if (scaled) picture = std::move(scaled);
  }
  HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(SendMessageW(
      c.hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.Get())));
  // A picture the control made of its own (a copy) is the control's to free
  // only while it shows it; the one it showed before is ours or was its.
  if (previous != nullptr && previous != c.bitmap.Get() && previous != picture.Get())
    DeleteObject(previous);
  c.bitmap = std::move(picture);
}
void ImageSize(Win32Form& form, Control& c, int& width, int& height) {
  LoadPicture(form, c);
  if (c.bitmap) {
    BITMAP info{};
    GetObjectW(c.bitmap.Get(), sizeof info, &info);
    width = info.bmWidth;
    height = info.bmHeight;
  }
}

DWORD NoFlags(std::uint32_t) { return 0; }

constexpr int kNoClick = -1;
using ui::Kind;
using M = MnemonicAction;

// One row per ui::Kind, in its order.
const ControlKindRow kRows[] = {
    // Label
    {L"STATIC", 0, 0, 0, kNoClick, M::FocusTarget, false, true, false, false, &LabelStyle},
    // StaticText
    {L"STATIC", 0, 0, 0, kNoClick, M::FocusTarget, false, true, false, false, &LabelStyle},
    // LinkLabel
    {L"STATIC", 0, 0, 0, STN_CLICKED, M::FocusTarget, false, true, false, false, &LinkStyle,
     &LinkSetup},
    // Button
    {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, BN_CLICKED, M::Click, false, false, false,
     false, &NoFlags},
    // OkButton
    {L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, IDOK, BN_CLICKED, M::Click, false, false, false,
     false, &NoFlags, &GlyphSetup},
    // CancelButton
    {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, IDCANCEL, BN_CLICKED, M::Click, false, false,
     false, false, &NoFlags, &GlyphSetup},
    // GroupBox
    {kGroupBoxClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, kNoClick, M::FocusInside, false,
     false, false, false, &NoFlags},
    // CheckBox
    {L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0, 0, BN_CLICKED, M::Toggle, false, false, false,
     false, &NoFlags, nullptr, nullptr, nullptr, &CheckValue, &SetCheckValue},
    // HotKey
    {HOTKEY_CLASSW, WS_TABSTOP, WS_EX_CLIENTEDGE, 0, kNoClick, M::None, true, false, false,
     true, &NoFlags, &HotKeySetup, nullptr, nullptr, &HotKeyValue, &SetHotKeyValue},
    // SpinEdit
    {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 0, kNoClick, M::None, true,
     false, true, true, &NoFlags, &SpinSetup, nullptr, &SpinPlaced, &SpinValue, &SetSpinValue, nullptr,
     nullptr, nullptr, &SpinNotify},
    // DropDownList
    {WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, 0, kNoClick, M::None, true,
     false, false, false, &NoFlags, nullptr, &ListSize, &ListPlaced, &ListValue, &SetListValue, &ListAdd,
     &ListCount, &ListItem},
    // TabControl
    {WC_TABCONTROLW, WS_TABSTOP | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, kNoClick, M::None,
     false, false, false, true, &TabStyle, &TabSetup, nullptr, nullptr, &TabValue, &SetTabValue, &TabAdd,
     &TabCount, &TabItem, &TabNotify},
    // Image
    {L"STATIC", SS_BITMAP, 0, 0, kNoClick, M::None, false, false, false, false, &NoFlags, nullptr,
     &ImageSize},
    // Bevel
    {L"STATIC", SS_ETCHEDHORZ, 0, 0, kNoClick, M::None, false, false, false, false, &NoFlags},
};
static_assert(std::size(kRows) == static_cast<std::size_t>(Kind::Bevel) + 1);

}  // namespace

const ControlKindRow& KindRow(ui::Kind kind) { return kRows[static_cast<std::size_t>(kind)]; }

}  // namespace bvx::win32
