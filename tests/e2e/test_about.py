#!/usr/bin/env python3
"""The autostart entry and the About window with its two links, on the real
BVX.exe under Wine."""

import re
import shutil
import unittest
from typing import Optional

import harness
from harness import (CMD_ABOUT, CMD_STARTUP, MAIN_CLASS, MENU_CLASS, STEP_TIMEOUT, WM_COMMAND,
                     WM_MOUSEHOVER, WM_MOUSELEAVE, WM_MOUSEMOVE, BvxTestCase, parse_popup_items,
                     wait_for)

setUpModule = harness.module_setup("about")
tearDownModule = harness.tearDownModule

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
# Task Manager's "Disable"/"Enable" marks of the Run values.
APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
ADD_CAPTION = "Добавить в автозагрузку"
REMOVE_CAPTION = "Удалить из автозагрузки"


class AutostartTestCase(BvxTestCase):

    def setUp(self) -> None:
        super().setUp()
        # Every test starts without the entries it makes, and leaves none.
        for key in (RUN_KEY, APPROVED_KEY):
            for name in ("BVX", "Brimvex Tray.v2"):
                self.wine_tool("reg", "delete", key, "/v", name, "/f")
                self.addCleanup(self.wine_tool, "reg", "delete", key, "/v", name, "/f")

    def run_value(self, name: str, key: str = RUN_KEY) -> Optional[tuple[str, str]]:
        """(type, data) of the Run key's value, None when it is missing."""
        code, text = self.wine_tool("reg", "query", key, "/v", name)
        if code != 0:
            return None
        for line in text.splitlines():
            match = re.match(r"^\s+(.+?)\s{4}(REG_\w+)\s{4}(.*)$", line.rstrip("\r"))
            if match and match.group(1) == name:
                return match.group(2), match.group(3)
        raise AssertionError(f"reg query succeeded without the value {name!r}:\n{text}")

    def startup_item(self, program: harness.Bvx) -> str:
        """The autostart item's caption, as the tray menu shows it when it
        opens (WINEDEBUG=+menu lists the items Wine measures)."""
        before = len(parse_popup_items(program.log_text()))
        self.open_tray_menu()
        menus = wait_for(lambda: [m for m in parse_popup_items(program.log_text())[before:] if m],
                         STEP_TIMEOUT, "the menu's items in the +menu trace")
        self.session.keys("Escape")
        self.driver("wait-visible", MENU_CLASS, 0, int(STEP_TIMEOUT * 1000))
        items = [item.split("\t")[0].replace("&", "") for item in menus[-1]]
        found = [item for item in items if item in (ADD_CAPTION, REMOVE_CAPTION)]
        self.assertEqual(len(found), 1, f"one autostart item expected in {items}")
        return found[0]


class AutostartTest(AutostartTestCase):

    def test_the_menu_item_adds_and_removes_the_run_value(self):
        self.assertIsNone(self.run_value("BVX"))
        program = self.start(debug="+timestamp,+menu")
        exe = self.windows_path(self.folder / "BVX.exe")
        self.assertEqual(self.startup_item(program), ADD_CAPTION)

        # Each choice flips the entry and the item's caption.
        steps = [(("REG_SZ", f'"{exe}"'), REMOVE_CAPTION), (None, ADD_CAPTION),
                 (("REG_SZ", f'"{exe}"'), REMOVE_CAPTION)]
        for number, (value, caption) in enumerate(steps, start=1):
            with self.subTest(choice=number):
                self.post((WM_COMMAND, CMD_STARTUP, 0))
                wait_for(lambda: self.run_value("BVX") == value, STEP_TIMEOUT,
                         f"the Run value to be {value}",
                         describe=lambda: f"now {self.run_value('BVX')}")
                self.assertEqual(self.startup_item(program), caption)
        self.assertEqual(self.exit_program(program), 0)
        # The entry outlives the program; a new start finds it.
        self.assertEqual(self.run_value("BVX"), ("REG_SZ", f'"{exe}"'))
        again = self.start(debug="+timestamp,+menu")
        self.assertEqual(self.startup_item(again), REMOVE_CAPTION)
        self.post((WM_COMMAND, CMD_STARTUP, 0))
        wait_for(lambda: self.run_value("BVX") is None, STEP_TIMEOUT, "the Run value to go")
        self.assertEqual(self.exit_program(again), 0)

    def test_a_value_present_at_start_shows_remove_and_an_old_one_is_overwritten(self):
        # An entry from an earlier place of the program, under its name.
        code, text = self.wine_tool("reg", "add", RUN_KEY, "/v", "BVX", "/d",
                                    r'"C:\Old place\BVX.exe"', "/f", "/reg:64")
        self.assertEqual(code, 0, text)
        program = self.start(debug="+timestamp,+menu")
        self.assertEqual(self.startup_item(program), REMOVE_CAPTION)
        self.post((WM_COMMAND, CMD_STARTUP, 0))  # remove
        wait_for(lambda: self.run_value("BVX") is None, STEP_TIMEOUT, "the Run value to go")
        self.post((WM_COMMAND, CMD_STARTUP, 0))  # add: the current path
        exe = self.windows_path(self.folder / "BVX.exe")
        wait_for(lambda: self.run_value("BVX") == ("REG_SZ", f'"{exe}"'), STEP_TIMEOUT,
                 "the current path in the Run value")
        self.assertEqual(self.exit_program(program), 0)

    def test_an_entry_disabled_in_task_manager_is_not_in_autostart_until_added(self):
        exe = self.windows_path(self.folder / "BVX.exe")
        for key, kind, data in ((RUN_KEY, "REG_SZ", f'"{exe}"'),
                                (APPROVED_KEY, "REG_BINARY", "03000000" + "a0b1c2d3e4f5a6b7")):
            code, text = self.wine_tool("reg", "add", key, "/v", "BVX", "/t", kind, "/d", data, "/f",
                                        "/reg:64")
            self.assertEqual(code, 0, text)
        program = self.start(debug="+timestamp,+menu")
        self.assertEqual(self.startup_item(program), ADD_CAPTION)
        self.post((WM_COMMAND, CMD_STARTUP, 0))
        wait_for(lambda: self.run_value("BVX", APPROVED_KEY) == ("REG_BINARY", "02" + "0" * 22),
                 STEP_TIMEOUT, "Task Manager's mark to say enabled",
                 describe=lambda: f"now {self.run_value('BVX', APPROVED_KEY)}")
        self.assertEqual(self.run_value("BVX"), ("REG_SZ", f'"{exe}"'))
        self.assertEqual(self.startup_item(program), REMOVE_CAPTION)
        self.assertEqual(self.exit_program(program), 0)

    def test_the_value_is_named_after_the_exe_and_a_path_with_blanks_is_quoted(self):
        folder = self.folder / "Program Files" / "Brimvex tools"
        folder.mkdir(parents=True)
        exe = folder / "Brimvex Tray.v2.exe"
        shutil.copy2(self.session.exe, exe)
        name = "Brimvex Tray.v2"  # only the last extension goes
        program = self.start(debug="+menu", exe=exe)
        self.assertEqual(self.startup_item(program), ADD_CAPTION)
        self.post((WM_COMMAND, CMD_STARTUP, 0))
        data = f'"{self.windows_path(exe)}"'
        self.assertIn(" ", data)
        wait_for(lambda: self.run_value(name) == ("REG_SZ", data), STEP_TIMEOUT,
                 f"the Run value {name!r}")
        self.assertIsNone(self.run_value("BVX"), "no value under another name")
        self.post((WM_COMMAND, CMD_STARTUP, 0))
        wait_for(lambda: self.run_value(name) is None, STEP_TIMEOUT, "the Run value to go")
        self.assertEqual(self.exit_program(program), 0)


# --- the About window --------------------------------------------------------------------


class AboutTest(AutostartTestCase):
    """The links switch to their underlined hover font while the pointer
    rests on them.

    The font is read from the screen: WM_GETFONT is not answered across
    processes by this Wine (SendMessageTimeout fails at once for it, while
    WM_GETTEXT of the same control works), so the driver cannot ask the
    control for its font handle. The hover font is the normal one
    underlined, so a hovered link has a row of dark pixels as wide as its
    text, which no row of the normal look has.
    """

    def underlined(self, link: harness.Control) -> bool:
        rows = harness.Screen.of_display(self.session.xvfb.display).dark_per_row(link.extra["rect"])
        width = link.extra["rect"][2] - link.extra["rect"][0]
        return max(rows) >= 0.9 * width

    def wait_look(self, link: harness.Control, underlined: bool, how: str) -> None:
        wait_for(lambda: self.underlined(link) == underlined, STEP_TIMEOUT,
                 f"{link.text!r} to be {'underlined' if underlined else 'plain'} ({how})",
                 interval=0.2)

    def test_about_window_and_its_links_follow_the_pointer(self):
        program = self.start()
        self.session.xdotool("mousemove", "5", "5")  # away from where the window comes
        self.send(WM_COMMAND, CMD_ABOUT, 0)
        self.driver("wait-visible", MAIN_CLASS, 1, int(STEP_TIMEOUT * 1000))
        self.session.screenshot("about-window")

        self.assertEqual(self.driver("text", MAIN_CLASS).lines, ["О программе"])
        controls = self.controls(MAIN_CLASS)
        texts = [c.text for c in controls]
        for text in ("Версия 2.2 fix", "© Команда Brimvex", "Посетить сайт программы", "&Закрыть"):
            self.assertIn(text, texts)
        banner = [c for c in controls if c.cls == "Static" and c.text == ""
                  and c.extra["rect"][3] - c.extra["rect"][1] > 10]
        self.assertEqual(len(banner), 1, controls)
        left, top, right, bottom = banner[0].extra["rect"]
        self.assertEqual((right - left, bottom - top), (227, 42), "the banner sizes itself to its picture")

        links = [c for c in controls if c.text in ("© Команда Brimvex", "Посетить сайт программы")]
        for link in links:
            with self.subTest(link=link.text, pointer="real"):
                self.assertFalse(self.underlined(link), "plain before the pointer comes")
                x, y = link.center
                self.session.xdotool("mousemove", str(x), str(y))
                self.wait_look(link, True, "the pointer rests on it")
                self.session.xdotool("mousemove", "5", "5")
                self.wait_look(link, False, "the pointer left")

        link = links[-1]
        with self.subTest(link=link.text, pointer="posted messages"):
            # Mouse moves ask for tracking every time; that works, so no
            # error box ("Unable to set tracking for mouse event") comes.
            for x in (2, 10, 20):
                self.post_hwnd(link.hwnd, (WM_MOUSEMOVE, 0, (5 << 16) | x))
            self.driver("absent", "#32770", 1500)
            self.post_hwnd(link.hwnd, (WM_MOUSEHOVER, 0, (5 << 16) | 20))
            self.wait_look(link, True, "WM_MOUSEHOVER")
            self.post_hwnd(link.hwnd, (WM_MOUSELEAVE, 0, 0))
            self.wait_look(link, False, "WM_MOUSELEAVE")

        self.assertTrue(program.running())
        self.driver("click", MAIN_CLASS, "&Закрыть")
        self.driver("wait-visible", MAIN_CLASS, 0, int(STEP_TIMEOUT * 1000))
        self.assertEqual(self.exit_program(program), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
