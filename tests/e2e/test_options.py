#!/usr/bin/env python3
"""The options dialog on the real BVX.exe under Wine: its real controls, the
drive tabs, the settings file that OK writes and the hotkeys registered from
it afterwards; the keyboard and what a screen reader names each field by;
Cancel and a second opening."""

import os
import unittest
from typing import Optional

import harness
from harness import (ALT, BM_CLICK, CB_SETCURSEL, CMD_OPTIONS, CTRL, DEFAULT_CLOSE, DEFAULT_OPEN,
                     EM_SETSEL, ERROR_HOTKEY_ALREADY_REGISTERED, HKM_SETHOTKEY, HOTKEYF_ALT,
                     HOTKEYF_CONTROL, HOTKEYF_SHIFT, IDCANCEL, IDOK, SHIFT, STEP_TIMEOUT,
                     TCM_SETCURFOCUS, VK_F9, VK_F10, VK_F11, VK_F12, WM_CHAR, WM_COMMAND,
                     WM_HOTKEY, WM_LBUTTONDBLCLK, WM_SYSCHAR, BvxTestCase, Control, hotkey_args,
                     OPTIONS_CLASS, parse_ini, wait_for)

setUpModule = harness.module_setup("options")
tearDownModule = harness.tearDownModule

CAPTION = "Параметры Brimvex"


# Hotkey control words: the key in the low byte, HOTKEYF_* in the high one.
def shortcut_of(word: int) -> int:
    """The shortcut value for a hotkey control word."""
    modifiers = word >> 8
    return ((word & 0xFF) | (SHIFT if modifiers & HOTKEYF_SHIFT else 0) |
            (CTRL if modifiers & HOTKEYF_CONTROL else 0) | (ALT if modifiers & HOTKEYF_ALT else 0))


def word_of(value: int) -> int:
    """The hotkey control word for a shortcut value."""
    return ((value & 0xFF) | ((HOTKEYF_SHIFT if value & SHIFT else 0) |
                              (HOTKEYF_CONTROL if value & CTRL else 0) |
                              (HOTKEYF_ALT if value & ALT else 0)) << 8)


def settings_after_save(default: int, wait: int, pairs: list[tuple[int, int]],
                        track: list[int]) -> dict:
    """The program's own keys as a save with these values leaves them."""
    shortcuts = {}
    for n, (open_value, close_value) in enumerate(pairs, start=1):
        shortcuts[f"openshortcut{n}"] = str(open_value)
        shortcuts[f"closeshortcut{n}"] = str(close_value)
    bvx = {"default": str(default), "waitfor": str(wait),
           "openshortcut": str(pairs[default - 1][0]), "closeshortcut": str(pairs[default - 1][1])}
    return {"bvx": bvx, "shortcuts": shortcuts,
            "track": {f"dotrack{n}": str(flag) for n, flag in enumerate(track, start=1)}}


class Dialog:
    """The open options dialog, its controls found by kind and place: the
    two hotkey edits and their group box, the check box and its box, the
    drive list and its box, the wait edit and its box, the tab control and
    the OK and Cancel buttons."""

    def __init__(self, test: "OptionsTestCase"):
        self.test = test
        self.hwnd = test.driver("find", OPTIONS_CLASS).lines[0]
        self.refresh()

    def refresh(self) -> None:
        controls = self.test.controls(OPTIONS_CLASS)
        self.all = controls
        by_hwnd = {c.hwnd: c for c in controls}

        def only(cls: str) -> Control:
            found = [c for c in controls if c.cls.lower() == cls.lower()]
            self.test.assertEqual(len(found), 1, f"one {cls} expected: {found}")
            return found[0]

        self.tabs = only("SysTabControl32")
        edits = sorted((c for c in controls if c.cls == "msctls_hotkey32"),
                       key=lambda c: c.extra["rect"][1])
        self.test.assertEqual(len(edits), 2, controls)
        self.open_edit, self.close_edit = edits
        self.drive_list = only("ComboBox")
        self.wait_edit = only("Edit")
        buttons = [c for c in controls if c.cls == "Button"]
        self.ok = next(c for c in buttons if c.id == IDOK)
        self.cancel = next(c for c in buttons if c.id == IDCANCEL)
        boxes = [c for c in buttons if c.parent != self.ok.parent]
        self.test.assertEqual(len(boxes), 1, f"one check box expected: {boxes}")
        self.track_box = boxes[0]
        self.hotkeys_group = by_hwnd[self.open_edit.parent]
        self.track_group = by_hwnd[self.track_box.parent]
        self.default_group = by_hwnd[self.drive_list.parent]
        self.wait_group = by_hwnd[self.wait_edit.parent]
        self.groups = [c for c in controls if c.cls == "TGroupBox"]
        self.by_hwnd = by_hwnd

    def in_subtree(self, hwnd: str, root: Control) -> bool:
        while hwnd in self.by_hwnd:
            if hwnd == root.hwnd:
                return True
            hwnd = self.by_hwnd[hwnd].parent
        return False

    def at(self, control: Control) -> str:
        """The window that the pointer would hit at the control's centre."""
        x, y = control.center
        return self.test.driver("window-at", x, y).lines[0].split("\t")[0]

    def select_tab(self, index: int) -> None:
        """The tab control changes tab as if clicked and tells the dialog."""
        self.test.send_hwnd(self.tabs.hwnd, TCM_SETCURFOCUS, index, 0)
        wait_for(lambda: self._tab() == index, STEP_TIMEOUT, f"tab {index}")
        self.refresh()

    def _tab(self) -> int:
        return next(c for c in self.test.controls(OPTIONS_CLASS)
                    if c.cls == "SysTabControl32").extra["sel"]

    def set_hotkeys(self, open_word: Optional[int], close_word: Optional[int]) -> None:
        for edit, word in ((self.open_edit, open_word), (self.close_edit, close_word)):
            if word is not None:
                self.test.send_hwnd(edit.hwnd, HKM_SETHOTKEY, word, 0)
        self.refresh()
        if open_word is not None:
            self.test.assertEqual(self.open_edit.extra["hotkey"], open_word)
        if close_word is not None:
            self.test.assertEqual(self.close_edit.extra["hotkey"], close_word)

    def press(self, button: Control) -> None:
        self.test.post_hwnd(button.hwnd, (BM_CLICK, 0, 0))
        self.test.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))


class OptionsTestCase(BvxTestCase):

    def open_dialog(self) -> Dialog:
        self.post((WM_COMMAND, CMD_OPTIONS, 0))
        self.driver("wait-visible", OPTIONS_CLASS, 1, int(STEP_TIMEOUT * 1000))
        return Dialog(self)

    def dialogs(self) -> list[str]:
        return [line for line in self.driver("windows").lines if line.split("\t")[3] == OPTIONS_CLASS]

    def wait_settings(self, expected: dict, extra_sections: Optional[dict] = None) -> dict:
        """Waits until the settings file holds exactly these values."""
        ini = self.folder / "BVX.ini"

        def current() -> dict:
            return parse_ini(ini.read_bytes()) if ini.exists() else {}

        want = dict(expected, **(extra_sections or {}))
        wait_for(lambda: current() == want, STEP_TIMEOUT, "the saved settings",
                 describe=lambda: f"want {want}\nhave {current()}")
        return current()


class OptionsDialogTest(OptionsTestCase):

    def test_a_drive_tab_hotkey_is_saved_and_registered(self):
        program = self.start()
        dialog = self.open_dialog()

        self.assertEqual(self.driver("text", OPTIONS_CLASS).lines, [CAPTION])
        self.assertEqual(dialog.tabs.extra["items"], ["Общие", "D:", "F:"])
        self.assertEqual(dialog.tabs.extra["sel"], 0)
        self.assertEqual(dialog.drive_list.extra["items"], ["D:", "F:"])
        self.assertEqual(dialog.drive_list.extra["sel"], 0, "D:, drive 1, is the default drive")
        self.assertTrue(dialog.drive_list.enabled, "two drives to choose from")
        self.assertEqual(dialog.wait_edit.text, "10", "the wait seconds without a settings file")
        self.assertEqual(sorted(g.text for g in dialog.groups),
                         sorted([" Горячие клавиши ", " Слежение за приводом ",
                                 " Привод по умолчанию ", " Слежение "]))
        self.assertEqual((dialog.ok.text, dialog.cancel.text), ("O&K", "&Отмена"))

        # The general page: the default-drive and wait boxes lie over the
        # hotkey edits and the check box, which are never hidden.
        self.assertTrue(dialog.default_group.visible and dialog.wait_group.visible)
        for control, cover in ((dialog.open_edit, dialog.default_group),
                               (dialog.close_edit, dialog.default_group),
                               (dialog.track_box, dialog.wait_group)):
            hit = dialog.at(control)
            self.assertTrue(dialog.in_subtree(hit, cover),
                            f"{control.cls} at {control.center} must lie under {cover.text!r}, "
                            f"found {dialog.by_hwnd.get(hit)}")
        self.session.screenshot("options-general")

        # Drive tab 2, F:: the two boxes go, the hotkey edits show F:'s
        # (none yet) and the box caption names the drive.
        dialog.select_tab(2)
        self.assertFalse(dialog.default_group.visible or dialog.wait_group.visible)
        self.assertEqual(dialog.hotkeys_group.text, " Горячие клавиши для привода F: ")
        self.assertEqual((dialog.open_edit.extra["hotkey"], dialog.close_edit.extra["hotkey"]),
                         (0, 0))
        self.assertEqual(dialog.track_box.extra["check"], 1, "every drive is watched by default")
        for control in (dialog.open_edit, dialog.close_edit, dialog.track_box):
            self.assertEqual(dialog.at(control), control.hwnd, f"{control.cls} must be uncovered")

        ctrl_alt_f9 = ((HOTKEYF_CONTROL | HOTKEYF_ALT) << 8) | VK_F9
        dialog.set_hotkeys(ctrl_alt_f9, None)
        self.session.screenshot("options-drive")
        dialog.press(dialog.ok)

        new_open = shortcut_of(ctrl_alt_f9)
        self.assertEqual(new_open, 49272)
        self.wait_settings(settings_after_save(1, 10, [(DEFAULT_OPEN, DEFAULT_CLOSE), (new_open, 0)],
                                               [1, 1]))
        # The file was read back and the new combination registered.
        wait_for(lambda: self.try_hotkey(*hotkey_args(new_open)) == ERROR_HOTKEY_ALREADY_REGISTERED,
                 STEP_TIMEOUT, "Ctrl+Alt+F9 to be held by the program")
        self.post((WM_HOTKEY, 2, 0))
        program.wait_mci("Set cdaudio!f: door open wait")
        self.assertEqual(self.exit_program(program), 0)

    def test_edits_on_the_general_page_and_both_drive_tabs_are_all_written(self):
        # Unrelated content of the file stays as it is. The file has a second
        # name elsewhere (a hard link, as a package manager's "persist"
        # folder makes one; Wine shows a Linux hard link as a second name).
        ini = self.write_ini("[Elsewhere]\r\nKey=value with spaces  \r\n")
        persist = self.folder / "persist"
        persist.mkdir()
        os.link(ini, persist / "BVX.ini")
        program = self.start()
        dialog = self.open_dialog()

        # General page: F: becomes the default drive; a wait typed longer
        # than the field holds is its largest value.
        self.send_hwnd(dialog.drive_list.hwnd, CB_SETCURSEL, 1, 0)
        self.send_hwnd(dialog.wait_edit.hwnd, EM_SETSEL, 0, -1)
        self.post_hwnd(dialog.wait_edit.hwnd, *((WM_CHAR, ord(digit), 1) for digit in "99999999999"))
        wait_for(lambda: [c.text for c in self.controls(OPTIONS_CLASS)
                          if c.hwnd == dialog.wait_edit.hwnd] == ["99999999999"],
                 STEP_TIMEOUT, "the typed wait")

        # D:: the dialog shows the default drive's fallback combinations;
        # open becomes Shift+F10, close none, and D: is no longer watched.
        dialog.select_tab(1)
        self.assertEqual(dialog.hotkeys_group.text, " Горячие клавиши для привода D: ")
        self.assertEqual((shortcut_of(dialog.open_edit.extra["hotkey"]),
                          shortcut_of(dialog.close_edit.extra["hotkey"])),
                         (DEFAULT_OPEN, DEFAULT_CLOSE))
        shift_f10 = (HOTKEYF_SHIFT << 8) | VK_F10
        dialog.set_hotkeys(shift_f10, 0)
        self.post_hwnd(dialog.track_box.hwnd, (BM_CLICK, 0, 0))
        wait_for(lambda: [c for c in self.controls(OPTIONS_CLASS) if c.hwnd == dialog.track_box.hwnd]
                 [0].extra["check"] == 0, STEP_TIMEOUT, "the check box cleared")

        # F:: Ctrl+Shift+F11 and Alt+F12; OK while this tab is shown.
        dialog.select_tab(2)
        self.assertEqual(dialog.track_box.extra["check"], 1, "F: keeps its own flag")
        ctrl_shift_f11 = ((HOTKEYF_CONTROL | HOTKEYF_SHIFT) << 8) | VK_F11
        alt_f12 = (HOTKEYF_ALT << 8) | VK_F12
        dialog.set_hotkeys(ctrl_shift_f11, alt_f12)
        # Back to D: and on to F: again: the edits made on D: were kept.
        dialog.select_tab(1)
        self.assertEqual((dialog.open_edit.extra["hotkey"], dialog.close_edit.extra["hotkey"],
                          dialog.track_box.extra["check"]), (shift_f10, 0, 0))
        dialog.select_tab(2)
        self.assertEqual((dialog.open_edit.extra["hotkey"], dialog.close_edit.extra["hotkey"]),
                         (ctrl_shift_f11, alt_f12))
        dialog.press(dialog.ok)

        pairs = [(shortcut_of(shift_f10), 0), (shortcut_of(ctrl_shift_f11), shortcut_of(alt_f12))]
        self.wait_settings(settings_after_save(2, 2147483647, pairs, [0, 1]),
                           {"elsewhere": {"key": "value with spaces"}})
        self.assertIn(b"[Elsewhere]\r\nKey=value with spaces  \r\n", ini.read_bytes())

        # Read back: F: is the default drive, the new combinations are held,
        # the old default ones are free again.
        for value in (pairs[0][0], pairs[1][0], pairs[1][1]):
            wait_for(lambda: self.try_hotkey(*hotkey_args(value)) == ERROR_HOTKEY_ALREADY_REGISTERED,
                     STEP_TIMEOUT, f"{value:#x} to be held by the program")
        for value in (DEFAULT_OPEN, DEFAULT_CLOSE):
            self.assertIsNone(self.try_hotkey(*hotkey_args(value)), f"{value:#x} must be free")
        # The save is over: both names are still one file, with the new text,
        # and no copy is left beside it.
        self.assertEqual((ini.stat().st_ino, ini.stat().st_nlink),
                         ((persist / "BVX.ini").stat().st_ino, 2), "the hard link was broken")
        self.assertEqual((persist / "BVX.ini").read_bytes(), ini.read_bytes())
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini", "persist"])
        self.post(self.tray(WM_LBUTTONDBLCLK))
        program.wait_mci("Set cdaudio!f: door open wait")
        self.assertEqual(self.exit_program(program), 0)

    def test_the_keyboard_walks_the_visible_controls_and_answers_enter_and_esc(self):
        program = self.start()
        dialog = self.open_dialog()

        def focused() -> Optional[str]:
            return next((c.hwnd for c in self.controls(OPTIONS_CLASS) if c.extra.get("focus")), None)

        # The layout's tab order; Tab skips what is hidden, disabled or covered
        # (on the general page the drive tabs' boxes lie under the others).
        order = [dialog.ok, dialog.cancel, dialog.tabs, dialog.open_edit, dialog.close_edit,
                 dialog.track_box, dialog.drive_list, dialog.wait_edit]
        never_covered = (dialog.ok, dialog.cancel, dialog.tabs)
        stops = [c.hwnd for c in order if c.visible and c.enabled and
                 (c in never_covered or dialog.at(c) == c.hwnd)]
        self.assertIn(dialog.drive_list.hwnd, stops)
        wait_for(lambda: focused() == stops[0], STEP_TIMEOUT, "the focus on the first control")
        walked = [stops[0]]
        for _ in stops:
            self.session.keys("Tab")
            wait_for(lambda: focused() not in (None, walked[-1]), STEP_TIMEOUT, "Tab")
            walked.append(focused())
        walked.pop(0)
        self.assertEqual(walked, stops[1:] + stops[:1], "Tab walks the visible controls in order")

        # Esc is Cancel: the dialog goes and nothing is written.
        self.session.keys("Escape")
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe"], "nothing is written")

        # Alt+K in a hotkey edit is the edit's combination, not the mnemonic
        # of "O&K": the dialog stays, and the next Tab moves on from the edit.
        dialog = self.open_dialog()
        dialog.select_tab(1)
        self.session.keys("Tab", "Tab", "Tab")  # from OK past Cancel and the tabs
        wait_for(lambda: focused() == dialog.open_edit.hwnd, STEP_TIMEOUT, "the open edit focused")
        self.session.keys("alt+k", "Tab")
        wait_for(lambda: focused() == dialog.close_edit.hwnd, STEP_TIMEOUT, "Tab after Alt+K")
        dialog.refresh()
        self.assertEqual(dialog.open_edit.extra["hotkey"], word_of(ALT | ord("K")))
        self.session.keys("Escape")
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))

        # A label's mnemonic (Alt+П) focuses its control; Enter there is OK.
        dialog = self.open_dialog()
        self.post_hwnd(focused() or dialog.hwnd, (WM_SYSCHAR, ord("п"), 0x20000001))
        wait_for(lambda: focused() == dialog.drive_list.hwnd, STEP_TIMEOUT, "the drive list focused")
        self.session.keys("Return")
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))
        wait_for(lambda: (self.folder / "BVX.ini").exists(), STEP_TIMEOUT, "the settings written")
        self.assertEqual(self.exit_program(program), 0)

    def test_a_screen_reader_names_each_field_by_its_label(self):
        # The name of an edit, hotkey edit or list ("Providing the Name
        # Property"): the first static text walking GW_HWNDPREV from it; a
        # window with WS_GROUP | WS_TABSTOP on the way halts the walk. Only
        # the wait edit's own arrows may come between it and its label.
        program = self.start()
        dialog = self.open_dialog()
        fields = ((dialog.open_edit, "&Открыть дверцу"), (dialog.close_edit, "&Закрыть дверцу"),
                  (dialog.drive_list, "&По умолчанию использовать привод"),
                  (dialog.wait_edit, "открывать его на"))

        def walk(hwnd: str) -> tuple[list[str], str]:
            """The classes passed over, and the static text found."""
            *passed, end = self.driver("label-walk", hwnd).lines
            self.assertTrue(end.startswith("static\t"), f"no static text above {hwnd}: {end}")
            return [line.split("\t")[2] for line in passed], harness.unescape_driver(
                end.split("\t", 2)[2])

        for tab in (0, 1, 0):  # the same whichever page is or was shown
            dialog.select_tab(tab)
            for field, label in fields:
                passed, found = walk(field.hwnd)
                allowed = [[], ["msctls_updown32"]] if field.cls == "Edit" else [[]]
                self.assertIn(passed, allowed, f"between {field.cls} and its label on tab {tab}")
                self.assertEqual(found, label, f"{field.cls} on tab {tab}")
        dialog.press(dialog.cancel)
        self.assertEqual(self.exit_program(program), 0)

    def test_cancel_writes_nothing_and_a_second_opening_starts_afresh(self):
        program = self.start()
        dialog = self.open_dialog()
        dialog.select_tab(1)
        dialog.set_hotkeys((HOTKEYF_SHIFT << 8) | VK_F9, 0)

        # Choosing "Параметры..." again only brings the open dialog forward.
        self.post((WM_COMMAND, CMD_OPTIONS, 0))
        self.driver("send", harness.MAIN_CLASS, harness.WM_NULL, 0, 0)  # the command was handled
        self.assertEqual(len(self.dialogs()), 1, self.dialogs())
        self.assertEqual(self.driver("find", OPTIONS_CLASS).lines, [dialog.hwnd], "the same dialog")

        dialog.press(dialog.cancel)
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe"], "nothing is written")
        # The default combinations are still held.
        self.assertEqual(self.try_hotkey(*hotkey_args(DEFAULT_OPEN)), ERROR_HOTKEY_ALREADY_REGISTERED)

        again = self.open_dialog()
        self.assertEqual(again.tabs.extra["sel"], 0, "a new opening starts on the general page")
        again.select_tab(1)
        self.assertEqual((shortcut_of(again.open_edit.extra["hotkey"]),
                          shortcut_of(again.close_edit.extra["hotkey"])),
                         (DEFAULT_OPEN, DEFAULT_CLOSE), "the cancelled edits are gone")
        again.press(again.cancel)
        self.assertEqual(self.dialogs(), [])
        self.assertEqual(self.exit_program(program), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
