#!/usr/bin/env python3
"""Start-up, single instance, the About window, the tray menu and "Выход",
the tray icon and the menu images at two display scales, on the real BVX.exe
under Wine, with D: and F: declared as CD-ROM drives."""

import re
import time
import unittest

import harness
from harness import (CMD_ABOUT, DEFAULT_TIP, MAIN_CLASS, RESOURCES, SC_CLOSE, STEP_TIMEOUT,
                     WM_CLOSE, WM_COMMAND, WM_SYSCOMMAND, BvxTestCase, Screen, icon_frame,
                     parse_popup_items, strip_pictures, wait_for)

setUpModule = harness.module_setup("foundation")
tearDownModule = harness.tearDownModule

DISC_QUERIES = ["info cdaudio!d: identity wait", "info cdaudio!f: identity wait"]

# Where Wine's loader reports comctl32.dll (+loaddll): version 6, as the
# manifest asks, comes from the side-by-side folder.
COMCTL_LOADED = re.compile(r"trace:loaddll:\w+ Loaded L\"[^\"]*common-controls[^\"]*\\\\comctl32\.dll\"",
                           re.IGNORECASE)

# The prefix's display scale (LogPixels), and what the notification area and
# the tray menu then show: the tray icon's frame of that size, the menu
# images' strip. At 150 % Wine's notification area draws small icons at
# 24 px (and a 16 px icon scaled up to that); at 100 % the pictures are the
# 16 px ones, pixel for pixel, as they were before the other sizes came.
DISPLAY_SCALES = [
    (144, 24, "imglmain24.bmp", 24),
    (96, 16, "imglmain.bmp", 16),
]

# What a tray menu must offer with D: and F:, in this order (separators aside).
TRAY_ITEMS = ["Открыть D:", "Закрыть D:", "Открыть F:", "Закрыть F:",
              "Параметры...", "О программе...", "Выход"]


class StartTest(BvxTestCase):

    def test_starts_hidden_queries_each_drive_and_a_second_copy_ends_at_once(self):
        first = self.start(debug="+timestamp,+mci,+loaddll,+ole")
        hwnd = self.find_main()
        self.assertFalse(self.main_visible(), "the main window must stay hidden at start")
        # The common controls wait for their first use (the menu, a window
        # shown), and COM for the shell's first link. (ole32.dll itself
        # comes at start here all the same: Wine's winmm.dll, which the disc
        # query loads, imports it.)
        self.assertNotRegex(first.log_text().lower(), r"loaded l\"[^\"]*comctl32",
                            "comctl32.dll must not be loaded at start")
        self.assertNotIn("trace:ole:coinitializeex", first.log_text().lower(),
                         "COM must not be initialised at start")

        # The disc query of every optical drive, in letter order, and of no
        # other drive (only D: and F: are CD-ROM drives in this prefix).
        queries = [c for c in first.mci_lines() if c.startswith("info ")]
        self.assertEqual(queries, DISC_QUERIES)
        self.assertEqual(self.tooltips(), [DEFAULT_TIP])

        # A second start ends at once with code 0 and does nothing: no MCI,
        # no window; the first copy runs on with the same window.
        began = time.monotonic()
        second = self.session.start_bvx(self.folder / "BVX.exe", name="second")
        self.programs.append(second)
        code = second.wait_exit(timeout=20)
        took = time.monotonic() - began
        self.assertEqual(code, 0)
        self.assertLess(took, 5.0, f"the second copy took {took:.1f} s to end")
        self.assertEqual(second.mci_lines(), [], "the second copy must not touch the drives")
        self.assertTrue(first.running(), "the first copy must keep running")
        self.assertEqual(self.find_main(), hwnd)
        self.assertFalse(self.main_visible())
        self.assertEqual(self.tooltips(), [DEFAULT_TIP], "exactly one tray icon")

        self.assertEqual(self.exit_program(first), 0)

    def test_exit_removes_the_icon_releases_the_instance_and_ends_with_code_0(self):
        program = self.start()
        self.assertEqual(self.exit_program(program), 0)
        self.assertIsNone(self.find_main())
        self.assertEqual(self.tooltips(), [], "the tray icon must go with the program")
        # The single-instance mutex went with the process: a new start runs.
        again = self.start()
        self.assertTrue(again.running())
        self.assertEqual(self.exit_program(again), 0)


    def test_an_icon_refused_at_start_is_added_a_few_seconds_later(self):
        """As at logon, the notification area refuses the first add: the
        program is the first of the prefix after the desktop's explorer
        ended, so it starts the new desktop and its tray, which it then does
        not see, and which sends no "TaskbarCreated". The next try, 5 s
        later, finds the tray."""
        self.driver("end-desktop")
        program = self.start(wait_window=False, wait_ready=False)
        # Its disc queries come after the desktop and before the tray icon.
        wait_for(lambda: len(program.mci_lines()) >= 2 or not program.running(),
                 harness.START_TIMEOUT, "the disc queries")
        began = time.monotonic()
        self.wait_tooltip(DEFAULT_TIP, timeout=harness.START_TIMEOUT)
        print(f"\n[foundation] the tray icon came {time.monotonic() - began:.1f} s after the disc "
              "queries", flush=True)
        self.assertEqual(self.exit_program(program), 0)
        self.assertEqual(self.tooltips(), [])


class AboutTest(BvxTestCase):

    def test_about_shows_the_window_and_closing_only_hides_it(self):
        program = self.start()
        screen = self.driver("metrics").lines[1].split()[1:]
        width, height = int(screen[0]), int(screen[1])

        # Every way of closing the About window only hides it.
        closers = [
            ("the Закрыть button", lambda: self.driver("click", MAIN_CLASS, "&Закрыть")),
            ("the title-bar close box", lambda: self.post((WM_SYSCOMMAND, SC_CLOSE, 0))),
            ("WM_CLOSE", lambda: self.post((WM_CLOSE, 0, 0))),
        ]
        for index, (how, close) in enumerate(closers):
            with self.subTest(closed_by=how):
                self.send(WM_COMMAND, CMD_ABOUT, 0)
                self.driver("wait-visible", MAIN_CLASS, 1, int(STEP_TIMEOUT * 1000))
                if index == 0:
                    shot = self.session.screenshot("about")
                    self.assertTrue(shot.is_file())
                    self.check_about_contents(width, height)
                close()
                self.driver("wait-visible", MAIN_CLASS, 0, int(STEP_TIMEOUT * 1000))
                self.assertTrue(program.running(), f"closing by {how} must not end the program")
        self.assertEqual(self.tooltips(), [DEFAULT_TIP], "the tray icon stays")
        self.assertEqual(self.exit_program(program), 0)

    def check_about_contents(self, screen_width: int, screen_height: int) -> None:
        self.assertEqual(self.driver("text", MAIN_CLASS).lines, ["О программе"])
        texts = [line.split("\t", 1)[1] for line in self.driver("child-texts", MAIN_CLASS).lines]
        for expected in ("Версия 2.2 fix", "Посетить сайт программы", "&Закрыть"):
            self.assertIn(expected, texts)
        # Centred on the desktop.
        left, top, right, bottom = map(int, self.driver("rect", MAIN_CLASS).lines[0].split())
        self.assertAlmostEqual((left + right) / 2, screen_width / 2, delta=20)
        self.assertAlmostEqual((top + bottom) / 2, screen_height / 2, delta=20)


class TrayMenuTest(BvxTestCase):

    def test_right_click_opens_the_menu_after_the_double_click_time_and_exit_works(self):
        program = self.start(debug="+timestamp,+mci,+menu,+loaddll")
        double_click = int(self.driver("metrics").lines[0].split()[1])

        shown = self.open_tray_menu().lines
        delay = int(shown[1])
        # The pop-up timer runs the double-click time; Wine's timers may fire
        # a tick early, never much later than a second after.
        self.assertGreaterEqual(delay, double_click * 0.8,
                                f"the menu came {delay} ms after the button went down")
        self.assertLess(delay, double_click + 3000)

        self.session.screenshot("tray-menu")
        # The items Wine measured for the pop-up, as the menu shows them.
        menus = wait_for(lambda: [m for m in parse_popup_items(program.log_text()) if m],
                         STEP_TIMEOUT, "the pop-up menu's items in the +menu trace")
        items = [text for text in menus[-1] if text != "-"]
        self.assertEqual(self.strip_shortcuts(items), TRAY_ITEMS[:4] +
                         [self.startup_caption(items)] + TRAY_ITEMS[4:])
        # The common controls (version 6) came with the right click, before
        # the menu was tracked, and gave the menu its images.
        log = program.log_text()
        loaded = COMCTL_LOADED.search(log)
        self.assertIsNotNone(loaded, "comctl32.dll version 6 must be loaded for the menu")
        tracked = re.search(r"trace:menu:\w*TrackPopupMenu", log)
        self.assertLess(loaded.start(), tracked.start(), "loaded during the double-click wait")
        self.assertEqual(sorted(self.strip_shortcuts(self.image_items(log))),
                         sorted(["Параметры...", "О программе...", "Выход"]))

        # "Выход" is the last item: Up from the top wraps to it.
        self.session.keys("Up", "Return")
        self.assertEqual(program.wait_exit(), 0)

    def test_the_tray_icon_and_the_menu_images_fit_the_display_scale(self):
        for log_pixels, icon_size, strip, strip_size in DISPLAY_SCALES:
            with self.subTest(log_pixels=log_pixels):
                self.set_display_scale(log_pixels)
                self.new_wine_session()
                program = self.start()
                icon = icon_frame(RESOURCES / "tray.ico", icon_size)
                shot = self.session.screenshot(f"tray-icon-{log_pixels}")
                self.assertEqual(len(Screen(shot).find(icon)), 1,
                                 f"the {icon_size} px tray icon, pixel for pixel, in {shot}")

                self.open_tray_menu()
                shot = self.session.screenshot(f"tray-menu-{log_pixels}")
                screen = Screen(shot)
                for index, picture in enumerate(strip_pictures(RESOURCES / strip, strip_size)):
                    self.assertEqual(len(screen.find(picture)), 1,
                                     f"menu image {index} at {strip_size} px in {shot}")
                self.session.keys("Up", "Return")  # "Выход"
                self.assertEqual(program.wait_exit(), 0)

    @staticmethod
    def image_items(log_text):
        """Texts of the items measured with an image drawn by the program."""
        return [harness.unescape_wine(m.group(1)) for m in re.finditer(
            r'trace:menu:calc_menu_item_size .*Text=L"((?:[^"\\]|\\.)*)".*HBMMENU_CALLBACK', log_text)]

    @staticmethod
    def strip_shortcuts(items):
        # Drive items may show their hotkey after a tab; accelerator marks
        # ("&") are the toolkit's.
        return [item.split("\t")[0].replace("&", "") for item in items]

    def startup_caption(self, items):
        captions = {"Добавить в автозагрузку", "Удалить из автозагрузки"}
        found = [item for item in self.strip_shortcuts(items) if item in captions]
        self.assertEqual(len(found), 1, f"one autostart item expected in {items}")
        return found[0]


if __name__ == "__main__":
    unittest.main(verbosity=2)
