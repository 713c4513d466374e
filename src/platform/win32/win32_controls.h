// Each control kind's behaviour in one row: the window it is made of, what
// is done once it exists, how it is placed, its value and items, which
// notification is its click, and what its mnemonic does. A change to one
// kind is a change to its row.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_form.h"

namespace bvx::win32 {

// The window class of group boxes: this layer's own, painting its frame and
// caption itself (no theme, no click-through).
inline constexpr wchar_t kGroupBoxClass[] = L"TGroupBox";
inline constexpr UINT_PTR kSubclassId = 1;

// What the control's accelerator does.
enum class MnemonicAction : std::uint8_t {
  None,
  Click,        // push buttons: a click (Enter on a focused one, too)
  Toggle,       // check boxes: focus and a click
  FocusInside,  // group boxes: focus the first control inside
  FocusTarget,  // labels: focus the row's FocusControl
};

struct ControlKindRow {
  const wchar_t* window_class;
  DWORD style;     // beside WS_CHILD | WS_CLIPSIBLINGS, visibility and state
  DWORD ex_style;
  int fixed_id;    // IDOK / IDCANCEL, or 0: numbered by its row
  int click_code;  // the WM_COMMAND notification that is a click; -1: none
  MnemonicAction mnemonic;
  bool field;       // drawn in the window colours (edit fields and lists)
  bool fits_text;   // sizes itself to its text when the row says kAutoSize
  bool select_all;  // its text is selected when Tab moves to it
  bool common_control;  // its classes come with comctl32 (loaded before it is made)
  // Style bits from the row's flags.
  DWORD (*flag_style)(std::uint32_t flags);
  // After the window exists: subclassing, arrows, first tab, glyphs.
  void (*setup)(Win32Form& form, Control& c);
  // Placement: the size to give the window, and what follows the move.
  void (*size)(Win32Form& form, Control& c, int& width, int& height);
  void (*placed)(Win32Form& form, Control& c);
  // Value and items; null where the kind has none.
  int (*value)(const Control& c);
  void (*set_value)(const Control& c, int value);
  void (*add_item)(const Control& c, std::wstring& text);
  int (*item_count)(const Control& c);
  std::wstring (*item)(const Control& c, int index);
  // WM_NOTIFY from the control (or its arrows); true when handled.
  bool (*notify)(Win32Form& form, const Control& c, const NMHDR& header, LRESULT* result);
};

const ControlKindRow& KindRow(ui::Kind kind);

std::wstring WindowText(HWND hwnd);

// Subclassing through the common controls, loaded on first use. The
// subclass procedures run only on windows subclassed this way, so the
// library is loaded whenever they are called.
void Subclass(HWND hwnd, SUBCLASSPROC proc, Win32Form& form);
// DefSubclassProc; the subclass is removed at WM_NCDESTROY.
LRESULT DefSubclass(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, SUBCLASSPROC proc);

}  // namespace bvx::win32
