"""End-to-end harness: the program's own rules as the tests expect them:
its window classes, tray callback and command ids, shortcut values and the
hotkeys they make, its MCI door commands, its settings file."""

from __future__ import annotations

from typing import Optional

from harness_win32 import MOD_ALT, MOD_CONTROL, MOD_SHIFT, VK_OEM_4, VK_OEM_6, WM_USER

__all__ = [
    "MAIN_CLASS", "OPTIONS_CLASS", "NOTICE_CLASS", "WM_TRAYNOTIFY", "TRAY_ICON_ID", "CMD_EXIT",
    "CMD_ABOUT", "CMD_STARTUP", "CMD_OPTIONS", "DEFAULT_TIP", "SHIFT", "CTRL", "ALT",
    "DEFAULT_OPEN", "DEFAULT_CLOSE", "hotkey_args", "open_command", "close_command",
    "OPEN_D", "CLOSE_D", "door_commands", "parse_ini"]

# The window classes of the main window (the About window), the options
# dialog and the eject notice.
MAIN_CLASS = "TAboutForm"
OPTIONS_CLASS = "TfrmOptions"
NOTICE_CLASS = "TfrmNotifyCD"

# The tray icon's callback message to the main window (lParam: the mouse
# message) and the icon's id.
WM_TRAYNOTIFY = WM_USER + 1
TRAY_ICON_ID = 1

# Command ids of the static tray items (src/app/bvx_main.h).
CMD_EXIT = 1
CMD_ABOUT = 4
CMD_STARTUP = 6
CMD_OPTIONS = 7

# The tooltip with D: and F: empty.
DEFAULT_TIP = "D: диск не вставлен F: диск не вставлен"

# A shortcut value: the virtual key and these bits.
SHIFT, CTRL, ALT = 0x2000, 0x4000, 0x8000
# The default drive's combinations without settings: Ctrl+Alt+[ and Ctrl+Alt+].
DEFAULT_OPEN, DEFAULT_CLOSE = CTRL | ALT | VK_OEM_4, CTRL | ALT | VK_OEM_6


def hotkey_args(value: int) -> tuple[int, int]:
    """RegisterHotKey's modifiers and virtual key for a shortcut value."""
    modifiers = ((MOD_SHIFT if value & SHIFT else 0) | (MOD_CONTROL if value & CTRL else 0) |
                 (MOD_ALT if value & ALT else 0))
    return modifiers, value & 0x1FFF


def open_command(letter: str) -> str:
    """The MCI command string that opens the drive's door."""
    return f"Set cdaudio!{letter}: door open wait"


def close_command(letter: str) -> str:
    """The MCI command string that closes the drive's door."""
    return f"Set cdaudio!{letter}: door closed wait"


# Drive D:, the tests' first and default drive.
OPEN_D, CLOSE_D = open_command("d"), close_command("d")


def door_commands(program) -> list[str]:
    """The door commands a started program (harness.Bvx) sent, in order."""
    return [c for c in program.mci_lines() if c.startswith("Set ")]


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
