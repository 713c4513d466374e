// The tray menu model: order of items, separator hiding, automatic accelerators.
#include <gtest/gtest.h>

#include "platform/menu.h"

namespace bvx::ui {
namespace {

std::vector<std::string> Lines(const PopupMenu& m) {
  std::vector<std::string> out;
  for (const ShownItem& s : m.Prepare()) out.push_back(s.Separator ? "-" : s.Caption);
  return out;
}

TEST(PopupMenu, SeparatorsFirstLastAndDoubledAreHidden) {
  struct Case {
    std::vector<std::string> captions;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {{"-", "Выход"}, {"Выход"}},
      {{"Выход", "-"}, {"Выход"}},
      {{"-", "-", "Выход", "-", "-"}, {"Выход"}},
      {{"А", "-", "-", "Б"}, {"А", "-", "Б"}},
      {{"А", "-", "Б", "-", "В"}, {"А", "-", "Б", "-", "В"}},
      {{"-", "-"}, {}},
  };
  for (const Case& c : cases) {
    PopupMenu m;
    for (const auto& caption : c.captions) m.Add("", caption);
    EXPECT_EQ(Lines(m), c.shown);
  }
}

TEST(PopupMenu, HiddenItemsDoNotKeepSeparatorsApart) {
  PopupMenu m;
  m.Add("", "А");
  m.Add("", "-");
  m.Add("", "Б").Visible = false;
  m.Add("", "-");
  m.Add("", "В");
  EXPECT_EQ(Lines(m), (std::vector<std::string>{"А", "-", "В"}));
}

TEST(PopupMenu, AcceleratorsComeFromTheSetAndAreUsedOnce) {
  PopupMenu m;
  m.Add("", "Открыть D:");
  m.Add("", "Закрыть D:");
  m.Add("", "Открыть F:");
  m.Add("", "Закрыть F:");
  m.Add("", "Параметры...");
  m.Add("", "Run 1x");
  m.Add("", "x&Yz");
  m.Add("", "Yy");
  EXPECT_EQ(Lines(m), (std::vector<std::string>{"Открыть &D:", "Закрыть D:", "Открыть &F:",
                                                 "Закрыть F:", "Параметры...", "&Run 1x", "x&Yz",
                                                 "Yy"}));
}

TEST(PopupMenu, AcceleratorIgnoresCaseAndLiteralAmpersands) {
  PopupMenu m;
  m.Add("", "d1");
  m.Add("", "D1");
  m.Add("", "A&&B");
  EXPECT_EQ(Lines(m), (std::vector<std::string>{"&d1", "D&1", "&A&&B"}));
  EXPECT_EQ(AcceleratorPos("A&&B"), std::string_view::npos);
  EXPECT_EQ(AcceleratorPos("O&K"), 2u);
  EXPECT_EQ(AcceleratorPos("OK&"), std::string_view::npos);
}

TEST(PopupMenu, InsertPlacesItemsAndCommandsFollowCreation) {
  PopupMenu m;
  MenuItem& a = m.Add("a", "A");
  MenuItem& b = m.Insert(0, "b", "B");
  MenuItem& c = m.Insert(1, "c", "C");
  EXPECT_EQ(&m.Items(0), &b);
  EXPECT_EQ(&m.Items(1), &c);
  EXPECT_EQ(&m.Items(2), &a);
  EXPECT_EQ(a.Command(), 1);
  EXPECT_EQ(b.Command(), 2);
  EXPECT_EQ(m.FindCommand(3), &c);
  m.Remove(&c);
  EXPECT_EQ(m.Count(), 2u);
  EXPECT_EQ(m.FindCommand(3), nullptr);
}

TEST(PopupMenu, BoundActionGivesCaptionAndClick) {
  PopupMenu m;
  Action act{"Добавить в автозагрузку", {}};
  int runs = 0;
  act.OnExecute = [&] { ++runs; };
  MenuItem& item = m.Add("mnuiStartup", "");
  int clicks = 0;
  item.OnClick = [&](MenuItem&) { ++clicks; };
  item.BoundAction = &act;
  EXPECT_EQ(Lines(m), (std::vector<std::string>{"Добавить в автозагрузку"}));
  item.Click();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(clicks, 0);
}

}  // namespace
}  // namespace bvx::ui
