// The toolkit's pop-up menus: built from the PopupMenu model each time one
// is shown, their commands found again in the attached menus, and their
// images drawn on request from the menu's image strip.
#include "platform/win32/win32_menus.h"

#include <algorithm>
#include <string>

#include "platform/errors.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_dlls.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_toolkit.h"

namespace bvx::win32 {

namespace {

constexpr COLORREF kImageKeyColor = RGB(255, 0, 255);  // transparent in image strips

// The size of a menu's images at a DPI: of the strips a menu has (16, 20,
// 24 and 32 px: the bitmap resource of the 16 px strip, and the same name
// with the size after it, "IMGLMAIN24"), the largest that is no larger
// than 16 px at that scale.
int MenuImageSize(UINT dpi) {
  const int wanted = MulDiv(kMenuImageSize, static_cast<int>(dpi), 96);
  int size = kMenuImageSize;
  for (const int strip : {20, 24, 32})
    if (strip <= wanted) size = strip;
  return size;
}

}  // namespace

HIMAGELIST LoadStrip(HINSTANCE instance, const wchar_t* name, int size) {
  const CommonControls* cc = LoadCommonControls();
  if (cc == nullptr) return nullptr;
  OwnedBitmap strip(static_cast<HBITMAP>(
      LoadImageW(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP bitmap{};
  if (!strip || GetObjectW(strip.Get(), sizeof bitmap, &bitmap) == 0) return nullptr;
  // A list of 24-bit pictures whatever the strip's depth: one of the
  // strip's own depth (ImageList_LoadImageW makes that) would map a
  // palette's colours to a standard one.
  HIMAGELIST list = cc->ImageListCreate(size, bitmap.bmHeight, ILC_COLOR24 | ILC_MASK,
                                        bitmap.bmWidth / size, 0);
  if (list == nullptr) return nullptr;
  cc->ImageListAddMasked(list, strip.Get(), kImageKeyColor);
  return list;
}

// --- menus -----------------------------------------------------------------------------------

HIMAGELIST Win32Toolkit::MenuImages(const std::string& resource) {
  // The strip for the DPI of the notification area, by which the menu opens.
  const int size = MenuImageSize(NotificationAreaDpi(AppWindow()));
  const std::string name = size == kMenuImageSize ? resource : resource + std::to_string(size);
  const auto found = menu_images_.find(name);
  if (found != menu_images_.end()) return found->second.Get();
  OwnedImageList list(LoadStrip(instance_, Utf8ToWide(name).c_str(), size));
  return menu_images_.emplace(name, std::move(list)).first->second.Get();
}

void Win32Toolkit::AttachMenu(ui::PopupMenu& menu, ui::Form& owner) {
  auto& known = menus_[ToHwnd(owner.Handle())];
  if (std::find(known.begin(), known.end(), &menu) == known.end()) known.push_back(&menu);
}

void Win32Toolkit::PrepareMenu(ui::PopupMenu& menu) {
  // The image strip, and with it the common controls on the first call.
  if (!menu.ImageListResource.empty()) MenuImages(menu.ImageListResource);
}

void Win32Toolkit::Popup(ui::PopupMenu& menu, ui::Form& owner, Point at) {
  HWND owner_window = ToHwnd(owner.Handle());
  AttachMenu(menu, owner);

  HIMAGELIST images =
      menu.ImageListResource.empty() ? nullptr : MenuImages(menu.ImageListResource);
  const int image_count =
      images != nullptr ? LoadCommonControls()->ImageListGetImageCount(images) : 0;

  const OwnedMenu handle(CreatePopupMenu());
  if (!handle) throw Error("Out of system resources");
  UINT position = 0;
  for (const ui::ShownItem& shown : menu.Prepare()) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID;
    info.wID = static_cast<UINT>(shown.Command);
    std::wstring text;
    if (shown.Separator) {
      info.fType = MFT_SEPARATOR;
    } else {
      text = Utf8ToWide(shown.Caption);
      if (!shown.ShortCutText.empty()) text += L'\t' + Utf8ToWide(shown.ShortCutText);
      info.fMask |= MIIM_STRING | MIIM_STATE;
      info.fType = MFT_STRING;
      info.dwTypeData = text.data();
      info.fState = shown.Enabled ? MFS_ENABLED : MFS_DISABLED;
      if (shown.ImageIndex >= 0 && shown.ImageIndex < image_count) {
        // The image is drawn on request (WM_MEASUREITEM / WM_DRAWITEM).
        info.fMask |= MIIM_BITMAP | MIIM_DATA;
        info.hbmpItem = HBMMENU_CALLBACK;
        info.dwItemData = static_cast<ULONG_PTR>(shown.ImageIndex);
      }
    }
    InsertMenuItemW(handle.Get(), position++, TRUE, &info);
  }
  shown_menu_images_ = images;
  // No TPM_RETURNCMD: the chosen item's WM_COMMAND comes through the queue.
  TrackPopupMenu(handle.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner_window,
                 nullptr);
  shown_menu_images_ = nullptr;
  // A message of no meaning after the menu, so that it closes at once when
  // the user clicks elsewhere while the owner is in the foreground.
  PostMessageW(owner_window, WM_USER, 0, 0);
}

bool Win32Toolkit::MenuCommand(HWND owner, int command) {
  const auto found = menus_.find(owner);
  if (found == menus_.end()) return false;
  for (ui::PopupMenu* menu : found->second) {
    if (ui::MenuItem* item = menu->FindCommand(command)) {
      Guard([&] { item->Click(); });
      return true;
    }
  }
  return false;
}

bool Win32Toolkit::MeasureMenuItem(MEASUREITEMSTRUCT& item) {
  if (item.CtlType != ODT_MENU || shown_menu_images_ == nullptr) return false;
  int width = kMenuImageSize;
  int height = kMenuImageSize;
  LoadCommonControls()->ImageListGetIconSize(shown_menu_images_, &width, &height);
  item.itemWidth = static_cast<UINT>(width);
  item.itemHeight = static_cast<UINT>(height);
  return true;
}

bool Win32Toolkit::DrawMenuItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_MENU || shown_menu_images_ == nullptr) return false;
  int width = kMenuImageSize;
  int height = kMenuImageSize;
  const CommonControls* cc = LoadCommonControls();
  cc->ImageListGetIconSize(shown_menu_images_, &width, &height);
  const int room_x = static_cast<int>(item.rcItem.right - item.rcItem.left) - width;
  const int room_y = static_cast<int>(item.rcItem.bottom - item.rcItem.top) - height;
  const int x = static_cast<int>(item.rcItem.left) + std::max(0, room_x / 2);
  const int y = static_cast<int>(item.rcItem.top) + std::max(0, room_y / 2);
  cc->ImageListDraw(shown_menu_images_, static_cast<int>(item.itemData), item.hDC, x, y,
                    (item.itemState & ODS_GRAYED) ? ILD_BLEND50 : ILD_TRANSPARENT);
  return true;
}

}  // namespace bvx::win32
