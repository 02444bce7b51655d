#!/usr/bin/env python3
"""Measures SLOTWARD: the size of slotward.exe and its sections, the release packages and how
long the installer takes under Wine, how many host tests and Wine scenarios there are, the
host tests' line coverage of the product sources, and under Wine how fast the resident
instance answers WM_QUERYENDSESSION (as the driver sees it, so the figure includes the
driver's own window lookup and thread start), how its private memory grows at the first
consenting query and over 3,000 more, and how much processor time it takes while idle. The
figures are key=value lines. With --full it also times the whole test command. Run after a
build of the host and win32 presets (scripts/test.sh does both; where the machine runs no
32-bit code, the win64 preset too) and, for the packages' sizes, after scripts/release.sh; the
coverage build is made here.

The sizes are the i686 build's, the one that ships. The figures under Wine are that build's
too, except where the kernel runs no 32-bit code (scripts/wine_flavour.sh): there Wine can only
start the x86-64 build, through wine64, and wine_build= says which build was measured."""

import argparse
import glob
import json
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
WINE_ARCH = subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine_flavour.sh")],
                           capture_output=True, text=True, check=True).stdout.strip()
WINE_BUILD = {"32": ("win32", "i686"), "64": ("win64", "x86-64")}[WINE_ARCH]
# The programs that Wine runs here: the build of the flavour of Wine this machine can run.
WINE_EXE = os.path.join(ROOT, "build", WINE_BUILD[0], "slotward.exe")
DRIVER = os.path.join(ROOT, "build", WINE_BUILD[0], "tests", "wine", "swdriver.exe")
BENCH_ARGS = [sys.executable, os.path.join(ROOT, "tests", "wine", "bench.py"), "--arch",
              WINE_ARCH, "--driver", DRIVER, "--program", WINE_EXE]


def exe_size():
    """The file's size, and each section's bytes beside the room it takes in the file: every
    section, and the headers, are padded to the file alignment (512 bytes)."""
    print("slotward.exe: %d bytes" % os.path.getsize(EXE))
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-h", EXE], capture_output=True,
                             text=True, check=True).stdout
    sections = re.findall(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)"
                          r"\s+\S+\n\s+(.*)$", headers, re.M)
    stored = [int(offset, 16) for _, _, offset, flags in sections if "CONTENTS" in flags]
    print("  headers           %6d bytes in the file" % (min(stored) if stored else 0))
    for name, size, offset, flags in sections:
        room = (int(size, 16) + 511) // 512 * 512 if "CONTENTS" in flags else 0
        print("  section %-8s %6d bytes, %6d in the file" % (name, int(size, 16), room))


def test_counts():
    listed = subprocess.run(["ctest", "--preset", "host", "-N"], cwd=ROOT, capture_output=True,
                            text=True).stdout
    match = re.search(r"Total Tests: (\d+)", listed)
    print("host unit tests: %s" % (match.group(1) if match else "?"))
    scenarios = subprocess.run(BENCH_ARGS + ["--list"], capture_output=True,
                               text=True).stdout.split()
    print("Wine scenarios: %d" % len(scenarios))


def line_coverage():
    """Line coverage of the product's own folders by the host tests, from a fresh run of the
    coverage build; each line that no test runs is listed."""
    build = os.path.join(ROOT, "build", "coverage")
    quiet = dict(cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, check=True)
    subprocess.run(["cmake", "--preset", "coverage"], **quiet)
    # Counts left by an earlier build would be merged into this run's, or clash with it.
    for stale in glob.glob(os.path.join(build, "**", "*.gcda"), recursive=True):
        os.remove(stale)
    subprocess.run(["cmake", "--build", "--preset", "coverage"], **quiet)
    for stale in glob.glob(os.path.join(build, "**", "*.gcda"), recursive=True):
        os.remove(stale)  # the test discovery's run of the test program
    subprocess.run(["ctest", "--preset", "coverage", "-j2"], **dict(quiet, check=False))
    report = json.loads(subprocess.run(
        ["gcovr", "-r", ROOT, "--object-directory", build, "--json",
         "--filter", r"src/(control|check|settings|common)/"],
        cwd=ROOT, capture_output=True, text=True, check=True).stdout)
    total, covered = 0, 0
    for source in sorted(report["files"], key=lambda f: f["file"]):
        lines = [l for l in source["lines"] if not l["gcovr/noncode"] and not l["gcovr/excluded"]]
        missing = [str(l["line_number"]) for l in lines if l["count"] == 0]
        total += len(lines)
        covered += len(lines) - len(missing)
        if missing:
            print("uncovered %s: %s" % (source["file"], ",".join(missing)))
    print("line_coverage=%.1f%%" % (100.0 * covered / total if total else 0.0))


def wine_measurements(rounds):
    root = tempfile.mkdtemp(prefix="slotward-measure-")
    display = bench.Display()
    wine = bench.Wine(root, display.name, DRIVER, WINE_EXE, False, arch=WINE_ARCH)
    try:
        exe = wine.install("slotward")
        answer_times(wine, exe, rounds)
        resident_usage(wine, exe)
    finally:
        bench.release_hanging(root)
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
    for helper in ("actions.dll",):
        path = os.path.join(os.path.dirname(EXE), helper)
        if os.path.exists(path):
            print("%s (the installer's): %d bytes" % (helper, os.path.getsize(path)))
    dist = os.path.join(ROOT, "dist")
    for name in sorted(os.listdir(dist)) if os.path.isdir(dist) else []:
        print("dist/%s: %d bytes" % (name, os.path.getsize(os.path.join(dist, name))))
    # From here on the figures are taken under Wine.
    print("wine_build=%s" % WINE_BUILD[1])
    proc = subprocess.run(BENCH_ARGS + ["--suite", "release", "--only", "installer_*", "-v"],
                          capture_output=True, text=True)
    times = re.findall(r"step \d+ run (msiexec /[ix]) .*: ([0-9.]+) s", proc.stdout)
    for step, seconds in times:
        print("%s under Wine: %s s" % (step, seconds))
    if not times or proc.returncode != 0:
        print("installer under Wine: release suite exit %d" % proc.returncode)
        # The failed scenarios and their reasons, so that a figure taken on a failing run is
        # never read as a good one.
        for line in re.findall(r"^(?:FAIL .*|       .*)$", proc.stdout, re.M):
            print("  " + line.strip())


def start_resident(wine, layout, line):
    wine.set_layout(layout, "en")
    wine.mount_hanging(layout)
    wine.driver_run(["start", "5000", "--cmdfile", wine.command_file(line)], 40)


def end_resident(wine):
    wine.driver_run(["post", "SLOTWARD", "SLOTWARD", "0x401", "0", "0", "2000", "none", "0",
                     "3000"], 30)
    # A drive that never answers goes first, so that a copy waiting on it can end; then
    # whatever did not end is ended, so that the next start is not "already execute".
    bench.release_hanging(wine.root)
    wine.driver_run(["kill", "slotward.exe"], 30)


def answer_times(wine, exe, rounds):
    """Median time to the answer of WM_QUERYENDSESSION: nothing removable (consent after the
    survey), a CD-ROM with a disc that /X excludes (never asked), a CD-ROM with a disc (its
    device asked whether it is an image; /F answers at once and the refusal box that follows
    is closed), and two fixed drives besides C: without and with /U (each of them and Z: asked
    whether it is external); and a fixed drive named on the command line with /F, once with
    files and once never answering (bench's "hanging" content: the answer waits for the
    survey's limit, in fewer rounds). The ratios set each figure against the one without the
    drives' devices being asked, and the hanging drive against the answering one, from the same
    run."""
    fixed = {"f": ("fixed", "files"), "g": ("fixed", "files")}
    cases = [("no_removable_drive", {"f": ("fixed", "files")}, exe, "1", "none"),
             ("cdrom_excluded", {"d": ("cdrom", "files")}, exe + " /X D:", "1", "none"),
             ("cdrom_present", {"d": ("cdrom", "files")}, exe + " /F", "0", "ok"),
             ("two_fixed", fixed, exe, "1", "none"),
             ("two_fixed_external", fixed, exe + " /U", "1", "none"),
             ("named_drive", {"k": ("fixed", "files")}, exe + " K: /F", "0", "ok"),
             ("named_drive_hanging", {"k": ("fixed", "hanging")}, exe + " K: /F", "0", "ok")]
    medians = {}
    for name, layout, line, answer, press in cases:
        try:
            start_resident(wine, layout, line)
        except bench.Skip as e:
            print("answer_ms.%s=skipped (%s)" % (name, e))
            continue
        times = []
        for _ in range(min(rounds, 3) if name.endswith("_hanging") else rounds):
            # The refusal box is waited for (at most the settle time) and closed.
            settle = "0" if press == "none" else "1500"
            record = wine.driver_run(["send", "SLOTWARD", "SLOTWARD", "0x11", "0", "0",
                                      "10000", press, settle], 40)
            if record.get("answer") != answer and name.endswith("_hanging"):
                break  # a copy that waits on the drive itself answers nothing more
            if record.get("answer") != answer:
                raise bench.BenchError("unexpected answer %r" % record.get("answer"))
            times.append(int(record["answer.ms"]))
        end_resident(wine)
        if not times:
            print("answer_ms.%s=none (no answer within 10 s)" % name)
            continue
        if name.endswith("_hanging"):
            # Only the first query waits for the limit: later ones find the look still in
            # flight and do not wait on that drive again.
            print("answer_ms.%s_first=%s" % (name, times[0]))
            times = times[1:] or times
        # Median of the rounds, driver-side.
        medians[name] = statistics.median(times)
        print("answer_ms.%s=%s" % (name, medians[name]))
    for name, reference in (("cdrom_present", "cdrom_excluded"),
                            ("two_fixed_external", "two_fixed"),
                            ("named_drive_hanging", "named_drive")):
        if name in medians and reference in medians:
            print("answer_ratio.%s_to_%s=%.2f"
                  % (name, reference, medians[name] / max(medians[reference], 0.5)))


def usage(wine, wait_ms, *message):
    record = wine.driver_run(["usage", "SLOTWARD", "SLOTWARD", str(wait_ms)] + list(message),
                             600)
    if record.get("before.ok") != "1" or record.get("after.ok") != "1":
        raise bench.BenchError("usage not readable: %r" % record)
    return record


def resident_usage(wine, exe, queries=3000, idle_ms=10000):
    """A fresh resident instance: its processor time over idle_ms of rest, then its private
    bytes before and after `queries` consenting WM_QUERYENDSESSION (each a full survey)."""
    start_resident(wine, {"f": ("fixed", "files")}, exe)
    idle = usage(wine, idle_ms)
    cpu_us = int(idle["after.cpu.us"]) - int(idle["before.cpu.us"])
    print("idle_cpu_ms_over_%d_s=%.1f" % (idle_ms // 1000, cpu_us / 1000.0))
    # The first query is measured apart: under Wine the first survey thread takes memory that
    # every later one reuses, a step once rather than growth.
    first = usage(wine, 0, "0x11", "0", "0", "1")
    sent = usage(wine, 0, "0x11", "0", "0", str(queries))
    if first["answered.1"] != "1" or sent["answered.1"] != str(queries):
        raise bench.BenchError("%s of %d queries consented" % (sent["answered.1"], queries))
    before, after = int(sent["before.private"]), int(sent["after.private"])
    print("private_step_kib_first_query=%.1f"
          % ((int(first["after.private"]) - int(first["before.private"])) / 1024.0))
    print("private_bytes_before_queries=%d" % before)
    print("private_bytes_after_queries=%d" % after)
    print("private_growth_kib_over_%d_queries=%.1f" % (queries, (after - before) / 1024.0))
    print("workingset_growth_kib_over_%d_queries=%.1f"
          % (queries, (int(sent["after.workingset"]) - int(sent["before.workingset"])) / 1024.0))
    end_resident(wine)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--full", action="store_true", help="also time scripts/test.sh")
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()
    exe_size()
    release_figures()
    test_counts()
    line_coverage()
    wine_measurements(args.rounds)
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
