#include "platform/menu.h"

#include <algorithm>
#include <bitset>

namespace bvx::ui {

void MenuItem::Click() {
  if (BoundAction != nullptr) {
    if (BoundAction->OnExecute) BoundAction->OnExecute();
  } else if (OnClick) {
    OnClick(*this);
  }
}

MenuItem& PopupMenu::Add(std::string name, std::string caption, int image_index) {
  MenuItem& item = Insert(items_.size(), std::move(name), std::move(caption));
  item.ImageIndex = image_index;
  return item;
}

MenuItem& PopupMenu::Insert(std::size_t pos, std::string name, std::string caption) {
  auto item = std::make_unique<MenuItem>();
  item->Name = std::move(name);
  item->Caption = std::move(caption);
  item->command_ = next_command_++;
  pos = std::min(pos, items_.size());
  return **items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(item));
}

void PopupMenu::Remove(const MenuItem* item) {
  std::erase_if(items_, [item](const auto& p) { return p.get() == item; });
}

MenuItem* PopupMenu::FindCommand(int command) const {
  for (const auto& p : items_)
    if (p->Command() == command) return p.get();
  return nullptr;
}

MenuItem* PopupMenu::FindName(std::string_view name) const {
  for (const auto& p : items_)
    if (p->Name == name) return p.get();
  return nullptr;
}

std::size_t AcceleratorPos(std::string_view caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;  // a literal ampersand
      continue;
    }
    return i + 1;
  }
  return std::string_view::npos;
}

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Index of c in the accelerator set, or -1.
int AcceleratorIndex(char c) {
  const auto pos = kAcceleratorChars.find(Upper(c));
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

}  // namespace

std::vector<ShownItem> PopupMenu::Prepare() const {
  std::vector<ShownItem> shown;
  for (const auto& p : items_) {
    const MenuItem& item = *p;
    if (!item.Visible) continue;
    if (item.IsSeparator()) {
      if (shown.empty()) continue;  // would stand first
      if (shown.back().Separator) shown.pop_back();  // of a run, only the last stays
      shown.push_back(ShownItem{&item, true, {}, {}, -1, item.Command(), true});
      continue;
    }
    shown.push_back(ShownItem{&item, false, item.ShownCaption(), item.ShortCutText,
                              item.ImageIndex, item.Command(), item.Enabled});
  }
  if (!shown.empty() && shown.back().Separator) shown.pop_back();  // would stand last

  // Accelerators: those the captions carry are taken first; every other item
  // gets the first free character of its caption from the accelerator set.
  std::bitset<kAcceleratorChars.size()> used;
  for (const ShownItem& s : shown) {
    const auto pos = AcceleratorPos(s.Caption);
    if (pos == std::string_view::npos) continue;
    const int index = AcceleratorIndex(s.Caption[pos]);
    if (index >= 0) used.set(static_cast<std::size_t>(index));
  }
  for (ShownItem& s : shown) {
    if (s.Separator || AcceleratorPos(s.Caption) != std::string_view::npos) continue;
    for (std::size_t i = 0; i < s.Caption.size(); ++i) {
      const int index = AcceleratorIndex(s.Caption[i]);
      if (index < 0 || used.test(static_cast<std::size_t>(index))) continue;
      used.set(static_cast<std::size_t>(index));
      s.Caption.insert(i, 1, '&');
      break;
    }
  }
  return shown;
}

}  // namespace bvx::ui
