"""End-to-end harness, the Wine side: paths and the Wine environment, waiting,
running a Wine process to its end, Wine debug output, the X display and the
Wine prefix.

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

Output of Wine processes always goes to files, never to pipes: processes that
Wine starts on the side (explorer, services) inherit the handles and would
keep a pipe open for ever.
"""

from __future__ import annotations

import contextlib
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional, TypeVar

__all__ = [
    "HERE", "REPO", "CDROM_LETTERS", "UNIT_MASK", "START_TIMEOUT", "STEP_TIMEOUT",
    "TEMPLATE_RECIPE", "SCREEN", "HarnessError", "work_root", "shots_dir", "wine_env", "bvx_exe",
    "describe_exe", "driver_exe", "program_driver_exe", "wait_for", "alive", "stop_popen",
    "Ended", "run_to_end", "unescape_wine", "McICommand", "parse_mci", "parse_popup_items", "Xvfb",
    "reg_add", "ensure_template", "clone_prefix"]

HERE = Path(__file__).resolve().parent
REPO = Path(os.environ.get("BVX_SOURCE_DIR") or HERE.parent.parent).resolve()

# Drive letters the sessions declare as CD-ROM drives, and their unit masks.
CDROM_LETTERS = ("d", "f")
UNIT_MASK = {letter: 1 << (ord(letter) - ord("a")) for letter in "abcdefghijklmnopqrstuvwxyz"}

# Deadlines (seconds). Generous: a cold Wine start on a loaded 2-core machine
# takes a few seconds; on success no test waits for them.
START_TIMEOUT = 30.0
STEP_TIMEOUT = 15.0

TEMPLATE_RECIPE = "bvx-e2e-template 2"
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
    if env["BVX_WINE_MODE"] == "wine32":
        why = "Wine runs 32-bit code here"
    elif not (Path(env["BVX_WINE64"]).parent / "wine").exists():
        why = "the 32-bit Wine, wine32:i386, is not installed here"
    else:
        why = "Wine runs only x86_64 code here"
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


@dataclass
class Ended:
    """How a process run to its end ended: its exit code (None when it did
    not end in time and was stopped) and its output."""
    code: Optional[int]
    stdout: str
    stderr: str  # "" where it went to stdout


def run_to_end(argv: list[str], env: dict, timeout: float, log: Optional[Path] = None,
               stderr_apart: bool = False) -> Ended:
    """Runs a process (a Wine program, or a Wine tool) to its end, its
    output through files: appended to log when one is given (and then not
    read back), else read back with stderr in stdout, or apart with
    stderr_apart. A process that has not ended after timeout seconds is
    stopped, by its PID."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            (open(log, "ab") if log is not None else contextlib.nullcontext(out)) as target:
        process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=target,
                                   stderr=err if stderr_apart else target)
        try:
            code: Optional[int] = process.wait(timeout)
        except subprocess.TimeoutExpired:
            stop_popen(process)
            code = None
        out.seek(0)
        err.seek(0)
        return Ended(code, out.read().decode("utf-8", "replace"),
                     err.read().decode("utf-8", "replace"))


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
    code = run_to_end(args, env, timeout, log=log).code
    if code is None:
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
