// The program on the fake, started as its entry starts the main window: the
// one fixture of the tests that go through the main window. A room's own
// tests build the room's object on the fake instead, over a drive table of
// their own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/bvx_main.h"
#include "fake/fake_system.h"

namespace bvx {

// The settings file beside the fake's executable.
inline const std::string kIni = "C:\\Program Files\\Brimvex\\BVX.ini";

struct Program {
  fake::FakeSystem sys;
  std::unique_ptr<TAboutForm> form;
  ui::FormEvents window_events;
  std::unique_ptr<ui::Form> window;  // stands for the main window in a room's own test

  // Starts the main window with these optical drives, those of them that
  // hold a disc, and this settings file (none: no file).
  void Start(std::set<char> cdroms = {}, std::set<char> discs = {},
             std::optional<std::string> file = std::nullopt) {
    sys.os.cdroms = std::move(cdroms);
    sys.os.discs = std::move(discs);
    if (file) sys.os.files[kIni] = *file;
    sys.ui.SetTitle("Brimvex");  // as the program entry does before the window
    form = std::make_unique<TAboutForm>(sys.os, sys.ui);
  }
  TCDROM& Drive(int k) { return form->drives.DriveTable[k]; }
  fake::FakeForm& Main() { return *sys.ui.MainForm(); }
  // A window of its own for a room built without the program: the first made, 0x100.
  ui::Form& Window() {
    static const ui::FormLayout layout{.ClassName = "Main"};
    if (!window) window = sys.ui.CreateForm(layout, window_events);
    return *window;
  }
};

struct ProgramTest : ::testing::Test, Program {};

// A drive table as discovery fills it: the drives with these letters, in
// order, those in discs holding a disc.
inline Drives DriveTableOf(std::string_view letters, std::string_view discs = {}) {
  Drives drives;
  for (const char letter : letters) {
    TCDROM& d = drives.DriveTable[++drives.DriveCount];
    d.Letter = letter;
    d.DeviceName = DriveDeviceName(letter);
    d.UnitMask = DriveUnitMask(letter);
    d.WaitFor = 15;
    d.DiscPresent = discs.find(letter) != std::string_view::npos;
  }
  return drives;
}

}  // namespace bvx
