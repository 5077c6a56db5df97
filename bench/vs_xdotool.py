#!/usr/bin/env python3
"""Tapster against xdotool on one Xvfb display with 2000 other windows, side by side.

Two pairs, run in alternation: a window search plus one key, and typing 2000 characters.
Prints the median wall time of each whole command, the time ratios (tapster / xdotool,
below 1 means faster) and how many characters reached the window.

    bench/vs_xdotool.py [--build DIR] [--pairs N] [--others N]
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TITLE = "Bench Target"
TEXT_UNIT = "the quick brown fox jumps over the lazy dog 0123456789,.-=;"


def wait_until(done, seconds=30.0):
    end = time.monotonic() + seconds
    while not done():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


def start_xvfb():
    """An Xvfb on a display it picks itself (-displayfd): its process and display name."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0",
                             "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        proc.kill()
        sys.exit("Xvfb did not start")
    return proc, f":{number}"


class Target:
    """The test window's key log: the text its key presses produced."""

    def __init__(self, path):
        self.path = path

    def lines(self):
        try:
            with open(self.path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def typed(self):
        text = ""
        for line in self.lines():
            if line.startswith("KeyPress ") and " text=" in line:
                text += bytes.fromhex(line.split(" text=")[1].split(" ")[0]).decode("latin-1")
        return text


def timed(argv, env):
    start = time.perf_counter()
    r = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    took = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"{argv[0]} failed ({r.returncode}): {r.stdout.decode(errors='replace')}")
    return took


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    ap.add_argument("--pairs", type=int, default=7)
    ap.add_argument("--others", type=int, default=2000)
    ap.add_argument("--chars", type=int, default=2000)
    args = ap.parse_args()
    tapster = os.path.join(args.build, "tapster")
    testwin = os.path.join(args.build, "tools", "testwin_x11", "testwin_x11")
    for exe in (tapster, testwin):
        if not os.access(exe, os.X_OK):
            sys.exit(f"{exe} is missing: build the tapster and testwin_x11 targets first")
    text = (TEXT_UNIT * (args.chars // len(TEXT_UNIT) + 1))[: args.chars]

    work = tempfile.mkdtemp(prefix="tapster-bench-")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    procs = [xvfb]
    try:
        if not wait_until(lambda: subprocess.run(["xdpyinfo"], env=env, stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL).returncode == 0):
            sys.exit("Xvfb did not start")
        log = os.path.join(work, "target.txt")
        win = subprocess.Popen([testwin, "--out", log, "--title", TITLE, "--others",
                                str(args.others), "--lifetime", "3600"], env=env)
        procs.append(win)
        target = Target(log)
        if not wait_until(lambda: any(l.startswith("ready") for l in target.lines())):
            sys.exit("the target window did not appear")
        window_id = next(l for l in target.lines() if l.startswith("ready")).split()[1][4:]
        # xdotool types into the focused window: give the target the focus once.
        timed([tapster, TITLE], env)

        def lowered():
            # The target goes to the back before every search, so no search finds it early.
            count = len([l for l in target.lines() if l == "lowered"])
            win.send_signal(signal.SIGUSR1)
            if not wait_until(lambda: len([l for l in target.lines() if l == "lowered"]) > count):
                sys.exit("the target window did not go to the back")

        def arrived(before, want):
            wait_until(lambda: len(target.typed()) - before >= len(want), 60)
            got = target.typed()[before:]
            return sum(1 for a, b in zip(got, want) if a == b)

        cases = {
            "search+key": (
                [tapster, f"{TITLE}/A"],
                ["xdotool", "search", "--name", f"^{TITLE}$", "key", "--window", "%1", "a"],
                "a"),
            "type": (
                [tapster, f"{TITLE}/'{text}'"],
                ["xdotool", "type", "--delay", "0", text],
                text),
        }
        times = {(case, tool): [] for case in cases for tool in ("tapster", "xdotool")}
        chars = {(case, tool): 0 for case in cases for tool in ("tapster", "xdotool")}
        for pair in range(args.pairs):
            for case, (ours, theirs, want) in cases.items():
                # Which tool goes first alternates from pair to pair.
                order = [("tapster", ours), ("xdotool", theirs)]
                if pair % 2:
                    order.reverse()
                for tool, argv in order:
                    if case == "search+key":
                        lowered()
                    before = len(target.typed())
                    times[case, tool].append(timed(argv, env))
                    chars[case, tool] += arrived(before, want)
        print(f"{args.others} other windows, {args.pairs} pairs, window {window_id}")
        for case, (_, _, want) in cases.items():
            ours = statistics.median(times[case, "tapster"])
            theirs = statistics.median(times[case, "xdotool"])
            total = len(want) * args.pairs
            print(f"{case:11s} tapster {ours * 1000:8.1f} ms  xdotool {theirs * 1000:8.1f} ms  "
                  f"ratio {ours / theirs:.2f}  characters arrived: tapster "
                  f"{chars[case, 'tapster']}/{total}, xdotool {chars[case, 'xdotool']}/{total}")
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
