"""The release suite: what a Windows user gets from a release, under Wine.

- The version record of slotward.exe, read back as an ANSI program reads it
  (GetFileVersionInfoA, VerQueryValueA): the English table on an English system, the Japanese
  one on a Japanese system (the ANSI code page must hold the Japanese strings).
- The installer (scripts/package.py, made here from the program under test as this version, an
  older one without the stopper, as 1.0.0 was, and a later one): a silent installation with
  OPTIONS; an upgrade without OPTIONS and a repair that keep them, a later version's
  installation with other OPTIONS that replaces them; the files and shortcuts where they
  belong; a copy that runs from Program Files ended by an upgrade before the older version's
  removal (no file in use in Wine's trace), which starts SLOTWARD again with the remembered
  OPTIONS in effect, and by the
  uninstallation, which exits 0 and leaves nothing behind (no file, shortcut or registry value),
  while a copy that runs from another folder is left running; copies started through a hard link
  to the installed program, opened as their user and ended before one wait, and a copy whose
  folder was renamed after it started, left alone. The installation folder is checked first: the
  default one and a new one below Program Files pass, folders outside Program Files are refused
  with nothing changed, and an older version's installation outside it is moved by an upgrade,
  its old folder trusted for nothing meanwhile. No product key is left after an uninstallation.

Wine's installer puts the shortcuts of a per-machine package in the user's folders instead of
the all-users ones.

Where the bench runs against the x86-64 build (no 32-bit code runs on the machine), the installer
is still the x86 package that ships, but it carries that build, the only one Wine can start
there. In the 64-bit prefix the package installs as on 64-bit Windows, into Program Files (x86);
the driver's "programfiles" names the folder of 32-bit programs in both flavours.
"""

import os
import re
import subprocess
import sys

from scenarios import CD, EN, Scenario, checking, refusal, report, still, terminated
from steps import (FIRST_IN_SHUTDOWN, Boxes, Find, NoBox, Run, Send, Start, Trace,
                   WM_QUERYENDSESSION, compare, restart)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PACKAGE = os.path.join(ROOT, "scripts", "package.py")
with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as _f:
    VERSION = re.search(r"project\(slotward VERSION ([0-9.]+)", _f.read()).group(1)
with open(os.path.join(ROOT, "packaging", "slotward.wxs"), encoding="utf-8") as _f:
    _wxs = _f.read()
UPGRADE_CODE = "{%s}" % re.search(r'UpgradeCode="([^"]+)"', _wxs).group(1).upper()
MANUFACTURER = re.search(r'Manufacturer="([^"]+)"', _wxs).group(1)
OLDER = "0.9.0"
LATER = re.sub(r"[0-9]+$", lambda m: str(int(m.group(0)) + 1), VERSION)
OPTIONS = "/F /X A:"
# Options longer than the 1,804 bytes the helpers once had room for: /E repeated changes nothing.
LONG_OPTIONS = OPTIONS + " /E" * 700
# What the installation leaves in the registry: the remembered OPTIONS, in the 32-bit view that
# the x86 package writes to on 64-bit systems too.
REMEMBERED = r"reg query HKLM\Software\SLOTWARD /v Options /reg:32"
# msiexec under Wine takes a few seconds, more the first time in a prefix.
MSIEXEC_MS = 90000

TABLES = {
    "040904B0": {"FileDescription": "SLOTWARD shutdown guard for removable media",
                 "LegalCopyright": "Copyright (c) 2026 SLOTWARD developers"},
    "041104B0": {"FileDescription": "SLOTWARD メディア取り忘れ防止",
                 "LegalCopyright": "Copyright (c) 2026 SLOTWARD 開発者"},
}
for _strings in TABLES.values():
    _strings.update({"ProductName": "SLOTWARD", "FileVersion": VERSION,
                     "ProductVersion": VERSION, "OriginalFilename": "slotward.exe",
                     "InternalName": "slotward", "CompanyName": MANUFACTURER})


class VersionRecord:
    """The program's version record: its fixed version, both translations, and every string of
    one table."""

    def __init__(self, table, path="{exe}"):
        self.table, self.path = table, path

    def describe(self):
        return "version record, table %s" % self.table

    def execute(self, wine, context):
        record = wine.driver_run(["version", self.path.format(**context)], 30)
        expected = {"read": "ok", "fixed": VERSION + ".0", "translations": ",".join(TABLES)}
        expected.update({"%s.%s" % (self.table, k): v for k, v in TABLES[self.table].items()})
        return compare(record, expected)


class MakeInstallers:
    """Makes the installers of the program under test as this version, an older and a later one,
    on the host, and names them in the context: {msi}, {older_msi} and {later_msi}. The older
    one has no stopper, as 1.0.0's had none: only the newer package can end the copies. {late_msi}
    is this version again, starting a copy right after the stopper's first pass. keys: only
    these of them."""

    def __init__(self, keys=None):
        self.keys = keys

    def describe(self):
        return "make the installers %s, %s (no stopper) and %s" % (VERSION, OLDER, LATER)

    @staticmethod
    def late_start(wine):
        """The driver starts the installed program and waits until it is resident."""
        windows = lambda path: "Z:" + path.replace("/", "\\")
        return ('"%s" start "%s" 5000 --app "[#slotward.exe]" -- "slotward /Q [OPTIONS]"'
                % (windows(wine.driver), windows(os.path.join(wine.root, "late.txt"))))

    def execute(self, wine, context):
        folder = os.path.join(wine.root, "installers")
        for version, key, extra in ((VERSION, "msi", []), (OLDER, "older_msi", ["--no-stopper"]),
                                    (LATER, "later_msi", []),
                                    (VERSION, "late_msi", ["--start-late", self.late_start(wine)])):
            if self.keys is not None and key not in self.keys:
                continue
            out = os.path.join(folder, key)
            proc = subprocess.run([sys.executable, PACKAGE, "--exe", wine.program, "--version",
                                   version, "--out", out, "--msi-only"] + extra,
                                  capture_output=True, text=True)
            if proc.returncode != 0:
                return ["package.py failed: " + proc.stdout + proc.stderr]
            path = os.path.join(out, "slotward-%s.msi" % version)
            context[key] = "Z:" + path.replace("/", "\\")
        return []


class FolderMode:
    """Makes a folder of drive C: (if missing) and sets its Unix mode, from which Wine builds its
    permissions: with write for others, Everyone may delete it, rename it and delete what it
    holds. Windows' own permissions cannot be set under Wine (SetNamedSecurityInfo keeps
    nothing)."""

    def __init__(self, folder, mode):
        self.folder, self.mode = folder, mode

    def describe(self):
        return "folder %s with mode %o" % (self.folder, self.mode)

    def execute(self, wine, context):
        path = os.path.join(wine.prefix, "drive_c", *self.folder[3:].split("\\"))
        os.makedirs(path, exist_ok=True)
        os.chmod(path, self.mode)
        return []


def logged_problems(path, logged, context, counted=None):
    """SLOTWARD's lines in an installer log ("SLOTWARD: ..."): each of logged is a regular
    expression that must match one of them, in this order; other lines may stand between.
    counted: regular expression -> how many lines match it, exactly."""
    with open(path, "rb") as f:
        lines = [line[len("SLOTWARD: "):] for line in f.read().decode("utf-8", "replace").splitlines()
                 if line.startswith("SLOTWARD: ")]
    found = 0
    for line in lines:
        if found < len(logged) and re.fullmatch(logged[found].format(**context), line):
            found += 1
    if found < len(logged):
        return ["the log lacks %r after what matched; its lines: %r" % (logged[found], lines)]
    problems = []
    for pattern, count in (counted or {}).items():
        matching = [line for line in lines if re.fullmatch(pattern.format(**context), line)]
        if len(matching) != count:
            problems.append("%d lines match %r, want %d: %r" % (len(matching), pattern, count,
                                                                 matching))
    return problems


class Msiexec(Run):
    """msiexec as an administrator types it, with a verbose log (/l*v): it shows no box and ends
    with exit code 0 (no reboot needed: 3010 would show as 194) or the one given. logged: see
    logged_problems."""

    def __init__(self, arguments, logged=(), exit="0", limited=False, counted=None):
        super().__init__("msiexec %s /qn /norestart /l*v \"{log}\"" % arguments, [], exit=exit,
                         timeout=MSIEXEC_MS, limited=limited)
        self.logged, self.counted = list(logged), counted

    def execute(self, wine, context):
        context["log_path"] = os.path.join(wine.root, "msiexec.log")
        if os.path.exists(context["log_path"]):
            os.remove(context["log_path"])
        context["log"] = "Z:" + context["log_path"].replace("/", "\\")
        return super().execute(wine, context) or logged_problems(context["log_path"], self.logged,
                                                                 context, self.counted)


def msiexec(arguments, logged=(), exit="0", limited=False, counted=None):
    return Msiexec(arguments, logged, exit, limited, counted)


class Absent:
    """Nothing left at these paths (a folder the installation moved away from)."""

    def __init__(self, *paths):
        self.paths = paths

    def describe(self):
        return "nothing at %s" % ", ".join(self.paths)

    def execute(self, wine, context):
        problems = []
        for path in self.paths:
            problems += ["%s: %s" % (path, p) for p in
                         compare(wine.driver_run(["shortcut", path], 30), {"exists": "0"})]
        return problems


class RollBack:
    """The rollback of the last installation's stopper, run as Windows Installer runs it (Wine's
    installer runs no rollback script): the action's entry from the installer's own DLL, with the
    CustomActionData the installation wrote into its script (its log shows the property). logged:
    see logged_problems. unquoted: the data without its quotes, a program path with blanks that
    names no program up to its first blank."""

    def __init__(self, logged, unquoted=False):
        self.logged, self.unquoted = list(logged), unquoted

    def describe(self):
        return "roll back the stopper"

    def execute(self, wine, context):
        with open(context["log_path"], "rb") as f:
            match = re.search(r"Property\(S\): RestoreEnded = (.*)", f.read().decode("utf-8",
                                                                                   "replace"))
        if not match:
            return ["the installation's log shows no RestoreEnded data"]
        dll = os.path.join(wine.root, "actions.dll")
        proc = subprocess.run(["msiinfo", "extract", context["msi"][2:].replace("\\", "/"),
                               "Binary.Actions"], capture_output=True)
        with open(dll, "wb") as f:
            f.write(proc.stdout)
        log = os.path.join(wine.root, "rollback.log")
        record = wine.driver_run(["action", "Z:" + dll.replace("/", "\\"), "RestoreEnded",
                                  context["msi"], "Z:" + log.replace("/", "\\"),
                                  match.group(1).strip().replace('"', "") if self.unquoted
                                  else match.group(1).strip()], 60)
        return (compare(record, {"package": "0", "entry": "1", "result": "0"}) or
                logged_problems(log, self.logged, context))


class Installation:
    """What the installer put in place (present) or left behind (not present): the related
    products of the upgrade code, the program and its documents, the shortcuts with options as
    the arguments of the Startup and the Start menu's SLOTWARD shortcut, and the folders. When
    present, names the installed program {installed} and the user's own folder {profile}."""

    def __init__(self, present, version=VERSION, options=OPTIONS, folder=None):
        """folder: where the program is installed (INSTALLDIR, without the final backslash);
        by default Program Files\\SLOTWARD."""
        self.present, self.version, self.options = present, version, options
        self.folder = folder

    def describe(self):
        if self.present:
            return "%s installed with options %r" % (self.version, self.options)
        return "nothing left installed"

    def execute(self, wine, context):
        folders = wine.driver_run(["folders"], 30)
        folder = self.folder or folders.get("programfiles", "?") + "\\SLOTWARD"
        program = folder + "\\slotward.exe"
        # Windows Installer puts a per-machine package's shortcuts in the all-users Startup and
        # Programs folders; Wine's (8.0) always takes the user's, whatever ALLUSERS says. The
        # shortcuts are expected where Wine puts them, and looked for in both when removed.
        shortcuts, menu = self.shortcuts(folders, "userstartup", "userprograms", self.options)
        common_shortcuts, common_menu = self.shortcuts(folders, "startup", "programs",
                                                       self.options)
        documents = [folder + "\\" + name for name in ("README.txt", "README-ja.txt",
                                                       "LICENSE.txt")]
        products = wine.driver_run(["products", UPGRADE_CODE], 30)
        if not self.present:
            problems = compare(products, {"count": "0"})
            for path in [program, folder, menu, common_menu] + documents + list(shortcuts) + list(
                    common_shortcuts):
                problems += ["%s: %s" % (path, p) for p in
                             compare(wine.driver_run(["shortcut", path], 30), {"exists": "0"})]
            return problems
        problems = compare(products, {"count": "1", "product1.version": self.version})
        problems += compare(wine.driver_run(["version", program], 30),
                            {"read": "ok", "fixed": VERSION + ".0"})
        for path in documents:
            problems += ["%s: %s" % (path, p) for p in
                         compare(wine.driver_run(["shortcut", path], 30), {"exists": "1"})]
        for path, arguments in shortcuts.items():
            record = wine.driver_run(["shortcut", path], 30)
            # Windows paths compare without regard to case, and a folder's without its final
            # backslash (the installer's folder properties end with one).
            record = {k: v.lower().rstrip("\\") if k in ("target", "workdir") else v
                      for k, v in record.items()}
            problems += ["%s: %s" % (path, p) for p in compare(record, {
                "exists": "1", "target": program.lower(), "args": arguments,
                "workdir": folder.lower()})]
        context["installed"] = program
        context["profile"] = folders.get("profile", "?")
        return problems

    @staticmethod
    def shortcuts(folders, startup, programs, options):
        """The shortcuts (path: arguments) in one pair of Startup and Programs folders, and the
        Start menu folder among them."""
        menu = folders.get(programs, "?") + "\\SLOTWARD"
        return ({folders.get(startup, "?") + "\\SLOTWARD.lnk": ("/Q " + options).rstrip(),
                 menu + "\\SLOTWARD.lnk": options,
                 menu + "\\SLOTWARD test report.lnk": "/T",
                 menu + "\\Stop SLOTWARD.lnk": "/R"}, menu)


# One copy resident, started with OPTIONS: /F refuses the end of the session at once, which
# shows that the options reached the program (a copy without them would ask instead).
WITH_OPTIONS = [Find(path="{installed}"), Send(WM_QUERYENDSESSION, [refusal(EN, "D")], answer="0")]
# What an installation that replaced the program did with the one copy that ran, as the helpers'
# trace shows it: the stopper asked its session, ended it and noted that one session; the starter
# took the token of that session's user and the user's environment, started SLOTWARD with /Q and
# the options (the copy registers them for a restart as it took them) and waited until it was
# resident, then removed the list; the installing user's own starter found nothing left to do.
def ended_and_restored(options=OPTIONS):
    return ["session of", "end", "note 1", "token of session 1", "environment",
            FIRST_IN_SHUTDOWN, restart("/Q " + options), "resident", "list removed",
            "session of"]


# An installation where no copy ran: the stopper starts an empty list (which replaces any list an
# interrupted installation left), the starter has none to serve and removes it, nor has the
# installing user's.
NOTHING_TO_RESTORE = ["note 0", "list removed", "session of"]
# Exactly one copy, from the installed folder, with the options, and no box anywhere.
RESTORED = [Find(path="{installed}"), NoBox(1000)] + WITH_OPTIONS
REMEMBERED_FOLDER = r"reg query HKLM\Software\SLOTWARD /v InstallDir /reg:32"
SESSIONS_LIST = r"reg query HKLM\Software\SLOTWARD\Sessions /reg:32"
# The product's key, in either registry view: the helpers' list is made below it in the DLL's
# own view (the 64-bit one under the x86-64 build), the remembered values in the package's.
PRODUCT_KEY = r"reg query HKLM\Software\SLOTWARD /reg:%d"
# The uninstallation ends the resident copy and leaves nothing behind, in that folder either,
# nor in the registry.
def uninstalled(folder=None):
    return [Find(count=0), Installation(present=False, folder=folder),
            Run(REMEMBERED, [], exit="1"), Run(REMEMBERED_FOLDER, [], exit="1"),
            Run(SESSIONS_LIST, [], exit="1"), Run(PRODUCT_KEY % 32, [], exit="1"),
            Run(PRODUCT_KEY % 64, [], exit="1")]


UNINSTALLED = uninstalled()
# Wine loads no wtsapi32.dll while this override is set (in the registry, which the programs
# msiexec starts read too).
WITHOUT_TOKENS = r'reg add HKCU\Software\Wine\DllOverrides /v wtsapi32 /d "" /f'
WITH_TOKENS = r"reg delete HKCU\Software\Wine\DllOverrides /v wtsapi32 /f"
# Nor userenv.dll: no user's environment can be built, and no copy is started with another's.
WITHOUT_ENVIRONMENT = r'reg add HKCU\Software\Wine\DllOverrides /v userenv /d "" /f'
WITH_ENVIRONMENT = r"reg delete HKCU\Software\Wine\DllOverrides /v userenv /f"
# The package's Program Files folder: the 64-bit prefix's folder of 32-bit programs.
PROGRAM_FILES = "C:\\Program Files (x86)"
# A folder of the administrator's choice that the installer accepts, as the README's example:
# a new folder below Program Files.
CUSTOM = PROGRAM_FILES + "\\Tools\\SLOTWARD"
# Folders outside Program Files: one where users may make folders, and one that only
# administrators may change, where an older version may have put SLOTWARD.
PROGRAM_DATA_FOLDER = "C:\\ProgramData\\SW"
DATA = "C:\\Data"
DATA_FOLDER = DATA + "\\SW"
# Y: is another name of the installation folder: a copy started through it is the same file.
MAPPED = dict(CD, y=("fixed", "installdir"))

# What the installer's log says of a copy ended, of the session it came back in, and of a copy
# of another file of that name, from another drive, left alone.
ENDED = r"ended process \d+ in session 1"
STARTED = r"started SLOTWARD in session 1 as process \d+"
DECOY = r"left process \d+ alone: its program is on another volume"
# A copy the starter started that ended within its wait (it found another copy resident).
ENDED_AT_ONCE = r"SLOTWARD ended at once in session 1: process \d+ exited with code 0"
LOOKING = r"looking for copies of .*"
# A copy of another file on the installed volume, opened as its user.
OTHER_FILE = r"left process \d+ alone: its program is another file"
WAITED_FOR_TWO = r"waiting up to 5 s for 2 ended process\(es\)"
# A copy started through a hard link to the installed program, in the user's own folder on the
# installed volume: the installed file under another name. And a copy of another file whose
# folder was renamed while it ran: its name, fixed at its start, leads nowhere.
HARD_LINK = "{profile}\\slotward.exe"
UNOPENED = r"left process \d+ alone: could not open its program: error 3"
OPENED_AS_ITS_USER = ["as its user", "revert"]
# A list's key that an installation did not make, in both registry views: one with a key below
# it, which cannot be removed. The first pass refuses it rather than write into it.
STALE_LIST = r"reg add HKLM\Software\SLOTWARD\Sessions\Stale /f /reg:%d"
FORGET_STALE_LIST = r"reg delete HKLM\Software\SLOTWARD\Sessions /f /reg:%d"
REFUSED_LIST = r"could not write the list of sessions: error 183"
# The check of the installation folder: accepted, refused for a first installation, the folder
# of an installed version refused, and the move away from it.
def folder_accepted(folder):
    return re.escape(folder + "\\") + r" may hold SLOTWARD: it lies below .*\\, in folders only " \
        r"administrators can change"


# The default folder, Program Files (x86) in a 64-bit prefix.
DEFAULT_ACCEPTED = r"C:\\Program Files( \(x86\))?\\SLOTWARD\\ may hold SLOTWARD: .*"
OUTSIDE = (r"SLOTWARD installs only in a folder of its own below C:\\Program Files \(x86\)\\, "
           r"where Windows lets no user but administrators make or rename anything")
def refused(folder):
    return (r"SLOTWARD cannot be installed in %s\\: %s\. Choose a folder below Program Files, "
            r'such as INSTALLDIR="C:\\Program Files \(x86\)\\SLOTWARD"\.' % (re.escape(folder),
                                                                             OUTSIDE))


def untrusted(folder, consequence):
    return r"the installed version's folder %s\\ is not trusted: %s: %s" % (
        re.escape(folder), OUTSIDE, consequence)


MOVED_FROM = r"C:\\Program Files \(x86\)\\SLOTWARD\\ may hold SLOTWARD: .*; SLOTWARD moves " \
    r"there from %s\\"
LOOKING_BY_NAME = r"looking for copies of %s\\slotward\.exe, by its name only"
ROLLED_BACK_BY_NAME = (r"the installation is rolled back: %s\\slotward\.exe is not started, "
                       r"since the check refused its folder; its users get SLOTWARD at the next "
                       r"logon")

RELEASE = [
    Scenario("version_record_en", [VersionRecord("040904B0")]),
    Scenario("version_record_ja", [VersionRecord("041104B0")], locale="ja"),
    # A copy started through another drive letter of the installation folder, without options,
    # is ended by the upgrade before the older version (which has no stopper) is removed: the
    # trace shows no file in use, and SLOTWARD back in that session with the remembered options.
    # A decoy, another file of that name on the CD, its report open, is never touched. A repair
    # that fails once the files are in place (WIXFAILWHENDEFERRED=1) has ended the copy; its
    # rollback brings exactly that one back, with the options it had.
    Scenario("installer_install_upgrade_uninstall",
             [MakeInstallers(),
              msiexec('/i "{older_msi}" OPTIONS="%s"' % OPTIONS),
              Installation(present=True, version=OLDER),
              # Started first: a one-shot run keeps the instance's event open while it lasts.
              Run('cmd /c copy /y "{exe}" D:\\slotward.exe', []), Start("D:\\slotward.exe /T"),
              Start("Y:\\slotward.exe"), Find(path="Y:\\slotward.exe"),
              msiexec('/i "{msi}"', logged=[ENDED, DECOY, STARTED]),
              Boxes([report(EN, media=("D",))]), Installation(present=True),
              Run(REMEMBERED, [], exit="0"), Run(SESSIONS_LIST, [], exit="1"),
              Trace(FIRST_IN_SHUTDOWN, restart("/Q "), *ended_and_restored())] + RESTORED +
             [msiexec('/i "{msi}" REINSTALL=ALL REINSTALLMODE=omus WIXFAILWHENDEFERRED=1',
                      logged=[ENDED, r"WIXFAILWHENDEFERRED=1: .*"], exit="1603"),
              Find(count=0),
              RollBack([r"the installation is rolled back: .*", STARTED])] + RESTORED +
             [msiexec('/x "{msi}"')] + UNINSTALLED, layout=MAPPED, trace="sessions"),
    # SLOTWARD resident as the Startup entry starts it: a repair ends it and brings it back; a
    # later version's installation with other OPTIONS brings it back with those.
    Scenario("installer_repair_new_options",
             [MakeInstallers(),
              msiexec('/i "{msi}" OPTIONS="%s"' % OPTIONS, logged=[DEFAULT_ACCEPTED]),
              Installation(present=True),
              Trace(*NOTHING_TO_RESTORE), Start('"{installed}" /Q %s' % OPTIONS),
              msiexec('/i "{msi}" REINSTALL=ALL REINSTALLMODE=omus'),
              Installation(present=True),
              Trace(FIRST_IN_SHUTDOWN, restart("/Q " + OPTIONS), *ended_and_restored())] +
             RESTORED +
             # As on Windows 2000, which has no WTSQueryUserToken, the system cannot give the
             # session's token. An elevated installation (Wine gives every program an
             # administrator's elevated token) would start an elevated copy itself: it leaves
             # the session to the next logon. Run with the user's ordinary token, it brings
             # SLOTWARD back itself.
             [Run(WITHOUT_TOKENS, []),
              msiexec('/i "{later_msi}" OPTIONS="/X A:"',
                      logged=[ENDED, r"1 session\(s\) left to the installing user: .*",
                              r"not started in session 1: the installation runs elevated; .*"]),
              Find(count=0),
              Trace(checking(EN), still(EN, "D"), "session of", "end", "note 1", "session of"),
              Start('"{installed}" /Q /X A:'),
              msiexec('/i "{later_msi}" REINSTALL=ALL REINSTALLMODE=omus', limited=True,
                      logged=[ENDED, r"started SLOTWARD in the installing user's session 1 as "
                                     r"process \d+"]),
              Run(WITH_TOKENS, []), Installation(present=True, version=LATER, options="/X A:"),
              Find(path="{installed}"), NoBox(1000),
              Trace(FIRST_IN_SHUTDOWN, restart("/Q /X A:"), "session of", "end", "note 1",
                    "session of", "environment", FIRST_IN_SHUTDOWN, restart("/Q /X A:"),
                    "resident", "list removed"),
              # A copy that runs from elsewhere (the zip's) outlives the uninstallation.
              Run('"{installed}" /R', [terminated(EN)], watch=5000, watched_exit="0"), Start(),
              msiexec('/x "{later_msi}"', logged=[OTHER_FILE]), Find(),
              Run('"{exe}" /R', [terminated(EN)], watch=5000, watched_exit="0")] + UNINSTALLED,
             layout=CD, trace="sessions"),
    # A copy that runs from elsewhere (the zip's) outlives a repair, with long options, that ends
    # the installed program's report; the copy it starts in that session, with those options,
    # finds the zip's resident and ends at once, which the log says with its exit code instead
    # of "started". A second repair, without
    # the user's environment (Wine's userenv.dll turned off), starts nothing, not even with the
    # installer's own environment, and leaves the session to the next start.
    Scenario("installer_started_copy_ends",
             [MakeInstallers(["msi"]), msiexec('/i "{msi}" OPTIONS="%s"' % OPTIONS),
              Installation(present=True), Start(), Start('"{installed}" /T'),
              msiexec('/i "{msi}" REINSTALL=ALL REINSTALLMODE=omus OPTIONS="%s"' % LONG_OPTIONS,
                      logged=[ENDED, ENDED_AT_ONCE]),
              Find(), NoBox(1000),
              Run('"{exe}" /R', [terminated(EN)], watch=5000, watched_exit="0"),
              Start('"{installed}" /T'), Run(WITHOUT_ENVIRONMENT, []),
              msiexec('/i "{msi}" REINSTALL=ALL REINSTALLMODE=omus',
                      logged=[ENDED, r"not started in session 1: no environment for its user, "
                                     r"error \d+"]),
              Run(WITH_ENVIRONMENT, []), Find(count=0), NoBox(1000),
              # That session is still to serve. The program is started by its path, never by
              # the first name that a command line with blanks could mean: both tries fail, and
              # the session waits for the next start, which serves it.
              RollBack([r"the installation is rolled back: .*",
                        r"not started in session 1: error \d+ breaking away from the installer's "
                        r"job, error \d+ without"], unquoted=True), Find(count=0),
              RollBack([r"the installation is rolled back: .*", STARTED]),
              Find(path="{installed}"), msiexec('/x "{msi}"')] + UNINSTALLED),
    # Installed into a folder of the administrator's choice. A copy started right after the
    # stopper's first pass (the package starts one there, as a click in the Start menu would)
    # is ended right before the files are replaced, so the repair needs no restart, and comes
    # back. A later version's installation that names no folder stays there, and ends and
    # brings back the copy running from it.
    Scenario("installer_custom_folder_kept",
             [MakeInstallers(),
              msiexec('/i "{late_msi}" INSTALLDIR="%s" OPTIONS="%s"' % (CUSTOM, OPTIONS)),
              Installation(present=True, folder=CUSTOM), Run(REMEMBERED_FOLDER, [], exit="0"),
              Trace(*NOTHING_TO_RESTORE),
              msiexec('/i "{late_msi}" REINSTALL=ALL REINSTALLMODE=amus',
                      logged=[folder_accepted(CUSTOM), LOOKING, LOOKING, ENDED, STARTED],
                      counted={LOOKING: 2}),
              Trace("note 0", FIRST_IN_SHUTDOWN, restart("/Q " + OPTIONS), "session of", "end",
                    "note 1", "token of session 1", "environment", FIRST_IN_SHUTDOWN,
                    restart("/Q " + OPTIONS), "resident", "list removed", "session of")] +
             RESTORED +
             [msiexec('/i "{later_msi}"'),
              Installation(present=True, version=LATER, folder=CUSTOM),
              Trace(checking(EN), still(EN, "D"), *ended_and_restored())] +
             RESTORED + [msiexec('/x "{later_msi}"')] + uninstalled(CUSTOM),
             layout=CD, trace="sessions"),
    # Copies through a hard link in the user's own folder, one resident and one showing its
    # report, are the installed file by another name: a repair opens each as its user, finds
    # the installed file's identity, ends both before its one wait, and brings SLOTWARD back
    # from the installed folder. A copy whose folder was renamed after it started cannot be
    # opened and is left alone, its report still open. Before that, the installation refuses
    # a key of the list's name that it did not make, and no later step uses that key.
    Scenario("installer_hard_linked_copy",
             [MakeInstallers(), Run(STALE_LIST % 32, []), Run(STALE_LIST % 64, []),
              msiexec('/i "{msi}" OPTIONS="%s"' % OPTIONS, logged=[REFUSED_LIST]),
              Installation(present=True), Trace("session of"),
              Run(FORGET_STALE_LIST % 32, []), Run(FORGET_STALE_LIST % 64, []),
              Run('fsutil hardlink create "%s" "{installed}"' % HARD_LINK, []),
              Run('cmd /c mkdir "{profile}\\away" && copy /y "{exe}" "{profile}\\away"', []),
              Start('"%s" /T' % HARD_LINK), Start('"{profile}\\away\\slotward.exe" /T'),
              Run('cmd /c move "{profile}\\away" "{profile}\\moved"', []),
              Start('"%s" /Q %s' % (HARD_LINK, OPTIONS)), Find(path=HARD_LINK),
              msiexec('/i "{msi}" REINSTALL=ALL REINSTALLMODE=omus',
                      logged=[UNOPENED, WAITED_FOR_TWO, ENDED, ENDED, STARTED]),
              Boxes([report(EN, media=("D",))]),
              Trace(FIRST_IN_SHUTDOWN, restart("/Q " + OPTIONS), *OPENED_AS_ITS_USER,
                    "session of", "end", *OPENED_AS_ITS_USER, *OPENED_AS_ITS_USER,
                    "session of", "end", "note 1", *OPENED_AS_ITS_USER,
                    *ended_and_restored()[3:])] +
             RESTORED + [msiexec('/x "{msi}"')] + UNINSTALLED,
             layout=CD, trace="sessions"),
    # Only a folder below Program Files is accepted: one where users may make folders, and one
    # that only administrators may change, are both refused before anything is changed, and the
    # installation leaves nothing.
    Scenario("installer_refused_folder",
             [MakeInstallers(["msi"]),
              msiexec('/i "{msi}" INSTALLDIR="%s" OPTIONS="%s"' % (PROGRAM_DATA_FOLDER, OPTIONS),
                      logged=[refused(PROGRAM_DATA_FOLDER)], exit="1603")] +
             uninstalled(PROGRAM_DATA_FOLDER) +
             [FolderMode(DATA, 0o755),
              msiexec('/i "{msi}" INSTALLDIR="%s" OPTIONS="%s"' % (DATA_FOLDER, OPTIONS),
                      logged=[refused(DATA_FOLDER)], exit="1603")] +
             uninstalled(DATA_FOLDER), layout=CD),
    # An older version installed outside Program Files, with a copy running from there, is moved
    # by an upgrade that names no folder: the copy there is known by name only, ended, and
    # brought back from the default folder; the old folder is gone. The rollback of that upgrade
    # starts nothing from the old folder, and the folder given once more on the command line is
    # refused, the installation kept where it is.
    Scenario("installer_moved_folder",
             [MakeInstallers(["msi", "older_msi", "later_msi"]), FolderMode(DATA, 0o755),
              msiexec('/i "{older_msi}" INSTALLDIR="%s" OPTIONS="%s"' % (DATA_FOLDER, OPTIONS)),
              Installation(present=True, version=OLDER, folder=DATA_FOLDER),
              Start('"{installed}" /Q %s' % OPTIONS), Find(path="{installed}"),
              msiexec('/i "{msi}"',
                      logged=[untrusted(DATA_FOLDER, "the upgrade moves SLOTWARD to the default "
                                                     "folder"),
                              untrusted(DATA_FOLDER, "its program is known by name only, and a "
                                                     "rollback starts nothing there"),
                              MOVED_FROM % re.escape(DATA_FOLDER),
                              LOOKING_BY_NAME % re.escape(DATA_FOLDER), ENDED, STARTED]),
              Installation(present=True)] + RESTORED +
             [Absent(DATA_FOLDER + "\\slotward.exe", DATA_FOLDER),
              RollBack([ROLLED_BACK_BY_NAME % re.escape(DATA_FOLDER)]), Find(path="{installed}"),
              msiexec('/i "{later_msi}" INSTALLDIR="%s"' % DATA_FOLDER,
                      logged=[refused(DATA_FOLDER)], exit="1603"),
              Installation(present=True)] + RESTORED +
             [msiexec('/x "{msi}"')] + UNINSTALLED,
             layout=CD),
]
