// Pop-up menu model: items with tags, captions, images, displayed shortcuts
// and bound actions, and the two tidy-ups the user sees each time the menu
// opens (separator hiding and automatic accelerators). Portable; the toolkit
// only draws what Prepare() returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bvx::ui {

// An action: a caption and an execute handler that menu items can be bound to.
struct Action {
  std::string Caption;
  std::function<void()> OnExecute;
};

class MenuItem {
 public:
  std::string Name;
  std::string Caption;  // "-" makes a separator
  int Tag = 0;
  int ImageIndex = -1;
  std::uint16_t ShortCut = 0;
  std::string ShortCutText;  // shown right of the caption; empty shows none
  bool Visible = true;
  bool Enabled = true;
  Action* BoundAction = nullptr;  // caption and click come from it when set
  std::function<void(MenuItem&)> OnClick;

  // Command id of this item, unique within the program, fixed at creation.
  int Command() const { return command_; }
  bool IsSeparator() const { return BoundAction == nullptr && Caption == "-"; }
  const std::string& ShownCaption() const {
    return BoundAction != nullptr ? BoundAction->Caption : Caption;
  }
  // Runs the bound action, or else the click handler.
  void Click();

 private:
  friend class PopupMenu;
  int command_ = 0;
};

// One line of the menu as it is shown after the tidy-ups.
struct ShownItem {
  const MenuItem* Item = nullptr;
  bool Separator = false;
  std::string Caption;  // with the accelerator marked by "&"
  std::string ShortCutText;
  int ImageIndex = -1;
  int Command = 0;
  bool Enabled = true;
};

// The characters the automatic accelerators are chosen from.
inline constexpr std::string_view kAcceleratorChars = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";

class PopupMenu {
 public:
  PopupMenu() = default;
  PopupMenu(const PopupMenu&) = delete;
  PopupMenu& operator=(const PopupMenu&) = delete;

  // Appends an item; command ids are given in creation order from first_command.
  MenuItem& Add(std::string name, std::string caption, int image_index = -1);
  // Inserts a new item so that it stands at position pos (0-based).
  MenuItem& Insert(std::size_t pos, std::string name, std::string caption);
  // Frees the item; it leaves the menu.
  void Remove(const MenuItem* item);

  std::size_t Count() const { return items_.size(); }
  MenuItem& Items(std::size_t pos) const { return *items_.at(pos); }
  MenuItem* FindCommand(int command) const;
  MenuItem* FindName(std::string_view name) const;

  // The shown lines: hidden items left out, separators that would stand
  // first, last or doubled hidden (of a run only the last stays), and an
  // automatic accelerator for every shown item without one.
  std::vector<ShownItem> Prepare() const;

  // Bitmap resource holding the item images side by side (16 x 16 each).
  std::string ImageListResource;

 private:
  std::vector<std::unique_ptr<MenuItem>> items_;
  int next_command_ = 1;
};

// Index in caption of the character marked as accelerator by a single "&"
// ("&&" is a literal ampersand), or npos.
std::size_t AcceleratorPos(std::string_view caption);

}  // namespace bvx::ui
