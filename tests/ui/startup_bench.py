#!/usr/bin/python3
"""Start-up benchmark of the launcher: under Wine on a private X server, the time from process start to
the setup window being visible, next to the same time for the minimal Win32 window program, and the size
of the release setup.exe.

The times are taken inside Wine by uiprobe time-start: it starts each program with CreateProcess and
polls for a visible top-level window of the new process (QueryPerformanceCounter), then for the moment
the program first idles, so Wine's own start cost is the same for both. The programs take turns, run
after run, so that a slow spell of the machine hits both alike. Prints figures; it has no pass mark.

With --against-exe, a second setup.exe (another build of the same program, from a medium of its own) takes
its turn in every run too, and the two are compared run by run: the median of the ratios, the runs each won
and the order statistics that bound that median at about 95 %.

Usage: startup_bench.py [--runs N] [--release-exe PATH] [--against-exe PATH]
"""

import argparse
import shutil
import statistics
import sys
from pathlib import Path

import harness

# setup.exe against the minimal window: showing its window, and the first idle, by which the whole window
# has painted.
VISIBLE_RATIO_GOAL = 1.1
PAINTED_RATIO_GOAL = 1.2
SIZE_GOAL_KB = 250


def summary(values: list[float]) -> str:
    return (f"median {statistics.median(values):7.1f} ms   min {min(values):7.1f}   max {max(values):7.1f}   "
            f"(n = {len(values)})")


def paired_comparison(name: str, ours: list[float], theirs: list[float]) -> None:
    """Run-by-run ratios of two programs that took turns, with a distribution-free bound on their median:
    for n pairs, the ratios of ranks k and n + 1 - k, k = n/2 - 0.98 sqrt(n) (the sign test's interval)."""
    ratios = sorted(a / b for a, b in zip(ours, theirs) if a >= 0 and b >= 0)
    if not ratios:
        return
    n = len(ratios)
    k = max(int(n / 2 - 0.98 * n ** 0.5), 0)
    won = sum(a < b for a, b in zip(ours, theirs) if a >= 0 and b >= 0)
    print(f"  {name}: median ratio {statistics.median(ratios):.3f}, about 95 % within "
          f"[{ratios[k]:.3f}, {ratios[n - 1 - k]:.3f}]; faster in {won} of {n} runs")


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--release-exe", type=Path, default=harness.REPO_ROOT / "build" / "win32" / "src" / "setup.exe")
    parser.add_argument("--against-exe", type=Path, help="another setup.exe that takes its turn in every run")
    args = parser.parse_args(argv)

    with harness.Session() as session:
        # setup.exe starts from a sample medium, as it does for a user; the yardstick from a folder beside it.
        medium = session.make_medium(drive=None)
        yardstick = session.folder / "yardstick" / "minimal_window.exe"
        yardstick.parent.mkdir()
        shutil.copy2(harness.built_program("minimal_window.exe", "tools/minimal_window"), yardstick)
        programs = [medium.path / "setup.exe", yardstick]
        if args.against_exe:
            other = session.make_medium(drive=None)
            shutil.copy2(args.against_exe, other.path / "setup.exe")
            programs.append(other.path / "setup.exe")
        result = session.probe(
            "--timeout-ms", "30000", "time-start", "--runs", str(args.runs), "--warmup", str(args.warmup),
            *(session.windows_path(p) for p in programs),
            timeout=120 + 10 * args.runs,
        )

    setup, minimal = result["programs"][:2]
    print(f"Start-up under Wine on Xvfb, from CreateProcess ({harness.ROAD.name} builds):")
    print(f"  setup.exe       window visible: {summary(setup['visible_ms'])}")
    print(f"  minimal window  window visible: {summary(minimal['visible_ms'])}")
    visible_ratio = statistics.median(setup["visible_ms"]) / statistics.median(minimal["visible_ms"])
    print(f"  ratio of the medians: {visible_ratio:.3f}   (goal: at most {VISIBLE_RATIO_GOAL})")
    # Each run starts both programs back to back: their ratio within a run shrugs off slow spells.
    paired = [s / m for s, m in zip(setup["visible_ms"], minimal["visible_ms"])]
    print(f"  median of the ratios within a run: {statistics.median(paired):.3f}")
    setup_idle = [t for t in setup["idle_ms"] if t >= 0]
    minimal_idle = [t for t in minimal["idle_ms"] if t >= 0]
    if setup_idle and minimal_idle:
        print(f"  setup.exe       first idle (painted): {summary(setup_idle)}")
        print(f"  minimal window  first idle (painted): {summary(minimal_idle)}")
        idle_ratio = statistics.median(setup_idle) / statistics.median(minimal_idle)
        print(f"  ratio of the medians: {idle_ratio:.3f}   (goal: at most {PAINTED_RATIO_GOAL})")
        paired_idle = [s / m for s, m in zip(setup["idle_ms"], minimal["idle_ms"]) if s >= 0 and m >= 0]
        print(f"  median of the ratios within a run: {statistics.median(paired_idle):.3f}")

    if args.against_exe:
        against = result["programs"][2]
        print(f"  {args.against_exe} window visible: {summary(against['visible_ms'])}")
        print(f"  {args.against_exe} first idle (painted): {summary([t for t in against['idle_ms'] if t >= 0])}")
        print("setup.exe against it, run by run (below 1: setup.exe is faster):")
        paired_comparison("window visible", setup["visible_ms"], against["visible_ms"])
        paired_comparison("first idle", setup["idle_ms"], against["idle_ms"])

    if args.release_exe.is_file():
        size = args.release_exe.stat().st_size
        print(f"Size of the 32-bit setup.exe: {size} bytes = {size / 1024:.1f} KB   (goal: at most {SIZE_GOAL_KB} KB)")
    else:
        print(f"No 32-bit setup.exe at {args.release_exe}: build the win32 preset for its size.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
