"""End-to-end harness, the driver side: driver calls and the parsing of their
output, the program under test."""

from __future__ import annotations

import re
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Iterable, Optional

from harness_wine import START_TIMEOUT, STEP_TIMEOUT, McICommand, parse_mci, stop_popen, wait_for

__all__ = [
    "EXPLORER_COMMANDS", "READ_ONLY_COMMANDS", "WINE_START_FAILURES", "unescape_driver",
    "read_text_or_empty", "DriverResult", "Background", "parse_device_change", "Control",
    "parse_controls", "Bvx"]

# Driver commands that read the desktop explorer's memory: they run in its
# bitness, x86_64 on every host.
EXPLORER_COMMANDS = {"tooltip"}

# Driver commands that only read or wait, and change nothing: safe to run again.
READ_ONLY_COMMANDS = {"find", "visible", "wait-window", "wait-visible", "wait-gone", "windows",
                      "absent", "rect", "metrics", "drive-type", "text", "child-texts", "tooltip",
                      "controls", "window-at", "styles", "label-walk"}

# What Wine prints when it gives up on a new process before any of the
# program's code runs (seen once in a full run, for a "post": the address of
# the shared user data was taken). Any command that failed so is safe to run
# again.
WINE_START_FAILURES = ("failed to map the shared user data",)


# --- driver output ----------------------------------------------------------------

_DRIVER_ESCAPE = re.compile(r"\\(.)")


def unescape_driver(text: str) -> str:
    simple = {"n": "\n", "r": "\r", "t": "\t"}
    return _DRIVER_ESCAPE.sub(lambda m: simple.get(m.group(1), m.group(1)), text)


# --- driver ---------------------------------------------------------------------------


def read_text_or_empty(path: Path) -> str:
    """A file written by a process that may not have created it yet."""
    try:
        return path.read_text(encoding="utf-8", errors="replace")
    except FileNotFoundError:
        return ""


@dataclass
class DriverResult:
    args: tuple
    code: int
    stdout: str
    stderr: str

    @property
    def lines(self) -> list[str]:
        return [unescape_driver(line) for line in self.stdout.splitlines()]

    @property
    def ok(self) -> bool:
        return self.code == 0

    @property
    def never_ran(self) -> bool:
        """Ended non-zero without a word: the driver reports every failure of
        its own ("driver: ..."), so its command never ran (Wine did not bring
        the process up)."""
        return self.code != 0 and not self.stdout and "driver:" not in self.stderr

    @property
    def wine_never_started(self) -> bool:
        """Never ran, and Wine says it gave up before the program's code ran."""
        return self.never_ran and any(sign in self.stderr for sign in WINE_START_FAILURES)


class Background:
    """A driver subcommand that keeps running (listen, hold-hotkey)."""

    def __init__(self, process: subprocess.Popen, out_path: Path, args: tuple):
        self.process = process
        self.out_path = out_path
        self.args = args

    def text(self) -> str:
        return read_text_or_empty(self.out_path)

    def lines(self) -> list[str]:
        return self.text().splitlines()

    def wait_ready(self, timeout: float = START_TIMEOUT) -> str:
        def ready() -> Optional[str]:
            for line in self.lines():
                if line.startswith("ready"):
                    return line
            if self.process.poll() is not None:
                raise AssertionError(
                    f"driver {' '.join(self.args)} ended with {self.process.returncode}:\n"
                    + self.text())
            return None

        return wait_for(ready, timeout, f"driver {' '.join(self.args)} to be ready")

    def stop(self) -> None:
        stop_popen(self.process)

    def device_changes(self, event: Optional[int] = None) -> list[dict]:
        """The WM_DEVICECHANGE lines of a `listen` driver, as dicts of ints
        (event, size, type, reserved, unitmask, flags, tick) plus "answer"."""
        return [change for change in map(parse_device_change, self.lines())
                if change is not None and (event is None or change["event"] == event)]


def parse_device_change(line: str) -> Optional[dict]:
    if not line.startswith("devchange "):
        return None
    change: dict = {}
    for item in line.split()[1:]:
        key, _, value = item.partition("=")
        change[key] = value if key in ("answer", "record") else int(value, 0)
    return change


@dataclass
class Control:
    """One descendant window as the driver's `controls` reads it."""
    hwnd: str
    parent: str
    id: int
    cls: str
    visible: bool
    enabled: bool
    text: str
    extra: dict  # rect (l, t, r, b), font, items (list), sel, hotkey, check

    @property
    def center(self) -> tuple[int, int]:
        left, top, right, bottom = self.extra["rect"]
        return (left + right) // 2, (top + bottom) // 2


def parse_controls(lines: Iterable[str]) -> list[Control]:
    controls = []
    for line in lines:
        parts = line.split("\t")
        if len(parts) < 7:
            continue
        extra: dict = {}
        for item in parts[7:]:
            key, _, value = item.partition("=")
            if key == "rect":
                extra[key] = tuple(int(v) for v in value.split(","))
            elif key == "items":
                extra[key] = [unescape_driver(v) for v in value.split("|")] if value else []
            elif key in ("sel", "check"):
                extra[key] = int(value)
            elif key in ("font", "hotkey"):
                extra[key] = int(value, 16)
            else:
                extra[key] = value
        controls.append(Control(parts[0], parts[1], int(parts[2]), parts[3], parts[4] == "1",
                                parts[5] == "1", unescape_driver(parts[6]), extra))
    return controls


# --- the program under test -------------------------------------------------------------


class Bvx:
    """One started BVX.exe (or a copy of another name): its file, its log,
    its process."""

    def __init__(self, process: subprocess.Popen, exe: Path, log: Path, started: float):
        self.process = process
        self.exe = exe
        self.folder = exe.parent
        self.log = log
        self.started = started

    @property
    def ini(self) -> Path:
        return self.folder / "BVX.ini"

    def log_text(self) -> str:
        return read_text_or_empty(self.log)

    def mci(self) -> list[McICommand]:
        return parse_mci(self.log_text())

    def mci_lines(self) -> list[str]:
        return [command.text for command in self.mci()]

    def wait_mci(self, command: str, timeout: float = STEP_TIMEOUT, count: int = 1) -> McICommand:
        """Waits until the MCI command string has been sent `count` times."""
        def sent() -> Optional[McICommand]:
            matches = [c for c in self.mci() if c.text == command]
            return matches[count - 1] if len(matches) >= count else None

        return wait_for(sent, timeout, f'MCI command "{command}"',
                        describe=lambda: "MCI so far: " + repr(self.mci_lines()))

    def running(self) -> bool:
        return self.process.poll() is None

    def wait_exit(self, timeout: float = STEP_TIMEOUT) -> int:
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"BVX.exe (pid {self.process.pid}) still runs after {timeout:.0f} s")
