#!/usr/bin/env python3
"""The benchmarks that run under Wine: BVX.exe beside the floor program.

One Wine session of the end-to-end harness (tests/e2e/harness.py: an Xvfb
display of its own, a clone of the template prefix with the optical drives
D: and F: and the virtual desktop, the services and the desktop started
first), then, with the desktop kept alive by poster.exe:

  startup   time from process start to Shell_NotifyIconW(NIM_ADD), taken from
            the program's own WINEDEBUG=+timestamp,+systray line (Wine stamps
            trace lines with CLOCK_MONOTONIC_RAW in ms, the clock this script
            reads just before it starts the process); the programs take turns,
            each run a new process.
  rss       VmRSS of the same process once start-up has settled.
  idle      both programs running side by side for a minute after start-up:
            CPU time (utime+stime, and the scheduler's run time in ns),
            context switches of every thread, and the window messages they
            dispatched (WINEDEBUG=+message), WM_TIMER among them.
  hotkey    WM_HOTKEY posted by poster.exe to the idle BVX.exe; the time from
            the post to the MCI command string in BVX.exe's +mci trace (both
            lines timed as they arrive here, through pipes).
  first use each BVX.exe (and --extra build) started anew for every run:
            the first door command (the close hotkey, as above), then the
            first opening of the tray menu (a posted right click on the
            icon, through the double-click wait, until the menu's window is
            visible, timed inside poster.exe), Esc, and the options window
            opened by the menu's command; in another new process the options
            window opened first of all (its command posted).
  settings  profile_load.exe (GetPrivateProfileIntW, key by key) and
            core_load.exe (the program's LoadSettings) on the same files.

Writes one JSON file; bench/report.py turns it into the table.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Optional

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from report import pe_machine  # noqa: E402  (bench/, this script's folder)
import harness  # noqa: E402  (the end-to-end harness: Xvfb, prefix, driver)

WM_HOTKEY = 0x0312
WM_COMMAND = 0x0111
WM_KEYDOWN = 0x0100
VK_ESCAPE = 0x1B
WM_TRAYNOTIFY = 0x0401
WM_RBUTTONDOWN = 0x0204
CMD_OPTIONS = 7  # the tray menu's "Параметры..." (src/app/bvx_main.h)
NIM_ADD_LINE = re.compile(r"^(\d+)\.(\d{3}):[0-9a-f]+:trace:systray:Shell_NotifyIconW dwMessage = 0\b")
STAMP = re.compile(r"^(\d+)\.(\d{3}):")
MCI_DOOR = re.compile(r'trace:mci:mciSendStringW \(L"Set cdaudio!d: door (open|closed) wait"')
SPY_ENTER = re.compile(r"trace:message:spy_enter_message")
WM_TIMER_LINE = re.compile(r"\b(WM_TIMER|WM_SYSTIMER)\b")

# The settings BVX.exe runs with: drive 1 (D:) has both hotkeys, so ids 0 and 1 exist.
BVX_INI = (
    "[BVX]\r\nDefault=1\r\nOpenShortCut=49371\r\nCloseShortCut=49373\r\nWaitFor=10\r\n\r\n"
    "[ShortCuts]\r\nOpenShortCut1=49371\r\nCloseShortCut1=49373\r\n"
    "OpenShortCut2=0\r\nCloseShortCut2=0\r\n\r\n[Track]\r\nDoTrack1=1\r\nDoTrack2=1\r\n"
)


def clock_ms() -> float:
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


def loadavg() -> list[float]:
    return [float(x) for x in Path("/proc/loadavg").read_text().split()[:3]]


def log(text: str) -> None:
    print(f"[bench] {text}", file=sys.stderr, flush=True)


class Lines:
    """Reads a pipe on a thread of its own; every line with its arrival time."""

    def __init__(self, stream):
        self.items: list[tuple[float, str]] = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._run, args=(stream,), daemon=True)
        self.thread.start()

    def _run(self, stream) -> None:
        pending = b""
        fd = stream.fileno()
        while True:
            try:
                data = os.read(fd, 65536)
            except OSError:
                break
            arrived = clock_ms()
            if not data:
                break
            pending += data
            *complete, pending = pending.split(b"\n")
            if complete:
                with self.cond:
                    for raw in complete:
                        self.items.append((arrived, raw.decode("utf-8", "replace").rstrip("\r")))
                    self.cond.notify_all()

    def wait(self, pattern: re.Pattern, start: int = 0, timeout: float = 30.0) -> tuple[int, float, str]:
        """The first line from index `start` on that matches: (index, arrival, text)."""
        deadline = time.monotonic() + timeout
        with self.cond:
            index = start
            while True:
                while index < len(self.items):
                    arrived, text = self.items[index]
                    if pattern.search(text):
                        return index, arrived, text
                    index += 1
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"no line matching {pattern.pattern!r} in {timeout:.0f} s")
                self.cond.wait(left)

    def count(self) -> int:
        with self.cond:
            return len(self.items)

    def snapshot(self) -> list[tuple[float, str]]:
        with self.cond:
            return list(self.items)


class Program:
    """One started Windows program of the benchmark, its stderr read line by line."""

    def __init__(self, session: harness.Session, exe: Path, args: list[str], debug: str):
        self.exe = exe
        self.started_ms = clock_ms()
        self.process = subprocess.Popen(
            [session.env["BVX_WINE"], str(exe), *args], env=dict(session.env, WINEDEBUG=debug),
            cwd=exe.parent, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE)
        self.lines = Lines(self.process.stderr)
        session.processes.append(self.process)

    @property
    def pid(self) -> int:
        return self.process.pid

    def wait_icon(self, timeout: float = 30.0) -> tuple[float, float]:
        """(start-up by the trace stamp, start-up by arrival), in ms."""
        _, arrived, text = self.lines.wait(NIM_ADD_LINE, timeout=timeout)
        match = NIM_ADD_LINE.match(text)
        stamp = int(match.group(1)) * 1000 + int(match.group(2))
        return stamp - self.started_ms, arrived - self.started_ms

    def check_identity(self) -> None:
        """The pid is the Windows process itself (Wine's loader executes in place)."""
        cmdline = Path(f"/proc/{self.pid}/cmdline").read_bytes().decode("utf-8", "replace")
        if self.exe.name.lower() not in cmdline.lower():
            raise harness.HarnessError(f"pid {self.pid} is {cmdline!r}, not {self.exe.name}")

    def cpu_ms(self) -> float:
        """CPU time of all the process's threads so far (the scheduler's ns count)."""
        total = 0
        for task in Path(f"/proc/{self.pid}/task").iterdir():
            try:
                total += int((task / "schedstat").read_text().split()[0])
            except OSError:
                pass
        return total / 1e6

    def rss_kb(self) -> int:
        for line in Path(f"/proc/{self.pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
        raise harness.HarnessError(f"no VmRSS for pid {self.pid}")

    def usage(self) -> dict:
        """CPU time and context switches of the process and of each of its threads."""
        stat = Path(f"/proc/{self.pid}/stat").read_text().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        result = {"utime_stime_s": (int(stat[11]) + int(stat[12])) / ticks, "threads": {}}
        run_ns = 0
        for task in sorted(Path(f"/proc/{self.pid}/task").iterdir(), key=lambda p: int(p.name)):
            try:
                sched = (task / "schedstat").read_text().split()
                status = (task / "status").read_text()
            except OSError:
                continue
            fields = dict(line.split(":\t", 1) for line in status.splitlines() if ":\t" in line)
            result["threads"][task.name] = {
                "run_ns": int(sched[0]),
                "timeslices": int(sched[2]),
                "voluntary": int(fields["voluntary_ctxt_switches"]),
                "nonvoluntary": int(fields["nonvoluntary_ctxt_switches"]),
            }
            run_ns += int(sched[0])
        result["run_ns"] = run_ns
        return result

    def stop(self, session: harness.Session) -> None:
        harness.stop_popen(self.process)
        if self.process in session.processes:
            session.processes.remove(self.process)


def summary(values: list[float]) -> dict:
    return {"median": statistics.median(values), "min": min(values), "max": max(values),
            "n": len(values), "values": values}


def usage_delta(before: dict, after: dict) -> dict:
    threads = {}
    for tid, b in before["threads"].items():
        a = after["threads"].get(tid)
        if a is None:
            continue
        threads[tid] = {key: a[key] - b[key] for key in b}
    main = min(threads, key=int) if threads else None
    return {
        "utime_stime_s": after["utime_stime_s"] - before["utime_stime_s"],
        "run_ns": after["run_ns"] - before["run_ns"],
        "threads": threads,
        "main_thread": threads.get(main, {}),
        "thread_count": len(after["threads"]),
        "context_switches": sum(t["voluntary"] + t["nonvoluntary"] for t in threads.values()),
    }


class Bench:
    def __init__(self, args: argparse.Namespace):
        self.args = args
        self.session: Optional[harness.Session] = None
        self.tools = Path(args.tools)
        self.results: dict = {"loadavg_before": loadavg()}

    # -- set-up --

    def setup(self) -> None:
        os.environ["BVX_EXE"] = str(Path(self.args.bvx).resolve())
        os.environ["BVX_DRIVER"] = str(Path(self.args.driver).resolve())
        os.environ.setdefault("BVX_E2E_WORK", str(Path(self.args.work).resolve()))
        self.session = harness.Session("bench")
        started = time.monotonic()
        self.session.start()
        log(f"Wine session ready in {time.monotonic() - started:.1f} s "
            f"(display {self.session.xvfb.display})")
        drive_c = self.session.prefix / "drive_c"
        self.bvx_dir = drive_c / "bvx"
        self.bench_dir = drive_c / "bench"
        self.bvx_dir.mkdir()
        self.bench_dir.mkdir()
        shutil.copy2(self.args.bvx, self.bvx_dir / "BVX.exe")
        (self.bvx_dir / "BVX.ini").write_bytes(BVX_INI.encode("ascii"))
        for name in ("baseline_tray.exe", "floor_probe.exe", "poster.exe", "profile_load.exe",
                     "core_load.exe"):
            shutil.copy2(self.tools / name, self.bench_dir / name)
        shutil.copy2(self.args.small_ini, self.bench_dir / "small.ini")
        shutil.copy2(self.args.large_ini, self.bench_dir / "large.ini")
        # Other builds of BVX.exe measured beside it (name=path), each in a folder of its own.
        self.extra_dir = drive_c / "extra"
        for name, path in self.args.extra.items():
            (self.extra_dir / name).mkdir(parents=True)
            shutil.copy2(path, self.extra_dir / name / "BVX.exe")
            (self.extra_dir / name / "BVX.ini").write_bytes(BVX_INI.encode("ascii"))
        # The desktop lives as long as a program of the prefix runs: poster.exe
        # stays for the whole run and posts the hotkeys later.
        self.poster = subprocess.Popen(
            [self.session.env["BVX_WINE"], str(self.bench_dir / "poster.exe")],
            env=self.session.env, cwd=self.bench_dir, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.session.processes.append(self.poster)
        self.poster_lines = Lines(self.poster.stdout)
        wine = self.session.env
        self.results["wine"] = subprocess.run([wine["BVX_WINE"], "--version"], env=wine,
                                              capture_output=True, text=True).stdout.strip()
        self.results["wine_arch"] = wine.get("BVX_WINE_ARCH", "")
        self.results["wine_mode"] = wine.get("BVX_WINE_MODE", "")
        # Whether the 32-bit Wine is there at all: without it a host whose
        # CPU runs 32-bit code measures in the x86_64 mode too.
        self.results["wine32_installed"] = (Path(wine["BVX_WINE64"]).parent / "wine").exists()
        self.results["bvx_exe"] = str(self.args.bvx)
        self.results["bvx_arch"] = pe_machine(Path(self.args.bvx))
        self.results["cpu"] = cpu_model()
        self.results["kernel"] = platform.release()

    def programs(self) -> dict[str, tuple[Path, list[str], str]]:
        """name -> (exe, arguments, WINEDEBUG channels besides the icon trace)."""
        extras = {name: (self.extra_dir / name / "BVX.exe", [], "") for name in self.args.extra}
        return extras | {
            "bvx": (self.bvx_dir / "BVX.exe", [], ""),
            "baseline": (self.bench_dir / "baseline_tray.exe", [], ""),
            "probe_mci": (self.bench_dir / "floor_probe.exe", ["mci"], ""),
            "probe_mci_comctl": (self.bench_dir / "floor_probe.exe", ["mci", "comctl"], ""),
            "probe_mci_free": (self.bench_dir / "floor_probe.exe", ["mci", "free"], ""),
        }

    # -- start-up and memory --

    def one_start(self, name: str) -> tuple[float, float, int, float]:
        exe, args, _ = self.programs()[name]
        program = Program(self.session, exe, args, "+timestamp,+systray")
        try:
            by_stamp, by_arrival = program.wait_icon()
            cpu = program.cpu_ms()
            program.check_identity()
            time.sleep(self.args.settle)
            rss = program.rss_kb()
        finally:
            program.stop(self.session)
        time.sleep(0.3)  # the desktop's tray drops the icon of the ended process
        return by_stamp, by_arrival, rss, cpu

    def startup(self) -> None:
        names = ["bvx", "baseline"] + list(self.args.extra)
        probes = (["probe_mci", "probe_mci_comctl", "probe_mci_free"]
                  if self.args.probe_runs > 0 else [])
        for name in names + probes:  # warm the file cache; not counted
            self.one_start(name)
        startup: dict[str, list[float]] = {n: [] for n in names + probes}
        arrival: dict[str, list[float]] = {n: [] for n in names + probes}
        rss: dict[str, list[int]] = {n: [] for n in names + probes}
        cpu: dict[str, list[float]] = {n: [] for n in names + probes}
        # The machine's speed drifts in bursts of a few seconds (a start-up
        # then takes up to 1.4x the CPU time in every program alike), so
        # BVX.exe starts between the baseline and the floor probe, and each
        # ratio is also taken within the round.
        paired: dict[str, list[dict]] = {"probe_mci": [], "baseline": []}
        rest = [n for n in names if n not in ("bvx", "baseline")]
        others = [n for n in probes if n != "probe_mci"]
        for round_ in range(self.args.runs):
            with_probes = round_ < self.args.probe_runs
            block = ["baseline", "bvx"] + (["probe_mci"] if with_probes and probes else [])
            order = block if round_ % 2 == 0 else block[::-1]
            # The others take each place after it equally often.
            if rest:
                turn = round_ % len(rest)
                order = order + rest[turn:] + rest[:turn]
            if with_probes and others:
                turn = round_ % len(others)
                order = order + others[turn:] + others[:turn]
            for name in order:
                by_stamp, by_arrival, kb, used = self.one_start(name)
                cpu[name].append(used)
                startup[name].append(by_stamp)
                arrival[name].append(by_arrival)
                rss[name].append(kb)
            for reference, ratios in paired.items():
                if reference in order:
                    ratios.append({"cpu": cpu["bvx"][-1] / cpu[reference][-1],
                                   "startup": startup["bvx"][-1] / startup[reference][-1]})
            log(f"start-up round {round_ + 1}/{self.args.runs}: "
                + ", ".join(f"{n} {startup[n][-1]:.0f} ms {rss[n][-1]} kB" for n in order))
        self.results["startup_ms"] = {n: summary(v) for n, v in startup.items()}
        self.results["startup_arrival_ms"] = {n: summary(v) for n, v in arrival.items()}
        self.results["rss_kb"] = {n: summary([float(x) for x in v]) for n, v in rss.items()}
        # CPU time spent up to the icon: what start-up costs, whatever else the machine runs.
        self.results["startup_cpu_ms"] = {n: summary(v) for n, v in cpu.items()}
        # Per round: BVX.exe's figure over its neighbour's.
        self.results["startup_paired"] = {
            ref: {key: summary([r[key] for r in ratios]) for key in ("cpu", "startup")}
            for ref, ratios in paired.items() if ratios}

    # -- idle, then hotkeys on the idle program --

    def idle_and_hotkey(self) -> None:
        bvx = Program(self.session, self.bvx_dir / "BVX.exe", [],
                      "+timestamp,+systray,+message,+mci")
        base = Program(self.session, self.bench_dir / "baseline_tray.exe", [],
                       "+timestamp,+systray,+message")
        try:
            for program in (bvx, base):
                program.wait_icon()
                program.check_identity()
            time.sleep(3.0)  # start-up settles
            t0 = clock_ms()
            before = {n: p.usage() for n, p in (("bvx", bvx), ("baseline", base))}
            lines_before = {n: p.lines.count() for n, p in (("bvx", bvx), ("baseline", base))}
            time.sleep(self.args.idle)
            after = {n: p.usage() for n, p in (("bvx", bvx), ("baseline", base))}
            t1 = clock_ms()
            idle = {}
            for name, program in (("bvx", bvx), ("baseline", base)):
                window = program.lines.snapshot()[lines_before[name]:]
                window = [text for arrived, text in window if arrived <= t1]
                messages = [t for t in window if SPY_ENTER.search(t)]
                idle[name] = dict(usage_delta(before[name], after[name]),
                                  seconds=(t1 - t0) / 1000.0,
                                  messages=len(messages),
                                  timer_messages=sum(1 for t in messages if WM_TIMER_LINE.search(t)),
                                  trace_lines=len(window))
            self.results["idle"] = idle
            log("idle: " + "; ".join(
                f"{n}: cpu {v['utime_stime_s']:.2f} s, run {v['run_ns'] / 1e6:.2f} ms, "
                f"switches {v['context_switches']}, messages {v['messages']}, timers {v['timer_messages']}"
                for n, v in idle.items()))
            base.stop(self.session)
            self.hotkeys(bvx)
        finally:
            bvx.stop(self.session)
            base.stop(self.session)

    def post(self, cls: str, msg: int, wparam: int, lparam: int) -> float:
        start = self.poster_lines.count()
        self.poster.stdin.write(f"post {cls} {msg} {wparam} {lparam}\n".encode())
        self.poster.stdin.flush()
        _, arrived, text = self.poster_lines.wait(re.compile(r"^(posting|missing|bad)"), start)
        if not text.startswith("posting"):
            raise harness.HarnessError(f"poster: {text}")
        return arrived

    def hotkeys(self, bvx: Program) -> None:
        latencies: dict[str, list[float]] = {"open": [], "close": []}
        for i in range(2 * self.args.hotkeys):
            hotkey = i % 2  # 0 opens drive 1 (D:), 1 closes it
            kind = "open" if hotkey == 0 else "close"
            start = bvx.lines.count()
            posted = self.post("TAboutForm", WM_HOTKEY, hotkey, 0)
            index, arrived, text = bvx.lines.wait(MCI_DOOR, start, timeout=30)
            if MCI_DOOR.search(text).group(1) != ("open" if kind == "open" else "closed"):
                raise harness.HarnessError(f"hotkey {hotkey} gave {text}")
            latencies[kind].append(arrived - posted)
            time.sleep(0.25)  # the command has ended (no disc hardware answers at once)
        self.results["hotkey_ms"] = {k: summary(v) for k, v in latencies.items()}
        log("hotkey: " + ", ".join(f"{k} median {statistics.median(v):.2f} ms"
                                   for k, v in latencies.items()))

    # -- the first door command, the first tray menu and options window --

    def open_timed(self, cls: str, msg: int, wparam: int, lparam: int, shown: str) -> float:
        start = self.poster_lines.count()
        self.poster.stdin.write(f"open {cls} {msg} {wparam} {lparam} {shown}\n".encode())
        self.poster.stdin.flush()
        _, _, text = self.poster_lines.wait(re.compile(r"^(opened|timeout|missing|bad)"), start,
                                            timeout=30)
        if not text.startswith("opened"):
            raise harness.HarnessError(f"poster: {text} (waiting for {shown})")
        return float(text.split()[1])

    def opened(self, program: Program, figures: dict, key: str, *post) -> None:
        """Times one opening: until the window is seen, and the CPU time the
        program spent meanwhile (hardly moved by the machine's other load)."""
        cpu = program.cpu_ms()
        figures[key].append(self.open_timed(*post))
        figures[key.replace("_ms", "_cpu_ms")].append(program.cpu_ms() - cpu)

    def first_use(self) -> None:
        names = ["bvx"] + list(self.args.extra)
        keys = ["door_ms", "menu_ms", "menu_cpu_ms", "options_after_menu_ms",
                "options_after_menu_cpu_ms", "options_ms", "options_cpu_ms"]
        figures = {n: {k: [] for k in keys} for n in names}
        for round_ in range(self.args.first_use):
            order = names[round_ % len(names):] + names[:round_ % len(names)]
            for name in order:
                exe = self.programs()[name][0]
                program = Program(self.session, exe, [], "+timestamp,+systray,+mci")
                try:
                    program.wait_icon()
                    time.sleep(self.args.settle)
                    start = program.lines.count()
                    posted = self.post("TAboutForm", WM_HOTKEY, 1, 0)  # close drive 1 (D:)
                    _, arrived, _ = program.lines.wait(MCI_DOOR, start, timeout=30)
                    figures[name]["door_ms"].append(arrived - posted)
                    time.sleep(0.25)
                    self.opened(program, figures[name], "menu_ms", "TAboutForm", WM_TRAYNOTIFY, 0,
                                WM_RBUTTONDOWN, harness.MENU_CLASS)
                    # Esc closes the menu; then its "Параметры..." command, as a user goes on.
                    time.sleep(0.3)
                    self.post("TAboutForm", WM_KEYDOWN, VK_ESCAPE, 1)
                    time.sleep(0.5)
                    self.opened(program, figures[name], "options_after_menu_ms", "TAboutForm",
                                WM_COMMAND, CMD_OPTIONS, 0, "TfrmOptions")
                finally:
                    program.stop(self.session)
                time.sleep(0.3)
                program = Program(self.session, exe, [], "+timestamp,+systray")
                try:
                    program.wait_icon()
                    time.sleep(self.args.settle)
                    self.opened(program, figures[name], "options_ms", "TAboutForm", WM_COMMAND,
                                CMD_OPTIONS, 0, "TfrmOptions")
                finally:
                    program.stop(self.session)
                time.sleep(0.3)
            log(f"first use round {round_ + 1}/{self.args.first_use}: " + ", ".join(
                f"{n} door {figures[n]['door_ms'][-1]:.1f} menu {figures[n]['menu_ms'][-1]:.1f} "
                f"options after it {figures[n]['options_after_menu_ms'][-1]:.1f} "
                f"options first {figures[n]['options_ms'][-1]:.1f} ms" for n in order))
        self.results["first_use_ms"] = {n: {k: summary(v) for k, v in f.items()}
                                        for n, f in figures.items()}

    # -- the settings file read key by key, and by the program --

    def run_tool(self, name: str, *args: str) -> dict[str, tuple[int, float]]:
        out = subprocess.run([self.session.env["BVX_WINE"], str(self.bench_dir / name), *args],
                             env=dict(self.session.env, WINEDEBUG="-all"), cwd=self.bench_dir,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
        if out.returncode != 0:
            raise harness.HarnessError(f"{name} {' '.join(args)} failed with {out.returncode}: "
                                       f"{out.stderr.decode(errors='replace')[-500:]}")
        result = {}
        for line in out.stdout.decode().splitlines():
            parts = line.split()
            if len(parts) == 3:
                result[parts[0]] = (int(parts[1]), float(parts[2]))
        return result

    def settings(self) -> None:
        results = {}
        for label, ini, cold, warm, core in (("2k", "small.ini", 200, 2000, 2000),
                                              ("1m", "large.ini", self.args.cold_loads, 20, 200)):
            path = f"C:\\bench\\{ini}"
            for key, (loads, seconds) in self.run_tool("profile_load.exe", path, str(cold),
                                                       str(warm)).items():
                results[f"{key}_{label}"] = {"loads": loads, "seconds": seconds}
            for key, (loads, seconds) in self.run_tool("core_load.exe", path, str(core)).items():
                results[f"{key}_{label}"] = {"loads": loads, "seconds": seconds}
        self.results["settings_wine"] = results
        log("settings under Wine: " + ", ".join(f"{k} {v['seconds'] * 1e3:.3f} ms"
                                                for k, v in results.items()))

    def run(self) -> None:
        try:
            self.setup()
            self.startup()
            if self.args.first_use > 0:
                self.first_use()
            if not self.args.startup_only:
                self.idle_and_hotkey()
                self.settings()
        finally:
            try:
                if self.poster.poll() is None:
                    self.poster.stdin.write(b"quit\n")
                    self.poster.stdin.flush()
            except (AttributeError, OSError):
                pass
            if self.session is not None:
                self.session.stop()
        self.results["loadavg_after"] = loadavg()
        self.results["params"] = {"runs": self.args.runs, "probe_runs": self.args.probe_runs,
                                  "first_use": self.args.first_use,
                                  "settle_s": self.args.settle, "idle_s": self.args.idle,
                                  "hotkeys": self.args.hotkeys, "cold_loads": self.args.cold_loads}
        Path(self.args.out).write_text(json.dumps(self.results, indent=1))


def cpu_model() -> str:
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bvx", required=True, help="BVX.exe built for the arch Wine runs")
    parser.add_argument("--tools", required=True, help="folder of the bench/wine programs")
    parser.add_argument("--driver", required=True, help="the end-to-end driver.exe")
    parser.add_argument("--small-ini", required=True)
    parser.add_argument("--large-ini", required=True)
    parser.add_argument("--work", required=True, help="folder for the prefix and logs")
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", type=int, default=16, help="start-ups of each program")
    parser.add_argument("--probe-runs", type=int, default=8, help="start-ups of each probe")
    parser.add_argument("--settle", type=float, default=1.5, help="seconds before reading VmRSS")
    parser.add_argument("--idle", type=float, default=60.0, help="seconds of idling measured")
    parser.add_argument("--hotkeys", type=int, default=20, help="posts of each hotkey")
    parser.add_argument("--cold-loads", type=int, default=10)
    parser.add_argument("--first-use", type=int, default=10,
                        help="new processes of each build for the first door command, menu, options")
    parser.add_argument("--extra", action="append", default=[], metavar="NAME=PATH",
                        help="another BVX.exe to start in the same rotation (a proposed change)")
    parser.add_argument("--startup-only", action="store_true",
                        help="only start-up and memory (to compare --extra builds)")
    args = parser.parse_args()
    args.extra = dict(item.split("=", 1) for item in args.extra)
    Bench(args).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
