#!/usr/bin/env python3
"""The Wine test bench: runs the scenarios of scenarios.py against a Windows program under Wine.

It makes one private Wine prefix and one private X display for the whole run, copies the program
to C:\\slotward\\slotward.exe, and for each scenario sets up the drive layout, the locale and the
settings file, carries out the steps through swdriver.exe and compares what the driver recorded
with the expected results. Everything it started is ended and its temporary folder removed, even
on failure. Exit code: 0 all passed (those skipped are named), 1 a scenario failed, 2 the bench
could not run, 77 Wine cannot run the requested flavour's programs on this machine (not
installed, or --arch 32 where the machine runs no 32-bit code), or every scenario run was skipped
(a drive that never answers needs FUSE: /dev/fuse, fusermount and fusepy).

--arch names the flavour: 32 (default) runs 32-bit programs the way /usr/bin/wine does, through
wine32; 64 runs 64-bit programs through wine64 in a 64-bit prefix, for machines that run no
32-bit code at all.

With --session DIR the display and the prefix outlive the run instead, so that CTest can run each
scenario as a test of its own without making a prefix for each: --setup starts them in DIR (after
ending whatever an earlier session left there), a run with --only reuses them, and --cleanup
ends the session's Wine server and X server and removes DIR. DIR/session.json records the
display, the X server's process and the current drive layout and locale.
"""

import argparse
import filecmp
import fnmatch
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source folder clean
import release  # noqa: E402
import scenarios  # noqa: E402

SUITES = dict(scenarios.SUITES, release=release.RELEASE)

SKIP = 77
EXE_DIR = "slotward"  # C:\slotward
EXE_WIN = "C:\\%s\\slotward.exe" % EXE_DIR  # where the program under test is installed
LOCALES = {"en": "en_US.UTF-8", "ja": "ja_JP.UTF-8"}
# Wine's stubs of the newer session-end functions print their arguments on these channels, and
# Wine's installer warns on the last one when it cannot delete a file it removes (in use: Windows
# would need a reboot); the processes the driver starts inherit the setting and write to the
# driver's standard error.
TRACE_CHANNELS = "-all,fixme+graphics,fixme+process,warn+msi"
# Two kinds of traced scenario add the relay channel, each line with its thread:
# Scenario(trace="relay") reads the drive queries and the class's registration (steps.RELAYED),
# Scenario(trace="devices") the calls with which the drive survey asks a drive's device. The
# prefix's RelayInclude names all of them once, when the prefix is made, and each kind reads only
# its own lines (steps.traced_lines): a registry write between scenarios, started while Wine's
# system processes of the previous one were still going away, once left a layout without drives.
# Scenario(trace="sessions") reads the installer's helpers (steps.SESSION_CALLS).
RELAY_INCLUDE = ("KERNEL32.GetLogicalDrives;KERNEL32.GetDriveTypeA;user32.LoadIconA;"
                 "user32.RegisterClassA;KERNEL32.CreateFileA;KERNEL32.DeviceIoControl;"
                 "KERNEL32.ProcessIdToSessionId;KERNEL32.TerminateProcess;"
                 "advapi32.RegSetValueExA;advapi32.RegDeleteKeyA;wtsapi32.WTSQueryUserToken;"
                 "userenv.CreateEnvironmentBlock;user32.WaitForInputIdle;"
                 "advapi32.ImpersonateLoggedOnUser;advapi32.RevertToSelf")
# What a drive letter's folder holds: files (a medium), nothing (an empty formatted medium),
# or no folder at all (a dangling link); or the letter is another name of the folder the
# installer installs into (made beforehand, so that Wine's mount manager knows the drive); or
# the folder is a file system whose listing never answers (hang_fs.py, mounted afresh for each
# scenario, so that no look left waiting by one scenario reaches the next).
CONTENTS = ("files", "empty", "dangling", "installdir", "hanging")
HANG_FS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hang_fs.py")
# Debian's python3-fusepy is installed for Debian's own interpreter, which need not be the one
# running the bench.
FUSE_PYTHONS = (sys.executable, "/usr/bin/python3")
# Where the x86 package installs: as on Windows, a 64-bit prefix (also the one Debian's Wine
# makes for 32-bit programs where wine64 is installed) keeps 32-bit programs apart.
PROGRAM_FILES = ("Program Files (x86)", "Program Files")
# How each flavour starts programs and makes its prefix. /usr/bin/wine always prefers the 32-bit
# loader, which cannot start where the kernel runs no 32-bit code; the 64-bit flavour therefore
# names Debian's 64-bit loader itself, and WINELOADER makes Wine start its own programs with it.
WINE64 = "/usr/lib/wine/wine64"
# What Wine's loader exits with when it cannot start a program at all (its fatal_error).
WINE_FATAL = 1
FLAVOURS = {
    "32": {"wine": ["wine"], "wineboot": ["wineboot"], "env": {}},
    "64": {"wine": [WINE64], "wineboot": [WINE64, "wineboot"],
           "env": {"WINELOADER": WINE64, "WINEARCH": "win64"}},
}


class BenchError(Exception):
    pass


class Skip(Exception):
    """This machine cannot run the scenario; the text says why. A skipped scenario never passes:
    the bench reports it, and a run of skipped scenarios alone exits with SKIP."""


def win_path(unix_path):
    """The Z: path under which Wine shows a host path."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def unescape(value):
    """Undoes the driver's escapes of control characters and the backslash."""
    out, i = [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value):
            nxt = value[i + 1]
            if nxt == "x":
                out.append(chr(int(value[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


class Display:
    """A private X server; -displayfd lets Xvfb choose a free display number."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise BenchError("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()
        self.pid = self.proc.pid

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


def process_start(pid):
    """The start time of a process (in clock ticks after boot), or None when there is no such
    process: with its id, it names that process even after the id has been reused."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return None if fields[0] == "Z" else fields[19]


def end_process(pid, start, signals=(signal.SIGTERM, signal.SIGKILL)):
    """Ends the process pid if it is still the one that started at start (a session's X server,
    which is not a child of this process)."""
    if not pid or not start or process_start(pid) != start:
        return
    for sig in signals:
        try:
            os.kill(pid, sig)
        except OSError:
            return
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            if process_start(pid) != start:
                return
            time.sleep(0.05)


def fuse_unavailable():
    """Why no never-listed drive can be mounted here, in one line, or None when it can; and the
    interpreter that runs hang_fs.py."""
    if not os.path.exists("/dev/fuse"):
        return "/dev/fuse is missing: this machine cannot mount a FUSE file system", None
    if not shutil.which("fusermount"):
        return "fusermount is missing (scripts/setup.sh installs fuse3)", None
    for python in FUSE_PYTHONS:
        if python and os.access(python, os.X_OK) and subprocess.run(
                [python, "-c", "import fusepy"], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30).returncode == 0:
            return None, python
    return "the Python module fusepy is missing (scripts/setup.sh installs python3-fusepy)", None


def mounts_under(folder):
    """The mount points at or below folder, deepest first."""
    folder = os.path.abspath(folder)
    with open("/proc/self/mounts") as f:
        points = [line.split()[1].replace("\\040", " ") for line in f]
    return sorted((p for p in points if p == folder or p.startswith(folder + "/")), reverse=True)


def release_hanging(root):
    """Ends every never-listed file system started for root and removes its mount and its log.
    The process goes first: that fails each listing still waiting on it at once, so that the
    Wine process that waits gets its answer and nothing stays stuck; the dead mount is then
    detached (-z: even while a process still has it open)."""
    for name in sorted(os.listdir(root)) if os.path.isdir(root) else []:
        if name.startswith("hang-") and name.endswith(".log"):
            os.remove(os.path.join(root, name))
        if name.startswith("hang-") and name.endswith(".json"):
            record = os.path.join(root, name)
            try:
                with open(record, encoding="utf-8") as f:
                    started = json.load(f)
                # Not SIGTERM: the library would wait for the request threads, one of which
                # never returns.
                end_process(started["pid"], started["start"], signals=(signal.SIGKILL,))
            except (OSError, ValueError, KeyError):
                pass
            os.remove(record)
    for point in mounts_under(root):
        subprocess.run(["fusermount", "-u", "-z", point], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


class Wine:
    """One private prefix with a program in C:\\slotward and a folder per drive letter."""

    def __init__(self, root, display, driver, program, verbose, create=True, arch="32"):
        """create: make the prefix in root; otherwise use the one an earlier run made there
        (a session's), whose layout and locale the caller then sets in .layout and .locale.
        arch: the flavour of Wine (FLAVOURS), which must match the programs' and the prefix's."""
        self.root = root
        self.flavour = FLAVOURS[arch]
        self.prefix = os.path.join(root, "prefix")
        self.media = os.path.join(root, "media")
        self.out = os.path.join(root, "out.txt")
        self.driver = driver
        self.verbose = verbose
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL=LOCALES["en"],
                        **self.flavour["env"])
        self.env.pop("WAYLAND_DISPLAY", None)
        self.layout = None
        self.locale = "en"
        self.program = program
        self.exe_dir = os.path.join(self.prefix, "drive_c", EXE_DIR)
        self.settings_path = None
        self.trace = None  # the trace file of a traced scenario
        self.last_output = ""  # what the last Wine command wrote, or where it went
        self.locales = os.path.join(self.root, "locale")
        if create:
            self._create()
        else:
            self.env["LOCPATH"] = self.locales
        if program:
            self.install("slotward")

    def _wine(self, args, timeout=60, check=True, trace=False):
        """trace: the output is added to the scenario's trace file, which a program left
        running keeps writing to."""
        with open(self.trace, "ab") if trace else tempfile.TemporaryFile() as log:
            # Output goes to a file, not a pipe: a program left running must not hold us up.
            proc = subprocess.run(self.flavour["wine"] + args, env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                  timeout=timeout)
            text = "(in the trace file)"
            if not trace:
                log.seek(0)
                text = log.read().decode(errors="replace")
        self.last_output = text
        if check and proc.returncode != 0:
            raise BenchError("wine %s: exit %d\n%s" % (" ".join(args), proc.returncode, text))
        return proc.returncode

    def _make_locales(self):
        """Wine takes the ANSI code page from the locale's name, but converts host file names
        with the charset of the locale that the C library actually loads: without the locale
        installed that is ASCII, and a file named in Japanese is not found. The bench therefore
        compiles the locales it uses into a private folder (LOCPATH)."""
        folder = self.locales
        os.makedirs(folder)
        for name in LOCALES.values():
            language, _, charset = name.partition(".")
            proc = subprocess.run(["localedef", "-i", language, "-f", charset,
                                   os.path.join(folder, name)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            if not os.path.isdir(os.path.join(folder, name)):
                raise BenchError("localedef %s failed (the locales package provides it): %s"
                                 % (name, proc.stdout.decode(errors="replace")))
        self.env["LOCPATH"] = folder

    def _create(self):
        started = time.monotonic()
        self._make_locales()
        subprocess.run(self.flavour["wineboot"] + ["-i"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=180, check=True)
        # No window manager: unmanaged windows spare the 2 s wait at each exit with a hidden window.
        self.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        self.reg_add("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "0", "REG_DWORD")
        self.reg_add("HKCU\\Software\\Wine\\Debug", "RelayInclude", RELAY_INCLUDE)
        os.makedirs(self.exe_dir)
        os.makedirs(self.media)
        self.log("prefix ready in %.1f s" % (time.monotonic() - started))

    def log(self, text):
        if self.verbose:
            print("    bench: " + text, flush=True)

    def reg_add(self, key, name, value, kind="REG_SZ", view64=False):
        args = ["reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"]
        # Wine's mount manager reads the drive types from the 64-bit registry view.
        args += ["/reg:64"] if view64 else []
        # On a loaded machine Wine sometimes fails to start reg.exe at all ("ShellExecuteEx
        # failed") while the previous scenario's programs are still going away: try again.
        for _ in range(2):
            if self._wine(args, check=False) == 0:
                return
            time.sleep(1)
        self._wine(args)

    def server(self, option):
        # Never our output: a server that outlives this process (a session's) would otherwise
        # hold the pipe that CTest reads until the test's end, and CTest would wait for it.
        subprocess.run(["wineserver", option], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def restart_server(self):
        self.server("-k")
        self.server("-w")
        # By default the server ends a few seconds after its last client, and the next program
        # then waits for a new one to start; -p keeps it until the next -k.
        self.server("-p")

    def set_layout(self, layout, locale):
        """Points the drive letters at folders and sets their types; Wine reads both when its
        server starts, so the server is restarted. The locale, too, is read at process start."""
        if layout == self.layout and locale == self.locale:
            return
        started = time.monotonic()
        release_hanging(self.root)  # a mount in the media folder would stop its removal
        dosdevices = os.path.join(self.prefix, "dosdevices")
        for name in os.listdir(dosdevices):
            if len(name) == 2 and name[1] == ":" and name not in ("c:", "z:"):
                os.remove(os.path.join(dosdevices, name))
        self._wine(["reg", "delete", "HKLM\\Software\\Wine\\Drives", "/f", "/reg:64"], check=False)
        shutil.rmtree(self.media)
        os.makedirs(self.media)
        for letter, (kind, content) in sorted(layout.items()):
            folder = os.path.join(self.media, letter)
            if content == "installdir":
                drive_c = os.path.join(self.prefix, "drive_c")
                programs = next(name for name in PROGRAM_FILES
                                if os.path.isdir(os.path.join(drive_c, name)))
                folder = os.path.join(drive_c, programs, "SLOTWARD")
                os.makedirs(folder, exist_ok=True)
            elif content != "dangling":
                os.makedirs(folder)
            if content == "files":
                with open(os.path.join(folder, "readme.txt"), "w") as f:
                    f.write("a file on drive %s\n" % letter.upper())
            os.symlink(folder, os.path.join(dosdevices, letter + ":"))
            if kind != "fixed":
                self.reg_add("HKLM\\Software\\Wine\\Drives", letter + ":", kind, view64=True)
        self.env["LC_ALL"] = LOCALES[locale]
        self.restart_server()
        self.layout, self.locale = layout, locale
        self.log("layout %s, locale %s: %.1f s" % (sorted(layout), locale,
                                                   time.monotonic() - started))

    def mount_hanging(self, layout):
        """Mounts a never-listed file system on the folder of each "hanging" drive of the
        layout (its letter already points there); release_hanging(self.root) ends them. Raises
        Skip where FUSE cannot be used."""
        letters = [letter for letter, (_, content) in sorted(layout.items())
                   if content == "hanging"]
        if not letters:
            return
        why, python = fuse_unavailable()
        if why:
            raise Skip(why)
        for letter in letters:
            folder = os.path.join(self.media, letter)
            log_path = os.path.join(self.root, "hang-%s.log" % letter)
            with open(log_path, "wb") as log:
                proc = subprocess.Popen([python, HANG_FS, folder], stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=subprocess.STDOUT,
                                        start_new_session=True)
            with open(os.path.join(self.root, "hang-%s.json" % letter), "w") as f:
                json.dump({"pid": proc.pid, "start": process_start(proc.pid)}, f)
            deadline = time.monotonic() + 10
            while folder not in mounts_under(folder) and proc.poll() is None \
                    and time.monotonic() < deadline:
                time.sleep(0.05)
            if folder not in mounts_under(folder):
                with open(log_path, encoding="utf-8", errors="replace") as f:
                    why = f.read().strip()
                release_hanging(self.root)
                raise Skip("FUSE cannot mount %s here: %s" % (folder, why))
            self.log("drive %s: never-listed file system mounted" % letter.upper())

    def looks(self):
        """How many times the drives that never answer have been opened for a listing since they
        were mounted (hang_fs.py writes a line for each to its log)."""
        count = 0
        for name in os.listdir(self.root):
            if name.startswith("hang-") and name.endswith(".log"):
                with open(os.path.join(self.root, name), encoding="utf-8", errors="replace") as f:
                    count += f.read().splitlines().count("open")
        return count

    def install(self, name, folder=EXE_DIR):
        """The program as C:\\<folder>\\<name>.exe; returns that Windows path."""
        os.makedirs(os.path.join(self.prefix, "drive_c", folder), exist_ok=True)
        path = os.path.join(self.prefix, "drive_c", folder, name + ".exe")
        # A session's prefix may hold another program under that name (the probe, or an older
        # build): it is replaced.
        if not os.path.exists(path) or not filecmp.cmp(self.program, path, shallow=False):
            shutil.copyfile(self.program, path)
        return "C:\\%s\\%s.exe" % (folder, name)

    def set_settings(self, name, content, folder=EXE_DIR):
        """The settings file beside C:\\<folder>\\<name>.exe, or none (content None)."""
        if self.settings_path and os.path.exists(self.settings_path):
            os.remove(self.settings_path)
        self.settings_path = os.path.join(self.prefix, "drive_c", folder, name + ".CFG")
        if os.path.exists(self.settings_path):  # left by a session's run that was killed
            os.remove(self.settings_path)
        if content is not None:
            encoding = "cp932" if self.locale == "ja" else "cp1252"
            data = content if isinstance(content, bytes) else content.encode(encoding)
            with open(self.settings_path, "wb") as f:
                f.write(data)

    def driver_run(self, args, timeout_s):
        """Runs one driver command and returns what it recorded as a dict."""
        if os.path.exists(self.out):
            os.remove(self.out)
        command = [self.driver, args[0], win_path(self.out)] + args[1:]
        rc = self._wine(command, timeout=timeout_s, check=False, trace=self.trace is not None)
        if rc == WINE_FATAL and not os.path.exists(self.out):
            # The driver ends with 0, 2 or 3; 1 with nothing written is Wine's own failure to
            # start it, before the driver did anything, so it is started once more.
            sys.stderr.write("bench: swdriver %s not started by Wine, once more: %s\n"
                             % (args[0], self.last_output.strip()[-300:]))
            time.sleep(1)
            rc = self._wine(command, timeout=timeout_s, check=False, trace=self.trace is not None)
        if rc != 0 or not os.path.exists(self.out):
            raise BenchError("swdriver %s: exit %d, no result %s"
                             % (" ".join(args), rc, self.last_output.strip()[-300:]))
        result = {}
        with open(self.out, encoding="utf-8") as f:
            for line in f.read().splitlines():
                key, _, value = line.partition("=")
                result[key] = unescape(value)
        return result

    def set_trace(self, on):
        """A traced scenario starts with an empty trace file and runs the driver, and so every
        program it starts, with Wine's fixme trace of the session-end stubs on; on="relay" and
        on="devices" and on="sessions" add the relay trace (RelayInclude limits it to the calls
        they read)."""
        self.trace_kind = on
        self.trace = os.path.join(self.root, "trace.txt") if on else None
        relay = on in ("relay", "devices", "sessions")
        self.env["WINEDEBUG"] = (TRACE_CHANNELS + (",+relay" if relay else "")) if on else "-all"
        if on:
            open(self.trace, "wb").close()

    def read_trace(self, offset):
        """The trace written since offset, and the offset of its end."""
        with open(self.trace, "rb") as f:
            f.seek(offset)
            data = f.read()
        return data.decode("utf-8", errors="replace"), offset + len(data)

    def command_file(self, line):
        """A command line for the driver, in a UTF-8 file: Wine's conversion of its own
        arguments depends on host locales that need not be installed."""
        path = os.path.join(self.root, "cmdline.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(line)
        return win_path(path)

    def start_wineboot(self):
        return subprocess.Popen(self.flavour["wine"] + ["wineboot.exe", "--end-session"],
                                env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        try:
            self.server("-k")
            self.server("-w")
        except (OSError, subprocess.SubprocessError):
            pass


def run_scenario(wine, scenario):
    """Carries out one scenario; returns a list of failure descriptions (empty: passed)."""
    wine.set_layout(scenario.layout, scenario.locale)
    wine.mount_hanging(scenario.layout)
    # exe: the program's Windows path; image: the name its processes show.
    context = {"exe": wine.install(scenario.exe, scenario.folder), "image": scenario.exe + ".exe"}
    wine.set_settings(scenario.exe, scenario.settings, scenario.folder)
    wine.set_trace(scenario.trace)
    context["trace_offset"] = 0
    failures = []
    try:
        for number, step in enumerate(scenario.steps, 1):
            t0 = time.monotonic()
            problems = step.execute(wine, context)
            wine.log("step %d %s: %.2f s" % (number, step.describe(), time.monotonic() - t0))
            for problem in problems:
                failures.append("step %d (%s): %s" % (number, step.describe(), problem))
            if failures:
                break
    finally:
        # Nothing may outlive a scenario; a program still running here is a failure of its own
        # unless an earlier step already failed (then it is only cleaned up). A drive that never
        # answers goes first: under Linux a thread waiting on it cannot be ended before.
        release_hanging(wine.root)
        image = scenario.exe + ".exe"
        left = wine.driver_run(["kill", image], 30).get("killed", "?")
        if left != "0" and not failures:
            failures.append("%s %s process(es) still running at the end" % (left, image))
        wine.set_settings(scenario.exe, None, scenario.folder)
        wine.set_trace(False)
    return failures


# A scenario's name is also the name of its CTest test (wine.<name>), and CTest hands it to --only
# as it stands: letters, digits, "_" and "-" only, and no two alike in a suite.
NAME = re.compile(r"[A-Za-z0-9_-]+\Z")
STATE = "session.json"


def check_names(table):
    problems, seen = [], set()
    for s in table:
        if not NAME.match(s.name):
            problems.append("scenario name %r: use letters, digits, _ and - only" % s.name)
        elif s.name in seen:
            problems.append("scenario name %r is used twice" % s.name)
        seen.add(s.name)
    return problems


def run_order(table):
    """Each change of drive layout or locale restarts Wine's server (~1-2 s): scenarios that share
    them run together, in the order in which the table first names each combination."""
    combos = []
    for s in table:
        key = (sorted(s.layout.items()), s.locale)
        if key not in combos:
            combos.append(key)
    return sorted(table, key=lambda s: combos.index((sorted(s.layout.items()), s.locale)))


def run_table(wine, table):
    """Runs the scenarios, printing a line for each; returns the names of those that failed and
    of those skipped."""
    failed, skipped = [], []
    for scenario in table:
        t0 = time.monotonic()
        status = None
        try:
            failures = run_scenario(wine, scenario)
        except (BenchError, subprocess.TimeoutExpired) as e:
            failures = ["bench error: %s" % e]
            wine.restart_server()
            wine.layout = None
        except Skip as e:
            failures, status = ["skipped: %s" % e], "SKIP"
            skipped.append(scenario.name)
        status = status or ("FAIL" if failures else "ok")
        print("%-4s %-44s %5.1f s" % (status, scenario.name, time.monotonic() - t0), flush=True)
        for f in failures:
            print("       " + f.replace("\n", "\n       "), flush=True)
        if status == "FAIL":
            failed.append(scenario.name)
    return failed, skipped


def exit_code(table, failed, skipped):
    """1 when a scenario failed; SKIP when every one was skipped; else 0 (the skipped ones have
    been named)."""
    if failed:
        return 1
    return SKIP if skipped and len(skipped) == len(table) else 0


def load_state(folder):
    with open(os.path.join(folder, STATE), encoding="utf-8") as f:
        state = json.load(f)
    if state.get("layout") is not None:
        state["layout"] = {letter: tuple(drive) for letter, drive in state["layout"].items()}
    return state


def save_state(folder, state):
    path = os.path.join(folder, STATE)
    with open(path + ".new", "w", encoding="utf-8") as f:
        json.dump(state, f, indent=1, sort_keys=True)
    os.replace(path + ".new", path)


def end_session(folder):
    """Ends the Wine server of the session's prefix and its X server, and removes the folder.
    Works on whatever a crashed or killed run left, too; returns whether the folder is gone."""
    try:
        state = load_state(folder)
    except (OSError, ValueError):
        state = {}
    # First the drives that never answer, which a killed run may have left: their mounts would
    # stop the folder's removal, and the Wine processes waiting on them could not be ended.
    release_hanging(folder)
    prefix = os.path.join(folder, "prefix")
    if os.path.isdir(prefix) and shutil.which("wineserver"):
        env = dict(os.environ, WINEPREFIX=prefix)
        for option in ("-k", "-w"):
            try:
                subprocess.run(["wineserver", option], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            except (OSError, subprocess.SubprocessError):
                pass
    end_process(state.get("xvfb_pid"), state.get("xvfb_start"))
    shutil.rmtree(folder, ignore_errors=True)
    return not os.path.exists(folder)


def start_session(folder, verbose, arch):
    """A display and a prefix in folder for later runs; first ends a session left there."""
    if os.path.exists(folder):
        print("bench: ending the session left in %s" % folder, flush=True)
        if not end_session(folder):
            raise BenchError("cannot remove %s" % folder)
    os.makedirs(folder)
    started = time.monotonic()
    display = Display()
    # Recorded at once: from here on, a failed or killed setup leaves nothing that the cleanup
    # (or the next setup) cannot end.
    state = {"display": display.name, "xvfb_pid": display.pid,
             "xvfb_start": process_start(display.pid), "prefix": os.path.join(folder, "prefix"),
             "layout": None, "locale": "en"}
    save_state(folder, state)
    Wine(folder, display.name, None, None, verbose, arch=arch)
    print("bench: session in %s on display %s, ready after %.1f s"
          % (folder, display.name, time.monotonic() - started), flush=True)


def run_in_session(folder, table, driver, program, verbose, arch):
    """Runs the scenarios in the session's prefix; returns the run's exit code."""
    try:
        state = load_state(folder)
    except (OSError, ValueError) as e:
        raise BenchError("no session in %s (--setup starts one): %s" % (folder, e))
    if process_start(state["xvfb_pid"]) != state["xvfb_start"]:
        raise BenchError("the X server of the session in %s has ended" % folder)
    wine = Wine(folder, state["display"], driver, program, verbose, create=False, arch=arch)
    wine.layout, wine.locale = state["layout"], state["locale"]
    wine.env["LC_ALL"] = LOCALES[wine.locale]
    # Until this run ends in order the state of the server is unknown: a run that is killed
    # leaves the next one to set the layout afresh, which restarts the server.
    save_state(folder, dict(state, layout=None))
    failed, skipped = run_table(wine, table)
    save_state(folder, dict(state, layout=wine.layout, locale=wine.locale))
    return exit_code(table, failed, skipped)


def why_unavailable(arch):
    """Why Wine cannot run the flavour's programs here, in one line, or None when it can."""
    loader = FLAVOURS[arch]["wine"][0]
    if not shutil.which(loader) or not shutil.which("wineserver"):
        return "%s is not installed (scripts/setup.sh installs Wine)" % loader
    try:
        proc = subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    except OSError as e:
        proc = subprocess.CompletedProcess([], None, ("%s: %s" % (loader, e.strerror)).encode())
    except subprocess.TimeoutExpired:
        return "%s --version did not answer" % loader
    if proc.returncode == 0:
        return None
    output = proc.stdout.decode(errors="replace").strip()
    # /usr/bin/wine is a script that executes wine32: the shell reports the kernel's ENOEXEC.
    if "Exec format error" in output:
        return ("this machine runs no %s-bit code, so Wine cannot start %s-bit programs (%s)%s"
                % (arch, arch, output.splitlines()[-1],
                   "; the win64 preset runs the bench on the x86-64 build" if arch == "32" else ""))
    return "%s --version failed: %s" % (loader, output.splitlines()[-1] if output else "no output")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", help="swdriver.exe")
    parser.add_argument("--program", help="the program under test")
    parser.add_argument("--suite", default="slotward", choices=sorted(SUITES))
    parser.add_argument("--only", action="append",
                        help="run only scenarios matching this glob (or this exact name)")
    parser.add_argument("--work", help="parent folder of the temporary folder")
    parser.add_argument("--keep", action="store_true", help="keep the prefix for inspection")
    parser.add_argument("--list", action="store_true",
                        help="list the scenarios in the order they run, and stop")
    parser.add_argument("--session", metavar="DIR",
                        help="use the session in DIR instead of a display and prefix of its own")
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--setup", action="store_true",
                        help="start a session in DIR (ending one left there) and stop")
    action.add_argument("--cleanup", action="store_true",
                        help="end the session in DIR and remove DIR")
    parser.add_argument("--arch", default="32", choices=sorted(FLAVOURS),
                        help="the flavour of Wine: 32- or 64-bit programs and prefix")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()

    table = SUITES[args.suite]
    problems = check_names(table)
    if problems:
        print("bench: " + "\nbench: ".join(problems))
        return 2
    if args.only:
        table = [s for s in table if any(fnmatch.fnmatch(s.name, p) for p in args.only)]
    table = run_order(table)
    if args.list:
        for s in table:
            print(s.name)
        return 0
    if (args.setup or args.cleanup) and not args.session:
        parser.error("--setup and --cleanup need --session")
    session = os.path.abspath(args.session) if args.session else None
    unavailable = why_unavailable(args.arch)
    if args.cleanup:
        if not end_session(session):
            print("bench: cannot remove %s" % session)
            return 2
        return SKIP if unavailable else 0
    if unavailable:
        print("SKIPPED: " + unavailable)
        return SKIP
    for tool in ("Xvfb", "wineboot", "localedef"):
        if not shutil.which(tool):
            print("bench: %s is missing (scripts/setup.sh installs it)" % tool)
            return 2
    # CTest ends a test that runs too long with SIGTERM: clean up then, too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))
    if args.setup:
        try:
            start_session(session, args.verbose, args.arch)
        except (BenchError, OSError, subprocess.SubprocessError) as e:
            print("bench: %s" % e)
            end_session(session)
            return 2
        except BaseException:
            end_session(session)
            raise
        return 0
    for name, path in (("--driver", args.driver), ("--program", args.program)):
        if not path:
            parser.error("%s is needed to run scenarios" % name)
        if not os.path.isfile(path):
            print("bench: %s does not exist (build it first)" % path)
            return 2
    if not table:
        print("bench: no scenario matches")
        return 2
    driver = os.path.abspath(args.driver)
    started = time.monotonic()

    if session:
        try:
            return run_in_session(session, table, driver, args.program, args.verbose, args.arch)
        except BenchError as e:
            print("bench: %s" % e)
            return 2

    if args.work:
        os.makedirs(args.work, exist_ok=True)
    root = tempfile.mkdtemp(prefix="slotward-wine-", dir=args.work)
    display = wine = None
    try:
        display = Display()
        wine = Wine(root, display.name, driver, args.program, args.verbose, arch=args.arch)
        print("bench: prefix ready after %.1f s" % (time.monotonic() - started), flush=True)
        failed, skipped = run_table(wine, table)
    except BenchError as e:
        print("bench: %s" % e)
        return 2
    finally:
        release_hanging(root)
        if wine:
            wine.close()
        if display:
            display.close()
        if args.keep:
            print("bench: kept %s" % root)
        else:
            shutil.rmtree(root, ignore_errors=True)
    print("bench: %d scenario(s), %d failed, %d skipped, %.1f s"
          % (len(table), len(failed), len(skipped), time.monotonic() - started))
    for name in failed:
        print("  failed: " + name)
    for name in skipped:
        print("  skipped: " + name)
    return exit_code(table, failed, skipped)


if __name__ == "__main__":
    sys.exit(main())
