"""The scripts' own decisions, checked without Wine: the mode that
scripts/wine-env.sh takes (with stub loaders in place of Wine's), what the
harness runs with which loader in each mode, the 64-bit registry view of
every `reg add` the scripts and tests run, scripts/run.sh's answer to
bad options, and what scripts/install-deps.sh does when the package mirror
fails it (stub apt-get)."""

from __future__ import annotations

import os
import re
import subprocess
import tempfile
import time
import unittest
from pathlib import Path
from unittest import mock

import harness
import harness_wine

REPO = Path(__file__).resolve().parent.parent.parent

# What the 32-bit loader of each kind of host answers to the probe (a stub
# that records its run and makes the prefix, as Wine would), and the mode.
HOSTS = {
    "runs 32-bit code": ("exit 32", "wine32"),
    "cannot execute 32-bit code": ("exit 126", "wine64"),
    "half-working: --version answers, programs do not run":
        ('[ "$1" = --version ] && { echo wine-8.0; exit 0; }; exit 1', "wine64"),
    "hangs": ("exec sleep 60", "wine64"),
    "no 32-bit loader": (None, "wine64"),
}
STUB = """#!/bin/bash
echo "run $WINEPREFIX" >>"$STUB_LOG"
mkdir -p "$WINEPREFIX"
{answer}
"""
SERVER = """#!/bin/bash
echo "server $* $WINEPREFIX" >>"$STUB_LOG"
"""


class WineModeTest(unittest.TestCase):

    def setUp(self) -> None:
        self.tmp = Path(tempfile.mkdtemp(prefix="bvx-wine-env-test."))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.tmp)])
        self.loaders = self.tmp / "wine"
        self.loaders.mkdir()
        (self.tmp / "scratch").mkdir()
        self.log = self.tmp / "stub.log"
        self.write(self.loaders / "wine64", "#!/bin/bash\nexit 0\n")
        self.write(self.loaders / "wineserver64", SERVER)

    @staticmethod
    def write(path: Path, text: str) -> None:
        path.write_text(text)
        path.chmod(0o755)

    def source(self, **extra: str) -> dict:
        env = {k: v for k, v in os.environ.items() if not k.startswith(("BVX_", "WINE"))}
        env.update(BVX_WINE_DIR=str(self.loaders), BVX_WINE_CACHE=str(self.tmp / "cache"),
                   TMPDIR=str(self.tmp / "scratch"), STUB_LOG=str(self.log),
                   BVX_WINE_PROBE_TIMEOUT="2", WINELOADER="/somewhere/wine64", **extra)
        out = subprocess.run(["bash", "-c", 'set -euo pipefail; source "$1"; env -0', "bash",
                              str(REPO / "scripts" / "wine-env.sh")],
                             env=env, capture_output=True, check=True, timeout=60).stdout
        return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)

    def stub_log(self) -> list[str]:
        return self.log.read_text().splitlines() if self.log.exists() else []

    def test_the_mode_comes_from_the_probe_s_own_exit_code(self):
        for name, (answer, mode) in HOSTS.items():
            with self.subTest(name):
                self.log.unlink(missing_ok=True)
                (self.loaders / "wine").unlink(missing_ok=True)
                subprocess.run(["rm", "-rf", str(self.tmp / "cache")], check=True)
                if answer is not None:
                    self.write(self.loaders / "wine", STUB.format(answer=answer))
                started = time.monotonic()
                env = self.source()
                self.assertLess(time.monotonic() - started, 30, "the probe has a time limit")
                preset, loader = {"wine32": ("win32", "wine"), "wine64": ("win64", "wine64")}[mode]
                self.assertEqual((env["BVX_WINE_MODE"], env["BVX_EXE_PRESET"], env["BVX_WINE"]),
                                 (mode, preset, str(self.loaders / loader)))
                self.assertEqual(env["BVX_WINE64"], str(self.loaders / "wine64"))
                # In wine32 mode each loader picks the other for the other
                # bitness: no WINELOADER may pin one.
                self.assertEqual(env.get("WINELOADER"),
                                 None if mode == "wine32" else str(self.loaders / "wine64"))
                runs = [line.split()[1] for line in self.stub_log() if line.startswith("run ")]
                self.assertEqual(len(runs), 0 if answer is None else 1)
                for prefix in runs:
                    # The probe's prefix: its server ended, the folder gone.
                    self.assertIn(f"server -k {prefix}", self.stub_log())
                    self.assertFalse(Path(prefix).exists())
                self.assertEqual(os.listdir(self.tmp / "scratch"), [])

    def test_the_answer_is_kept_and_a_forced_mode_is_not_probed(self):
        self.write(self.loaders / "wine", STUB.format(answer=HOSTS["runs 32-bit code"][0]))
        self.assertEqual(self.source()["BVX_WINE_MODE"], "wine32")
        self.assertEqual(self.source()["BVX_WINE_MODE"], "wine32")
        self.assertEqual(self.source(BVX_WINE_MODE="wine64")["BVX_EXE_PRESET"], "win64")
        self.assertEqual(len([line for line in self.stub_log() if line.startswith("run ")]), 1)


class HarnessModeTest(unittest.TestCase):
    """Both modes are the same harness code: only the exe under test, its
    loader and the driver of its arch differ; the explorer's tooltips are
    read by the x86_64 driver with the 64-bit loader everywhere."""

    def test_what_runs_with_which_loader(self):
        loaders = "/stub/wine"
        build = REPO / "build"
        drivers = build / "native" / "tests" / "e2e"
        modes = {
            "wine32": (build / "win32" / "BVX.exe", [f"{loaders}/wine", str(drivers / "driver-i686.exe")]),
            "wine64": (build / "win64" / "BVX.exe", [f"{loaders}/wine64", str(drivers / "driver.exe")]),
        }
        tooltip = [f"{loaders}/wine64", str(drivers / "driver.exe"), "tooltip"]
        for mode, (exe, program_driver) in modes.items():
            with self.subTest(mode), mock.patch.dict(os.environ, {
                    "BVX_WINE_MODE": mode, "BVX_WINE_DIR": loaders, "BVX_SOURCE_DIR": str(REPO),
                    "BVX_EXE": "", "BVX_DRIVER": ""}), mock.patch.object(harness_wine, "_wine_env_cache"):
                harness_wine._wine_env_cache = None
                session = harness.Session("mode-test")
                session.env = harness.wine_env()
                self.assertEqual(session.exe, exe)
                self.assertIn(str(exe), harness.describe_exe())
                self.assertEqual(session.driver_argv(("tooltip",)), tooltip)
                self.assertEqual(session.driver_argv(("controls", "TOptionsForm")),
                                 [*program_driver, "controls", "TOptionsForm"])


class RegistryViewTest(unittest.TestCase):
    """A `reg add` run by a 32-bit reg.exe in a 64-bit prefix lands under
    Wow6432Node, where Wine itself never looks: every one the scripts, tests
    and benchmarks run names the 64-bit view."""

    REG_ADD = re.compile(r"""\breg["']?,?\s+["']?add\b""")

    def test_every_reg_add_carries_reg_64(self):
        files = [*REPO.glob("scripts/*.sh"), *REPO.glob("tests/e2e/*.py"), *REPO.glob("bench/*.py"),
                 REPO / "README.md"]
        found = 0
        for path in files:
            if path.resolve() == Path(__file__).resolve():
                continue
            text = path.read_text(encoding="utf-8")
            for match in self.REG_ADD.finditer(text):
                found += 1
                command = self.command_at(text, match.start(), path.suffix == ".py")
                with self.subTest(f"{path.relative_to(REPO)}: {command[:60]}"):
                    self.assertIn("/reg:64", command)
        self.assertGreaterEqual(found, 4, "the scan finds the prefix set-up")

    @staticmethod
    def command_at(text: str, start: int, python: bool) -> str:
        """The command from `start`: to the bracket that closes around it in
        Python, to the end of the (continued) line in shell and prose."""
        depth = 0
        for index in range(start, len(text)):
            char = text[index]
            depth += char in "([{"
            depth -= char in ")]}"
            if depth < 0 or (not python and char == "\n" and text[index - 1] != "\\"):
                return text[start:index]
        return text[start:]


class RunOptionsTest(unittest.TestCase):
    """scripts/run.sh checks its options before it installs or builds
    anything."""

    def test_bad_options_get_a_message_and_a_non_zero_exit(self):
        cases = {
            ("--frobnicate",): "unknown argument '--frobnicate'",
            ("--drive",): "--drive needs a device",
            ("--drive=",): "--drive needs a device",
            ("--drive", "/dev/no-such-drive"): "no such device",
            ("--drive", "/dev/null"): "not a block device",
        }
        for args, message in cases.items():
            with self.subTest(args):
                result = subprocess.run(["bash", str(REPO / "scripts" / "run.sh"), *args],
                                        capture_output=True, text=True, timeout=30,
                                        stdin=subprocess.DEVNULL)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "", "nothing else ran")


# Stand-ins for Debian's package tools: every call is logged; a package is
# installed when named in STUB_INSTALLED; `apt-get update` fails as a mirror
# caught mid-sync does when STUB_UPDATE_FAILS is set; `apt-get install` fails
# when any of its packages is named in STUB_UNINSTALLABLE.
APT_STUBS = {
    "dpkg-query": """#!/bin/bash
for p in $STUB_INSTALLED; do [ "$p" = "${@: -1}" ] && { echo -n "install ok installed"; exit 0; }; done
exit 1
""",
    "dpkg": """#!/bin/bash
echo "dpkg $*" >>"$STUB_LOG"
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
""",
    "apt-get": """#!/bin/bash
echo "apt-get $*" >>"$STUB_LOG"
if [ "$1" = update ] && [ -n "${STUB_UPDATE_FAILS:-}" ]; then
  echo "E: Failed to fetch http://mirror/debian-security/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
  echo "E: Some index files failed to download." >&2
  exit 100
fi
for p in "$@"; do
  for bad in ${STUB_UNINSTALLABLE:-}; do
    [ "$p" = "$bad" ] && { echo "E: Unable to locate package $p" >&2; exit 100; }
  done
done
exit 0
""",
    "sudo": '#!/bin/bash\nexec "$@"\n',
    "sleep": "#!/bin/bash\nexit 0\n",
}


class InstallDepsTest(unittest.TestCase):
    """A half-synced mirror must not stop the set-up: a failed update is a
    warning, the 32-bit Wine is optional (the tests then take the x86_64
    mode), and only the packages every host needs stop the script."""

    ESSENTIAL = "cmake mingw-w64 wine wine64 xvfb"  # a few of them: the rest count as missing

    def run_install(self, **stub: str) -> tuple[subprocess.CompletedProcess, list[str]]:
        tmp = Path(tempfile.mkdtemp(prefix="bvx-install-deps-test."))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(tmp)])
        for name, text in APT_STUBS.items():
            (tmp / name).write_text(text)
            (tmp / name).chmod(0o755)
        env = dict(os.environ, PATH=f"{tmp}:{os.environ['PATH']}", STUB_LOG=str(tmp / "log"), **stub)
        result = subprocess.run(["bash", str(REPO / "scripts" / "install-deps.sh")], env=env,
                                capture_output=True, text=True, timeout=60)
        log = tmp / "log"
        return result, log.read_text().splitlines() if log.exists() else []

    def test_what_a_failing_mirror_stops_and_what_it_does_not(self):
        everything = "cmake ninja-build g++ clang libclang-rt-dev clang-tidy python3 libgtest-dev " \
                     "libgmock-dev libbenchmark-dev mingw-w64 wine wine64 xvfb xdotool x11-utils " \
                     "imagemagick fonts-liberation"
        cases = {
            # name: (stub settings, exit code, words in stderr, apt-get calls)
            "update fails, wine32:i386 cannot be installed": (
                dict(STUB_INSTALLED=self.ESSENTIAL, STUB_UPDATE_FAILS="1",
                     STUB_UNINSTALLABLE="wine32:i386"),
                0, ["warning: apt-get update failed twice",
                    "http://mirror/debian-security/binary-i386/Packages.xz",
                    "wine32:i386 could not be installed", "build/win64/BVX.exe"],
                ["update", "update", "install-essential", "install wine32:i386"]),
            "an essential package cannot be installed": (
                dict(STUB_INSTALLED=self.ESSENTIAL, STUB_UNINSTALLABLE="xdotool"),
                1, ["could not install the packages every build needs"],
                ["update", "install-essential"]),
            "everything is there": (
                dict(STUB_INSTALLED=f"{everything} wine32:i386"), 0, [], []),
        }
        for name, (stub, code, words, calls) in cases.items():
            with self.subTest(name):
                result, log = self.run_install(**stub)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                for word in words:
                    self.assertIn(word, result.stderr)
                seen = []
                for line in log:
                    if not line.startswith("apt-get "):
                        continue
                    command, *args = line.split()[1:]
                    packages = [a for a in args if not a.startswith("-")]
                    if command == "update":
                        seen.append("update")
                    elif packages == ["wine32:i386"]:
                        seen.append("install wine32:i386")
                    else:
                        # The rest goes in one call, the 32-bit Wine never with it.
                        self.assertIn("xdotool", packages)
                        self.assertNotIn("wine32:i386", packages)
                        seen.append("install-essential")
                self.assertEqual(seen, calls)
                if code == 0 and "wine32:i386" in stub.get("STUB_UNINSTALLABLE", ""):
                    self.assertEqual(len([l for l in result.stderr.splitlines() if "wine32" in l]), 1,
                                     "one line tells why")


if __name__ == "__main__":
    unittest.main(verbosity=2)
