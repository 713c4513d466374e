#!/usr/bin/env python3
"""Doors and discs on the real BVX.exe under Wine: the tray icon's
double-clicks, the query-remove broadcast before opening, and the tooltip
following device-change notices."""

import time
import unittest

import harness
from harness import (CLOSE_D, DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE,
                     DBT_DEVTYP_DEVICEINTERFACE, DBT_DEVTYP_VOLUME, DEFAULT_TIP, MAIN_CLASS,
                     MENU_CLASS, OPEN_D, STEP_TIMEOUT, UNIT_MASK, WM_LBUTTONDBLCLK,
                     WM_LBUTTONDOWN, WM_LBUTTONUP, WM_NULL, WM_RBUTTONDBLCLK, WM_RBUTTONDOWN,
                     WM_RBUTTONUP, BvxTestCase, door_commands, parse_popup_items, wait_for)

setUpModule = harness.module_setup("doors")
tearDownModule = harness.tearDownModule


class DoubleClickTest(BvxTestCase):

    def test_left_double_click_asks_every_window_then_opens_the_default_drive(self):
        listener = self.listen()
        program = self.start()
        # A single left click (down, up) does nothing; the double-click opens.
        self.post(self.tray(WM_LBUTTONDOWN), self.tray(WM_LBUTTONUP),
                  self.tray(WM_LBUTTONDBLCLK), self.tray(WM_LBUTTONUP))
        opened = program.wait_mci(OPEN_D)

        queries = listener.device_changes(DBT_DEVICEQUERYREMOVE)
        self.assertEqual(len(queries), 1, listener.text())
        query = queries[0]
        # The packed 18-byte volume record of drive D:.
        self.assertEqual({key: query[key] for key in
                          ("size", "type", "reserved", "unitmask", "flags")},
                         {"size": 18, "type": DBT_DEVTYP_VOLUME, "reserved": 0,
                          "unitmask": UNIT_MASK["d"], "flags": 1})
        # The broadcast is answered before the door command goes out (both
        # clocks are Wine's tick count).
        self.assertIsNotNone(opened.tick_ms)
        self.assertLessEqual(query["tick"], opened.tick_ms)
        self.assertEqual(door_commands(program), [OPEN_D])
        self.assertEqual(self.exit_program(program), 0)

    def test_right_double_click_closes_the_default_drive_and_shows_no_menu(self):
        listener = self.listen()
        program = self.start(debug="+timestamp,+mci,+menu")
        double_click = int(self.driver("metrics").lines[0].split()[1])

        self.post(self.tray(WM_RBUTTONDOWN), self.tray(WM_RBUTTONUP),
                  self.tray(WM_RBUTTONDBLCLK), self.tray(WM_RBUTTONUP))
        program.wait_mci(CLOSE_D)
        # The pop-up that the button-down asked for is due one double-click
        # time later; it must not come.
        self.driver("absent", MENU_CLASS, double_click + 1500)
        self.assertEqual(parse_popup_items(program.log_text()), [], "no menu was tracked")
        # Closing asks nobody.
        self.assertEqual(listener.device_changes(), [])
        self.assertEqual(door_commands(program), [CLOSE_D])

        # The next right click shows the menu again.
        self.open_tray_menu()
        self.session.keys("Escape")
        self.driver("wait-visible", MENU_CLASS, 0, int(STEP_TIMEOUT * 1000))
        self.assertEqual(door_commands(program), [CLOSE_D])
        self.assertEqual(self.exit_program(program), 0)

    def test_a_refused_query_keeps_the_door_shut(self):
        program = self.start()
        # (what is added: a window of another program that answers the query
        # so, or a program that hangs; the door commands after an open and a
        # close). The close command marks the end of the open handling
        # (posted messages are handled in order). The windows of the rows
        # before stay, and the newest is asked first: in the last row a hung
        # window is passed over before the refusal comes.
        rows = ((0, [OPEN_D, CLOSE_D]), ("deny", [CLOSE_D]), ("hang", [CLOSE_D]))
        listeners = {}
        for added, doors in rows:
            with self.subTest(added=added):
                if added == "hang":
                    hung = self.session.spawn_driver("hang", 60, name="hang")
                    self.backgrounds.append(hung)
                    hung.wait_ready()
                elif added == "deny":
                    listeners[added] = self.listen(deny=True)
                else:
                    listeners[added] = self.listen(answer=added)
                before = len(door_commands(program))
                self.post(self.tray(WM_LBUTTONDBLCLK), self.tray(WM_RBUTTONDBLCLK))
                wait_for(lambda: len(door_commands(program)) >= before + len(doors),
                         STEP_TIMEOUT, "the door commands")
                self.assertEqual(door_commands(program)[before:], doors)
        for added, answers in ((0, ["0"]), ("deny", ["deny", "deny"])):
            queries = listeners[added].device_changes(DBT_DEVICEQUERYREMOVE)
            self.assertEqual([(q["unitmask"], q["answer"]) for q in queries],
                             [(UNIT_MASK["d"], answer) for answer in answers],
                             listeners[added].text())
        self.assertEqual(self.exit_program(program), 0)

    def test_a_program_that_hangs_holds_the_opening_up_for_a_bounded_time(self):
        """A top-level window whose thread answers nothing gets the
        query-remove broadcast too. The system times it out (Wine: 2 s for
        each window of a program not yet marked as hung, none once it has not
        looked at its messages for 5 s) and the broadcast goes on past it: the
        door opens while the other program still hangs."""
        hang = 40
        hung = self.session.spawn_driver("hang", hang, name="hang")
        self.backgrounds.append(hung)
        hung.wait_ready()
        hung_since = time.monotonic()
        program = self.start()
        began = time.monotonic()
        self.post(self.tray(WM_LBUTTONDBLCLK))
        program.wait_mci(OPEN_D, timeout=hang + STEP_TIMEOUT)
        self.assertEqual(self.send(WM_NULL, 0, 0), 0)
        held = time.monotonic() - began
        print(f"\n[doors] a window hung since {began - hung_since:.1f} s: "
              f"the double-click's door opened and the program answered after {held:.1f} s",
              flush=True)
        self.assertIsNone(hung.process.poll(), "the hung program ended first")
        self.assertLess(held, 10.0)
        self.assertEqual(self.exit_program(program), 0)


class DeviceChangeTest(BvxTestCase):

    # (what, driver arguments after the window class, tooltip afterwards).
    # Run in this order on one program; every notice is answered -1.
    NOTICES = [
        ("a disc arrives in D:",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["d"], 1],
         "D: диск вставлен F: диск не вставлен"),
        ("an arrival without the media flag",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["f"], 0],
         "D: диск вставлен F: диск не вставлен"),
        ("an arrival of another device type",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["f"], 1, 18, 18, DBT_DEVTYP_DEVICEINTERFACE],
         "D: диск вставлен F: диск не вставлен"),
        ("an arrival without a record",
         ["devchange-null", DBT_DEVICEARRIVAL],
         "D: диск вставлен F: диск не вставлен"),
        ("a volume record that declares only 16 bytes",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["f"], 1, 16],
         "D: диск вставлен F: диск не вставлен"),
        ("an arrival on a drive that is not optical (C:)",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["c"], 1],
         "D: диск вставлен F: диск не вставлен"),
        ("a query-remove for D: (never refused)",
         ["devchange", DBT_DEVICEQUERYREMOVE, UNIT_MASK["d"], 1],
         "D: диск вставлен F: диск не вставлен"),
        ("the disc leaves D:",
         ["devchange", DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["d"], 1],
         DEFAULT_TIP),
        ("one notice for D: and F:",
         ["devchange", DBT_DEVICEARRIVAL, UNIT_MASK["d"] | UNIT_MASK["f"], 1],
         "D: диск вставлен F: диск вставлен"),
        ("the disc leaves F:, in a 20-byte (naturally aligned) record",
         ["devchange", DBT_DEVICEREMOVECOMPLETE, UNIT_MASK["f"], 1, 20],
         "D: диск вставлен F: диск не вставлен"),
    ]

    def test_device_change_notices_update_the_tooltip(self):
        # The tooltip is read back from the tray (see BvxTestCase.tooltips).
        # Shell_NotifyIcon hands the tip to explorer with a synchronous
        # WM_COPYDATA, so once the program has answered the notice the tray
        # holds its final text: a text that must not change is read once.
        program = self.start()
        self.assertEqual(self.tooltips(), [DEFAULT_TIP])
        for what, (command, *args), tip in self.NOTICES:
            with self.subTest(what):
                result = self.driver(command, MAIN_CLASS, *args)
                self.assertEqual(result.lines, ["-1"])
                self.assertEqual(self.tooltips(), [tip])
        # Discs come and go without any door moving.
        self.assertEqual(door_commands(program), [])
        self.assertEqual(self.exit_program(program), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
