// The eject notice: a small stay-on-top window that asks the user to take a
// disc out of an open drive, with a countdown that closes it by itself.
//
// The shutdown guard creates one per drive that still holds a disc, sets
// Waiting and WaitName, shows it modally and destroys it afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace bvx {

// The countdown line: WaitPrefix + seconds in decimal + SecondsWord(seconds).
inline constexpr std::string_view WaitPrefix =
    "Внимание дверца будет закрыта автоматически через ";

// Endings of the countdown line by seconds mod 10.
inline constexpr std::array<std::string_view, 10> SecondsEndings = {
    " секунд.",   // 0
    " секунду.",  // 1
    " секунды.",  // 2
    " секунды.",  // 3
    " секунды.",  // 4
    " секунд.",   // 5
    " секунд.",   // 6
    " секунд.",   // 7
    " секунд.",   // 8
    " секунд.",   // 9
};

// The ending of 10..20 seconds.
inline constexpr std::string_view SecondsTeenEnding = " секунд.";

// Label1's caption as laid out: a template whose "%s" takes the drive name.
inline constexpr std::string_view NoticeTemplate =
    "Обнаружено наличие диска в приводе %s. Заберите его и закройте дверцу.";

// The Russian ending that goes with n seconds: " секунду.", " секунды." or
// " секунд.". Only 10..20 take the plural of their own; 111 is " секунду.".
std::string_view SecondsWord(std::uint32_t n);

// The notice's message for a drive: NoticeTemplate with its "%s" filled.
std::string NoticeMessage(std::string_view wait_name);

// The countdown line for the given seconds left.
std::string CountdownText(std::uint32_t seconds);

// The notice window's layout.
extern const ui::FormLayout kNotifyFormLayout;

class TfrmNotifyCD : public ui::FormEvents {
 public:
  // Creates the window hidden; Timer1 runs from here on.
  explicit TfrmNotifyCD(ui::Toolkit& toolkit);
  ~TfrmNotifyCD() override;
  TfrmNotifyCD(const TfrmNotifyCD&) = delete;
  TfrmNotifyCD& operator=(const TfrmNotifyCD&) = delete;

  // Shows the notice and returns when it has closed: 1 when the countdown
  // ran out, 2 when the user closed it.
  int ShowModal();

  void FormShow();
  void Timer1Timer();

  // --- ui::FormEvents ------------------------------------------------------
  void OnShow() override;
  bool OnCloseQuery() override;

  ui::Form& Window() { return *form_; }

  std::uint32_t Waiting = 0;  // seconds left
  std::string WaitName;       // "E:"

 private:
  std::unique_ptr<ui::Form> form_;
  std::unique_ptr<ui::Timer> Timer1;  // declared after the form: goes first
};

}  // namespace bvx
