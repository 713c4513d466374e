"""End-to-end harness: the real BVX.exe under Wine, on an Xvfb display of its own.

One *session* per test module (one ctest test): an Xvfb display, a Wine prefix
and its wineserver, the folders behind the optical drives D: and F:. Each test
gets a fresh folder with its own copy of BVX.exe (the settings file BVX.ini
lives beside the exe) and its own log folder.

Wine prefix. `wineboot -i` takes 12-16 s, so a template prefix is made once
per build tree (guarded by a lock file, remembered by a stamp with the Wine
version) and every session clones it: program files are hard-linked, every
other file (registry hives, ini files) is copied, because wineserver rewrites
the hives in place. The template declares d: and f: as CD-ROM drives
(HKLM\\Software\\Wine\\Drives) and runs every program inside the Wine virtual
desktop "bvx" (HKCU\\Software\\Wine\\Explorer\\Desktop): without a window
manager hiding a window costs about 2 s, inside the virtual desktop it does
not, windows get captions for the screenshots, and the tray is the desktop
explorer's taskbar. Because the desktop comes from the registry and not from
`explorer /desktop=... BVX.exe`, BVX.exe is still started directly, so its
exit code is its own (measured: the exit code of "Выход" arrives as 0 within
0.4 s).

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
Output of Wine processes always goes to files, never to pipes: processes that
Wine starts on the side (explorer, services) inherit the handles and would
keep a pipe open for ever.

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

import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterable, Optional, TypeVar

HERE = Path(__file__).resolve().parent
REPO = Path(os.environ.get("BVX_SOURCE_DIR") or HERE.parent.parent).resolve()

# Message numbers and values the tests use.
WM_NULL = 0x0000
WM_CLOSE = 0x0010
WM_QUERYENDSESSION = 0x0011
WM_COMMAND = 0x0111
WM_SYSCOMMAND = 0x0112
SC_CLOSE = 0xF060
WM_HOTKEY = 0x0312
WM_TRAYNOTIFY = 0x0401
WM_LBUTTONDOWN = 0x0201
WM_LBUTTONUP = 0x0202
WM_LBUTTONDBLCLK = 0x0203
WM_RBUTTONDOWN = 0x0204
WM_RBUTTONUP = 0x0205
WM_RBUTTONDBLCLK = 0x0206
DBT_DEVICEARRIVAL = 0x8000
DBT_DEVICEQUERYREMOVE = 0x8001
DBT_DEVICEREMOVECOMPLETE = 0x8004
BROADCAST_QUERY_DENY = 0x424D5144
ERROR_HOTKEY_ALREADY_REGISTERED = 1409

# Command ids of the static tray items (src/app/bvx_main.h).
CMD_EXIT = 1
CMD_ABOUT = 4
CMD_STARTUP = 6
CMD_OPTIONS = 7

MAIN_CLASS = "TAboutForm"
MENU_CLASS = "#32768"

# Drive letters the sessions declare as CD-ROM drives, and their unit masks.
CDROM_LETTERS = ("d", "f")
UNIT_MASK = {letter: 1 << (ord(letter) - ord("a")) for letter in "abcdefghijklmnopqrstuvwxyz"}

# Deadlines (seconds). Generous: a cold Wine start on a loaded 2-core machine
# takes a few seconds; on success no test waits for them.
START_TIMEOUT = 30.0
STEP_TIMEOUT = 15.0

TEMPLATE_RECIPE = "bvx-e2e-template 2"
# Finished sessions of a module whose logs are kept.
KEEP_SESSIONS = 3
# BVX_E2E_TRACE=1: every driver call, its result and the time it was made.
TRACE = bool(os.environ.get("BVX_E2E_TRACE"))
_T0 = time.monotonic()
SCREEN = (1280, 800)

T = TypeVar("T")


class HarnessError(RuntimeError):
    """The test environment itself failed (not the program under test)."""


# --- paths and Wine environment -------------------------------------------------


def work_root() -> Path:
    return Path(os.environ.get("BVX_E2E_WORK") or REPO / "build" / "e2e-work")


def shots_dir() -> Path:
    return Path(os.environ.get("BVX_E2E_SHOTS") or REPO / "build" / "e2e-shots")


_wine_env_cache: Optional[dict] = None


def wine_env() -> dict:
    """BVX_WINE, BVX_WINESERVER, BVX_WINE_ARCH, ... from scripts/wine-env.sh."""
    global _wine_env_cache
    if _wine_env_cache is None:
        script = REPO / "scripts" / "wine-env.sh"
        out = subprocess.run(
            ["bash", "-c", 'source "$1" && env -0', "bash", str(script)],
            check=True, capture_output=True, timeout=60,
        ).stdout
        env = {}
        for item in out.split(b"\0"):
            if b"=" in item:
                key, _, value = item.partition(b"=")
                env[key.decode()] = value.decode(errors="replace")
        _wine_env_cache = env
    return dict(_wine_env_cache)


def bvx_exe() -> Path:
    if os.environ.get("BVX_EXE"):
        return Path(os.environ["BVX_EXE"])
    return REPO / "build" / wine_env()["BVX_EXE_PRESET"] / "BVX.exe"


def describe_exe() -> str:
    """The line that names the program under test, once per test run."""
    env = wine_env()
    why = ("Wine runs 32-bit code here" if env["BVX_WINE_MODE"] == "wine32"
           else "Wine runs only x86_64 code here")
    chosen = " (set by BVX_EXE)" if os.environ.get("BVX_EXE") else ""
    return f"End-to-end tests drive {bvx_exe()}{chosen} ({env['BVX_WINE_MODE']}: {why})"


def driver_exe() -> Path:
    """The x86_64 driver."""
    if os.environ.get("BVX_DRIVER"):
        return Path(os.environ["BVX_DRIVER"])
    return REPO / "build" / "native" / "tests" / "e2e" / "driver.exe"


def program_driver_exe() -> Path:
    """The driver built for the arch of the program under test."""
    if wine_env()["BVX_WINE_ARCH"] == "x86_64":
        return driver_exe()
    return driver_exe().with_name(f"driver-{wine_env()['BVX_WINE_ARCH']}.exe")


# Driver commands that read the desktop explorer's memory: they run in its
# bitness, x86_64 on every host.
EXPLORER_COMMANDS = {"tooltip"}


# --- waiting ----------------------------------------------------------------------


def wait_for(predicate: Callable[[], T], timeout: float, what: str,
             interval: float = 0.05, describe: Optional[Callable[[], str]] = None) -> T:
    """Polls predicate until it returns something true; returns that value.

    Raises AssertionError naming `what` (and describe()'s account of the
    state) once the deadline has passed.
    """
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            detail = ""
            if describe is not None:
                try:
                    detail = "\n" + describe()
                except Exception as error:  # the description must not hide the timeout
                    detail = f"\n(no description: {error})"
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie is not alive.
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def stop_popen(process: subprocess.Popen, grace: float = 3.0) -> None:
    """Ends a process that this harness started, by its PID only."""
    if process.poll() is not None:
        return
    try:
        process.terminate()
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(10)
    except ProcessLookupError:
        pass


# --- Wine debug output --------------------------------------------------------------

_WINE_ESCAPE = re.compile(r"\\([0-9a-fA-F]{4})|\\(.)")


def unescape_wine(text: str) -> str:
    """Decodes a debugstr_w() text: \\041e -> 'О', \\n, \\", \\\\."""
    simple = {"n": "\n", "r": "\r", "t": "\t"}

    def replace(match: re.Match) -> str:
        if match.group(1):
            return chr(int(match.group(1), 16))
        return simple.get(match.group(2), match.group(2))

    return _WINE_ESCAPE.sub(replace, text)


_DRIVER_ESCAPE = re.compile(r"\\(.)")


def unescape_driver(text: str) -> str:
    simple = {"n": "\n", "r": "\r", "t": "\t"}
    return _DRIVER_ESCAPE.sub(lambda m: simple.get(m.group(1), m.group(1)), text)


_TIMESTAMP = re.compile(r"^(\d+)\.(\d{3}):")
_MCI = re.compile(r'trace:mci:mciSendStringW \(L"((?:[^"\\]|\\.)*)"')
_MENU_TRACK = re.compile(r"trace:menu:\w*TrackPopupMenu")
_MENU_ITEM = re.compile(r'trace:menu:calc_menu_item_size .*item \{ ID=(0x[0-9a-fA-F]+)(.*)\}')
_MENU_TEXT = re.compile(r'Text=L"((?:[^"\\]|\\.)*)"')


@dataclass
class McICommand:
    text: str
    tick_ms: Optional[int]  # WINEDEBUG=+timestamp: GetTickCount64 of the call


def parse_mci(log_text: str) -> list[McICommand]:
    """Every command string of mciSendStringW in a WINEDEBUG=+mci log.

    Wine's own auto-open ("open cdaudio!d: wait") is logged the same way, right
    after the command that needed it.
    """
    commands = []
    for line in log_text.splitlines():
        match = _MCI.search(line)
        if not match:
            continue
        stamp = _TIMESTAMP.match(line)
        tick = int(stamp.group(1)) * 1000 + int(stamp.group(2)) if stamp else None
        commands.append(McICommand(unescape_wine(match.group(1)), tick))
    return commands


def parse_popup_items(log_text: str) -> list[list[str]]:
    """The items of each pop-up menu that was tracked, from WINEDEBUG=+menu.

    Wine measures every item of a pop-up right after TrackPopupMenu starts
    (calc_menu_item_size); separators come out as "-".
    """
    menus: list[list[str]] = []
    current: Optional[list[str]] = None
    for line in log_text.splitlines():
        if _MENU_TRACK.search(line):
            current = []
            menus.append(current)
            continue
        match = _MENU_ITEM.search(line)
        if match and current is not None:
            text = _MENU_TEXT.search(match.group(2))
            current.append(unescape_wine(text.group(1)) if text else "-")
    return menus


def parse_ini(data: bytes) -> dict[str, dict[str, str]]:
    """Sections and keys of an INI text (names folded to lower case, first
    value wins, as the program reads them); lines outside a section and
    lines without "=" are left out."""
    sections: dict[str, dict[str, str]] = {}
    current: Optional[dict[str, str]] = None
    for raw in data.decode("latin-1").replace("\r\n", "\n").split("\n"):
        line = raw.strip()
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().lower(), {})
        elif current is not None and "=" in line and not line.startswith(";"):
            key, _, value = line.partition("=")
            current.setdefault(key.strip().lower(), value.strip())
    return sections


# --- X display --------------------------------------------------------------------------


class Xvfb:
    """An Xvfb server on a display number of its own (70 upward)."""

    def __init__(self, log_path: Path):
        self.log_path = log_path
        self.process: Optional[subprocess.Popen] = None
        self.display = ""

    def start(self) -> None:
        for number in range(70, 200):
            socket = Path(f"/tmp/.X11-unix/X{number}")
            lock = Path(f"/tmp/.X{number}-lock")
            if socket.exists() or lock.exists():
                continue
            with open(self.log_path, "ab") as log:
                process = subprocess.Popen(
                    ["Xvfb", f":{number}", "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                     "-nolisten", "tcp", "-noreset"],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)

            def ready() -> bool:
                if process.poll() is not None:
                    return True
                try:
                    owner = int(lock.read_text().strip())
                except (OSError, ValueError):
                    return False
                return owner == process.pid and socket.exists()

            try:
                wait_for(ready, 15, f"Xvfb on :{number}")
            except AssertionError:
                stop_popen(process)
                continue
            if process.poll() is not None:
                continue  # lost the race for this number to someone else
            self.process = process
            self.display = f":{number}"
            return
        raise HarnessError("no free X display between :70 and :199")

    def stop(self) -> None:
        if self.process is not None:
            stop_popen(self.process)
            self.process = None


# --- Wine prefix --------------------------------------------------------------------

# Files that no program writes: hard-linked into each session's prefix.
_SHARED_SUFFIXES = {
    ".dll", ".exe", ".drv", ".sys", ".nls", ".ttf", ".ttc", ".fon", ".acm", ".cpl",
    ".ocx", ".tlb", ".ax", ".ds", ".com", ".msstyles", ".mui", ".vxd", ".tsp", ".icm",
    ".manifest", ".inf",
}

def reg_add(key: str, name: str, data: str) -> list[str]:
    """A `reg add` through the 64-bit registry view: the keys Wine itself
    reads (the mount manager's Drives among them) are the 64-bit ones, and a
    32-bit reg.exe would otherwise write under Wow6432Node."""
    return ["reg", "add", key, "/v", name, "/d", data, "/f", "/reg:64"]


_TEMPLATE_REGISTRY = [
    # The optical drives.
    reg_add(r"HKLM\Software\Wine\Drives", "d:", "cdrom"),
    reg_add(r"HKLM\Software\Wine\Drives", "f:", "cdrom"),
    # Every program of the prefix runs in the virtual desktop "bvx".
    reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "bvx"),
    reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "bvx", f"{SCREEN[0]}x{SCREEN[1]}"),
]


def _run_wine_tool(args: list[str], env: dict, log: Path, timeout: float) -> None:
    with open(log, "ab") as out:
        process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        try:
            code = process.wait(timeout)
        except subprocess.TimeoutExpired:
            stop_popen(process)
            raise HarnessError(f"{' '.join(args)} did not finish in {timeout:.0f} s (see {log})")
    if code != 0:
        raise HarnessError(f"{' '.join(args)} failed with {code} (see {log})")


def ensure_template(display: str) -> Path:
    """The template prefix, made once per build tree and Wine version."""
    wine = wine_env()
    root = work_root()
    root.mkdir(parents=True, exist_ok=True)
    template = root / "prefix-template"
    version = subprocess.run([wine["BVX_WINE64"], "--version"], capture_output=True, text=True,
                             env=wine, timeout=60).stdout.strip()
    stamp_text = f"{TEMPLATE_RECIPE}\n{wine['BVX_WINE64']}\n{version}\n"
    stamp = template / ".bvx-template"
    with open(root / "prefix-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if stamp.exists() and stamp.read_text() == stamp_text:
            return template
        building = root / "prefix-template.new"
        shutil.rmtree(building, ignore_errors=True)
        shutil.rmtree(template, ignore_errors=True)
        log = root / "prefix-template.log"
        log.write_text("")
        env = dict(wine, WINEPREFIX=str(building), DISPLAY=display, WINEDEBUG="-all")
        started = time.monotonic()
        _run_wine_tool([wine["BVX_WINE64"], "wineboot", "-i"], env, log, 300)
        for command in _TEMPLATE_REGISTRY:
            _run_wine_tool([wine["BVX_WINE64"], *command], env, log, 120)
        # Registry hives are written when the server ends.
        _run_wine_tool([wine["BVX_WINESERVER"], "-w"], env, log, 120)
        (building / ".bvx-template").write_text(stamp_text)
        building.rename(template)
        print(f"[harness] made the template Wine prefix in {time.monotonic() - started:.1f} s",
              file=sys.stderr)
        return template


def clone_prefix(template: Path, target: Path) -> None:
    """A prefix of the session's own: program files linked, the rest copied."""
    for directory, subdirs, files in os.walk(template):
        relative = Path(directory).relative_to(template)
        out = target / relative
        out.mkdir(parents=True, exist_ok=True)
        for name in list(subdirs):
            source = Path(directory) / name
            if source.is_symlink():
                os.symlink(os.readlink(source), out / name)
                subdirs.remove(name)
        for name in files:
            source = Path(directory) / name
            if source.is_symlink():
                os.symlink(os.readlink(source), out / name)
            elif source.suffix.lower() in _SHARED_SUFFIXES:
                os.link(source, out / name)
            else:
                shutil.copy2(source, out / name)


# --- driver ---------------------------------------------------------------------------


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


class Background:
    """A driver subcommand that keeps running (listen, hold-hotkey)."""

    def __init__(self, process: subprocess.Popen, out_path: Path, args: tuple):
        self.process = process
        self.out_path = out_path
        self.args = args

    def text(self) -> str:
        try:
            return self.out_path.read_text(encoding="utf-8", errors="replace")
        except FileNotFoundError:
            return ""

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
    """One started BVX.exe: its folder, its log, its process."""

    def __init__(self, process: subprocess.Popen, folder: Path, log: Path, started: float):
        self.process = process
        self.folder = folder
        self.log = log
        self.started = started

    @property
    def exe(self) -> Path:
        return self.folder / "BVX.exe"

    @property
    def ini(self) -> Path:
        return self.folder / "BVX.ini"

    def log_text(self) -> str:
        try:
            return self.log.read_text(encoding="utf-8", errors="replace")
        except FileNotFoundError:
            return ""

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
            process = subprocess.Popen([self.env["BVX_WINESERVER"], *args], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                stop_popen(process)

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
                subprocess.run([env["BVX_WINESERVER"], "-k"], env=env, timeout=60,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
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
        """Runs the driver to its end; its output goes through files."""
        args = tuple(str(a) for a in args)
        with tempfile.TemporaryFile(dir=self.dir) as out, tempfile.TemporaryFile(dir=self.dir) as err:
            process = subprocess.Popen(self.driver_argv(args),
                                       env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=err)
            try:
                code = process.wait(timeout)
            except subprocess.TimeoutExpired:
                stop_popen(process)
                raise AssertionError(f"driver {' '.join(args)} did not end in {timeout:.0f} s")
            out.seek(0)
            err.seek(0)
            result = DriverResult(args, code, out.read().decode("utf-8", "replace"),
                                  err.read().decode("utf-8", "replace"))
        if TRACE:
            print(f"[driver {time.monotonic() - _T0:7.2f}] {' '.join(args)} -> {code} "
                  f"{result.stdout.strip()[:120]!r}", file=sys.stderr)
        if check and not result.ok:
            raise AssertionError(
                f"driver {' '.join(args)} failed ({code}): {result.stderr.strip()} {result.stdout.strip()}")
        return result

    def spawn_driver(self, *args, name: str) -> Background:
        args = tuple(str(a) for a in args)
        out_path = self.logs / f"{self._next_id():03d}-{name}.txt"
        with open(out_path, "wb") as out:
            process = subprocess.Popen(self.driver_argv(args),
                                       env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.processes.append(process)
        return Background(process, out_path, args)

    def start_bvx(self, folder: Path, debug: str = "+timestamp,+mci", name: str = "bvx") -> Bvx:
        log = self.logs / f"{self._next_id():03d}-{name}.log"
        started = time.monotonic()
        with open(log, "wb") as err:
            process = subprocess.Popen([self.env["BVX_WINE"], str(folder / "BVX.exe")],
                                       env=dict(self.env, WINEDEBUG=debug), cwd=folder,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=err)
        self.processes.append(process)
        return Bvx(process, folder, log, started)

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


DEFAULT_TIP = "D: диск не вставлен F: диск не вставлен"


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
              wait_ready: bool = True) -> Bvx:
        """Starts BVX.exe of this test's folder.

        wait_window: until its main window exists; wait_ready: also until its
        start-up has ended, which is when the tray icon is there (it is added
        last).
        """
        program = self.session.start_bvx(self.folder, debug=debug)
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

    def listen(self, deny: bool = False, seconds: int = 300) -> Background:
        background = self.session.spawn_driver("listen", seconds, *(["deny"] if deny else []),
                                               name="listen")
        self.backgrounds.append(background)
        background.wait_ready()
        return background

    def hold_hotkey(self, modifiers: int, vk: int, seconds: int = 300) -> Background:
        background = self.session.spawn_driver("hold-hotkey", modifiers, hex(vk), seconds,
                                               name="hold-hotkey")
        self.backgrounds.append(background)
        background.wait_ready()
        return background

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
        return (WM_TRAYNOTIFY, 1, mouse_message)

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
