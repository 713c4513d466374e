#!/usr/bin/env python3
"""BVX.exe under Wine against rough treatment: many starts at once, settings
files that are garbage, huge or cannot be written, a kill in the middle of a
save, and device-change messages that lie about their records."""

import os
import random
import re
import signal
import subprocess
import time
import unittest
from pathlib import Path
from typing import Callable, Optional

import harness
from harness import (BM_CLICK, CLOSE_D, CMD_OPTIONS, DBT_CONFIGCHANGED, DBT_CUSTOMEVENT,
                     DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE,
                     DBT_DEVNODES_CHANGED, DBT_DEVTYP_DEVICEINTERFACE, DBT_DEVTYP_HANDLE,
                     DBT_DEVTYP_OEM, DBT_DEVTYP_PORT, DBT_USERDEFINED, DEFAULT_CLOSE, DEFAULT_OPEN,
                     DEFAULT_TIP, ERROR_HOTKEY_ALREADY_REGISTERED, IDOK, MAIN_CLASS, MOD_CONTROL,
                     MOD_SHIFT, NOTICE_CLASS, OPEN_D, OPTIONS_CLASS, STEP_TIMEOUT, UNIT_MASK,
                     VK_F9, WM_COMMAND, WM_DEVICECHANGE, WM_HOTKEY, WM_LBUTTONDBLCLK,
                     WM_QUERYENDSESSION, BvxTestCase, door_commands, hotkey_args, parse_ini,
                     wait_for)

setUpModule = harness.module_setup("hardening")
tearDownModule = harness.tearDownModule

# What the first save writes with D: and F: and nothing changed in the dialog.
DEFAULT_SAVE = {
    "bvx": {"default": "1", "waitfor": "10", "openshortcut": "49371", "closeshortcut": "49373"},
    "shortcuts": {"openshortcut1": "49371", "closeshortcut1": "49373",
                  "openshortcut2": "0", "closeshortcut2": "0"},
    "track": {"dotrack1": "1", "dotrack2": "1"},
}
# The lines that the program itself writes: its section headers and its keys.
OWN_HEADER = re.compile(rb"^\[(BVX|ShortCuts|Track)\]\r?\n?$", re.IGNORECASE)
OWN_KEY = re.compile(rb"^(Default|WaitFor|OpenShortCut\d*|CloseShortCut\d*|DoTrack\d+)=-?\d+\r?\n?$",
                     re.IGNORECASE)
RANDOM_START = int(os.environ.get("BVX_E2E_RANDOM") or time.time_ns() % 1_000_000)


def without_own_lines(data: bytes, headers: bool = True) -> bytes:
    """The text with the program's own key lines (and, with headers, its
    section headers) taken out."""
    def own(line: bytes) -> bool:
        return bool(OWN_KEY.match(line) or (headers and OWN_HEADER.match(line)))

    return b"".join(line for line in data.splitlines(keepends=True) if not own(line))


class HardeningTestCase(BvxTestCase):

    def open_options_ok(self) -> str:
        """Opens the options dialog; its OK button's window."""
        self.post((WM_COMMAND, CMD_OPTIONS, 0))
        self.driver("wait-visible", OPTIONS_CLASS, 1, int(STEP_TIMEOUT * 1000))
        ok = [c for c in self.controls(OPTIONS_CLASS) if c.cls == "Button" and c.id == IDOK]
        self.assertEqual(len(ok), 1)
        return ok[0].hwnd

    def press_options_ok(self) -> None:
        """Opens the options dialog and presses its OK button (a posted
        click), changing nothing; the save starts as the post arrives."""
        self.post_hwnd(self.open_options_ok(), (BM_CLICK, 0, 0))

    def ok_options(self, program: harness.Bvx) -> None:
        """OK of the options dialog, until the dialog has gone."""
        self.press_options_ok()
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))
        self.assertTrue(program.running(), "the program ended after OK")

    def hidden(self, windows_path: str) -> bool:
        """Whether the file has the hidden attribute (attrib's letters
        before the name)."""
        code, text = self.wine_tool("attrib", windows_path)
        self.assertEqual(code, 0, text)
        line = text.strip().splitlines()[-1]
        return "H" in line[:line.find(":") - 1]

    def assert_defaults_work(self, program: harness.Bvx) -> None:
        """Runs with the defaults: Ctrl+Alt+[ and ] held, WM_HOTKEY 0 and a
        left double-click on the tray icon open D:."""
        for value in (DEFAULT_OPEN, DEFAULT_CLOSE):
            self.assertEqual(self.try_hotkey(*hotkey_args(value)), ERROR_HOTKEY_ALREADY_REGISTERED,
                             f"{value:#x} must be held by the program")
        self.post((WM_HOTKEY, 0, 0))
        program.wait_mci(OPEN_D)
        self.post(self.tray(WM_LBUTTONDBLCLK))
        program.wait_mci(OPEN_D, count=2)


class SingleInstanceTest(HardeningTestCase):

    def test_twenty_starts_at_once_leave_exactly_one_that_works(self):
        count = 20
        began = time.monotonic()
        programs = [self.session.start_bvx(self.folder / "BVX.exe", name=f"start{i:02d}")
                    for i in range(count)]
        self.programs.extend(programs)

        def ended() -> list[harness.Bvx]:
            return [p for p in programs if not p.running()]

        wait_for(lambda: len(ended()) >= count - 1, 120, f"{count - 1} of {count} starts to end",
                 interval=0.2, describe=lambda: f"{len(ended())} ended")
        took = time.monotonic() - began
        survivors = [p for p in programs if p.running()]
        self.assertEqual(len(survivors), 1, "exactly one copy runs on")
        survivor = survivors[0]
        for program in ended():
            self.assertEqual(program.process.returncode, 0, program.log_text()[-1000:])
            self.assertEqual(program.mci_lines(), [], "a second copy must not touch the drives")
        print(f"\n[hardening] {count} starts at once: {count - 1} ended with 0 within {took:.1f} s",
              flush=True)

        wait_for(lambda: self.tooltips(), harness.START_TIMEOUT, "the tray icon")
        windows = [line for line in self.driver("windows").lines
                   if line.split("\t")[3] == MAIN_CLASS]
        self.assertEqual(len(windows), 1, windows)
        self.assertEqual(self.tooltips(), [DEFAULT_TIP], "one tray icon")
        self.post(self.tray(WM_LBUTTONDBLCLK))
        survivor.wait_mci(OPEN_D)
        self.assertEqual(self.exit_program(survivor), 0)


class BadSettingsTest(HardeningTestCase):

    def random_settings(self, size: int) -> bytes:
        """size random bytes with no header of the program's own sections
        (which random bytes hold only by a wild chance: then the next start value)."""
        for start in range(RANDOM_START, RANDOM_START + 100):
            data = random.Random(start).randbytes(size)
            if not re.search(rb"\[\s*(bvx|shortcuts|track)\s*\]", data, re.IGNORECASE):
                print(f"\n[hardening] random settings file: start value {start}", flush=True)
                return data
        raise harness.HarnessError("no usable start value")

    def test_five_megabytes_of_random_bytes(self):
        old = self.random_settings(5 * 1024 * 1024)
        ini = self.write_ini(old)
        began = time.monotonic()
        program = self.start()
        print(f"[hardening] start with 5 MB of random bytes: {time.monotonic() - began:.1f} s",
              flush=True)
        self.assert_defaults_work(program)

        began = time.monotonic()
        self.ok_options(program)
        wait_for(lambda: parse_ini(ini.read_bytes()[len(old):]) == DEFAULT_SAVE, STEP_TIMEOUT * 2,
                 "the program's sections after the old bytes")
        print(f"[hardening] first save of the 5 MB file: {time.monotonic() - began:.1f} s",
              flush=True)
        new = ini.read_bytes()
        # The old bytes stay as they were; what follows them is the
        # program's own lines only (and line ends and blank lines).
        self.assertEqual(new[:len(old)], old, "the old bytes must stay as they were")
        tail = new[len(old):]
        self.assertEqual(without_own_lines(tail).strip(b"\r\n"), b"", tail[:500])
        self.assertTrue(program.running())
        self.assertEqual(self.exit_program(program), 0)

    def test_ten_thousand_sections(self):
        sections = [f"[Section{i:05d}]\r\nName=Value {i}\r\nEmpty=\r\n; a comment {i}\r\n"
                    for i in range(10_000)]
        # The program's own sections lie among the others, each with a key
        # that is not the program's.
        sections.insert(2500, "[BVX]\r\nNote=kept\r\n")
        sections.insert(5000, "[ShortCuts]\r\nOpenShortCutX=kept too\r\n")
        sections.insert(7500, "[Track]\r\nDoTrackAll=maybe\r\n")
        old = "".join(sections).encode("ascii")
        ini = self.write_ini(old)
        program = self.start()
        self.assert_defaults_work(program)

        self.ok_options(program)
        expected = {name: dict(keys) for name, keys in DEFAULT_SAVE.items()}
        expected["bvx"]["note"] = "kept"
        expected["shortcuts"]["openshortcutx"] = "kept too"
        expected["track"]["dotrackall"] = "maybe"

        def own_sections() -> dict:
            parsed = parse_ini(ini.read_bytes())
            return {name: parsed.get(name) for name in expected}

        wait_for(lambda: own_sections() == expected, STEP_TIMEOUT, "the saved settings",
                 describe=lambda: repr(own_sections()))
        new = ini.read_bytes()
        self.assertEqual(len(parse_ini(new)), 10_003)
        # Byte for byte the old file once the program's keys are out (its
        # sections were there before).
        self.assertEqual(without_own_lines(new, headers=False), old)
        self.assertEqual(self.exit_program(program), 0)


class WriteFailureTest(HardeningTestCase):
    """A settings file that cannot be written: OK of the options dialog
    reports it and nothing of the file is lost.

    The tests run as root, and Linux lets root write whatever the mode bits
    say: a folder made read-only with chmod 555 does not stop Wine from
    creating the temporary file and renaming it over the settings file
    (measured), so for root the folder is made immutable with chattr +i
    instead, which stops root too. A file made read-only with chmod 444 is
    FILE_ATTRIBUTE_READONLY to Windows programs, and the program itself
    declines to replace it."""

    SETTINGS = (b"; kept by hand\r\n[BVX]\r\nWaitFor=0x1E\r\n[ShortCuts]\r\n"
                b"OpenShortCut2=24696\r\n[Elsewhere]\r\nKey=value\r\n")

    # Each makes the file or its folder unwritable and returns how to undo it.
    def chattr(self, path: Path) -> Callable[[], object]:
        result = subprocess.run(["chattr", "+i", str(path)], capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest(f"chattr +i {path}: {result.stderr.strip()}")
        return lambda: subprocess.run(["chattr", "-i", str(path)], check=True)

    def read_only_file(self, ini: Path) -> Callable[[], object]:
        os.chmod(ini, 0o444)
        return lambda: os.chmod(ini, 0o644)

    def immutable_file(self, ini: Path) -> Callable[[], object]:
        return self.chattr(ini)

    def unwritable_folder(self, ini: Path) -> Callable[[], object]:
        if os.geteuid() == 0:
            return self.chattr(ini.parent)
        os.chmod(ini.parent, 0o555)
        return lambda: os.chmod(ini.parent, 0o755)

    def test_a_save_that_cannot_be_written_is_reported_and_loses_nothing(self):
        cases = [
            ("a read-only file (chmod 444)", self.read_only_file),
            ("an immutable file (chattr +i)", self.immutable_file),
            ("a folder that cannot be written", self.unwritable_folder),
        ]
        for index, (what, make_unwritable) in enumerate(cases):
            with self.subTest(what):
                if index:
                    self.new_wine_session()
                ini = self.write_ini(self.SETTINGS)
                program = self.start()
                windows_path = self.windows_path(ini)
                undo = make_unwritable(ini)
                try:
                    self.check_save_fails(program, ini, windows_path)
                finally:
                    undo()

    def check_save_fails(self, program: harness.Bvx, ini: Path, windows_path: str) -> None:
        before = os.stat(ini)
        self.press_options_ok()
        box = self.driver("box", "Brimvex", int(STEP_TIMEOUT * 1000)).lines
        self.assertEqual(box, [f"Unable to write to {windows_path}.", "closed"])
        # One report only: the save stops at its first key.
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))
        self.driver("absent", "#32770", 1000)

        self.assertEqual(ini.read_bytes(), self.SETTINGS)
        after = os.stat(ini)
        self.assertEqual((after.st_ino, after.st_mtime_ns, after.st_mode),
                         (before.st_ino, before.st_mtime_ns, before.st_mode))
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini"],
                         "no temporary file is left")
        # The file was read back after the dialog: F:'s Ctrl+Shift+F9 is held.
        self.assertEqual(self.try_hotkey(MOD_CONTROL | MOD_SHIFT, VK_F9),
                         ERROR_HOTKEY_ALREADY_REGISTERED)
        self.assertEqual(self.exit_program(program), 0)


class HeldFileTest(HardeningTestCase):
    """Another program (a virus scanner, the indexer, a sync client) has the
    settings file open for a moment, sharing it for reading and writing but
    not for deleting, while OK is pressed: the save waits for it, then
    writes every key, and no error box comes."""

    HOLD_MS = 300

    def test_a_file_held_for_a_moment_is_waited_for(self):
        ini = self.write_ini(WriteFailureTest.SETTINGS)
        program = self.start()
        ok = self.open_options_ok()
        closed = self.driver("hold-file", self.windows_path(ini), self.HOLD_MS, ok).lines
        self.assertEqual(len(closed), 1, closed)
        # File times count 100 ns from 1601; Linux's from 1970.
        closed_ns = (int(closed[0].split()[1]) - 116_444_736_000_000_000) * 100
        self.driver("wait-gone", OPTIONS_CLASS, int(STEP_TIMEOUT * 1000))
        saved = {section: dict(keys) for section, keys in DEFAULT_SAVE.items()}
        saved["bvx"]["waitfor"] = "30"
        saved["shortcuts"]["openshortcut2"] = "24696"
        saved["elsewhere"] = {"key": "value"}
        wait_for(lambda: parse_ini(ini.read_bytes()) == saved, STEP_TIMEOUT, "every key saved",
                 describe=lambda: f"want {saved}\nhave {parse_ini(ini.read_bytes())}")
        self.driver("absent", "#32770", 1000)
        # Written after the other program let go. Linux stamps files with a
        # clock that may lag the system time by a timer tick (at most 10 ms).
        self.assertGreater(ini.stat().st_mtime_ns, closed_ns - 10_000_000)
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini"])
        self.assertEqual(self.exit_program(program), 0)


class ForeignFileTest(HardeningTestCase):
    """A settings file as a user may leave it: saved by Notepad as
    "Unicode" (UTF-16 LE with a byte-order mark) and hidden, beside the
    temporary files of saves that were killed. It is read; a save writes
    it back in UTF-16 with every other line as it was, keeps it hidden, and
    removes those leftovers and no other file."""

    TEXT = ("; Настройки Brimvex\r\n[BVX]\r\nWaitFor=0x1E\r\n[ShortCuts]\r\n"
            "OpenShortCut2=24696\r\n[Elsewhere]\r\nKey=значение\r\n[Track]\r\n")
    LEFTOVERS = ["BVX.ini.tmp-4242", "BVX.ini.tmp-1"]
    OTHERS = ["BVX.ini.tmp-12a", "BVX.ini.bak", "Other.ini.tmp-5"]

    def test_a_unicode_hidden_file_is_read_and_saved_as_it_was(self):
        ini = self.write_ini(self.TEXT.encode("utf-16"))  # with its mark, little-endian
        self.assertTrue(ini.read_bytes().startswith(b"\xff\xfe"))
        for name in self.LEFTOVERS + self.OTHERS:
            (self.folder / name).write_bytes(b"[BVX]\r\nDefault=")
        windows_path = self.windows_path(ini)
        self.assertEqual(self.wine_tool("attrib", "+h", windows_path)[0], 0)
        self.assertTrue(self.hidden(windows_path), "attrib +h took no effect")

        program = self.start()
        # F:'s Ctrl+Shift+F9 from the file is held.
        self.assertEqual(self.try_hotkey(MOD_CONTROL | MOD_SHIFT, VK_F9), ERROR_HOTKEY_ALREADY_REGISTERED)
        before = ini.read_bytes()
        self.ok_options(program)
        wait_for(lambda: ini.read_bytes() != before, STEP_TIMEOUT, "the save")
        data = ini.read_bytes()
        self.assertTrue(data.startswith(b"\xff\xfe"), "no longer UTF-16 LE with its mark")
        text = data.decode("utf-16")
        self.assertEqual(parse_ini(text.encode("utf-8"))["shortcuts"]["openshortcut2"], "24696")
        self.assertEqual(parse_ini(text.encode("utf-8"))["bvx"]["waitfor"], "30")
        # Every line but the program's own keys as it was (the hexadecimal
        # wait is now written in decimal).
        self.assertEqual(without_own_lines(text.encode("utf-8"), headers=False),
                         without_own_lines(self.TEXT.replace("WaitFor=0x1E\r\n", "").encode("utf-8"),
                                           headers=False))
        self.assertTrue(self.hidden(windows_path), "the save lost the hidden attribute")
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(["BVX.exe", "BVX.ini", *self.OTHERS]))
        self.assertEqual(self.exit_program(program), 0)


class KillDuringSaveTest(HardeningTestCase):
    """BVX.exe killed (SIGKILL to its Wine process) at random moments after
    OK: the settings file is always one of the complete files that the save
    writes one key after another (each key is an atomic replace of the
    whole file), never a mixture or a cut-off file.

    The keys are written by hand in hexadecimal, which the program reads
    and writes back in decimal, so every one of the ten writes changes the
    file, with nothing changed in the dialog. Two megabytes of other
    sections make each write take a while.
    """

    RUNS = 20
    # In the order the save writes them: (section, key, by hand, as saved:
    # the same number in decimal).
    KEYS = [(section, key, by_hand, str(int(by_hand, 16))) for section, key, by_hand in [
        ("BVX", "Default", "0x1"),
        ("BVX", "WaitFor", "0x1E"),
        ("ShortCuts", "OpenShortCut1", "0xC0DB"),
        ("ShortCuts", "CloseShortCut1", "0xC0DD"),
        ("BVX", "OpenShortCut", "0xC0DB"),
        ("BVX", "CloseShortCut", "0xC0DD"),
        ("Track", "DoTrack1", "0x1"),
        ("ShortCuts", "OpenShortCut2", "0x6078"),
        ("ShortCuts", "CloseShortCut2", "0xA079"),
        ("Track", "DoTrack2", "0x0"),
    ]]
    FILLER = "".join(f"[Filler{i:05d}]\r\nKey=a value that is not the program's {i}\r\n"
                     for i in range(36_000))

    def state(self, written: int) -> bytes:
        """The file after the first `written` keys of the save."""
        values = {(section, key): new if index < written else old
                  for index, (section, key, old, new) in enumerate(self.KEYS)}
        lines = ["; Brimvex settings, by hand"]
        for section in ("BVX", "ShortCuts", "Track"):
            lines.append(f"[{section}]")
            lines += [f"{key}={value}" for (owner, key), value in values.items() if owner == section]
            lines.append("")
        return ("\r\n".join(lines) + "\r\n" + self.FILLER).encode("ascii")

    def open_and_press_ok(self) -> harness.Bvx:
        program = self.start(wait_ready=False)
        with open(f"/proc/{program.process.pid}/cmdline", "rb") as cmdline:
            self.assertIn(b"BVX.exe", cmdline.read(), "the PID is the Wine process of BVX.exe")
        self.press_options_ok()
        return program

    def which_state(self, data: bytes, states: list[bytes]) -> Optional[int]:
        return states.index(data) if data in states else None

    def test_a_kill_during_a_save_leaves_a_complete_file(self):
        states = [self.state(written) for written in range(len(self.KEYS) + 1)]
        ini = self.folder / "BVX.ini"

        # One save to its end: how long it takes.
        ini.write_bytes(states[0])
        program = self.open_and_press_ok()
        began = time.monotonic()
        wait_for(lambda: ini.read_bytes() == states[-1], 60, "the whole save", interval=0.005)
        save_time = time.monotonic() - began
        self.assertEqual(self.exit_program(program), 0)
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini"])

        rng = random.Random(RANDOM_START)
        seen = []
        for run in range(self.RUNS):
            ini.write_bytes(states[0])
            program = self.open_and_press_ok()
            delay = rng.uniform(0, save_time * 1.2)
            time.sleep(delay)
            os.kill(program.process.pid, signal.SIGKILL)
            program.process.wait(30)
            written = self.which_state(ini.read_bytes(), states)
            self.assertIsNotNone(written, f"run {run}: killed {delay * 1000:.0f} ms after OK, "
                                          "the file is no state of the save")
            seen.append(written)
        leftovers = sorted(name for name in os.listdir(self.folder)
                           if name not in ("BVX.exe", "BVX.ini"))
        print(f"\n[hardening] a save of {len(states[0]) // 1024} KB: {save_time * 1000:.0f} ms; "
              f"random start {RANDOM_START}; keys written when killed: {seen}; "
              f"left over: {leftovers}", flush=True)
        for name in leftovers:
            self.assertRegex(name, r"^BVX\.ini\.tmp-\d+$", "only the save's own temporary files")

        # With those left over, the next start reads the file and saves it,
        # and the save removes them.
        ini.write_bytes(states[0])
        program = self.open_and_press_ok()
        wait_for(lambda: ini.read_bytes() == states[-1], 60, "the whole save")
        self.assertEqual(self.exit_program(program), 0)
        self.assertEqual(sorted(os.listdir(self.folder)), ["BVX.exe", "BVX.ini"])


class DeviceChangeTest(HardeningTestCase):
    """Every WM_DEVICECHANGE is answered -1; a record that is not a complete
    volume record with the media flag, under an event that carries one,
    changes no flag.

    Wine copies exactly dbch_size bytes of the sender's record to the
    receiver (and drops records of less than the 12-byte header), so what a
    sender can get wrong is the size it declares, not the memory behind it.
    Events without the 0x8000 bit carry no record: their lParam is handed
    over as it is, an address of the sender's.
    """

    # (what, driver arguments). Each would remove D:'s disc or add F:'s if
    # it were taken as a volume notice.
    BAD = [
        ("a volume record of 12 bytes, the header alone",
         ["devchange", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["d"], 1, 12]),
        ("a volume record of 16 bytes, without its flags",
         ["devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK["f"], 1, 16]),
        ("a volume record of 17 bytes, half its flags",
         ["devchange", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["d"], 1, 17]),
        ("an arrival without a record (null lParam)",
         ["devchange-null", MAIN_CLASS, DBT_DEVICEARRIVAL]),
        ("a removal without a record (null lParam)",
         ["devchange-null", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE]),
        *[(f"an 18-byte record of device type {kind}",
           ["devchange", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["d"], 1, 18, 18, kind])
          for kind in (DBT_DEVTYP_OEM, DBT_DEVTYP_PORT, DBT_DEVTYP_DEVICEINTERFACE,
                       DBT_DEVTYP_HANDLE, 0xFFFFFFFF)],
        ("a custom event with a volume record",
         ["devchange", MAIN_CLASS, DBT_CUSTOMEVENT, UNIT_MASK["d"], 1]),
        ("a user-defined event with a volume record",
         ["devchange", MAIN_CLASS, DBT_USERDEFINED, UNIT_MASK["f"], 1]),
        ("a query-remove with a volume record",
         ["devchange", MAIN_CLASS, DBT_DEVICEQUERYREMOVE, UNIT_MASK["d"], 1]),
        *[(f"event {event:#x} (no record) with lParam {pointer:#x}, an address of another "
           "process or none",
           ["send", MAIN_CLASS, WM_DEVICECHANGE, event, pointer])
          for event in (DBT_DEVNODES_CHANGED, DBT_CONFIGCHANGED)
          for pointer in (1, 0xDEADBEEF0, 0xFFFF800000000000)],
    ]
    TIP = "D: диск вставлен F: диск не вставлен"

    def test_malformed_notices_are_answered_and_change_nothing(self):
        program = self.start()
        self.assertEqual(self.driver("devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK["d"], 1)
                         .lines, ["-1"])
        self.wait_tooltip(self.TIP)
        for what, args in self.BAD:
            with self.subTest(what):
                self.assertEqual(self.driver(*args).lines, ["-1"])
                self.assertTrue(program.running())
                self.assertEqual(self.tooltips(), [self.TIP])

        # Records that declare far more than 18 bytes. Up to 1 MB Wine
        # delivers them and the volume fields are read as in any record; from
        # 2 MB on, Wine's GetMessageW in the receiver fails on the copy
        # (STATUS_STACK_OVERFLOW in peek_message) and the sender waits for an
        # answer that never comes. Either way the program runs on.
        for size, delivered in ((1 << 20, True), (2 << 20, False), (16 << 20, False)):
            with self.subTest(declared_bytes=size):
                result = self.driver("devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK["f"], 1,
                                     size, size, 2, 3000, check=False, timeout=120)
                if delivered:
                    self.assertEqual(result.lines, ["-1"], result)
                    self.wait_tooltip("D: диск вставлен F: диск вставлен")
                    self.driver("devchange", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["f"], 1)
                    self.wait_tooltip(self.TIP)
                else:
                    self.assertNotEqual(result.code, 0, f"delivered after all: {result}")
                # The program is still there and answers.
                self.assertTrue(program.running(), "the program ended")
                self.assertEqual(self.send(harness.WM_NULL, 0, 0), 0)
                self.assertEqual(self.tooltips(), [self.TIP])

        # And a plain notice still works after all that.
        self.driver("devchange", MAIN_CLASS, DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["d"], 1)
        self.wait_tooltip(DEFAULT_TIP)
        self.assertEqual(door_commands(program), [])
        self.assertEqual(self.exit_program(program), 0)

    def main_loop(self) -> harness.Bvx:
        return self.start()

    def open_options(self) -> harness.Bvx:
        program = self.start()
        self.post((WM_COMMAND, CMD_OPTIONS, 0))
        self.driver("wait-visible", OPTIONS_CLASS, 1, int(STEP_TIMEOUT * 1000))
        return program

    def show_notice(self) -> harness.Bvx:
        """The eject notice of D:, with a minute to count down."""
        self.write_ini("[BVX]\r\nWaitFor=60\r\n[Track]\r\nDoTrack1=1\r\n")
        program = self.start()
        self.driver("devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK["d"], 1)
        query = self.session.spawn_driver("send", MAIN_CLASS, WM_QUERYENDSESSION, 0, 0, 120000,
                                          name="query-end-session")
        self.backgrounds.append(query)
        program.wait_mci(OPEN_D)
        self.driver("wait-visible", NOTICE_CLASS, 1, int(STEP_TIMEOUT * 1000))
        return program

    def test_a_record_that_cannot_be_received_is_skipped_by_every_loop(self):
        """From 2 MB on, Wine's GetMessageW fails on the record: it answers
        the fault's status (0xC0000005) or -1 and leaves the message it hands
        back as it was. The main loop, the options dialog's and the eject
        notice's loops skip it: no window closes, and the last message (the
        hotkey that closed D:) is not run again."""
        for index, (what, show, window) in enumerate([("the main loop", self.main_loop, None),
                                                      ("the options dialog", self.open_options, OPTIONS_CLASS),
                                                      ("the eject notice", self.show_notice, NOTICE_CLASS)]):
            with self.subTest(what):
                if index:
                    self.new_wine_session()
                program = show()
                self.post((WM_HOTKEY, 1, 0))
                program.wait_mci(CLOSE_D)
                for size in (2 << 20, 16 << 20):
                    result = self.driver("devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK["f"],
                                         1, size, size, 2, 3000, check=False, timeout=120)
                    self.assertNotEqual(result.code, 0, f"delivered after all: {result}")
                self.assertEqual(self.send(harness.WM_NULL, 0, 0), 0)
                self.assertEqual(door_commands(program).count(CLOSE_D), 1,
                                 "the hotkey ran again")
                if window is None:
                    self.assertEqual(self.exit_program(program), 0)
                    continue
                self.assertEqual(self.driver("visible", window).lines, ["1"],
                                 "the window closed on the record")
                self.driver("post", window, harness.WM_CLOSE, 0, 0)
                self.driver("wait-gone", window, int(STEP_TIMEOUT * 1000))
                if window == OPTIONS_CLASS:
                    self.assertEqual(self.exit_program(program), 0)
                else:
                    self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
