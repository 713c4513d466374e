"""End-to-end harness: the real BVX.exe under Wine, on an Xvfb display of its own.

One *session* per test module (one ctest test): an Xvfb display, a Wine prefix
and its wineserver, the folders behind the optical drives D: and F:. Each test
gets a fresh folder with its own copy of BVX.exe (the settings file BVX.ini
lives beside the exe) and its own log folder.

Which Wine runs what (scripts/wine-env.sh decides the mode): the program under
test is build/win32/BVX.exe wherever Wine runs 32-bit code (it then runs as a
WoW64 process of a 64-bit prefix) and build/win64/BVX.exe elsewhere. Wine's
own tools (wineboot, reg with /reg:64, winepath) run with the 64-bit loader
on every host. The driver program (tests/e2e/driver/) runs in the
same prefix and desktop and finds, pokes and reads windows; where it reads
structures in another process's memory it must have that process's bitness.
So the `tooltip` command, which reads the desktop explorer (64-bit on every
host), runs the x86_64 driver.exe with the 64-bit loader, and every other
command the driver of the program's arch with the program's loader
(driver-i686.exe beside driver.exe, for the tab captions of a 32-bit
BVX.exe).

The Wine side lives in harness_wine.py, the driver side in harness_driver.py,
the program's pictures and screenshots in harness_pictures.py, the Win32
values the tests use in harness_win32.py and the program's own rules (window
classes, command ids, shortcuts, door commands, the settings file) in
harness_rules.py; this module is the tests' face of them all.

Environment:
  BVX_EXE         the BVX.exe to test (default: build/win32/BVX.exe where Wine
                  runs 32-bit code, build/win64/BVX.exe where it does not)
  BVX_DRIVER      the x86_64 driver.exe, with driver-i686.exe beside it
                  (default: build/native/tests/e2e/driver.exe)
  BVX_E2E_WORK    folder for prefixes, sessions and logs
                  (default: build/e2e-work)
  BVX_E2E_SHOTS   folder for screenshots (default: build/e2e-shots)
  BVX_E2E_KEEP=1  keep each session's prefix after the run
"""

from __future__ import annotations

import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path
from typing import Callable, Optional

import harness_driver
import harness_pictures
import harness_rules
import harness_win32
import harness_wine
from harness_driver import *  # noqa: F401,F403
from harness_pictures import *  # noqa: F401,F403
from harness_rules import *  # noqa: F401,F403
from harness_win32 import *  # noqa: F401,F403
from harness_wine import *  # noqa: F401,F403

# The public face of the harness: its own names and those of the modules
# above, which the tests and bench/wine_bench.py reach through it.
__all__ = (["KEEP_SESSIONS", "TRACE", "Session", "session", "setUpModule", "tearDownModule",
            "module_setup", "BvxTestCase"] + harness_wine.__all__ + harness_driver.__all__
           + harness_pictures.__all__ + harness_win32.__all__ + harness_rules.__all__)

# Finished sessions of a module whose logs are kept.
KEEP_SESSIONS = 3
# BVX_E2E_TRACE=1: every driver call, its result and the time it was made.
TRACE = bool(os.environ.get("BVX_E2E_TRACE"))
_T0 = time.monotonic()


# --- the session ---------------------------------------------------------------------------


class Session:
    """Xvfb + a Wine prefix of the module's own + helpers to drive them."""

    def __init__(self, name: str):
        self.name = name
        self.dir = work_root() / "sessions" / f"{name}-{os.getpid()}"
        self.prefix = self.dir / "prefix"
        self.logs = self.dir / "logs"
        self.drives = {letter: self.dir / f"drive-{letter}" for letter in CDROM_LETTERS}
        self.xvfb = Xvfb(self.dir / "xvfb.log")
        self.env: dict = {}
        self.processes: list[subprocess.Popen] = []
        self.exe = bvx_exe()
        self.driver_path = driver_exe()
        self.program_driver_path = program_driver_exe()
        self._run_counter = 0
        self.used = False

    # -- life cycle --

    def start(self) -> None:
        for path, what, hint in (
            (self.exe, "BVX.exe", f"cmake --preset {wine_env()['BVX_EXE_PRESET']} && "
                                  f"cmake --build --preset {wine_env()['BVX_EXE_PRESET']}, "
                                  "or set BVX_EXE"),
            (self.driver_path, "driver.exe", "cmake --build --preset native, or set BVX_DRIVER"),
            (self.program_driver_path, "the program's driver",
             "cmake --build --preset native, or set BVX_DRIVER"),
        ):
            if not path.is_file():
                raise HarnessError(f"{what} not found at {path}: build it with {hint}")
        self._remove_stale_sessions()
        shutil.rmtree(self.dir, ignore_errors=True)
        self.logs.mkdir(parents=True)
        started = time.monotonic()
        self.xvfb.start()
        (self.dir / "xvfb.pid").write_text(f"{self.xvfb.process.pid} {self.xvfb.display}\n")
        template = ensure_template(self.xvfb.display)
        clone_prefix(template, self.prefix)
        for letter, folder in self.drives.items():
            folder.mkdir()
            link = self.prefix / "dosdevices" / f"{letter}:"
            if link.is_symlink() or link.exists():
                link.unlink()
            os.symlink(folder, link)
        self.env = dict(wine_env(), WINEPREFIX=str(self.prefix), DISPLAY=self.xvfb.display,
                        WINEDEBUG="-all", LC_ALL="C.UTF-8", LANG="C.UTF-8")
        self.env.pop("WINESERVER", None)
        self.env["WINESERVER"] = self.env["BVX_WINESERVER"]
        self.warm_up()
        print(f"[harness] session {self.name}: {self.exe}, display {self.xvfb.display}, "
              f"logs {self.logs}, ready in {time.monotonic() - started:.1f} s", file=sys.stderr)

    def warm_up(self) -> None:
        """Starts the wineserver, the services and the desktop before any test,
        with their output going nowhere, and checks the drive types."""
        result = self.driver("drive-type", *(f"{letter}:\\" for letter in CDROM_LETTERS),
                             timeout=120)
        if result.lines != ["5"] * len(CDROM_LETTERS):
            raise HarnessError(f"d: and f: are not CD-ROM drives in {self.prefix}: {result}")
        self.wait_tray()

    def wait_tray(self) -> None:
        """Waits for the desktop's tray window. A driver that started the
        desktop does not always see that window come, a later process does:
        so each try is a process of its own."""
        for attempt in range(3):
            result = self.driver("wait-window", "Shell_TrayWnd", "10000", timeout=60,
                                 check=attempt == 2)
            if result.ok:
                return

    def stop(self) -> None:
        self.stop_processes()
        self.kill_wineserver()
        self.xvfb.stop()
        (self.dir / "xvfb.pid").unlink(missing_ok=True)
        if not os.environ.get("BVX_E2E_KEEP"):
            shutil.rmtree(self.prefix, ignore_errors=True)
            for folder in self.drives.values():
                shutil.rmtree(folder, ignore_errors=True)

    def stop_processes(self) -> None:
        for process in self.processes:
            stop_popen(process)
        self.processes.clear()

    def kill_wineserver(self) -> None:
        """Ends every process of this session's prefix (and only of it)."""
        if not self.env:
            return
        for args in (["-k"], ["-w"]):
            run_to_end([self.env["BVX_WINESERVER"], *args], self.env, 30)

    def fresh(self) -> None:
        """A clean desktop for the next test (the first test of the session
        gets the one that start() made).

        Ends the test's own processes by PID, then the desktop's explorer
        (the driver ends it by its Windows PID; the next program starts a new
        one): 1-2 s, where a new wineserver with its services takes 4-5 s.
        If that fails, the whole Wine session starts again.
        """
        if not self.used:
            return
        self.stop_processes()
        ended = self.driver("end-desktop", check=False)
        if ended.ok:
            # The first program after that starts the new desktop.
            self.driver("windows", timeout=60)
            self.wait_tray()
        else:
            print(f"[harness] end-desktop failed ({ended.code}: {ended.stderr.strip()}); "
                  "starting the Wine session again", file=sys.stderr)
            self.kill_wineserver()
            self.warm_up()
        self.used = False

    def _remove_stale_sessions(self) -> None:
        """Clears up after earlier sessions whose harness died (a ctest
        timeout kills it hard): their prefix's Wine processes and their Xvfb
        (by the PID they recorded), their prefix; then all but the last few
        finished sessions of this module."""
        sessions = work_root() / "sessions"
        if not sessions.is_dir():
            return
        for entry in sessions.iterdir():
            pid = entry.name.rpartition("-")[2]
            if not pid.isdigit() or alive(int(pid)):
                continue
            prefix = entry / "prefix"
            if (prefix / "system.reg").exists():
                env = dict(wine_env(), WINEPREFIX=str(prefix))
                run_to_end([env["BVX_WINESERVER"], "-k"], env, 60)
            try:
                xvfb_pid, display = (entry / "xvfb.pid").read_text().split()
                with open(f"/proc/{int(xvfb_pid)}/cmdline", "rb") as cmdline:
                    argv = cmdline.read().split(b"\0")
                if argv[0].endswith(b"Xvfb") and display.encode() in argv:
                    os.kill(int(xvfb_pid), signal.SIGTERM)
            except (OSError, ValueError):
                pass
            (entry / "xvfb.pid").unlink(missing_ok=True)
            shutil.rmtree(entry / "prefix", ignore_errors=True)
        # The logs of the last few runs of each module stay for reading.
        finished = sorted((entry for entry in sessions.iterdir()
                           if entry.name.rpartition("-")[0] == self.name
                           and not (entry / "xvfb.pid").exists()),
                          key=lambda entry: entry.stat().st_mtime)
        for entry in finished[:-KEEP_SESSIONS]:
            shutil.rmtree(entry, ignore_errors=True)

    # -- running things --

    def _next_id(self) -> int:
        self._run_counter += 1
        return self._run_counter

    def driver_argv(self, args: tuple) -> list[str]:
        if args and args[0] in EXPLORER_COMMANDS:
            return [self.env["BVX_WINE64"], str(self.driver_path), *args]
        return [self.env["BVX_WINE"], str(self.program_driver_path), *args]

    def driver(self, *args, timeout: float = 60, check: bool = True) -> DriverResult:
        """Runs the driver to its end; its output goes through files.

        A run that never ran its command (DriverResult.never_ran; seen once
        in a full run: exit 1, nothing printed) is, for a command that only
        reads or waits, or any command when Wine says it gave up before the
        program's code ran (DriverResult.wine_never_started), run once more
        and reported (work_root()/driver-reruns.txt, which scripts/test.sh
        names); Wine's own error lines are kept for that.
        """
        args = tuple(str(a) for a in args)
        result = self._run_driver(args, timeout)
        if result.never_ran and args and (args[0] in READ_ONLY_COMMANDS
                                          or result.wine_never_started):
            note = (f"driver {' '.join(args)} ended with {result.code} and never ran its "
                    f"command ({result.stderr.strip()[-1000:]!r}); running it once more")
            print(f"[harness] {note}", file=sys.stderr)
            # scripts/test.sh names the runs repeated in its summary.
            with open(work_root() / "driver-reruns.txt", "a", encoding="utf-8") as reruns:
                reruns.write(f"{self.name}: {note}\n")
            result = self._run_driver(args, timeout)
        if TRACE:
            print(f"[driver {time.monotonic() - _T0:7.2f}] {' '.join(args)} -> {result.code} "
                  f"{result.stdout.strip()[:120]!r}", file=sys.stderr)
        if check and not result.ok:
            raise AssertionError(f"driver {' '.join(args)} failed ({result.code}): "
                                 f"{result.stderr.strip()} {result.stdout.strip()}")
        return result

    def _run_driver(self, args: tuple, timeout: float) -> DriverResult:
        ended = run_to_end(self.driver_argv(args), dict(self.env, WINEDEBUG="-all,err+all"),
                           timeout, stderr_apart=True)
        if ended.code is None:
            raise AssertionError(f"driver {' '.join(args)} did not end in {timeout:.0f} s")
        return DriverResult(args, ended.code, ended.stdout, ended.stderr)

    def spawn_driver(self, *args, name: str) -> Background:
        args = tuple(str(a) for a in args)
        out_path = self.logs / f"{self._next_id():03d}-{name}.txt"
        with open(out_path, "wb") as out:
            process = subprocess.Popen(self.driver_argv(args),
                                       env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.processes.append(process)
        return Background(process, out_path, args)

    def start_bvx(self, exe: Path, debug: str = "+timestamp,+mci", name: str = "bvx") -> Bvx:
        """Starts a copy of BVX.exe in its folder, with Wine's debug channels;
        it runs until it ends or the test stops it."""
        log = self.logs / f"{self._next_id():03d}-{name}.log"
        started = time.monotonic()
        with open(log, "wb") as err:
            process = subprocess.Popen([self.env["BVX_WINE"], str(exe)],
                                       env=dict(self.env, WINEDEBUG=debug), cwd=exe.parent,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=err)
        self.processes.append(process)
        return Bvx(process, exe, log, started)

    def screenshot(self, name: str, settle_timeout: float = 10.0) -> Path:
        """The whole screen as build/e2e-shots/<name>.png, taken once the
        picture has settled (two equal frames in a row), or the last frame
        after settle_timeout seconds (short for a window that changes and
        goes soon)."""
        target = shots_dir()
        target.mkdir(parents=True, exist_ok=True)
        env = dict(os.environ, DISPLAY=self.xvfb.display)

        def frame() -> bytes:
            return subprocess.run(["import", "-window", "root", "ppm:-"], env=env,
                                  capture_output=True, check=True, timeout=60).stdout

        previous = frame()
        deadline = time.monotonic() + settle_timeout
        while time.monotonic() < deadline:
            time.sleep(0.3)
            current = frame()
            if current == previous:
                break
            previous = current
        path = target / f"{name}.png"
        subprocess.run(["convert", "ppm:-", str(path)], input=previous, env=env, check=True,
                       timeout=60)
        return path

    def xdotool(self, *args: str) -> str:
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.xvfb.display),
                              check=True, timeout=30, capture_output=True, text=True).stdout

    def keys(self, *keys: str) -> None:
        """Presses keys on the X keyboard, into the Wine desktop.

        X focus goes first to the virtual desktop's X window: once a Wine
        window that had the focus is gone with an earlier Wine session, X
        focus is None and key presses would go nowhere.
        """
        desktop = self.xdotool("search", "--name", "^bvx - Wine desktop$").split()
        if not desktop:
            raise HarnessError("the Wine virtual desktop has no X window")
        self.xdotool("windowfocus", "--sync", desktop[0])
        self.xdotool("key", "--delay", "60", *keys)


_session: Optional[Session] = None


def session() -> Session:
    if _session is None:
        raise HarnessError("no session: the test module must use harness.setUpModule")
    return _session


def setUpModule(name: Optional[str] = None) -> None:
    """Starts the module's session; use as `setUpModule = harness.module_setup("doors")`."""
    global _session
    _session = Session(name or "e2e")
    try:
        _session.start()
    except BaseException:
        _session.stop()
        _session = None
        raise


def tearDownModule() -> None:
    global _session
    if _session is not None:
        _session.stop()
        _session = None


def module_setup(name: str) -> Callable[[], None]:
    return lambda: setUpModule(name)


# --- base class of the tests ---------------------------------------------------------------


class BvxTestCase(unittest.TestCase):
    """Each test gets a folder of its own with a fresh copy of BVX.exe."""

    maxDiff = None

    def setUp(self) -> None:
        self.session = session()
        # Each test starts in a Wine session of its own: a fresh desktop
        # explorer, so no tray icon, tooltip tool, box or hotkey of an earlier
        # test is left.
        self.session.fresh()
        name = self.id().split(".", 1)[-1].replace(".", "-")
        self.folder = self.session.dir / "tests" / name
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        shutil.copy2(self.session.exe, self.folder / "BVX.exe")
        self.programs: list[Bvx] = []
        self.backgrounds: list[Background] = []
        self.addCleanup(self._cleanup)

    def _cleanup(self) -> None:
        for background in self.backgrounds:
            background.stop()
        for program in self.programs:
            stop_popen(program.process)
        self.session.used = True

    # -- helpers --

    def write_ini(self, text: str | bytes) -> Path:
        path = self.folder / "BVX.ini"
        data = text if isinstance(text, bytes) else text.encode("ascii")
        path.write_bytes(data)
        return path

    def start(self, debug: str = "+timestamp,+mci", wait_window: bool = True,
              wait_ready: bool = True, exe: Optional[Path] = None) -> Bvx:
        """Starts BVX.exe of this test's folder (or the copy exe).

        wait_window: until its main window exists; wait_ready: also until its
        start-up has ended, which is when the tray icon is there (it is added
        last).
        """
        program = self.session.start_bvx(exe or self.folder / "BVX.exe", debug=debug,
                                         name=exe.stem if exe else "bvx")
        self.programs.append(program)
        if wait_window or wait_ready:
            wait_for(lambda: self.find_main() or self._died(program), START_TIMEOUT,
                     "the TAboutForm window", describe=lambda: program.log_text()[-2000:])
            self.assertTrue(program.running(), "BVX.exe ended during start-up")
        if wait_ready:
            wait_for(lambda: self.tooltips() or self._died(program), START_TIMEOUT,
                     "the tray icon", describe=lambda: program.log_text()[-2000:])
            self.assertTrue(program.running(), "BVX.exe ended during start-up")
        return program

    @staticmethod
    def _died(program: Bvx) -> bool:
        return not program.running()

    def driver(self, *args, **kwargs) -> DriverResult:
        return self.session.driver(*args, **kwargs)

    def listen(self, deny: bool = False, seconds: int = 300,
               answer: Optional[int] = None) -> Background:
        """A window of the driver's own that logs the device changes it gets and
        answers a query-remove with a refusal (deny), the answer given, or TRUE."""
        said = ["deny"] if deny else [] if answer is None else [answer]
        background = self.session.spawn_driver("listen", seconds, *said, name="listen")
        self.backgrounds.append(background)
        background.wait_ready()
        return background

    def hold_hotkey(self, modifiers: int, vk: int, seconds: int = 300) -> Background:
        background = self.session.spawn_driver("hold-hotkey", modifiers, hex(vk), seconds,
                                               name="hold-hotkey")
        self.backgrounds.append(background)
        background.wait_ready()
        return background

    def set_display_scale(self, log_pixels: int) -> None:
        """The prefix's display scale (96 = 100 %, 144 = 150 %), which its
        programs read when they start: new_wine_session() then restarts
        the desktop with it. The scale goes back to 100 % after the test."""
        if not getattr(self, "_scale_reset", False):
            self._scale_reset = True
            self.addCleanup(self.set_display_scale, 96)
        code, text = self.wine_tool("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                                    "/t", "REG_DWORD", "/d", str(log_pixels), "/f", "/reg:64")
        if code != 0:
            raise HarnessError(f"LogPixels could not be set to {log_pixels} (exit {code}):\n{text}")

    def wine_tool(self, *args: str) -> tuple[int, str]:
        """Runs a Wine program (reg, winepath) of the session's prefix: its
        exit code and output (stdout and stderr)."""
        ended = run_to_end([self.session.env["BVX_WINE64"], *args], self.session.env, 60)
        if ended.code is None:
            raise AssertionError(f"{' '.join(args)} did not end in 60 s")
        return ended.code, ended.stdout

    def windows_path(self, path: Path) -> str:
        """The Windows name of a Linux path in the session's prefix."""
        code, text = self.wine_tool("winepath", "-w", str(path))
        self.assertEqual(code, 0, text)
        return text.strip().splitlines()[-1]

    def new_wine_session(self) -> None:
        """Ends every Wine process of the session and starts a new desktop,
        for a test that starts the program more than once."""
        for background in self.backgrounds:
            background.stop()
        self.backgrounds.clear()
        for program in self.programs:
            stop_popen(program.process)
        self.session.used = True
        self.session.fresh()

    def try_hotkey(self, modifiers: int, vk: int) -> Optional[int]:
        """Tries to register the combination in a window of the driver's own:
        None when that works (nobody holds it), else the Win32 error."""
        result = self.driver("hold-hotkey", modifiers, hex(vk), 0, check=False)
        if result.ok:
            return None
        match = re.search(r"RegisterHotKey failed, error (\d+)", result.stderr)
        if not match:
            raise AssertionError(f"hold-hotkey failed in another way: {result}")
        return int(match.group(1))

    def find_main(self) -> Optional[str]:
        result = self.driver("find", MAIN_CLASS, check=False)
        return result.lines[0] if result.ok and result.lines else None

    def main_visible(self) -> bool:
        return self.driver("visible", MAIN_CLASS).lines == ["1"]

    def post(self, *messages: tuple[int, int, int]) -> None:
        args = [str(value) for message in messages for value in message]
        self.driver("post", MAIN_CLASS, *args)

    def send(self, msg: int, wparam: int, lparam: int) -> int:
        return int(self.driver("send", MAIN_CLASS, msg, wparam, lparam).lines[0])

    def tray(self, mouse_message: int) -> tuple[int, int, int]:
        """The tray icon's callback with a mouse message, for post()."""
        return (WM_TRAYNOTIFY, TRAY_ICON_ID, mouse_message)

    def open_tray_menu(self) -> DriverResult:
        """A right click on the tray icon, until the pop-up menu is shown
        (the result's second line: the milliseconds that took)."""
        return self.driver("post-and-wait", MAIN_CLASS, hex(WM_TRAYNOTIFY), TRAY_ICON_ID,
                           hex(WM_RBUTTONDOWN), MENU_CLASS, int(STEP_TIMEOUT * 1000))

    def tooltips(self) -> list[str]:
        """The texts of the tray icons' tooltips, read back from the tray.

        Every tray icon is a tool of a tooltips_class32 window of the desktop's
        explorer.exe, and the tool's text is the icon's tip: explorer copies
        it there at NIM_ADD and on every NIM_MODIFY with NIF_TIP. Another
        process cannot hand that control a buffer of its own, so the driver
        allocates a TTTOOLINFOW and a text buffer inside explorer's process
        (VirtualAllocEx), sends TTM_ENUMTOOLSW with that address and reads the
        result back (ReadProcessMemory). Explorer is 64-bit, so the x86_64
        driver does it on every host (EXPLORER_COMMANDS).

        Wine 8's explorer keeps the tool of a removed icon, with its last text
        and an empty rectangle, and may give a later icon the same tool id:
        so only tools with a rectangle count, and every test runs in a Wine
        session of its own (see BvxTestCase.setUp).
        """
        result = self.driver("tooltip", check=False)
        texts = []
        for line in result.lines:
            parts = line.split("\t")
            if len(parts) != 5 or parts[1] not in ("Shell_TrayWnd", "__winex11_tray_icon"):
                continue
            left, top, right, bottom = (int(v) for v in parts[4].split(","))
            if right > left and bottom > top:
                texts.append(parts[2])
        return texts

    def wait_tooltip(self, expected: str, timeout: float = STEP_TIMEOUT) -> None:
        wait_for(lambda: self.tooltips() == [expected], timeout, f"the tooltip {expected!r}",
                 describe=lambda: f"tooltips now: {self.tooltips()!r}")

    def controls(self, window_class: str) -> list[Control]:
        """The descendants of the top-level window of that class, with what
        the driver reads of them (see driver_controls.cpp, `controls`)."""
        result = self.session.driver("controls", window_class, check=True)
        # The lines are split before the texts are unescaped.
        return parse_controls(result.stdout.splitlines())

    def post_hwnd(self, hwnd: str, *messages: tuple[int, int, int]) -> None:
        args = [str(value) for message in messages for value in message]
        self.driver("post-hwnd", hwnd, *args)

    def send_hwnd(self, hwnd: str, msg: int, wparam: int, lparam: int) -> int:
        return int(self.driver("send-hwnd", hwnd, msg, wparam, lparam).lines[0])

    def exit_program(self, program: Bvx) -> int:
        """"Выход" from the tray menu, by its command id; returns the exit code."""
        self.post((WM_COMMAND, CMD_EXIT, 0))
        return program.wait_exit()


if __name__ == "__main__":
    # `python3 harness.py exe`: the line naming the program under test
    # (ctest prints it once before the end-to-end tests; scripts/test.sh
    # repeats it in its summary).
    if sys.argv[1:] != ["exe"]:
        sys.exit("usage: harness.py exe")
    print(describe_exe())
