#!/usr/bin/env python3
"""Measures SLOTWARD: the size of slotward.exe and its sections, the release packages and how
long the installer takes under Wine, how many host tests and Wine scenarios there are, and how
fast the resident instance answers WM_QUERYENDSESSION under Wine (as the driver sees it, so the
figure includes the driver's own window lookup and thread start). With --full it also times the
whole test command. Run after a build of the host and win32 presets (scripts/test.sh does both)
and, for the packages' sizes, after scripts/release.sh."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import shutil
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

import bench  # noqa: E402

EXE = os.path.join(ROOT, "build", "win32", "slotward.exe")
DRIVER = os.path.join(ROOT, "build", "win32", "tests", "wine", "swdriver.exe")


def exe_size():
    print("slotward.exe: %d bytes" % os.path.getsize(EXE))
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-h", EXE], capture_output=True,
                             text=True, check=True).stdout
    for name, size in re.findall(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)", headers, re.M):
        print("  section %-8s %6d bytes" % (name, int(size, 16)))


def test_counts():
    listed = subprocess.run(["ctest", "--preset", "host", "-N"], cwd=ROOT, capture_output=True,
                            text=True).stdout
    match = re.search(r"Total Tests: (\d+)", listed)
    print("host unit tests: %s" % (match.group(1) if match else "?"))
    scenarios = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "wine", "bench.py"),
                                "--driver", DRIVER, "--program", EXE, "--list"],
                               capture_output=True, text=True).stdout.split()
    print("Wine scenarios: %d" % len(scenarios))


def answer_times(rounds):
    """Median time to the answer of WM_QUERYENDSESSION on two layouts: nothing removable
    (consent after the survey), and a CD-ROM with a disc that /X excludes."""
    root = tempfile.mkdtemp(prefix="slotward-measure-")
    display = bench.Display()
    wine = bench.Wine(root, display.name, DRIVER, EXE, False)
    try:
        exe = wine.install("slotward")
        cases = [("no removable drive", {"f": ("fixed", "files")}, exe),
                 ("CD-ROM excluded", {"d": ("cdrom", "files")}, exe + " /X D:")]
        for name, layout, line in cases:
            wine.set_layout(layout, "en")
            wine.driver_run(["start", "5000", "--cmdfile", wine.command_file(line)], 40)
            times = []
            for _ in range(rounds):
                record = wine.driver_run(["send", "SLOTWARD", "SLOTWARD", "0x11", "0", "0",
                                          "5000", "none", "0"], 30)
                if record.get("answer") != "1":
                    raise bench.BenchError("unexpected answer %r" % record.get("answer"))
                times.append(int(record["answer.ms"]))
            wine.driver_run(["post", "SLOTWARD", "SLOTWARD", "0x401", "0", "0", "2000", "none",
                             "0", "3000"], 30)
            print("WM_QUERYENDSESSION answered in %s ms (median of %d, driver-side), %s"
                  % (statistics.median(times), rounds, name))
    finally:
        wine.close()
        display.close()
        shutil.rmtree(root, ignore_errors=True)


def release_figures():
    """slotward.exe without its resources (the .rsrc section's share of the file), the packages
    of scripts/release.sh in dist/, and the installer's times under Wine (release suite)."""
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-h", EXE], capture_output=True,
                             text=True, check=True).stdout
    rsrc = re.search(r"\.rsrc\s+([0-9a-f]+)", headers)
    if rsrc:
        used = int(rsrc.group(1), 16)
        print("slotward.exe without resources: %d bytes (resources: %d bytes, %d in the file)"
              % (os.path.getsize(EXE) - (used + 511) // 512 * 512, used, (used + 511) // 512 * 512))
    dist = os.path.join(ROOT, "dist")
    for name in sorted(os.listdir(dist)) if os.path.isdir(dist) else []:
        print("dist/%s: %d bytes" % (name, os.path.getsize(os.path.join(dist, name))))
    log = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "wine", "bench.py"),
                          "--driver", DRIVER, "--program", EXE, "--suite", "release", "--only",
                          "installer_*", "-v"], capture_output=True, text=True).stdout
    for step, seconds in re.findall(r"step \d+ run (msiexec /[ix]) .*: ([0-9.]+) s", log):
        print("%s under Wine: %s s" % (step, seconds))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--full", action="store_true", help="also time scripts/test.sh")
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()
    exe_size()
    release_figures()
    test_counts()
    answer_times(args.rounds)
    if args.full:
        started = time.monotonic()
        proc = subprocess.run(["bash", os.path.join(ROOT, "scripts", "test.sh")], cwd=ROOT,
                              capture_output=True, text=True)
        summary = [l for l in proc.stdout.splitlines() if l.startswith("total:")]
        print("test command: %.0f s wall, %s" % (time.monotonic() - started,
                                                 summary[-1] if summary else "no summary"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
