// The About window: the main window's layout and its two links.
#include "about/about_form.h"

#include "about/LinkLabel.h"
#include "app/bvx_main.h"
#include "version.h"

namespace bvx {

namespace {

using ui::ControlRow;
using ui::Kind;
using ui::Rgb;

constexpr ui::Color kGrey = ui::kTextGrey;
constexpr ui::Font kFormFont{"MS Sans Serif", -11, false, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kTextFont{"Arial", -13, false, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kLinkHoverFont{"Arial", -13, false, true, kGrey, ui::kDefaultCharset};

constexpr std::string_view kMailAddress = "team@brimvex.example.org";
constexpr std::string_view kSiteAddress = "https://brimvex.example.org/";

constexpr ControlRow kAboutControls[] = {
    {.Name = "Button1", .ControlKind = Kind::Button, .Left = 202, .Top = 94, .Width = 75,
     .Height = 22, .Text = "&Закрыть", .TabOrder = 0},
    {.Name = "Image1", .ControlKind = Kind::Image, .Left = 3, .Top = 3, .Width = 227, .Height = 42,
     .Text = "BANNER", .Flags = ui::kTransparent | ui::kAutoSize},
    {.Name = "Bevel1", .ControlKind = Kind::Bevel, .Left = 3, .Top = 60, .Width = 274, .Height = 2},
    {.Name = "LinkLabel1", .ControlKind = Kind::LinkLabel, .Left = 4, .Top = 82, .Width = 137,
     .Height = 20, .Text = "© Команда Brimvex", .ControlFont = &kTextFont, .TabOrder = 1,
     .Flags = ui::kAutoSize, .CursorId = kLinkCursor, .HoverFont = &kLinkHoverFont,
     .Hint = kMailAddress},
    {.Name = "LinkLabel2", .ControlKind = Kind::LinkLabel, .Left = 4, .Top = 101, .Width = 159,
     .Height = 20, .Text = "Посетить сайт программы", .ControlFont = &kTextFont, .TabOrder = 2,
     .Flags = ui::kAutoSize, .CursorId = kLinkCursor, .HoverFont = &kLinkHoverFont,
     .Hint = kSiteAddress},
    {.Name = "StaticText1", .ControlKind = Kind::StaticText, .Left = 4, .Top = 64, .Width = 87,
     .Height = 20, .Text = "Версия " BVX_PRODUCT_VERSION, .ControlFont = &kTextFont, .TabOrder = 3},
};

}  // namespace

const ui::FormLayout kAboutFormLayout{
    .ClassName = "TAboutForm",
    .Caption = "О программе",
    .ClientWidth = 280,
    .ClientHeight = 119,
    .Background = Rgb(240, 240, 240),
    .FormFont = kFormFont,
    .Flags = ui::kDialogFrame | ui::kCloseBoxOnly | ui::kCenterDesktop,
    .Controls = kAboutControls,
};

void TAboutForm::CreateLinkLabels() {
  LinkLabel1 = std::make_unique<TLinkLabel>(os_, *window_, "LinkLabel1", kTextFont, kLinkHoverFont);
  LinkLabel2 = std::make_unique<TLinkLabel>(os_, *window_, "LinkLabel2", kTextFont, kLinkHoverFont);
  LinkLabel1->CreateWnd();
  LinkLabel2->CreateWnd();
}

void TAboutForm::LinkLabel1Click() {
  os_.ShellOpen(window_->Handle(),
               "mailto:" + std::string(kMailAddress) + "?subject=Brimvex%20" BVX_SHORT_VERSION,
               ShowAs::Normal);
}

void TAboutForm::LinkLabel2Click() {
  os_.ShellOpen(window_->Handle(), kSiteAddress, ShowAs::Maximized);
}

}  // namespace bvx
