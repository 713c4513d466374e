#include "platform/toolkit_rules.h"

#include <algorithm>
#include <climits>

namespace bvx::ui {

int ModalResultOfClick(Kind kind) {
  if (kind == Kind::OkButton) return kModalOk;
  if (kind == Kind::CancelButton) return kModalCancel;
  return 0;
}

CloseAction AfterCloseQuery(bool allowed, bool modal) {
  if (!allowed) return CloseAction::Stay;
  return modal ? CloseAction::Cancel : CloseAction::Hide;
}

const Font& InitialFont(const ControlRow& row, const Font& parent_font) {
  return row.ControlFont != nullptr ? *row.ControlFont : parent_font;
}

std::string_view InitialText(const ControlRow& row) {
  switch (row.ControlKind) {
    case Kind::SpinEdit:
      return row.Text.empty() ? std::string_view("0") : row.Text;
    case Kind::HotKey: case Kind::DropDownList: case Kind::TabControl: case Kind::Image:
    case Kind::Bevel:
      return {};
    default:
      return row.Text;
  }
}

bool IsTabStopKind(Kind kind) {
  return kind == Kind::Button || kind == Kind::OkButton || kind == Kind::CancelButton ||
         kind == Kind::CheckBox || kind == Kind::HotKey || kind == Kind::SpinEdit ||
         kind == Kind::DropDownList || kind == Kind::TabControl;
}

bool IsMnemonicKey(std::optional<Kind> focused, bool alt, bool takes_chars) {
  if (focused == Kind::HotKey) return false;
  return alt || !takes_chars;
}

namespace {

int TabKey(const ControlRow& row) { return row.TabOrder < 0 ? INT_MAX : row.TabOrder; }

void WalkChildren(const FormLayout& layout, std::string_view parent,
                  std::vector<std::size_t>& out) {
  // The children in tab order, rows of equal order in row order (an
  // insertion sort: a form has a few dozen controls).
  std::vector<std::size_t> children;
  for (std::size_t i = 0; i < layout.Controls.size(); ++i) {
    const ControlRow& row = layout.Controls[i];
    // A row that names itself as parent would walk for ever.
    if (row.Parent != parent || row.Name == parent) continue;
    auto at = children.end();
    while (at != children.begin() && TabKey(layout.Controls[*(at - 1)]) > TabKey(row)) --at;
    children.insert(at, i);
  }
  for (const std::size_t i : children) {
    // A parent cycle ends where a row comes round again.
    if (std::find(out.begin(), out.end(), i) != out.end()) continue;
    out.push_back(i);
    WalkChildren(layout, layout.Controls[i].Name, out);
  }
}

}  // namespace

std::vector<std::size_t> TabWalk(const FormLayout& layout) {
  std::vector<std::size_t> out;
  WalkChildren(layout, {}, out);
  return out;
}

namespace {

// The row that row i labels and lies directly above, or npos.
std::size_t LabelledField(const FormLayout& layout, std::size_t i) {
  const ControlRow& label = layout.Controls[i];
  if (label.Labels.empty() || label.Labels == label.Name) return std::string::npos;
  for (std::size_t j = 0; j < layout.Controls.size(); ++j) {
    const ControlRow& field = layout.Controls[j];
    if (field.Name != label.Labels) continue;
    // The first row of that name, as the toolkits find controls by name.
    if (field.Parent != label.Parent || !field.Labels.empty()) return std::string::npos;
    return j;
  }
  return std::string::npos;
}

}  // namespace

std::vector<std::size_t> SiblingOrder(const FormLayout& layout) {
  const std::size_t n = layout.Controls.size();
  std::vector<std::size_t> field_of(n);
  for (std::size_t i = 0; i < n; ++i) field_of[i] = LabelledField(layout, i);
  std::vector<std::size_t> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (field_of[i] != std::string::npos) continue;
    out.push_back(i);
    for (std::size_t j = 0; j < n; ++j)
      if (field_of[j] == i) out.push_back(j);
  }
  return out;
}

namespace {

constexpr std::uint16_t kShortcutShift = 0x2000;
constexpr std::uint16_t kShortcutCtrl = 0x4000;
constexpr std::uint16_t kShortcutAlt = 0x8000;
constexpr std::uint16_t kHotKeyShift = 0x01;
constexpr std::uint16_t kHotKeyCtrl = 0x02;
constexpr std::uint16_t kHotKeyAlt = 0x04;
constexpr std::uint16_t kHotKeyExtended = 0x08;

}  // namespace

KeyCombination ShortcutCombination(std::uint16_t shortcut) {
  return {(shortcut & kShortcutShift) != 0, (shortcut & kShortcutCtrl) != 0,
          (shortcut & kShortcutAlt) != 0, shortcut & 0x1FFFu};
}

int SpinEditValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return 0;
  // More digits than the field holds stop the value at the end of the int
  // range on their side; they still have to be digits all the way.
  constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 1;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = std::min(value * 10 + (text[i] - '0'), kBeyond);
  }
  return static_cast<int>(negative ? -value : std::min<long long>(value, INT_MAX));
}

std::string SpinEditStep(std::string_view text, int delta) {
  const long long value =
      std::clamp<long long>(static_cast<long long>(SpinEditValue(text)) + delta, INT_MIN, INT_MAX);
  return std::to_string(value);
}

bool IsSpinEditChar(char32_t ch) {
  return ch < U' ' || (ch >= U'0' && ch <= U'9') || ch == U'+' || ch == U'-';
}

bool IsExtendedKey(unsigned vk) {
  switch (vk) {
    case 0x21: case 0x22: case 0x23: case 0x24:  // Page Up, Page Down, End, Home
    case 0x25: case 0x26: case 0x27: case 0x28:  // arrows
    case 0x2D: case 0x2E:                        // Insert, Delete
    case 0x6F: case 0x90:                        // numeric keypad "/", Num Lock
      return true;
    default:
      return false;
  }
}

std::uint16_t HotKeyWordToShortcut(std::uint16_t word) {
  const unsigned mods = (word >> 8) & 0xFF;
  std::uint16_t shortcut = word & 0xFF;
  if (mods & kHotKeyShift) shortcut |= kShortcutShift;
  if (mods & kHotKeyCtrl) shortcut |= kShortcutCtrl;
  if (mods & kHotKeyAlt) shortcut |= kShortcutAlt;
  return shortcut;
}

std::uint16_t ShortcutToHotKeyWord(std::uint16_t shortcut) {
  const unsigned vk = shortcut & 0xFF;
  unsigned mods = 0;
  if (shortcut & kShortcutShift) mods |= kHotKeyShift;
  if (shortcut & kShortcutCtrl) mods |= kHotKeyCtrl;
  if (shortcut & kShortcutAlt) mods |= kHotKeyAlt;
  if (IsExtendedKey(vk)) mods |= kHotKeyExtended;
  return static_cast<std::uint16_t>((mods << 8) | vk);
}

}  // namespace bvx::ui
