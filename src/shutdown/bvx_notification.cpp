// The eject notice and the wording of its countdown.
#include "shutdown/bvx_notification.h"

namespace bvx {

namespace {

using ui::ControlRow;
using ui::Kind;
using ui::Rgb;

constexpr ui::Color kGrey = ui::kTextGrey;
constexpr ui::Font kFormFont{"MS Sans Serif", -11, true, false, kGrey, ui::kRussianCharset};
constexpr ui::Font kCountdownFont{"MS Sans Serif", -13, true, false, kGrey, ui::kRussianCharset};

constexpr ControlRow kNotifyControls[] = {
    {.Name = "Label1", .ControlKind = Kind::Label, .Left = 0, .Top = 0, .Width = 256, .Height = 26,
     .Text = NoticeTemplate, .Flags = ui::kTransparent | ui::kWordWrap | ui::kAutoSize},
    {.Name = "lblBack", .ControlKind = Kind::Label, .Left = 0, .Top = 46, .Width = 302,
     .Height = 32, .ControlFont = &kCountdownFont, .Flags = ui::kTransparent | ui::kWordWrap},
};

// text with its first "%s" replaced by value.
std::string FillTemplate(std::string_view text, std::string_view value) {
  std::string out(text);
  const std::size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

}  // namespace

const ui::FormLayout kNotifyFormLayout{
    .ClassName = "TfrmNotifyCD",
    .Caption = "Извлечение диска",
    .ClientWidth = 304,
    .ClientHeight = 80,
    .Background = Rgb(240, 240, 240),
    .FormFont = kFormFont,
    .Flags = ui::kDialogFrame | ui::kCloseBoxOnly | ui::kStayOnTop | ui::kCenterDesktop,
    .BorderWidth = 3,
    .Controls = kNotifyControls,
};

std::string_view SecondsWord(std::uint32_t n) {
  if (n >= 10 && n <= 20) return SecondsTeenEnding;
  return SecondsEndings[n % 10];
}

std::string NoticeMessage(std::string_view wait_name) {
  return FillTemplate(NoticeTemplate, wait_name);
}

std::string CountdownText(std::uint32_t seconds) {
  return std::string(WaitPrefix) + std::to_string(seconds) + std::string(SecondsWord(seconds));
}

TfrmNotifyCD::TfrmNotifyCD(ui::Toolkit& toolkit) {
  form_ = toolkit.CreateForm(kNotifyFormLayout, *this);
  Timer1 = toolkit.CreateTimer(*form_, 1000, true, [this] { Timer1Timer(); });
}

TfrmNotifyCD::~TfrmNotifyCD() {
  Timer1.reset();
  form_.reset();
}

int TfrmNotifyCD::ShowModal() { return form_->ShowModal(); }

void TfrmNotifyCD::FormShow() {
  form_->SetText("Label1", FillTemplate(form_->Text("Label1"), WaitName));
  form_->SetText("lblBack", CountdownText(Waiting));
}

void TfrmNotifyCD::Timer1Timer() {
  if (Waiting == 0) {
    form_->SetModalResult(ui::kModalOk);
    return;
  }
  --Waiting;
  form_->SetText("lblBack", CountdownText(Waiting));
}

void TfrmNotifyCD::OnShow() { FormShow(); }

// The close box, system menu and Alt+F4 end the wait early (modal result 2).
bool TfrmNotifyCD::OnCloseQuery() { return true; }

}  // namespace bvx
