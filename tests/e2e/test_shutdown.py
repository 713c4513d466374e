#!/usr/bin/env python3
"""The end-of-session guard on the real BVX.exe under Wine: a disc left in a
watched drive is ejected, a countdown notice asks the user to take it, the
door closes again, and only then is the query answered and the program ends."""

import unittest

import harness
from harness import (DBT_DEVICEARRIVAL, ENDSESSION_CLOSEAPP, MAIN_CLASS, NOTICE_CLASS,
                     STEP_TIMEOUT, UNIT_MASK, WM_QUERYENDSESSION, WS_EX_TOPMOST, WS_MAXIMIZEBOX,
                     WS_MINIMIZEBOX, WS_SYSMENU, BvxTestCase, close_command, door_commands,
                     open_command, run_to_end, wait_for)

setUpModule = harness.module_setup("shutdown")
tearDownModule = harness.tearDownModule

NOTICE_CAPTION = "Извлечение диска"
# How late the driver's watch may see a window go (it looks every 20 ms).
POLL_SLACK_MS = 250
WAIT_PREFIX = "Внимание дверца будет закрыта автоматически через "


def notice_message(letter: str) -> str:
    return (f"Обнаружено наличие диска в приводе {letter.upper()}:. "
            "Заберите его и закройте дверцу.")


def settings(wait_for_seconds: int, track_d: int, track_f: int) -> str:
    return (f"[BVX]\r\nWaitFor={wait_for_seconds}\r\n"
            f"[Track]\r\nDoTrack1={track_d}\r\nDoTrack2={track_f}\r\n")


class Watch:
    """What the driver's `watch` saw of the notice windows: for each window,
    its texts in the order they appeared, with Wine's tick count."""

    def __init__(self, lines: list[str]):
        self.windows: list[dict] = []
        for line in lines:
            if line.startswith("ready "):
                fields = dict(item.split("=", 1) for item in line.split()[2:])
                self.windows.append({"texts": [], "gone": None,
                                     "ready": int(fields["tick"]),
                                     "style": int(fields["style"], 16),
                                     "exstyle": int(fields["exstyle"], 16)})
            elif line.startswith("gone ") and self.windows:
                self.windows[-1]["gone"] = int(line.split("tick=")[1])
            elif "\t" in line and self.windows:
                tick, cls, text = line.split("\t", 2)
                self.windows[-1]["texts"].append((int(tick), cls, harness.unescape_driver(text)))

    def countdown(self, index: int = 0) -> list[str]:
        return [text for _, cls, text in self.windows[index]["texts"]
                if cls == "Static" and text.startswith(WAIT_PREFIX)]

    def texts(self, index: int = 0) -> set[tuple[str, str]]:
        return {(cls, text) for _, cls, text in self.windows[index]["texts"]}


class ShutdownGuardTest(BvxTestCase):

    def watch_notice(self, count: int = 1) -> harness.Background:
        """The driver follows the texts of `count` notices, one after the other."""
        background = self.session.spawn_driver("watch", NOTICE_CLASS, 120000, count,
                                               name="watch")
        self.backgrounds.append(background)
        wait_for(lambda: background.lines()[:1] or background.process.poll() is not None,
                 harness.START_TIMEOUT, "the driver's watch", describe=background.text)
        self.assertTrue(background.lines() and background.lines()[0].startswith("watching"),
                        background.text())
        return background

    def query_end_session(self, lparam: int = 0) -> harness.Background:
        """WM_QUERYENDSESSION from the driver: SendMessage returns only when
        the guard has answered, so it runs in the background."""
        background = self.session.spawn_driver("send", MAIN_CLASS, WM_QUERYENDSESSION, 0, lparam,
                                               120000, name="query-end-session")
        self.backgrounds.append(background)
        return background

    def insert_disc(self, letter: str) -> None:
        answer = self.driver("devchange", MAIN_CLASS, DBT_DEVICEARRIVAL, UNIT_MASK[letter], 1)
        self.assertEqual(answer.lines, ["-1"])

    def test_a_disc_in_a_watched_drive_is_ejected_counted_down_and_the_door_closed(self):
        # 4 s of countdown: time enough for the picture on a loaded machine.
        self.write_ini(settings(4, 1, 0))
        program = self.start()
        self.insert_disc("d")
        self.wait_tooltip("D: диск вставлен F: диск не вставлен")

        watch = self.watch_notice()
        query = self.query_end_session()

        opened = program.wait_mci(open_command("d"))
        self.driver("wait-visible", NOTICE_CLASS, 1, int(STEP_TIMEOUT * 1000))
        # The countdown changes every second and the notice is up for about
        # 5 s: no long wait for a settled picture.
        shot = self.session.screenshot("shutdown-notice", settle_timeout=0.5)
        # Still there after the picture was taken, so it is in the picture.
        self.assertTrue(self.driver("find", NOTICE_CLASS, check=False).ok,
                        f"the notice went before {shot} was taken")
        # The query is not answered while the notice is up.
        self.assertIsNone(query.process.poll(), "the query was answered before the notice ended")
        self.assertTrue(program.running())

        closed = program.wait_mci(close_command("d"), timeout=STEP_TIMEOUT + 5)
        self.assertEqual(program.wait_exit(), 0)
        wait_for(lambda: query.process.poll() is not None, STEP_TIMEOUT, "the query's answer")
        self.assertEqual(query.process.returncode, 0, query.text())
        self.assertEqual(query.lines(), ["1"], "the session may end")
        self.assertEqual(door_commands(program), [open_command("d"), close_command("d")],
                         "F: is not watched; D: opens once and closes once")

        wait_for(lambda: any(l.startswith("gone ") for l in watch.lines()), STEP_TIMEOUT,
                 "the end of the watch")
        seen = Watch(watch.lines())
        self.assertEqual(len(seen.windows), 1, watch.text())
        notice = seen.windows[0]
        self.assertIn((NOTICE_CLASS, NOTICE_CAPTION), seen.texts())
        # It stays on top of every other window; its title bar has the close
        # box only.
        self.assertTrue(notice["exstyle"] & WS_EX_TOPMOST, hex(notice["exstyle"]))
        self.assertEqual(notice["style"] & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU),
                         WS_SYSMENU, hex(notice["style"]))
        self.assertIn(("Static", notice_message("d")), seen.texts())
        self.assertEqual(seen.countdown(), [WAIT_PREFIX + "4 секунды.", WAIT_PREFIX + "3 секунды.",
                                            WAIT_PREFIX + "2 секунды.", WAIT_PREFIX + "1 секунду.",
                                            WAIT_PREFIX + "0 секунд."])
        # Wine's tick count is the clock of both the MCI trace and the watch:
        # the door opens before the notice comes and closes after it went
        # (the watch looks every 20 ms, so it may see the end a little late).
        first_text = notice["texts"][0][0]
        self.assertLessEqual(opened.tick_ms, first_text)
        self.assertLessEqual(notice["gone"], closed.tick_ms + POLL_SLACK_MS)
        # Its timer runs from the window's creation: 4 s of countdown and
        # the tick that ends it make about 5 s from creation to the end.
        lived = (notice["gone"] - notice["ready"]) / 1000
        self.assertGreater(lived, 4.7, f"the notice lived {lived:.1f} s")
        self.assertLess(lived, 10.0, f"the notice lived {lived:.1f} s")

    # (what, settings, discs put in, door commands in order, notices, lParam)
    CASES = [
        ("a disc in D:, but D: is not watched", settings(0, 0, 1), ["d"], [], 0),
        ("F: is watched but holds no disc", settings(0, 0, 1), [], [], 0),
        ("discs in both, both watched: one after the other in table order",
         settings(0, 1, 1), ["d", "f"],
         [open_command("d"), close_command("d"), open_command("f"), close_command("f")], 2),
        # ENDSESSION_CLOSEAPP: Restart Manager closes the program for an
        # installer; the session goes on and no door moves.
        ("an installer closes the program", settings(0, 1, 1), ["d", "f"], [], 0,
         ENDSESSION_CLOSEAPP),
    ]

    def test_only_watched_drives_with_a_disc_get_a_notice(self):
        for index, (what, ini, discs, commands, notices, *lparam) in enumerate(self.CASES):
            with self.subTest(what):
                if index:
                    self.new_wine_session()
                self.write_ini(ini)
                program = self.start()
                for letter in discs:
                    self.insert_disc(letter)
                watch = self.watch_notice(count=max(notices, 1))
                query = self.query_end_session(*lparam)
                self.assertEqual(program.wait_exit(timeout=STEP_TIMEOUT + 10), 0)
                wait_for(lambda: query.process.poll() is not None, STEP_TIMEOUT, "the answer")
                self.assertEqual(query.lines(), ["1"])
                self.assertEqual(door_commands(program), commands)
                if notices:
                    wait_for(lambda: watch.process.poll() is not None, STEP_TIMEOUT,
                             "the end of the watch")
                seen = Watch(watch.lines())
                self.assertEqual(len(seen.windows), notices, watch.text())
                # With 0 seconds each notice shows "0 секунд." and goes at
                # the first tick; one per drive with a disc, in table order.
                for number, letter in enumerate(discs[:notices]):
                    self.assertEqual(seen.countdown(number), [WAIT_PREFIX + "0 секунд."])
                    self.assertIn(("Static", notice_message(letter)), seen.texts(number))
                if notices == 2:
                    # D:'s door closes before F:'s opens, with D:'s notice
                    # gone in between.
                    mci = {c.text: c.tick_ms for c in program.mci() if c.text.startswith("Set ")}
                    self.assertLessEqual(seen.windows[0]["gone"],
                                         mci[close_command("d")] + POLL_SLACK_MS)
                    self.assertLessEqual(mci[open_command("f")], seen.windows[1]["texts"][0][0])

    def test_wineboot_end_session_runs_the_guard(self):
        """The real end of a Wine session: `wineboot -e -k` sends
        WM_QUERYENDSESSION and WM_ENDSESSION to the hidden top-level windows
        (inside a virtual desktop only with -k) and waits for the answer
        without a limit of its own."""
        self.write_ini(settings(1, 1, 0))
        program = self.start()
        self.insert_disc("d")
        watch = self.watch_notice()
        log = self.session.logs / "wineboot-end-session.txt"
        wineboot = run_to_end(["timeout", "-s", "KILL", "90", self.session.env["BVX_WINE64"],
                               "wineboot", "-e", "-k"], self.session.env, 120, log=log)
        self.assertEqual(wineboot.code, 0, log.read_text(errors="replace"))
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(door_commands(program), [open_command("d"), close_command("d")])
        seen = Watch(watch.lines())
        self.assertEqual(seen.countdown(), [WAIT_PREFIX + "1 секунду.", WAIT_PREFIX + "0 секунд."])
        # Every program of the prefix is gone with the session.
        self.session.used = True


if __name__ == "__main__":
    unittest.main(verbosity=2)
