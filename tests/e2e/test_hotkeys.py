#!/usr/bin/env python3
"""Settings file and global hotkeys on the real BVX.exe under Wine."""

import os
import unittest

import harness
from harness import (ALT, CLOSE_D, CTRL, DEFAULT_CLOSE, DEFAULT_OPEN,
                     ERROR_HOTKEY_ALREADY_REGISTERED, OPEN_D, SHIFT, VK_F9, VK_F10, WM_HOTKEY,
                     WM_LBUTTONDBLCLK, BvxTestCase, close_command, door_commands, hotkey_args,
                     open_command, wait_for)

setUpModule = harness.module_setup("hotkeys")
tearDownModule = harness.tearDownModule

# Drive 2 (F:): open with Ctrl+Shift+F9, close with Alt+Shift+F10.
OPEN_2 = CTRL | SHIFT | VK_F9
CLOSE_2 = ALT | SHIFT | VK_F10
OPEN_F, CLOSE_F = open_command("f"), close_command("f")

SETTINGS = f"[ShortCuts]\r\nOpenShortCut2={OPEN_2}\r\nCloseShortCut2={CLOSE_2}\r\n"


def failure_report(action_word: str, letter: str) -> str:
    return ("Не удалось зарегестрировать комбинацию горячих клавиш "
            f"{action_word}{letter}:.\r\nВыберите, пожалуйста, другую комбинацию клавиш.")


class HotkeyTest(BvxTestCase):

    def test_hotkeys_are_registered_move_their_drive_and_are_released_at_exit(self):
        self.write_ini(SETTINGS)
        program = self.start()

        # Each combination is held by the program while it runs: registering
        # it again fails as "already registered".
        # Drive 1 (D:), the default drive, has no keys of its own in the
        # file: it falls back to the default combinations.
        combinations = [DEFAULT_OPEN, DEFAULT_CLOSE, OPEN_2, CLOSE_2]
        for value in combinations:
            with self.subTest(held=hex(value)):
                self.assertEqual(self.try_hotkey(*hotkey_args(value)),
                                 ERROR_HOTKEY_ALREADY_REGISTERED)

        # WM_HOTKEY by identifier: 2k-2 opens drive k, 2k-1 closes it; 4 is
        # no drive's. Each is followed by the one after, so a command that
        # should not come would show up before the next expected one.
        steps = [
            (3, CLOSE_F),
            (2, OPEN_F),
            (0, OPEN_D),
            (1, CLOSE_D),
            (4, None),
            (3, CLOSE_F),
        ]
        expected = []
        for identifier, command in steps:
            self.post((WM_HOTKEY, identifier, 0))
            if command is None:
                continue
            expected.append(command)
            program.wait_mci(command, count=expected.count(command))
            self.assertEqual(door_commands(program), expected, f"after WM_HOTKEY {identifier}")

        self.assertEqual(self.exit_program(program), 0)
        for value in combinations:
            with self.subTest(released=hex(value)):
                self.assertIsNone(self.try_hotkey(*hotkey_args(value)))

    def test_a_combination_held_elsewhere_is_reported_and_the_program_goes_on(self):
        cases = [
            # (which combination another program holds, the one still free,
            #  words of the report, hotkey id that still works)
            ("open", OPEN_2, CLOSE_2, "для открытия привода", 2, OPEN_F),
            ("close", CLOSE_2, OPEN_2, "для закрытия привода", 3, CLOSE_F),
        ]
        for index, (which, held, free, words, identifier, command) in enumerate(cases):
            with self.subTest(held=which):
                if index:
                    self.new_wine_session()
                self.write_ini(SETTINGS)
                self.hold_hotkey(*hotkey_args(held))
                program = self.start(wait_window=False, wait_ready=False)

                box = self.driver("box", "BVX", int(harness.START_TIMEOUT * 1000)).lines
                self.assertEqual(box, [failure_report(words, "F"), "closed"])

                # Start-up goes on: the tray icon comes, no other report.
                self.wait_start_up_done(program)
                titles = [line.split("\t")[4] for line in self.driver("windows").lines
                          if line.split("\t")[2] == "1"]
                self.assertNotIn("BVX", titles, "one report only")
                # The other combination of the drive was registered.
                self.assertEqual(self.try_hotkey(*hotkey_args(free)),
                                 ERROR_HOTKEY_ALREADY_REGISTERED)
                # A hotkey message still moves the door, also the failed one's.
                self.post((WM_HOTKEY, identifier, 0))
                program.wait_mci(command)
                self.assertEqual(self.exit_program(program), 0)

    def wait_start_up_done(self, program):
        wait_for(lambda: self.tooltips() or not program.running(), harness.START_TIMEOUT,
                 "the tray icon")
        self.assertTrue(program.running())


class SettingsFileTest(BvxTestCase):

    # Written by hand: comments, CRLF and LF, blank lines, odd case, a hex
    # value, keys for a third drive and a section the program does not know.
    SETTINGS = (
        b"; Brimvex settings\r\n"
        b"[BVX]\r\n"
        b"Default=2\r\n"
        b"WaitFor=0x1E\r\n"
        b"\r\n"
        b"[shortcuts]\n"
        b"OpenShortCut2=" + str(OPEN_2).encode() + b"\r\n"
        b"CloseShortCut2=" + str(CLOSE_2).encode() + b"\r\n"
        b"OpenShortCut3=1234\r\n"
        b"[Track]\r\n"
        b"DoTrack1=0\r\n"
        b"DoTrack2=true\r\n"
        b"\r\n"
        b"[Elsewhere]\r\n"
        b"Key=value with spaces  \r\n"
    )

    def test_start_and_exit_leave_the_settings_file_untouched(self):
        ini = self.write_ini(self.SETTINGS)
        before = os.stat(ini)
        program = self.start()
        # The file was read: F:, drive 2, is the default drive.
        self.post(self.tray(WM_LBUTTONDBLCLK))
        program.wait_mci(OPEN_F)
        self.assertEqual(self.try_hotkey(*hotkey_args(OPEN_2)), ERROR_HOTKEY_ALREADY_REGISTERED)
        self.assertEqual(self.exit_program(program), 0)

        self.assertEqual(ini.read_bytes(), self.SETTINGS)
        after = os.stat(ini)
        self.assertEqual((after.st_mtime_ns, after.st_ino), (before.st_mtime_ns, before.st_ino),
                         "the file must not even be rewritten")
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
